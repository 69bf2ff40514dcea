#include "editor/prose/prosepresenter.h"

#include "testutil.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

namespace P = editor::ProsePresenter;
using namespace Qt::Literals::StringLiterals;
using P::Face;
using P::Ink;
using P::LineKind;

// One letter per UTF-16 unit of a line's content, for the looks the passes
// give: m marker, l list marker, c inline code, b bold, i italic, u link,
// . body text, q quote text, H/S/3/4 headings, L lead, k code line, f fence.
QString describe(const P::StyledLine &line)
{
    QString out;
    for (qsizetype i = 0; i < line.line.contentLength; ++i) {
        const P::Look look = *line.lookAt(line.line.start + i);
        QChar c = u'?';
        if (look.link && look.face == Face::body)
            c = u'u';
        else if (look.face == Face::mono && look.ink == Ink::markerGrey)
            c = look.codeBackground ? u'f' : u'm';
        else if (look.face == Face::mono && look.ink == Ink::text)
            c = look.codeBackground ? u'k' : u'c';
        else if (look.face == Face::listMarker && look.ink == Ink::listMarkerGrey)
            c = u'l';
        else if (look.face == Face::bold)
            c = u'b';
        else if (look.face == Face::italic)
            c = u'i';
        else if (look.face == Face::body)
            c = look.ink == Ink::quote ? u'q' : u'.';
        else if (look.face == Face::heading)
            c = u'H';
        else if (look.face == Face::subheading)
            c = u'S';
        else if (look.face == Face::heading3)
            c = u'3';
        else if (look.face == Face::heading4)
            c = u'4';
        else if (look.face == Face::lead)
            c = u'L';
        out += c;
    }
    return out;
}

P::StyledLine styledAlone(const QString &text)
{
    // Not the first line of its text, so never the lead line.
    const QString whole = QStringLiteral("# t\n") + text;
    const QList<P::StyledLine> lines = P::style(whole, 4, text.size());
    return lines.value(0);
}

TEST(ProsePresenterTest, ClassifiesLinesInTheOrderOfItsTests)
{
    struct Case {
        const char16_t *text;
        bool insideFence;
        LineKind kind;
    };
    const Case cases[] = {
        {u"", false, LineKind::blank},
        {u" \t ", true, LineKind::blank},
        {u"# Title", false, LineKind::heading1},
        {u"#", false, LineKind::heading1},
        {u"#Title", false, LineKind::body},
        {u"#\tx", false, LineKind::body},
        {u"####### x", false, LineKind::body},
        {u"## x", false, LineKind::heading2},
        {u"### x", false, LineKind::heading3},
        {u"#### x", false, LineKind::heading4},
        {u"##### x", false, LineKind::heading4},
        {u"###### x", false, LineKind::heading4},
        {u"  ```swift", false, LineKind::fence},
        {u"~~~", true, LineKind::fence},
        {u"# not a heading", true, LineKind::code},
        {u"- item", true, LineKind::code},
        {u">quote", false, LineKind::quote},
        {u"> > q", false, LineKind::quote},
        {u"- ", false, LineKind::rule},
        {u"-", false, LineKind::rule},
        {u"***", false, LineKind::rule},
        {u"_ _ _", false, LineKind::rule},
        {u"* * *", false, LineKind::rule},
        {u"+ ", false, LineKind::list},
        {u"1.", false, LineKind::list},
        {u"123456789) x", false, LineKind::list},
        {u"1234567890. x", false, LineKind::body},
        {u"  * item", false, LineKind::list},
        {u"-item", false, LineKind::body},
        {u"\u0663. arabic-indic digit", false, LineKind::list},
        {u"-\u00a0x", false, LineKind::list},
        {u"plain", false, LineKind::body},
    };
    for (const Case &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(P::classifyLine(text, c.insideFence), c.kind) << text.toStdString() << " fence " << c.insideFence;
    }
}

