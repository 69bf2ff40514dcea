#include "editor/prose/imagedrop.h"

#include <gtest/gtest.h>

namespace {

namespace D = editor::ImageDrop;
using namespace Qt::Literals::StringLiterals;

TEST(ImageDropTest, TheBoundaryIsTheStartOfTheFirstLineWhoseMiddleIsBelowThePointer)
{
    const QList<D::Line> lines{{0, 5, 10}, {6, 11, 30}, {12, 15, 50}};
    EXPECT_EQ(D::boundaryNear(lines, -100), 0);
    EXPECT_EQ(D::boundaryNear(lines, 9.5), 0);
    // Level with a middle counts as above it.
    EXPECT_EQ(D::boundaryNear(lines, 10), 6);
    EXPECT_EQ(D::boundaryNear(lines, 29), 6);
    EXPECT_EQ(D::boundaryNear(lines, 31), 12);
    // Below every line: the end of the last, before its line break.
    EXPECT_EQ(D::boundaryNear(lines, 500), 15);
    EXPECT_EQ(D::boundaryNear({}, 20), 0);
}

TEST(ImageDropTest, APositionInsideAWordMovesToItsEnd)
{
    const QString text = u"hello world.\nnext"_s;
    struct Case {
        qsizetype position;
        qsizetype expected;
    } cases[] = {{0, 0}, {2, 5}, {5, 5}, {6, 6}, {8, 12}, {12, 12}, {13, 13}, {15, 17}, {17, 17}, {99, 17}};
    for (const Case &c : cases)
        EXPECT_EQ(D::pastWord(text, c.position), c.expected) << c.position;
    // Never between the halves of a pair: they count as word characters.
    EXPECT_EQ(D::pastWord(u"a\U0001F600b c"_s, 2), 4);
}

TEST(ImageDropTest, TheLinksNeverBreakTheLineTheyLandOn)
{
    const QStringList one{u"assets/a.png"_s};
    const QString a = u"![alt](assets/a.png)"_s;
    struct Case {
        const char *name;
        QString text;
        qsizetype position;
        QString inserted;
        qsizetype altAt;
    } cases[] = {
        {"heading", u"# Title\n"_s, 0, a + u"\n"_s, 2},
        {"list item", u"Intro\n- item\n"_s, 6, a + u"\n"_s, 8},
        {"quote", u"> said\n"_s, 0, a + u"\n"_s, 2},
        {"indented line with only spaces", u"a\n   \nb"_s, 2, a, 4},
        {"blank line", u"a\n\nb"_s, 2, a, 4},
        {"empty text", u""_s, 0, a, 2},
        {"after a word", u"Words"_s, 5, u" "_s + a, 8},
        {"before a final line break", u"Words.\n"_s, 6, u" "_s + a, 9},
        {"after a space at the end", u"Words "_s, 6, a, 8},
        {"a wrapped line's start", u"one two"_s, 4, a + u" "_s, 6},
        {"between words, after a word", u"one two"_s, 3, u" "_s + a, 6},
    };
    for (const Case &c : cases) {
        const D::Insertion got = D::insertion(c.text, c.position, one);
        EXPECT_EQ(got, (D::Insertion{c.position, c.inserted, {c.altAt, 3}})) << c.name;
        QString after = c.text;
        after.insert(got.position, got.text);
        EXPECT_EQ(after.mid(got.selection.start, 3), u"alt"_s) << c.name;
    }
}

TEST(ImageDropTest, SeveralLinksAreJoinedBySingleSpacesWithTheFirstAltSelected)
{
    const D::Insertion got = D::insertion(u"# Title"_s, 0, {u"assets/a.png"_s, u"assets/b.jpg"_s, u"assets/a-2.png"_s});
    EXPECT_EQ(got.text, u"![alt](assets/a.png) ![alt](assets/b.jpg) ![alt](assets/a-2.png)\n"_s);
    EXPECT_EQ(got.selection, (D::Range{2, 3}));
    EXPECT_EQ(D::link(u"assets/x.svg"_s), u"![alt](assets/x.svg)"_s);
}

} // namespace
