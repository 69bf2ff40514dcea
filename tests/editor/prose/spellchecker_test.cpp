#include "editor/prose/spellchecker.h"

#include <gtest/gtest.h>

namespace {

using editor::SpellChecker;
using foundation::text::Range;
using namespace Qt::StringLiterals;

std::vector<std::pair<qsizetype, qsizetype>> spans(const QList<Range> &ranges)
{
    std::vector<std::pair<qsizetype, qsizetype>> out;
    for (const Range &range : ranges)
        out.emplace_back(range.start, range.length);
    return out;
}

TEST(SpellChecker, FindsMisspeltWordsAndLeavesNumbersAndAddressesAlone)
{
    SpellChecker &checker = SpellChecker::english();
    ASSERT_TRUE(checker.isReady());
    struct Case {
        QString text;
        std::vector<std::pair<qsizetype, qsizetype>> misspelt;
    };
    const std::vector<Case> cases{
        {u"The cat sat on teh mat."_s, {{15, 3}}},
        // Both apostrophes and a capital at the start.
        {u"Don’t worry, it isn't a cafe."_s, {}},
        {u"Wrod one and wrod two"_s, {{0, 4}, {13, 4}}},
        {u"Meet at 3pm, page 42b, room 7"_s, {}},
        {u"Mail zqxv@example.com or see https://qwzx.org/ptth"_s, {}},
        {u"— … « »"_s, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(spans(checker.misspellings(c.text)), c.misspelt);
    }
    EXPECT_FALSE(checker.isCorrect(u"wrod"_s));
    EXPECT_TRUE(checker.isCorrect(u"word"_s));
}

TEST(SpellChecker, WithoutADictionaryEveryWordPasses)
{
    SpellChecker checker(u"/nonexistent/xx.aff"_s, u"/nonexistent/xx.dic"_s);
    EXPECT_FALSE(checker.isReady());
    EXPECT_TRUE(checker.isCorrect(u"wrod"_s));
    EXPECT_TRUE(checker.misspellings(u"wrod"_s).isEmpty());
}

} // namespace