TEST(ProsePresenterTest, FencesFlipOnAnyFenceLineAndAreCountedWithoutState)
{
    const QString text = QStringLiteral("a\n```text\n# code\n\n~~~\n# Heading\n");
    EXPECT_FALSE(P::fenceStateBefore(text, 0));
    EXPECT_TRUE(P::fenceStateBefore(text, text.indexOf(u"# code")));
    EXPECT_TRUE(P::fenceStateBefore(text, text.indexOf(u"\n~~~") + 1));
    EXPECT_FALSE(P::fenceStateBefore(text, text.indexOf(u"# Heading")));
    EXPECT_EQ(P::fenceLineCount(text), 2);
    EXPECT_EQ(P::fenceLineCount(u""), 0);
    EXPECT_EQ(P::fenceLineCount(u"  ```\nx ```\n~~~"), 2);

    // A paragraph restyled inside the block is code; the closing line is a fence.
    const QList<P::StyledLine> inside = P::style(text, text.indexOf(u"# code"), 7);
    ASSERT_EQ(inside.size(), 1);
    EXPECT_EQ(inside[0].kind, LineKind::code);
    EXPECT_EQ(describe(inside[0]), QStringLiteral("kkkkkk"));
    const QList<P::StyledLine> rest = P::style(text, text.indexOf(u"\n~~~") + 1, 6);
    ASSERT_EQ(rest.size(), 2);
    EXPECT_EQ(rest[0].kind, LineKind::fence);
    EXPECT_EQ(describe(rest[0]), QStringLiteral("fff"));
    EXPECT_EQ(rest[1].kind, LineKind::heading1);
}

TEST(ProsePresenterTest, SplitsLinesWhereThePlatformEndsThem)
{
    const QString text = QStringLiteral("a\r\nb\rc\u2028d\u0085e\u2029f\n\ng");
    QStringList texts;
    QList<qsizetype> fulls;
    for (const P::Line &line : P::lineSplit(text, 0, text.size())) {
        texts << line.text.toString();
        fulls << line.fullLength;
    }
    // CR and LF leave the content; the other separators stay in it.
    EXPECT_EQ(texts, (QStringList{u"a"_s, u"b"_s, u"c\u2028"_s, u"d\u0085"_s, u"e\u2029"_s, u"f"_s, u""_s, u"g"_s}));
    EXPECT_EQ(fulls, (QList<qsizetype>{3, 2, 2, 2, 2, 2, 1, 1}));
    // The first line begins before the location; a location between CR and LF
    // belongs to the CR's line.
    EXPECT_EQ(P::lineSplit(text, 2, 1).value(0).start, 0);
    EXPECT_EQ(P::lineSplit(text, 4, 3).size(), 2);

    EXPECT_EQ(P::firstContentLineRange(u""_s), std::nullopt);
    EXPECT_EQ(P::firstContentLineRange(u" \n\t\n\u00a0\nx"_s), std::optional<qsizetype>(6));
}

TEST(ProsePresenterTest, InlinePassesClaimSpansInTheirOrder)
{
    struct Case {
        const char16_t *text;
        const char16_t *looks;
    };
    const Case cases[] = {
        {u"# Title", u"mmHHHHH"},
        {u"###### x", u"mmmmmmm4"},
        {u"  ## x", u"SSmmmS"},
        {u"**b** *i*", u"mmbmm.m.m"},
        {u"*a*b", u"mim."},
        {u"_a_ b", u"mim.."},
        {u"_a_b", u"...."},
        {u"x_a_", u"...."},
        {u"snake_case_name", u"..............."},
        {u"__a__", u"m...m"},
        {u"`a *b* c`", u"mcccccccm"},
        {u"[text](url)", u"muuuummmmmm"},
        {u"![alt](assets/a.png)", u"mmuuummmmmmmmmmmmmmm"},
        {u"> > quote", u"mmmmqqqqq"},
        {u">quote", u"mqqqqq"},
        {u"  - item", u"llll...."},
        {u"* item", u"ml...."},
        {u"1. **x**", u"lllmmbmm"},
        {u"***", u"mmm"},
        {u"a <b> c!", u"..m.m..m"},
        {u"`x` and [`y`](z)", u"mcm.....mmcmmm.m"},
    };
    for (const Case &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(describe(styledAlone(text)), QString::fromUtf16(c.looks).replace(u' ', u'.')) << text.toStdString();
    }
}

TEST(ProsePresenterTest, LinesCarryTheirSetOverTheTerminatorAndListsTheirMarkerEnd)
{
    const QString text = QStringLiteral("Lead *line*\n  - item\n\n");
    const QList<P::StyledLine> lines = P::style(text, 0, text.size());
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].lead);
    EXPECT_EQ(lines[0].runs.last().look, (P::Look{Face::lead, Ink::text}));
    EXPECT_EQ(lines[0].runs.last().start + lines[0].runs.last().length, 12);
    EXPECT_EQ(describe(lines[0]), QStringLiteral("LLLLLmiiiim"));
    EXPECT_EQ(lines[1].markerPrefixEnd, 4);
    EXPECT_EQ(lines[2].kind, LineKind::blank);
    EXPECT_EQ(lines[2].runs, (QList<P::Run>{{21, 1, P::Look{Face::blankLine}}}));

    // A heading as the first content: no lead line at all.
    for (const P::StyledLine &line : P::style(u"\n# H\nbody\n"_s, 0, 10))
        EXPECT_FALSE(line.lead);
    EXPECT_TRUE(P::style(u""_s, 0, 0).isEmpty());
    EXPECT_TRUE(P::style(u"x"_s, 0, 0).isEmpty());
    EXPECT_TRUE(P::style(u"x"_s, -1, 1).isEmpty());
}

