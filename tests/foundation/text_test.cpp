#include "foundation/text.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace foundation::text;
using namespace Qt::StringLiterals;

namespace {

// Readable failure output for ranges (Qt strings print through testutil.h).
std::string show(const QList<Range> &ranges)
{
    std::string out = "{";
    for (const Range &r : ranges)
        out += "[" + std::to_string(r.start) + "," + std::to_string(r.length) + "] ";
    return out + "}";
}

} // namespace

// --- Lines and trims --------------------------------------------------------

TEST(TextLines, SplitLinesCutsAtLfOnly)
{
    const struct {
        QString text;
        QStringList lines;
    } cases[] = {
        {u""_s, {u""_s}},
        {u"a"_s, {u"a"_s}},
        {u"a\n"_s, {u"a"_s, u""_s}},
        {u"\n\n"_s, {u""_s, u""_s, u""_s}},
        {u"a\r\nb"_s, {u"a\r"_s, u"b"_s}},
        {u"a\rb\u2028c\u0085d"_s, {u"a\rb\u2028c\u0085d"_s}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(splitLines(c.text), c.lines) << ::testing::PrintToString(c.text);
}

TEST(TextLines, LineBreaksBecomeOneSpaceEach)
{
    // LF, CR, NEL, LS and PS end a line; VT and FF only break a one-line
    // field; tab, NBSP and the rest do neither.
    for (char32_t c : {0x0AU, 0x0DU, 0x85U, 0x2028U, 0x2029U}) {
        EXPECT_TRUE(isLineEnd(c)) << std::hex << uint32_t(c);
        EXPECT_TRUE(isLineBreak(c)) << std::hex << uint32_t(c);
    }
    for (char32_t c : {0x0BU, 0x0CU}) {
        EXPECT_FALSE(isLineEnd(c)) << std::hex << uint32_t(c);
        EXPECT_TRUE(isLineBreak(c)) << std::hex << uint32_t(c);
    }
    for (char32_t c : {0x09U, 0x20U, 0xA0U, 0x0EU, 0x2027U, 0x202AU, 0x1F600U}) {
        EXPECT_FALSE(isLineEnd(c)) << std::hex << uint32_t(c);
        EXPECT_FALSE(isLineBreak(c)) << std::hex << uint32_t(c);
    }
    EXPECT_EQ(onOneLine(u"a\r\nb\vc\fd\re\u0085f\u2028g\u2029h\ti"_s), u"a  b c d e f g h\ti"_s);
    EXPECT_EQ(onOneLine(u"plain"_s), u"plain"_s);
}

TEST(TextTrims, TrimSpacesTakesTabsAndSpaceSeparatorsOnly)
{
    const struct {
        QString in, out;
    } cases[] = {
        {u""_s, u""_s},
        {u" \t "_s, u""_s},
        {u"\t a b \u00a0"_s, u"a b"_s},
        {u"\u3000\u2003x\u202f"_s, u"x"_s},
        {u"\na\n"_s, u"\na\n"_s},
        {u" \r\n a \n "_s, u"\r\n a \n"_s},
        {u"\u200ba\u200b"_s, u"\u200ba\u200b"_s}, // zero width space is Cf, not Zs
    };
    for (const auto &c : cases)
        EXPECT_EQ(trimSpaces(c.in), c.out) << ::testing::PrintToString(c.in);
}

TEST(TextTrims, TrimSpacesAndNewlinesMatchesTrimmedAndIsBlank)
{
    const struct {
        QString in;
        bool blank;
    } cases[] = {
        {u""_s, true},
        {u" \t\n\r\v\f"_s, true},
        {u"\u0085\u2028\u2029\u00a0\u3000"_s, true},
        {u"\n a b \r\n"_s, false},
        {u"\u200b"_s, false},
        {u"\u00a0x\u2029"_s, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(trimSpacesAndNewlines(c.in), c.in.trimmed()) << ::testing::PrintToString(c.in);
        EXPECT_EQ(isBlank(c.in), c.blank) << ::testing::PrintToString(c.in);
    }
}

// --- Grapheme clusters ------------------------------------------------------

struct ClusterCase {
    const char *name;
    QStringList clusters;
};

void PrintTo(const ClusterCase &c, std::ostream *os)
{
    *os << c.name;
}

class TextGraphemes : public testing::TestWithParam<ClusterCase> {};

TEST_P(TextGraphemes, CountPrefixBoundariesAndClustersAgree)
{
    const QStringList &expected = GetParam().clusters;
    const QString text = expected.join(QString());

    EXPECT_EQ(graphemes(text), expected);
    EXPECT_EQ(graphemeCount(text), expected.size());

    QList<qsizetype> bounds{0};
    for (const QString &c : expected)
        bounds.append(bounds.last() + c.size());
    EXPECT_EQ(graphemeBoundaries(text), bounds);

    // Every offset floors to the boundary at or before it.
    for (qsizetype position = -1; position <= text.size() + 1; ++position) {
        qsizetype floor = 0;
        for (qsizetype b : bounds) {
            if (b <= position)
                floor = b;
        }
        EXPECT_EQ(graphemeFloor(text, position), floor) << "position " << position;
    }

    for (qsizetype n = -1; n <= expected.size() + 1; ++n) {
        const qsizetype k = std::clamp<qsizetype>(n, 0, expected.size());
        EXPECT_EQ(graphemePrefix(text, n), expected.mid(0, k).join(QString())) << "n=" << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clusters, TextGraphemes,
    testing::Values(
        ClusterCase{"Empty", {}}, ClusterCase{"Ascii", {u"a"_s, u"b"_s, u" "_s}},
        ClusterCase{"CombiningMarks", {u"e\u0301"_s, u"x"_s, u"a\u0323\u0302"_s}},
        ClusterCase{"CrLfIsOneCluster", {u"a"_s, u"\r\n"_s, u"\n"_s, u"\r"_s, u"b"_s}},
        ClusterCase{"EmojiZwjSequence", {u"\U0001F469\u200D\U0001F469\u200D\U0001F467"_s, u"!"_s}},
        ClusterCase{"SkinToneAndKeycap", {u"\U0001F44D\U0001F3FD"_s, u"1\uFE0F\u20E3"_s}},
        ClusterCase{"Flags", {u"\U0001F1EB\U0001F1F7"_s, u"\U0001F1E9\U0001F1EA"_s}},
        ClusterCase{"HangulJamo", {u"\u1100\u1161\u11A8"_s, u"\uAC00"_s}},
        // Script tailoring must never cut a surrogate pair before Thai or Devanagari.
        ClusterCase{"EmojiBeforeThai",
                    {u"\U0001F600"_s, u" "_s, u"\u0E2A"_s, u"\u0E27\u0E31"_s, u"\u0E2A"_s, u"\u0E14\u0E35"_s}},
        ClusterCase{"SkinToneBeforeDevanagari", {u"\U0001F44D\U0001F3FD"_s, u" "_s, u"\u0928"_s, u"\u092E"_s}}),
    [](const testing::TestParamInfo<ClusterCase> &info) { return info.param.name; });

// --- Quote search -----------------------------------------------------------

struct QuoteCase {
    const char *name;
    QString text;
    QString quote;
    QList<Range> hits;
};

void PrintTo(const QuoteCase &c, std::ostream *os)
{
    *os << c.name;
}

class TextQuotes : public testing::TestWithParam<QuoteCase> {};

TEST_P(TextQuotes, FindsWholeClustersUnderCanonicalEquivalence)
{
    const QuoteCase &c = GetParam();
    const QList<Range> all = findAllQuotes(c.text, c.quote);
    EXPECT_EQ(all, c.hits) << show(all);

    const auto first = findQuote(c.text, c.quote);
    if (c.hits.isEmpty())
        EXPECT_FALSE(first.has_value());
    else
        EXPECT_EQ(first, c.hits.first());

    // Searching from each hit's end gives the next one.
    for (qsizetype i = 0; i < c.hits.size(); ++i) {
        const auto next = findQuote(c.text, c.quote, c.hits[i].end());
        if (i + 1 < c.hits.size())
            EXPECT_EQ(next, c.hits[i + 1]);
        else
            EXPECT_FALSE(next.has_value());
    }

    // A prepared searcher agrees, and stays usable after a search.
    const QuoteSearcher searcher(c.text);
    EXPECT_EQ(searcher.findAll(c.quote), c.hits);
    EXPECT_EQ(searcher.find(c.quote), first);
    EXPECT_EQ(searcher.findAll(c.quote), c.hits);
}

// 👩‍👩‍👧 is 8 UTF-16 units in one cluster.
#define FAMILY u"\U0001F469\u200D\U0001F469\u200D\U0001F467"

INSTANTIATE_TEST_SUITE_P(
    Quotes, TextQuotes,
    testing::Values(
        QuoteCase{"Plain", u"abcabc"_s, u"bc"_s, {{1, 2}, {4, 2}}},
        QuoteCase{"NonOverlapping", u"aaa"_s, u"aa"_s, {{0, 2}}}, QuoteCase{"CaseSensitive", u"Abc"_s, u"abc"_s, {}},
        QuoteCase{"Missing", u"abc"_s, u"d"_s, {}}, QuoteCase{"EmptyQuote", u"abc"_s, u""_s, {}},
        QuoteCase{"EmptyText", u""_s, u"a"_s, {}},
        QuoteCase{"DecomposedQuoteInPrecomposedText", u"un café"_s, u"cafe\u0301"_s, {{3, 4}}},
        QuoteCase{"PrecomposedQuoteInDecomposedText", u"cafe\u0301 bar"_s, u"café"_s, {{0, 5}}},
        QuoteCase{"MixedForms", u"é e\u0301 é"_s, u"é"_s, {{0, 1}, {2, 2}, {5, 1}}},
        QuoteCase{"BaseInsideDecomposedCluster", u"e\u0301 e"_s, u"e"_s, {{3, 1}}},
        QuoteCase{"BaseInsidePrecomposedCluster", u"é"_s, u"e"_s, {}},
        QuoteCase{"QuoteEndsInsideCluster", u"cafe\u0301"_s, u"cafe"_s, {}},
        QuoteCase{"QuoteEndsInsideNormalisedCluster", u"e\u0323\u0301"_s, u"\u1EB9"_s, {}},
        QuoteCase{"QuoteStartsInsideCluster", u"xe\u0301"_s, u"\u0301"_s, {}},
        // Normalised text with a mark that has no precomposed form.
        QuoteCase{"NormalisedTextRejectsThenFinds", u"x\u0301 x"_s, u"x"_s, {{3, 1}}},
        QuoteCase{"ReorderedMarks", u"e\u0323\u0301"_s, u"e\u0301\u0323"_s, {{0, 3}}},
        QuoteCase{"PartlyComposedMarks", u"\u1EB9\u0301!"_s, u"e\u0301\u0323"_s, {{0, 2}}},
        QuoteCase{"HangulJamoAndSyllable", u"\u1100\u1161\u11A8"_s, u"\uAC01"_s, {{0, 3}}},
        QuoteCase{"HangulPartialSyllable", u"\u1100\u1161\u11A8"_s, u"\uAC00"_s, {}},
        QuoteCase{"CrLfNotSplit", u"a\r\nb"_s, u"\r"_s, {}}, QuoteCase{"CrLfWhole", u"a\r\nb"_s, u"\r\nb"_s, {{1, 3}}},
        QuoteCase{"CrLfTail", u"a\r\nb"_s, u"\nb"_s, {}}, QuoteCase{"ZwjMember", FAMILY u"x"_s, u"\U0001F469"_s, {}},
        QuoteCase{"ZwjWhole", u"a" FAMILY u"b"_s, FAMILY u""_s, {{1, 8}}},
        QuoteCase{"FlagStraddle", u"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA"_s, u"\U0001F1F7\U0001F1E9"_s, {}},
        QuoteCase{"FlagWhole", u"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA"_s, u"\U0001F1E9\U0001F1EA"_s, {{4, 4}}},
        // Offsets after multi-unit clusters stay in the original's UTF-16.
        QuoteCase{"OffsetsAfterClusters", FAMILY u" e\u0301 é e\u0301!"_s, u"é"_s, {{9, 2}, {12, 1}, {14, 2}}},
        QuoteCase{"OffsetsAfterClustersNormalised", FAMILY u" é x\u0301 é"_s, u"é"_s, {{9, 1}, {14, 1}}}),
    [](const testing::TestParamInfo<QuoteCase> &info) { return info.param.name; });

TEST(TextQuotesFrom, StartOffsetIsInOriginalUnits)
{
    const QString text = u"e\u0301e\u0301é"_s;
    const struct {
        qsizetype from;
        std::optional<Range> hit;
    } cases[] = {
        {-3, Range{0, 2}}, {0, Range{0, 2}}, {1, Range{2, 2}}, // inside the first cluster
        {2, Range{2, 2}},  {3, Range{4, 1}}, {4, Range{4, 1}}, {5, std::nullopt}, {99, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(findQuote(text, u"é"_s, c.from), c.hit) << "from=" << c.from;
}

TEST(TextQuotesFrom, LongTextKeepsOffsets)
{
    // A decomposed text with many rejected candidates and hits far from the start.
    QString text;
    QList<Range> accents, flags;
    for (int i = 0; i < 2000; ++i) {
        accents.append({text.size(), 2});
        flags.append({text.size() + 3, 5});
        text += u"e\u0301 \U0001F1EB\U0001F1F7 "_s;
        if (i % 100 == 99) {
            accents.append({text.size(), 1});
            text += u"\u00e9 "_s;
        }
    }
    EXPECT_EQ(findAllQuotes(text, u"\u00e9"_s), accents);

    const QuoteSearcher searcher(text);
    EXPECT_EQ(searcher.findAll(u"e\u0301"_s), accents);
    EXPECT_EQ(searcher.findAll(u"\U0001F1EB\U0001F1F7 "_s), flags);
    EXPECT_TRUE(searcher.findAll(u"e"_s).isEmpty());
    EXPECT_EQ(searcher.find(u"\u00e9 "_s, accents[100].start), (Range{accents[100].start, 2}));
}

// --- Names and collation ----------------------------------------------------

TEST(TextNames, NameKeyIsNfcThenLowerCase)
{
    const struct {
        QString a, b;
        bool same;
    } cases[] = {
        {u"Café"_s, u"cafe\u0301"_s, true},
        {u"CAFE\u0301"_s, u"café"_s, true},
        {u"Chapter One"_s, u"chapter one"_s, true},
        {u"Café"_s, u"Cafe"_s, false},
        {u"a b"_s, u"a  b"_s, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(nameKey(c.a) == nameKey(c.b), c.same)
            << ::testing::PrintToString(c.a) << " vs " << ::testing::PrintToString(c.b);
    EXPECT_EQ(nameKey(u"CAFE\u0301"_s), u"café"_s);
}

// Full case folding: the final sigma and ß do not tell names apart.
TEST(TextNames, NameKeyFoldsCaseFully)
{
    const struct {
        QString a, b;
        bool same;
    } cases[] = {
        {u"ΟΔΟΣ"_s, u"οδος"_s, true},      {u"οδοσ"_s, u"οδος"_s, true},   {u"Straße"_s, u"STRASSE"_s, true},
        {u"straße"_s, u"strasse"_s, true}, {u"ǅemal"_s, u"ǆEMAL"_s, true}, {u"ﬁle"_s, u"FILE"_s, true},
        {u"Straße"_s, u"Strase"_s, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(nameKey(c.a) == nameKey(c.b), c.same)
            << ::testing::PrintToString(c.a) << " vs " << ::testing::PrintToString(c.b);
}

TEST(TextCollation, NumericCaseInsensitiveWithCaseTieBreak)
{
    const DisplayCollator collator(QLocale(QStringLiteral("en_US")));
    const struct {
        QStringList in, sorted;
    } cases[] = {
        {{u"Part 10"_s, u"part 2"_s, u"Part 1"_s}, {u"Part 1"_s, u"part 2"_s, u"Part 10"_s}},
        {{u"c"_s, u"B"_s, u"a"_s}, {u"a"_s, u"B"_s, u"c"_s}},
        {{u"file10"_s, u"file2"_s, u"File1"_s}, {u"File1"_s, u"file2"_s, u"file10"_s}},
        {{u"ABC"_s, u"abc"_s}, {u"abc"_s, u"ABC"_s}},
        {{u"abc"_s, u"ABC"_s}, {u"abc"_s, u"ABC"_s}},
        // Canonically equivalent: equal under both, so the input order stays.
        {{u"é"_s, u"b"_s, u"e\u0301"_s}, {u"b"_s, u"é"_s, u"e\u0301"_s}},
        {{u"e\u0301"_s, u"b"_s, u"é"_s}, {u"b"_s, u"e\u0301"_s, u"é"_s}},
    };
    for (const auto &c : cases) {
        QStringList list = c.in;
        collator.sort(list);
        EXPECT_EQ(list, c.sorted) << ::testing::PrintToString(c.in);
    }
    // Stability on a list long enough for std::sort to reorder equal items.
    QStringList mixed, stable;
    for (int i = 0; i < 200; ++i)
        mixed.append((i * 7) % 3 == 0 ? u"b"_s : (i * 5) % 4 < 2 ? u"\u00e9"_s : u"e\u0301"_s);
    for (const QString &s : mixed)
        if (s == u"b"_s)
            stable.append(s);
    for (const QString &s : mixed)
        if (s != u"b"_s)
            stable.append(s);
    collator.sort(mixed);
    EXPECT_EQ(mixed, stable);

    EXPECT_LT(collator.compare(u"abc"_s, u"ABC"_s), 0);
    EXPECT_GT(collator.compare(u"ABC"_s, u"abc"_s), 0);
    EXPECT_EQ(collator.compare(u"x"_s, u"x"_s), 0);
    EXPECT_TRUE(collator.lessThan(u"Part 9"_s, u"part 10"_s));
}

// Natural order must not depend on the locale's collation knowing numbers:
// the C locale (CI runs C.UTF-8) has no numeric collation at all.
TEST(TextCollation, NaturalOrderUnderCAndEnglish)
{
    const struct {
        QStringList in, sorted;
    } cases[] = {
        {{u"essays 10"_s, u"Drafts"_s, u"essays 2"_s, u"Essays"_s},
         {u"Drafts"_s, u"Essays"_s, u"essays 2"_s, u"essays 10"_s}},
        {{u"Essays 10"_s, u"essays 2"_s, u"Drafts"_s}, {u"Drafts"_s, u"essays 2"_s, u"Essays 10"_s}},
        {{u"v1.10"_s, u"v1.9"_s, u"v1.2"_s}, {u"v1.2"_s, u"v1.9"_s, u"v1.10"_s}},
        {{u"x100"_s, u"x20"_s, u"X3"_s}, {u"X3"_s, u"x20"_s, u"x100"_s}},
        // A digit run longer than any integer type.
        {{u"n123456789012345678901"_s, u"n99999999999999999999"_s},
         {u"n99999999999999999999"_s, u"n123456789012345678901"_s}},
        {{u"posts"_s, u"Post 2"_s, u"post"_s}, {u"post"_s, u"Post 2"_s, u"posts"_s}},
        {{u"b"_s, u"a01"_s, u"A2"_s}, {u"a01"_s, u"A2"_s, u"b"_s}},
    };
    for (const char *name : {"C", "en_US"}) {
        const DisplayCollator collator{QLocale(QString::fromLatin1(name))};
        for (const auto &c : cases) {
            QStringList list = c.in;
            collator.sort(list);
            EXPECT_EQ(list, c.sorted) << name << " " << ::testing::PrintToString(c.in);
            // The key-based order agrees with the comparison.
            QStringList byOrder;
            for (qsizetype i : collator.order(c.in))
                byOrder.append(c.in.at(i));
            EXPECT_EQ(byOrder, c.sorted) << name << " " << ::testing::PrintToString(c.in);
        }
        EXPECT_LT(collator.compare(u"essays 2"_s, u"essays 10"_s), 0) << name;
        EXPECT_GT(collator.compare(u"essays 10"_s, u"Essays 2"_s), 0) << name;
        EXPECT_EQ(collator.compare(u"same 1"_s, u"same 1"_s), 0) << name;
    }
    // Full ties without case are broken by the locale's own case order.
    const DisplayCollator english{QLocale(u"en_US"_s)};
    const DisplayCollator c{QLocale::c()};
    EXPECT_LT(english.compare(u"abc"_s, u"ABC"_s), 0);
    EXPECT_GT(c.compare(u"abc"_s, u"ABC"_s), 0);
    EXPECT_LT(english.compare(u"a01"_s, u"A1"_s), 0);
    EXPECT_NE(c.compare(u"a01"_s, u"A1"_s), 0);
}

namespace {

// Random names over an alphabet that mixes digits of several scripts (a
// pair of surrogates among them), characters with a digit value that are not
// decimal digits, letters in both cases, marks, ignorables and punctuation.
QStringList randomNames(quint32 seed, int count)
{
    const QStringList alphabet{
        u"0"_s,       u"1"_s,      u"2"_s,      u"9"_s,          u"\u0660"_s,     u"\u0663"_s, u"\u0669"_s,
        u"\u0967"_s,  u"\uFF11"_s, u"\uFF10"_s, u"\U0001D7CF"_s, u"\U000104A2"_s, u"\u00B2"_s, u"\u00BD"_s,
        u"\u2460"_s,  u"\u2167"_s, u"a"_s,      u"A"_s,          u"z"_s,          u"Z"_s,      u"\u00E9"_s,
        u"e\u0301"_s, u"\u00DF"_s, u"\u03A3"_s, u"\u4E00"_s,     u"\U0001F600"_s, u" "_s,      u"-"_s,
        u"."_s,       u"_"_s,      u"/"_s,      u":"_s,          u"\u00AD"_s,     u"\u200B"_s, u"\u0301"_s,
    };
    QRandomGenerator random(seed);
    QStringList names{u""_s, u"\u0663"_s, u"10"_s, u"z"_s};
    while (names.size() < count) {
        QString name;
        for (int n = int(random.bounded(7)); n > 0; --n)
            name += alphabet.at(int(random.bounded(int(alphabet.size()))));
        names << name;
    }
    return names;
}

} // namespace

// A sort needs a strict weak order: never a < a, a < b excludes b < a, and
// both being below and being level carry over (a <= b <= c gives a <= c,
// strictly when either step is strict). Checked over every triple of a set of
// random names, in English and in the C locale.
TEST(TextCollation, NaturalOrderIsAStrictWeakOrder)
{
    const QStringList names = randomNames(20240917, 140);
    for (const char *locale : {"C", "en_US"}) {
        SCOPED_TRACE(locale);
        const DisplayCollator collator{QLocale(QString::fromLatin1(locale))};
        const qsizetype n = names.size();
        std::vector<int> sign(size_t(n * n));
        for (qsizetype i = 0; i < n; ++i)
            for (qsizetype j = 0; j < n; ++j)
                sign[size_t(i * n + j)] = collator.compare(names.at(i), names.at(j));
        const auto at = [&](qsizetype i, qsizetype j) { return sign[size_t(i * n + j)]; };
        int failures = 0;
        const auto report = [&](const char *law, std::initializer_list<qsizetype> which) {
            if (++failures > 5)
                return;
            std::string shown;
            for (qsizetype i : which)
                shown += " " + ::testing::PrintToString(names.at(i));
            ADD_FAILURE() << law << ":" << shown;
        };
        for (qsizetype a = 0; a < n; ++a) {
            if (at(a, a) != 0)
                report("irreflexive", {a});
            for (qsizetype b = 0; b < n; ++b) {
                if (at(a, b) != -at(b, a))
                    report("antisymmetric", {a, b});
                if (at(a, b) > 0)
                    continue;
                for (qsizetype c = 0; c < n; ++c) {
                    if (at(b, c) > 0)
                        continue;
                    const bool strict = at(a, b) < 0 || at(b, c) < 0;
                    if (strict ? at(a, c) >= 0 : at(a, c) != 0)
                        report("transitive", {a, b, c});
                }
            }
        }
        EXPECT_EQ(failures, 0);

        // A sort by the comparison itself (the C locale's own sort is one).
        QStringList sorted = names;
        const auto less = [&](const QString &x, const QString &y) { return collator.lessThan(x, y); };
        std::sort(sorted.begin(), sorted.end(), less);
        EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), less));
    }
    // The cycle that was: "٣" < "10" < "z" < "٣".
    const DisplayCollator c{QLocale::c()};
    EXPECT_LT(c.compare(u"\u0663"_s, u"10"_s), 0);
    EXPECT_LT(c.compare(u"10"_s, u"z"_s), 0);
    EXPECT_LT(c.compare(u"\u0663"_s, u"z"_s), 0);
    // Digits of every script count by value, a pair of surrogates included.
    for (const char *locale : {"C", "en_US"}) {
        const DisplayCollator collator{QLocale(QString::fromLatin1(locale))};
        EXPECT_LT(collator.compare(u"essay \u0669"_s, u"essay 10"_s), 0) << locale;
        EXPECT_LT(collator.compare(u"essay \U0001D7D7"_s, u"essay \U0001D7CF\U0001D7CE"_s), 0) << locale;
        EXPECT_LT(collator.compare(u"essay \uFF12"_s, u"essay 03"_s), 0) << locale;
    }
}

TEST(TextSearch, ContainsIgnoringCaseUnderCanonicalEquivalence)
{
    const struct {
        QString text, query;
        bool found;
    } cases[] = {
        {u"Training"_s, u"rain"_s, true},
        {u"Rainy Days"_s, u"RAIN"_s, true},
        {u"Café"_s, u"cafe"_s, false},           // diacritics are not folded
        {u"café"_s, u"CAFÉ"_s, true},            // precomposed both sides
        {u"cafe\u0301"_s, u"CAFÉ"_s, true},      // decomposed text, precomposed query
        {u"caf\u00e9"_s, u"CAFE\u0301"_s, true}, // precomposed text, decomposed query
        {u"cafe\u0301"_s, u"cafe"_s, false},     // a match may not end inside a character
        {u"Straße"_s, u"STRASSE"_s, true},
        {u"ΟΔΟΣ"_s, u"οδος"_s, true},
        {u"fox, red"_s, u"red fox"_s, false},
        {u""_s, u"a"_s, false},
        {u"abc"_s, u""_s, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(containsIgnoringCase(c.text, c.query), c.found)
            << ::testing::PrintToString(c.text) << " / " << ::testing::PrintToString(c.query);
    EXPECT_TRUE(foldedContains(caseFolded(u"Harbour LIGHTS"_s), u"lights"_s));
}

TEST(TextCollation, CodePointOrderAfterComposition)
{
    const struct {
        QStringList in, sorted;
    } cases[] = {
        {{u"b"_s, u"B"_s, u"a"_s}, {u"B"_s, u"a"_s, u"b"_s}},
        {{u"ab"_s, u"a"_s}, {u"a"_s, u"ab"_s}},
        // Above the surrogates UTF-16 order and code-point order differ.
        {{u"\U0001F600"_s, u"\uFF21"_s}, {u"\uFF21"_s, u"\U0001F600"_s}},
        // "e" + U+0301 composes to U+00E9, which sorts after "f".
        {{u"e\u0301"_s, u"f"_s}, {u"f"_s, u"e\u0301"_s}},
        // Canonically equivalent names keep their order.
        {{u"\u00e9"_s, u"e\u0301"_s}, {u"\u00e9"_s, u"e\u0301"_s}},
        {{u"e\u0301"_s, u"\u00e9"_s}, {u"e\u0301"_s, u"\u00e9"_s}},
    };
    for (const auto &c : cases) {
        QStringList list = c.in;
        sortByCodePoint(list);
        EXPECT_EQ(list, c.sorted) << ::testing::PrintToString(c.in);
    }
}

TEST(TextCollation, DefaultLocaleIsTheApplicationDefault)
{
    // The test main sets en_US as the default.
    QStringList list{u"x10"_s, u"X9"_s};
    DisplayCollator().sort(list);
    EXPECT_EQ(list, (QStringList{u"X9"_s, u"x10"_s}));
}

// --- Numbers ----------------------------------------------------------------

TEST(TextNumbers, ParseDoubleAcceptsCFloatSyntaxOnly)
{
    const struct {
        QString text;
        std::optional<double> value;
    } cases[] = {
        {u"1.5"_s, 1.5},
        {u"+1.5"_s, 1.5},
        {u"-2"_s, -2.0},
        {u".5"_s, 0.5},
        {u"5."_s, 5.0},
        {u"1e5"_s, 1e5},
        {u"1.5E-3"_s, 1.5e-3},
        {u"0x1p3"_s, 8.0},
        {u"0X1.8P1"_s, 3.0},
        {u"-0"_s, -0.0},
        {u""_s, std::nullopt},
        {u" 1"_s, std::nullopt},
        {u"\t1"_s, std::nullopt},
        {u"1 "_s, std::nullopt},
        {u"1\n"_s, std::nullopt},
        {u"inf"_s, std::nullopt},
        {u"-infinity"_s, std::nullopt},
        {u"nan"_s, std::nullopt},
        {u"1e999"_s, std::nullopt},
        {u"1e"_s, std::nullopt},
        {u"1,5"_s, std::nullopt},
        {u"+"_s, std::nullopt},
        {u"."_s, std::nullopt},
        {u"1\u00002"_s, std::nullopt},
        {u"\u0661"_s, std::nullopt}, // Arabic-Indic digit one
        {u"１"_s, std::nullopt},     // full-width digit one
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseDouble(c.text), c.value) << ::testing::PrintToString(c.text);
    EXPECT_TRUE(std::signbit(*parseDouble(u"-0"_s)));
}

TEST(TextNumbers, ParseIntegerIsSignThenAsciiDigits)
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    const struct {
        QString text;
        std::optional<qint64> value;
    } cases[] = {
        {u"0"_s, 0},
        {u"42"_s, 42},
        {u"+5"_s, 5},
        {u"-0"_s, 0},
        {u"-17"_s, -17},
        {u"007"_s, 7},
        {u"9223372036854775807"_s, max},
        {u"-9223372036854775808"_s, min},
        {u"9223372036854775808"_s, std::nullopt},
        {u"-9223372036854775809"_s, std::nullopt},
        {u"99999999999999999999"_s, std::nullopt},
        {u""_s, std::nullopt},
        {u"+"_s, std::nullopt},
        {u"-"_s, std::nullopt},
        {u"+-1"_s, std::nullopt},
        {u"5.0"_s, std::nullopt},
        {u" 5"_s, std::nullopt},
        {u"5 "_s, std::nullopt},
        {u"1e3"_s, std::nullopt},
        {u"0x10"_s, std::nullopt},
        {u"\u0661"_s, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseInteger(c.text), c.value) << ::testing::PrintToString(c.text);
}
