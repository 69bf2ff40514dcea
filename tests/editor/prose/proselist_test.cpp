#include "editor/prose/proselist.h"

#include "testutil.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

namespace L = editor::ProseList;
using namespace Qt::Literals::StringLiterals;
using L::Range;

QString applied(const QString &text, const L::Edit &edit)
{
    QString out = text;
    out.replace(edit.range.start, edit.range.length, edit.replacement);
    return out;
}

enum class Op { indent, outdent, up, down };

std::optional<L::Edit> run(Op op, const QString &text, qsizetype caret)
{
    const std::optional<L::ListContext> context = L::listContext(caret, text);
    if (!context)
        return std::nullopt;
    switch (op) {
    case Op::indent: return L::indent(*context, caret, text);
    case Op::outdent: return L::outdent(*context, caret, text);
    case Op::up: return L::moveItem(*context, caret, -1, text);
    case Op::down: return L::moveItem(*context, caret, +1, text);
    }
    return std::nullopt;
}

TEST(ProseListTest, ScansLinesWithWidthsAndKinds)
{
    const QList<L::Line> lines = L::scanLines(u"- a\r\n\t* b\n  \n```\n- c\n```\nx"_s);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0].range, (Range{0, 5}));
    EXPECT_EQ(lines[0].content, (Range{0, 3}));
    EXPECT_EQ(lines[1].indent, 2);
    EXPECT_TRUE(lines[1].isList);
    EXPECT_TRUE(lines[2].isBlank);
    EXPECT_FALSE(lines[4].isList); // inside the fence
    EXPECT_EQ(lines[6].text, u"x"_s);
    EXPECT_TRUE(L::scanLines(u""_s).isEmpty());

    EXPECT_EQ(L::contentColumn(u"- x"), 2);
    EXPECT_EQ(L::contentColumn(u"12. x"), 4);
    EXPECT_EQ(L::contentColumn(u"  * x"), 4);
    EXPECT_EQ(L::contentColumn(u"\t-\tx"), 5);
    EXPECT_EQ(L::stripIndent(u"\t  x"_s, 2), (std::pair{u"\t"_s, u"  x"_s}));
    EXPECT_EQ(L::stripIndent(u" \tx"_s, 2), (std::pair{u" \t"_s, u"x"_s}));
    EXPECT_EQ(L::stripIndent(u"x"_s, 2), (std::pair{u""_s, u"x"_s}));
}

TEST(ProseListTest, ContextFindsTheItemBlockAndItsFold)
{
    const QString nested = u"- a\n  - b\n  - c\n    - d\n"_s;
    const auto c = L::listContext(nested.indexOf(u"- c") + 2, nested);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->line, (Range{10, 6}));
    EXPECT_EQ(c->block, (Range{10, 14}));
    EXPECT_EQ(c->markerEnd, 15);
    EXPECT_EQ(c->contentOffset, 14);
    EXPECT_EQ(c->indent, 2);
    EXPECT_EQ(c->fold, (L::Fold{Range{16, 8}, 1}));

    // A caret at the very end belongs to the line before the final break.
    const auto end = L::listContext(4, u"- a\n"_s);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->line, (Range{0, 4}));

    // Lazy continuation joins; after a blank line a column-0 line does not.
    EXPECT_EQ(L::listContext(0, u"- a\ncontinued\n"_s)->block, (Range{0, 14}));
    EXPECT_EQ(L::listContext(0, u"- a\n\ncontinued\n"_s)->block, (Range{0, 4}));
    EXPECT_EQ(L::listContext(0, u"- a\n\n  deeper\n\n"_s)->block, (Range{0, 14}));
    // Only body text continues lazily: a heading, quote, rule or fence at the
    // item's column ends it, so a fold or a moved item never takes it along.
    for (const QString &after : {u"# Next"_s, u"> quoted"_s, u"***"_s, u"```"_s}) {
        const QString text = u"- a\n  - b\n"_s + after + u"\n"_s;
        EXPECT_EQ(L::listContext(0, text)->block, (Range{0, 10})) << after.toStdString();
        EXPECT_EQ(L::parentHints(text).value(0).foldScope, (Range{4, 6})) << after.toStdString();
    }

    for (const QString &none : {u""_s, u"- "_s, u"* * *"_s, u"```\n- x\n```"_s, u"text"_s})
        EXPECT_FALSE(L::listContext(none.indexOf(u'x') < 0 ? 0 : none.indexOf(u'x'), none)) << none.toStdString();
}

