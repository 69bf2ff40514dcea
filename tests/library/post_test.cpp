#include "library/frontmatter.h"
#include "testutil.h"

#include <QDateTime>
#include <gtest/gtest.h>

using library::Frontmatter;
using library::FrontmatterPairs;
using library::Post;
namespace PostFrontmatter = library::PostFrontmatter;

namespace {

const FrontmatterPairs kDefaults =
    PostFrontmatter::defaultFrontmatter(Post::ContentType::post, Post::PassState::firstDraft, Post::Origin::writer);

} // namespace

TEST(PostEnums, RawValuesRoundTripExactly)
{
    EXPECT_EQ(Post::PassState::allCases().size(), 3);
    for (auto s : Post::PassState::allCases())
        EXPECT_EQ(Post::PassState::fromRawValue(s.rawValue()), s);
    for (auto t : Post::ContentType::allCases())
        EXPECT_EQ(Post::ContentType::fromRawValue(t.rawValue()), t);
    EXPECT_EQ(Post::PassState(Post::PassState::pass1Done).rawValue(), "Pass-1 Done");
    EXPECT_EQ(Post::Origin::fromRawValue("ai"), Post::Origin::ai);
    EXPECT_FALSE(Post::PassState::fromRawValue("first draft"));
    EXPECT_FALSE(Post::ContentType::fromRawValue("Outline"));
    EXPECT_FALSE(Post::Origin::fromRawValue(" ai"));
}

TEST(PostFrontmatter, DefaultPairsInOrder)
{
    const FrontmatterPairs pairs =
        PostFrontmatter::defaultFrontmatter(Post::ContentType::outline, Post::PassState::pass2Done, Post::Origin::ai);
    const FrontmatterPairs expected{{"type", "outline"}, {"pass_state", "Pass-2 Done"}, {"origin", "ai"}};
    EXPECT_EQ(pairs, expected);
}