// The scanners must find exactly what the patterns find, resuming each search
// where the previous match ended.
TEST(ProsePresenterTest, InlineScannersMatchTheirPatterns)
{
    struct Pair {
        P::InlinePattern scanner;
        const QRegularExpression &pattern;
    };
    const Pair pairs[] = {
        {P::InlinePattern::bold, P::boldPattern()},
        {P::InlinePattern::italicStar, P::italicStarPattern()},
        {P::InlinePattern::italicUnderscore, P::italicUnderscorePattern()},
        {P::InlinePattern::inlineCode, P::inlineCodePattern()},
        {P::InlinePattern::link, P::linkPattern()},
    };
    const QString alphabet = QStringLiteral("**__``[]()ab \n\u00e9");
    QRandomGenerator random(19);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int size = random.bounded(24);
        for (int i = 0; i < size; ++i)
            text += alphabet[random.bounded(alphabet.size())];
        for (const Pair &pair : pairs) {
            QList<std::pair<qsizetype, qsizetype>> expected;
            auto it = pair.pattern.globalMatch(text);
            while (it.hasNext()) {
                const auto m = it.next();
                expected.append({m.capturedStart(), m.capturedEnd()});
            }
            ASSERT_EQ(P::inlineMatches(pair.scanner, text), expected)
                << pair.pattern.pattern().toStdString() << " on " << text.toStdString();
        }
    }
}

// A text styled block by block (as the highlighter does, carrying the block
// state) looks exactly as the whole text styled at once.
TEST(ProsePresenterTest, BlockByBlockStylingAgreesWithTheWholeText)
{
    const QStringList vocabulary = {u""_s,         u"  "_s,         u"```"_s,   u"~~~ x"_s, u"# h"_s,
                                    u"body *i*"_s, u"- a"_s,        u"  - b"_s, u"> q"_s,   u"***"_s,
                                    u"1) x"_s,     u"[l](u) `c`"_s, u"#x"_s,    u"\t\t"_s};
    QRandomGenerator random(7);
    for (int round = 0; round < 300; ++round) {
        QStringList blocks;
        const int count = 1 + random.bounded(12);
        for (int i = 0; i < count; ++i)
            blocks << vocabulary[random.bounded(vocabulary.size())];
        const QString text = blocks.join(u'\n');
        const QList<P::StyledLine> whole = P::style(text, 0, text.size());

        P::BlockState state;
        qsizetype offset = 0;
        for (int i = 0; i < blocks.size(); ++i) {
            const P::StyledBlock block = P::styleBlock(blocks[i], state);
            state = block.after;
            ASSERT_EQ(block.lines.size(), 1);
            const P::StyledLine &one = block.lines[0];
            if (blocks[i].isEmpty()) {
                // An empty last block is no line of the whole text.
                offset += 1;
                continue;
            }
            const P::StyledLine &reference = whole[i];
            ASSERT_EQ(one.kind, reference.kind) << text.toStdString() << " block " << i;
            ASSERT_EQ(one.lead, reference.lead) << text.toStdString() << " block " << i;
            ASSERT_EQ(describe(one), describe(reference)) << text.toStdString() << " block " << i;
            ASSERT_EQ(one.markerPrefixEnd, reference.markerPrefixEnd);
            offset += blocks[i].size() + 1;
        }
    }
}

TEST(ProsePresenterTest, BlockStateRoundTripsThroughAnInteger)
{
    for (const P::BlockState state : {P::BlockState{false, false}, P::BlockState{true, false},
                                      P::BlockState{false, true}, P::BlockState{true, true}})
        EXPECT_EQ(P::BlockState::fromInt(state.toInt()), state);
    // A block never highlighted has state -1: the start of the text.
    EXPECT_EQ(P::BlockState::fromInt(-1), P::BlockState{});
}

} // namespace