TEST(ProseListTest, ParentHintsFoldFromTheFirstDeeperLineOrTheBlanksBeforeIt)
{
    qsizetype observed = -1;
    const QList<L::ParentHint> hints = L::parentHints(u"- a\n\n  - b\n"_s, [&](qsizetype count) { observed = count; });
    EXPECT_EQ(observed, 3);
    ASSERT_EQ(hints.size(), 1);
    EXPECT_EQ(hints[0], (L::ParentHint{Range{0, 4}, 3, 2, Range{4, 7}, 2}));

    EXPECT_TRUE(L::parentHints(u"- a\n- b\n"_s).isEmpty());
    // A continuation at the item's own column is in the block but not folded.
    EXPECT_TRUE(L::parentHints(u"- a\nlazy\n"_s).isEmpty());

    const QList<L::ParentHint> nested = L::parentHints(u"- a\n  - b\n    - c\n  - d\n"_s);
    ASSERT_EQ(nested.size(), 2);
    EXPECT_EQ(nested[0].foldScope, (Range{4, 20}));
    EXPECT_EQ(nested[0].hiddenLineCount, 3);
    EXPECT_EQ(nested[1].markerLine, (Range{4, 6}));
    EXPECT_EQ(nested[1].hiddenLineCount, 1);
}

TEST(ProseListTest, EditsForTheKeys)
{
    struct Case {
        Op op;
        const char16_t *text;
        const char16_t *caretAfter; // the caret sits just after this text's first occurrence
        std::optional<L::Edit> edit;
    };
    const Case cases[] = {
        {Op::indent, u"- a\n- b\n", u"- b", L::Edit{{4, 4}, u"  - b\n"_s, 9}},
        {Op::indent, u"1. a\n2. b\n", u"2.", L::Edit{{5, 5}, u"   2. b\n"_s, 10}},
        {Op::indent, u"10) a\n11) b", u"11)", L::Edit{{6, 5}, u"    11) b"_s, 13}},
        {Op::indent, u"- a\n\n- b", u"- b", L::Edit{{5, 3}, u"  - b"_s, 10}},
        {Op::indent, u"- a\n- b\n", u"- a", std::nullopt},
        {Op::indent, u"text\n- b", u"- b", std::nullopt},
        {Op::indent, u"- a\n  - b\n  - c\n    - d\n", u"  - c", L::Edit{{10, 14}, u"    - c\n      - d\n"_s, 17}},
        {Op::indent, u"- a\n  - b\n  - c\n", u"  - b", std::nullopt},
        {Op::indent, u"- a\n  x\n- b\n", u"- b", L::Edit{{8, 4}, u"  - b\n"_s, 13}},
        {Op::indent, u"- a\n\n  x\n- b\n", u"- b", std::nullopt},
        {Op::outdent, u"- a\n  - b\n  - c\n    - d\n", u"  - c", L::Edit{{10, 14}, u"- c\n  - d\n"_s, 13}},
        {Op::outdent, u"\t- x", u"\t- x", L::Edit{{0, 4}, u"- x"_s, 3}},
        {Op::outdent, u" - x\n", u" -", L::Edit{{0, 5}, u"- x\n"_s, 1}},
        {Op::outdent, u"- x", u"-", std::nullopt},
        {Op::outdent, u"  - b\n\n  c", u"  ", L::Edit{{0, 6}, u"- b\n"_s, 0}},
        {Op::down, u"- a\n- b\n", u"-", L::Edit{{0, 8}, u"- b\n- a\n"_s, 5}},
        {Op::down, u"- a\n- b", u"-", L::Edit{{0, 7}, u"- b\n- a"_s, 5}},
        {Op::up, u"- a\n- b", u"- b", L::Edit{{0, 7}, u"- b\n- a"_s, 3}},
        {Op::up, u"- a\n\n- b\n  - c\n", u"- b", L::Edit{{0, 15}, u"- b\n  - c\n\n- a\n"_s, 3}},
        {Op::down, u"- a\n  - x\n\n- b\n", u"- a", L::Edit{{0, 15}, u"- b\n\n- a\n  - x\n"_s, 8}},
        {Op::up, u"- a\n- b\n", u"- a", std::nullopt},
        {Op::down, u"- a\n- b\n", u"- b", std::nullopt},
        {Op::down, u"- a\n  - b\n", u"- a", std::nullopt},
        {Op::down, u"  - a\n- b\n", u"  - a", std::nullopt},
    };
    for (const Case &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        const QString marker = QString::fromUtf16(c.caretAfter);
        const qsizetype caret = text.indexOf(marker) + marker.size();
        EXPECT_EQ(run(c.op, text, caret), c.edit) << int(c.op) << " on " << text.toStdString();
    }
}