TEST(PostFrontmatter, ParseTable)
{
    struct Case {
        const char *name;
        QString text;
        Frontmatter expected;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"leading blank lines", "\n  \n---\ntype: outline\n---\nBody", {{"type", "outline"}}},
        {"heading first", "# Title\n---\ntype: outline\n---\n", {}},
        {"unclosed reads to the end",
         "---\ntype: outline\nBody text\nlate: yes\n",
         {{"type", "outline"}, {"late", "yes"}}},
        {"quotes stripped",
         "---\norigin: 'ai'\nnote: 'it's'\nx: 'open\ny: \" in \"\n---\n",
         {{"origin", "ai"}, {"note", "it's"}, {"x", "open"}, {"y", " in "}}},
        {"later key wins", "---\ntype: post\ntype: outline\n---\n", {{"type", "outline"}}},
        {"empty key", "---\n::x: 1\ndraft\n---\n", {{"", ":x: 1"}}},
        {"spaced delimiter, four hyphens are not", " ---\t\na: 1\n----\n---\nb: 2\n", {{"a", "1"}}},
        {"stops at the closing delimiter", "---\na: 1\n---\nb: 2\n", {{"a", "1"}}},
        {"three hyphens and text are no delimiter", "--- x\na: 1\n---\n", {}},
        {"CR LF", "---\r\ntype: outline\r\norigin: ai\r\n---\r\nBody\r\n", {{"type", "outline"}, {"origin", "ai"}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PostFrontmatter::parseFrontmatter(c.text), c.expected) << c.name;
}

TEST(PostFrontmatter, FlagsAndDraftTests)
{
    struct Case {
        Frontmatter fm;
        PostFrontmatter::Flags flags;
        bool untouched;
        bool writerPost;
    };
    using CT = Post::ContentType;
    using PS = Post::PassState;
    using O = Post::Origin;
    const Case cases[] = {
        {{}, {CT::post, PS::firstDraft, O::writer}, true, true},
        {{{"type", "Outline"}}, {CT::post, PS::firstDraft, O::writer}, true, true},
        {{{"type", "outline"}}, {CT::outline, PS::firstDraft, O::writer}, false, false},
        {{{"pass_state", "Pass-2 Done"}}, {CT::post, PS::pass2Done, O::writer}, false, true},
        {{{"origin", "ai"}}, {CT::post, PS::firstDraft, O::ai}, false, false},
        {{{"pass_state", "pass-1 done"}, {"origin", "robot"}}, {CT::post, PS::firstDraft, O::writer}, true, true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(PostFrontmatter::frontmatterFlags(c.fm), c.flags);
        EXPECT_EQ(PostFrontmatter::isUntouchedWriterDraft(c.fm), c.untouched);
        EXPECT_EQ(PostFrontmatter::isWriterPost(c.fm), c.writerPost);
    }
}

TEST(PostFrontmatter, SplitTable)
{
    struct Case {
        const char *name;
        QString text;
        QString block;
        QString body;
    };
    const Case cases[] = {
        {"empty", "", "", ""},
        {"no block", "# Notes\nText\n", "", "# Notes\nText\n"},
        {"leading blank lines are in neither part", "\n\n---\ntype: outline\n---\nBody", "---\ntype: outline\n---\n",
         "Body"},
        {"body keeps its final LF and leading blank line", "---\na: b\n---\n\nBody\n", "---\na: b\n---\n", "\nBody\n"},
        {"ends on the delimiter with LF", "---\na: b\n---\n", "---\na: b\n---\n", ""},
        {"ends on the delimiter without LF", "---\na: b\n---", "---\na: b\n---\n", ""},
        {"unclosed is no block", "---\na: b\nBody", "", "---\na: b\nBody"},
        {"CR LF", "---\r\na: b\r\n---\r\nBody\r\n", "---\r\na: b\r\n---\r\n", "Body\r\n"},
    };
    for (const Case &c : cases) {
        const PostFrontmatter::Split split = PostFrontmatter::splitFrontmatter(c.text);
        EXPECT_EQ(split.block, c.block) << c.name;
        EXPECT_EQ(split.body, c.body) << c.name;
    }
}

TEST(PostFrontmatter, RewriteExampleLineByLine)
{
    const QStringList before{"---", "title: Notes", "type:  'outline'", "---", "# Notes"};
    const QStringList after{"---", "title: Notes", "type: post", "pass_state: First Draft", "origin: writer",
                            "---", "# Notes"};
    EXPECT_EQ(PostFrontmatter::rewriteFrontmatter(before.join('\n'), kDefaults).split('\n'), after);

    const QStringList fresh{"---", "type: post", "pass_state: First Draft", "origin: writer", "---", "# Notes"};
    EXPECT_EQ(PostFrontmatter::rewriteFrontmatter("# Notes", kDefaults).split('\n'), fresh);
}

TEST(PostFrontmatter, RewriteTable)
{
    struct Case {
        const char *name;
        QString text;
        FrontmatterPairs pairs;
        QString expected;
    };
    const Case cases[] = {
        {"leading blank lines stay in front",
         "\n\n---\ntype: outline\n---\nBody",
         {{"type", "post"}},
         "\n\n---\ntype: post\n---\nBody"},
        {"duplicates all replaced",
         "---\ntype: a\nx: 1\ntype: b\n---\n",
         {{"type", "post"}},
         "---\ntype: post\nx: 1\ntype: post\n---\n"},
        {"missing keys before the closing delimiter, in pair order",
         "---\nx: 1\n---\nB",
         {{"b", "2"}, {"x", "9"}, {"a", "1"}},
         "---\nx: 9\nb: 2\na: 1\n---\nB"},
        {"later pair wins", "---\nx: 1\n---\n", {{"x", "2"}, {"x", "3"}}, "---\nx: 3\n---\n"},
        // As the parser reads them: "::x: 1" has the empty key, a colon-less line none.
        {"lines the parser reads under another key or none stay",
         "---\n::x: 1\ndraft\nkeep me\n---\n",
         {{"x", "2"}, {"draft", "no"}},
         "---\n::x: 1\ndraft\nkeep me\nx: 2\ndraft: no\n---\n"},
        {"delimiters and blank lines stay as written",
         " ---  \n\ntitle: \"T\"\n--- \nBody",
         {{"origin", "ai"}},
         " ---  \n\ntitle: \"T\"\norigin: ai\n--- \nBody"},
        {"unclosed gets a new block in front",
         "---\na: b\nBody",
         {{"type", "post"}},
         "---\ntype: post\n---\n---\na: b\nBody"},
        {"ending on the delimiter", "---\na: b\n---", {{"a", "c"}}, "---\na: c\n---\n"},
        // A line break in a key or value would add lines of its own.
        {"line breaks written as spaces",
         "---\nx: 1\n---\nB",
         {{"x", "a\nb"}, {"y", "c\r\nd\re"}, {"k\nz", "v"}},
         "---\nx: a b\ny: c  d e\nk z: v\n---\nB"},
        {"line breaks in a new block", "B", {{"x", "a\n---\nb"}}, "---\nx: a --- b\n---\nB"},
        // A file saved with CR LF keeps its one block; untouched lines keep
        // their CR, written lines end in LF only.
        {"CR LF",
         "---\r\ntitle: T\r\ntype: outline\r\ndraft\r\n---\r\nBody\r\n",
         {{"type", "post"}, {"draft", "x"}, {"origin", "ai"}},
         "---\r\ntitle: T\r\ntype: post\ndraft\r\ndraft: x\norigin: ai\n---\r\nBody\r\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PostFrontmatter::rewriteFrontmatter(c.text, c.pairs), c.expected) << c.name;
}

TEST(PostFrontmatter, RewriteThenParseAgrees)
{
    const QString crlf = "---\r\ntype: outline\r\n---\r\n- idea\r\n";
    const QString once = PostFrontmatter::stampNewPost(crlf, Post::Origin::ai);
    EXPECT_EQ(PostFrontmatter::parseFrontmatter(once),
              (Frontmatter{{"type", "post"}, {"pass_state", "First Draft"}, {"origin", "ai"}}));
    EXPECT_EQ(once.count("---"), 2);
    EXPECT_EQ(PostFrontmatter::stampNewPost(once, Post::Origin::ai), once);
}

// A rewritten value reads back whatever white space starts a duplicate key
// line: the rewrite replaces exactly the lines the parser reads as the key.
TEST(PostFrontmatter, RewriteReplacesEveryLineTheParserReadsAsTheKey)
{
    const struct {
        const char *name;
        QString lead;
    } cases[] = {
        {"tab", "\t"},
        {"space", " "},
        {"no-break space", "\u00a0"},
        {"vertical tab", "\v"},
        {"form feed", "\f"},
        {"carriage return", "\r"},
        {"next line", "\u0085"},
        {"line separator", "\u2028"},
        {"paragraph separator", "\u2029"},
    };
    for (const auto &c : cases) {
        const QString text = "---\ntype: outline\n" + c.lead + "type: outline\norigin: ai\n---\nBody\n";
        const QString rewritten = PostFrontmatter::rewriteFrontmatter(text, {{"type", "post"}});
        EXPECT_EQ(PostFrontmatter::parseFrontmatter(rewritten), (Frontmatter{{"type", "post"}, {"origin", "ai"}}))
            << c.name;
        EXPECT_EQ(PostFrontmatter::splitFrontmatter(rewritten).body, "Body\n") << c.name;
    }
}

TEST(PostFrontmatter, StampNewPost)
{
    EXPECT_EQ(PostFrontmatter::stampNewPost("Hello", Post::Origin::ai),
              "---\ntype: post\npass_state: First Draft\norigin: ai\n---\nHello");
    EXPECT_EQ(PostFrontmatter::stampNewPost("---\norigin: ai\npass_state: Pass-2 Done\n---\n", Post::Origin::writer),
              "---\norigin: writer\npass_state: First Draft\ntype: post\n---\n");
}

TEST(PostFrontmatter, FirstDraftStatsTable)
{
    const Frontmatter complete{{"stats_captured", "2025-03-14T09:05:00"},
                               {"stats_burstiness", "-0.667"},
                               {"stats_type_token_ratio", "1.000"},
                               {"stats_sentence_variation", "0x1p-2"},
                               {"stats_trigram_repetition", "1e-3"}};
    const auto stats = PostFrontmatter::readFirstDraftStats(complete);
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->captured, QDateTime(QDate(2025, 3, 14), QTime(9, 5)));
    EXPECT_EQ(stats->stats, (library::DraftStats{-0.667, 1.0, 0.25, 0.001}));

    struct Case {
        const char *name;
        QString key;
        std::optional<QString> value; // none: key removed
    };
    const Case refused[] = {
        {"zone designator", "stats_captured", "2025-03-14T09:05:00Z"},
        {"no seconds", "stats_captured", "2025-03-14T09:05"},
        {"not a date", "stats_captured", "2025-02-30T09:05:00"},
        {"no date", "stats_captured", std::nullopt},
        {"inf", "stats_burstiness", "inf"},
        {"nan", "stats_type_token_ratio", "nan"},
        {"overflow", "stats_type_token_ratio", "1e999"},
        {"trailing text", "stats_sentence_variation", "0.5x"},
        {"empty", "stats_sentence_variation", ""},
        {"comma", "stats_trigram_repetition", "0,5"},
        {"missing", "stats_trigram_repetition", std::nullopt},
    };
    for (const Case &c : refused) {
        Frontmatter fm = complete;
        if (c.value)
            fm.insert(c.key, *c.value);
        else
            fm.remove(c.key);
        EXPECT_FALSE(PostFrontmatter::readFirstDraftStats(fm)) << c.name;
    }
}

TEST(PostFrontmatter, StatsDateRoundTrip)
{
    const QDateTime when(QDate(2025, 3, 14), QTime(9, 5));
    EXPECT_EQ(PostFrontmatter::formatStatsDate(when), "2025-03-14T09:05:00");
    EXPECT_EQ(PostFrontmatter::parseStatsDate("2025-03-14T09:05:00"), when);
    EXPECT_FALSE(PostFrontmatter::parseStatsDate(" 2025-03-14T09:05:00"));
}

TEST(PostTitle, TitleRuleTable)
{
    struct Case {
        QString text;
        QString title;
    };
    const Case cases[] = {
        {"", "untitled"},
        {"\n  \n", "untitled"},
        {"## Draft two ##", "Draft two"},
        {"#\tSpaced\u00a0#  ", "Spaced"},
        {"###", "untitled"},
        {"- Idea\n  - more", "- Idea"},
        {"\n\n  Plain first line  \n# Later", "Plain first line"},
        {"---\ntype: post\n---\n\n# Hello\n", "Hello"},
        {"\n---\ntype: post\n---\nAfter", "After"},
        {"---\ntype: post\nno closing", "untitled"},
        {"---\ntype: post\n---", "untitled"},
        {"---\ntype: post\n---\n#\nSecond", "untitled"},
        {"# Title\n---\nx: y\n---\n", "Title"},
        {"---\r\ntype: post\r\n---\r\n# Hi\r\n", "Hi"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PostFrontmatter::deriveTitle(c.text), c.title) << ::testing::PrintToString(c.text);
}

TEST(PostRecord, EqualityComparesEveryField)
{
    Post a;
    a.id = "x";
    Post b = a;
    EXPECT_EQ(a, b);
    b.isArchived = true;
    EXPECT_NE(a, b);
    b = a;
    b.firstDraftStats = Post::FirstDraftStats{QDateTime::currentDateTime(), {}};
    EXPECT_NE(a, b);
    b = a;
    b.micropubURL = QString("https://example.com/1");
    EXPECT_NE(a, b);
}
