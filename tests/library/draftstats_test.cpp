#include "library/draftstats.h"

#include "foundation/text.h"
#include "synthetichome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>

#include <memory>

#include <random>

using library::DraftStats;
using namespace Qt::StringLiterals;

namespace {

struct StatsCase {
    const char *name;
    QString text;
    DraftStats expected;
};

void PrintTo(const StatsCase &c, std::ostream *os)
{
    *os << c.name;
}

class DraftStatsCompute : public ::testing::TestWithParam<StatsCase> {};

TEST_P(DraftStatsCompute, GivesTheFourNumbers)
{
    const StatsCase &c = GetParam();
    const DraftStats s = DraftStats::compute(c.text);
    EXPECT_NEAR(s.burstiness, c.expected.burstiness, 1e-12);
    EXPECT_NEAR(s.typeTokenRatio, c.expected.typeTokenRatio, 1e-12);
    EXPECT_NEAR(s.sentenceVariation, c.expected.sentenceVariation, 1e-12);
    EXPECT_NEAR(s.trigramRepetition, c.expected.trigramRepetition, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DraftStatsCompute,
    ::testing::Values(StatsCase{"Empty", u""_s, {0, 0, 0, 0}},
                      StatsCase{"PunctuationOnly", u"... !? — “” #\n\n"_s, {0, 0, 0, 0}},
                      // lengths 3 and 2: m 2.5, s 0.5
                      StatsCase{"TwoSentences", u"One two three. Four five."_s, {-2.0 / 3.0, 1, 0.2, 0}},
                      // one sentence of six words, four windows of which three distinct
                      StatsCase{"RepeatedWindow", u"a b c a b c"_s, {-1, 0.5, 0, 0.25}},
                      StatsCase{"LowercasedBeforeCounting", u"The the THE"_s, {-1, 1.0 / 3.0, 0, 0}},
                      StatsCase{"TwoWordsHaveNoWindow", u"so so"_s, {-1, 0.5, 0, 0}},
                      // sentences "3" and "14 is pi": m 2, s 1
                      StatsCase{"DecimalPointEndsSentence", u"3.14 is pi"_s, {-1.0 / 3.0, 1, 0.5, 0}},
                      StatsCase{"TerminatorRuns", u"Wait... what?!"_s, {-1, 1, 0, 0}},
                      // a composed and a decomposed accent spell the same word
                      StatsCase{"CanonicallyEquivalentWords", u"Café x y cafe\u0301 x y"_s, {-1, 0.5, 0, 0.25}},
                      // the Unicode lowercase mapping, not case folding: a final
                      // sigma lowercases to ς, and ß stays apart from ss
                      StatsCase{"FinalSigma", u"ΟΔΟΣ οδος"_s, {-1, 0.5, 0, 0}},
                      StatsCase{"FinalSigmaInWindows", u"ΟΔΟΣ x y οδος x y"_s, {-1, 0.5, 0, 0.25}},
                      StatsCase{"SharpSIsNotSs", u"Straße strasse"_s, {-1, 1, 0, 0}},
                      StatsCase{"SharpS", u"Straße STRASSE strasse"_s, {-1, 2.0 / 3.0, 0, 0}},
                      // a dotted capital I lowercases to i and a dot above
                      StatsCase{"DottedCapitalI", u"İstanbul istanbul i\u0307stanbul"_s, {-1, 2.0 / 3.0, 0, 0}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DraftStatsTest, RecordsCompareByAllFourNumbers)
{
    EXPECT_EQ((DraftStats{1, 2, 3, 4}), (DraftStats{1, 2, 3, 4}));
    EXPECT_NE((DraftStats{1, 2, 3, 4}), (DraftStats{1, 2, 3, 5}));
    EXPECT_EQ(DraftStats::compute(u"Don't stop."_s), DraftStats::compute(u"Don't stop."_s));
}

struct WordsCase {
    const char *name;
    QString text;
    QStringList words;
};

void PrintTo(const WordsCase &c, std::ostream *os)
{
    *os << c.name;
}

class DraftStatsWords : public ::testing::TestWithParam<WordsCase> {};

TEST_P(DraftStatsWords, SplitsAtNonWordCharacters)
{
    const WordsCase &c = GetParam();
    EXPECT_EQ(DraftStats::words(c.text), c.words);
    EXPECT_EQ(DraftStats::wordCount(c.text), c.words.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DraftStatsWords,
    ::testing::Values(WordsCase{"Empty", u""_s, {}},
                      WordsCase{
                          "ApostropheAndHyphen", u"Don't stop-2-go"_s, {u"don"_s, u"t"_s, u"stop"_s, u"2"_s, u"go"_s}},
                      WordsCase{"Hyphenated", u"well-known"_s, {u"well"_s, u"known"_s}},
                      WordsCase{"Precomposed", u"café naïve"_s, {u"café"_s, u"naïve"_s}},
                      WordsCase{"CombiningMarks", u"cafe\u0301 nai\u0308ve"_s, {u"cafe\u0301"_s, u"nai\u0308ve"_s}},
                      WordsCase{"NumericTypes", u"½ cup, Ⅻ and ٣"_s, {u"½"_s, u"cup"_s, u"ⅻ"_s, u"and"_s, u"٣"_s}},
                      WordsCase{"HashEmojiAndDash", u"#tag 👍🏽ok—then"_s, {u"tag"_s, u"ok"_s, u"then"_s}},
                      WordsCase{"OutsideTheBasicPlane", u"𝐀𝐁 x"_s, {u"𝐀𝐁"_s, u"x"_s}},
                      WordsCase{"NonLatinScripts", u"Привет, мир 你好"_s, {u"привет"_s, u"мир"_s, u"你好"_s}},
                      WordsCase{"LowercaseMapping", u"STRAßE ΟΔΟΣ İ"_s, {u"straße"_s, u"οδος"_s, u"i\u0307"_s}},
                      WordsCase{"Devanagari", u"नमस्ते दुनिया।"_s, {u"नमस्ते"_s, u"दुनिया"_s}},
                      WordsCase{"EmojiBeforeThai", u"😀 สวัสดี"_s, {u"สวัสดี"_s}},
                      // a mark on a space belongs to the space's character, a separator
                      WordsCase{"MarkOnSeparator", u"a \u0301b"_s, {u"a"_s, u"b"_s}},
                      WordsCase{"LineBreaks", u"one\r\ntwo\nthree"_s, {u"one"_s, u"two"_s, u"three"_s}}),
    [](const auto &info) { return std::string(info.param.name); });

struct SentenceCase {
    const char *name;
    QString text;
    QList<qsizetype> lengths;
};

void PrintTo(const SentenceCase &c, std::ostream *os)
{
    *os << c.name;
}

class DraftStatsSentences : public ::testing::TestWithParam<SentenceCase> {};

TEST_P(DraftStatsSentences, EndOnlyAtFullStopsAndMarks)
{
    EXPECT_EQ(DraftStats::sentenceLengths(GetParam().text), GetParam().lengths);
}

INSTANTIATE_TEST_SUITE_P(Rules, DraftStatsSentences,
                         ::testing::Values(SentenceCase{"DecimalPoint", u"3.14 is pi"_s, {1, 3}},
                                           SentenceCase{"TerminatorRuns", u"Wait... what?!"_s, {1, 1}},
                                           SentenceCase{"OthersDoNotEnd", u"one\ntwo… three: four; five"_s, {5}},
                                           SentenceCase{"NoWords", u"... ?!"_s, {}},
                                           SentenceCase{"Unterminated", u"a b. c"_s, {2, 1}}),
                         [](const auto &info) { return std::string(info.param.name); });

// Words of the whole text segmented by ICU's character iterator: an
// independent oracle for the cluster rules.
QStringList referenceWords(const QString &text)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    const icu::UnicodeString u(reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()));
    clusters->setText(u);
    QStringList words;
    QString current;
    for (int32_t a = clusters->first(), b = clusters->next(); b != icu::BreakIterator::DONE;
         a = b, b = clusters->next()) {
        const QString cluster = text.mid(a, b - a);
        const char32_t cp = cluster.toUcs4().value(0);
        const bool word = u_hasBinaryProperty(UChar32(cp), UCHAR_ALPHABETIC)
                          || u_getIntPropertyValue(UChar32(cp), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
        if (word) {
            current += cluster;
        } else if (!current.isEmpty()) {
            words.append(current.toLower());
            current.clear();
        }
    }
    if (!current.isEmpty())
        words.append(current.toLower());
    return words;
}

TEST(DraftStatsTest, MatchesFullGraphemeSegmentation)
{
    // Pieces that stress cluster boundaries: marks, joiners, flags, Hangul
    // jamo, prepended marks, CR LF and lone surrogates. Devanagari and Thai
    // stay out: Qt tailors their clusters (the word table covers them).
    const QStringList pieces = {
        u"a"_s,
        u"Z"_s,
        u"9"_s,
        u" "_s,
        u"."_s,
        u"-"_s,
        u"é"_s,
        u"½"_s,
        u"—"_s,
        u"\u00A0"_s,
        u"\r"_s,
        u"\n"_s,
        u"\u0301"_s,
        u"\u0308"_s,
        u"\u200D"_s,
        u"\uFE0F"_s,
        u"👍"_s,
        u"🏽"_s,
        u"🇫"_s,
        u"🇷"_s,
        u"\u1100"_s,
        u"\u1161"_s,
        u"\u11A8"_s,
        u"\uAC00"_s,
        u"\u0600"_s,
        QString(QChar(0xD800)),
        QString(QChar(0xDC00)),
    };
    std::mt19937 rng(1234);
    std::uniform_int_distribution<qsizetype> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 24);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int n = length(rng);
        for (int i = 0; i < n; ++i)
            text += pieces.at(pick(rng));
        const QStringList expected = referenceWords(text);
        ASSERT_EQ(DraftStats::words(text), expected) << "round " << round;
        ASSERT_EQ(DraftStats::wordCount(text), expected.size()) << "round " << round;
    }
}

TEST(DraftStatsTest, LongProseCountsLikeTheReference)
{
    const QString prose = testsupport::syntheticProse(3000, 11);
    EXPECT_EQ(DraftStats::wordCount(prose), referenceWords(prose).size());
    const DraftStats s = DraftStats::compute(prose);
    EXPECT_GT(s.typeTokenRatio, 0);
    EXPECT_LT(s.typeTokenRatio, 1);
    EXPECT_GT(s.burstiness, -1);
    EXPECT_LT(s.burstiness, 1);
    EXPECT_GT(s.sentenceVariation, 0);
    EXPECT_GE(s.trigramRepetition, 0);
    EXPECT_LT(s.trigramRepetition, 1);
}

} // namespace