// A first child has no previous sibling, however alike the previous item's
// children look: it neither indents under them nor swaps with them, and the
// previous item's last child does not swap with it either.
TEST(ProseListTest, AFirstChildStaysWithItsOwnItem)
{
    const QString lists[] = {
        u"- a\n  - a1\n- b\n  - b1\n  - b2\n"_s,
        u"- a\n  - a1\n\n- b\n  - b1\n  - b2\n"_s,
        u"- a\n  - a1\n- b\n  more of b\n  - b1\n  - b2\n"_s,
        u"1. a\n   - a1\n2. b\n   - b1\n   - b2\n"_s,
        u"- a\n\t- a1\n- b\n\t- b1\n\t- b2\n"_s,
    };
    for (const QString &text : lists) {
        const qsizetype b1 = text.indexOf(u"- b1"_s) + 2;
        const qsizetype a1 = text.indexOf(u"- a1"_s) + 2;
        EXPECT_EQ(run(Op::indent, text, b1), std::nullopt) << text.toStdString();
        EXPECT_EQ(run(Op::up, text, b1), std::nullopt) << text.toStdString();
        EXPECT_EQ(run(Op::down, text, a1), std::nullopt) << text.toStdString();

        // Its second child goes under it, or swaps with it.
        const qsizetype b1Line = text.lastIndexOf(u'\n', b1) + 1;
        const qsizetype b2Line = text.indexOf(u'\n', b1) + 1;
        const QString b1Text = text.mid(b1Line, b2Line - b1Line);
        const int step = L::contentColumn(b1Text) - L::indentWidth(b1Text);
        const std::optional<L::Edit> in = run(Op::indent, text, b2Line + 4);
        ASSERT_TRUE(in) << text.toStdString();
        EXPECT_EQ(applied(text, *in), text.left(b2Line) + QString(step, u' ') + text.mid(b2Line));
        const std::optional<L::Edit> up = run(Op::up, text, b2Line + 4);
        ASSERT_TRUE(up) << text.toStdString();
        EXPECT_EQ(applied(text, *up), text.left(b1Line) + text.mid(b2Line) + b1Text);
    }
}

TEST(ProseListTest, ACaretInsideASurrogatePairIsSnappedBeforeTheEdit)
{
    const QString text = u"- a\n- \U0001F600b\n"_s;
    const qsizetype inside = text.indexOf(u"b") - 1; // between the halves
    const auto edit = run(Op::indent, text, inside);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->caret, inside - 1 + 2);
    const QString after = applied(text, *edit);
    EXPECT_TRUE(after[edit->caret].isHighSurrogate());
}

// Random lists: a move down then up, and an indent then an outdent, give the
// text back; every edit covers whole lines and only reorders lines or changes
// their leading white space.
TEST(ProseListTest, EditsAreUndoneByTheirOppositeAndKeepTheLines)
{
    QRandomGenerator random(20);
    auto sortedContent = [](const QString &text) {
        QStringList lines;
        for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts))
            lines << line.trimmed();
        lines.sort();
        return lines;
    };
    int checkedMoves = 0;
    int checkedIndents = 0;
    for (int round = 0; round < 250; ++round) {
        QStringList lines;
        int depth = 0;
        // Blank lines or continuation lines, not both: a move down over a
        // blank gap can put the blank after a sibling's continuation line,
        // and the previous sibling search stops there, so that move is one-way.
        const bool blanks = random.bounded(2);
        const int count = 2 + random.bounded(10);
        for (int i = 0; i < count; ++i) {
            const bool other = random.bounded(8) == 0 && !lines.isEmpty();
            if (other && blanks) {
                lines << QString();
                continue;
            }
            if (other) {
                lines << QString(depth * 2 + 2, u' ') + u"more "_s + QString::number(i);
                continue;
            }
            depth = std::clamp(depth + int(random.bounded(3)) - 1, 0, 3);
            lines << QString(depth * 2, u' ') + u"- item "_s + QString::number(i);
        }
        QString text = lines.join(u'\n');
        if (random.bounded(2))
            text += u'\n';

        for (int i = 0; i < lines.size(); ++i) {
            const qsizetype caret = text.indexOf(u"item "_s + QString::number(i));
            if (caret < 0)
                continue;
            const auto down = run(Op::down, text, caret);
            if (down) {
                const QString moved = applied(text, *down);
                EXPECT_EQ(sortedContent(moved), sortedContent(text));
                EXPECT_TRUE(down->range.start == 0 || text[down->range.start - 1] == u'\n');
                EXPECT_EQ(moved.mid(down->caret, 5), u"item "_s) << text.toStdString();
                const auto up = run(Op::up, moved, down->caret);
                ASSERT_TRUE(up) << moved.toStdString();
                EXPECT_EQ(applied(moved, *up), text) << text.toStdString() << " item " << i;
                ++checkedMoves;
            }
            const auto in = run(Op::indent, text, caret);
            if (in) {
                const QString indented = applied(text, *in);
                EXPECT_EQ(sortedContent(indented), sortedContent(text));
                EXPECT_EQ(indented.mid(in->caret, 5), u"item "_s);
                const auto out = run(Op::outdent, indented, in->caret);
                ASSERT_TRUE(out);
                EXPECT_EQ(applied(indented, *out), text) << text.toStdString() << " item " << i;
                ++checkedIndents;
            }
        }
    }
    EXPECT_GT(checkedMoves, 100);
    EXPECT_GT(checkedIndents, 100);
}

} // namespace
