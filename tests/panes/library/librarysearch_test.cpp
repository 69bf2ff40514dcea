#include "panes/library/librarysearch.h"

#include "pieces.h"
#include "testutil.h"

#include <QHash>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using library::Post;
using testsupport::piece;
using testsupport::titles;
namespace LibrarySearch = panes::LibrarySearch;

// A provider over a table of bodies that records every call.
struct Bodies {
    QHash<QString, std::optional<QString>> byTitle = {};
    QStringList calls = {};
    LibrarySearch::BodyProvider provider()
    {
        return [this](const Post &post) {
            calls.append(post.title);
            return byTitle.value(post.title);
        };
    }
};

TEST(LibrarySearch, TitleHitsFirstThenBodyHitsReadingOnlyWhatTheTitlesMiss)
{
    const QList<Post> posts{piece(u"Notes"_s), piece(u"Rainy Days"_s), piece(u"Garden"_s)};
    Bodies bodies{{{u"Notes"_s, u"it rained"_s}, {u"Rainy Days"_s, u""_s}, {u"Garden"_s, u"no match here"_s}}};
    EXPECT_EQ(titles(LibrarySearch::results(u"RAIN"_s, posts, bodies.provider())),
              (QStringList{u"Rainy Days"_s, u"Notes"_s}));
    EXPECT_EQ(bodies.calls, (QStringList{u"Notes"_s, u"Garden"_s}));

    // A piece matching by both is listed once, and its body is not asked for.
    Bodies both{{{u"Rainy Days"_s, u"rain all day"_s}}};
    EXPECT_EQ(titles(LibrarySearch::results(u"rain"_s, {piece(u"Rainy Days"_s)}, both.provider())),
              (QStringList{u"Rainy Days"_s}));
    EXPECT_TRUE(both.calls.isEmpty());

    // Every field of a found piece is carried through unchanged.
    Post outline = piece(u"Plans"_s);
    outline.type = Post::ContentType::outline;
    outline.passState = Post::PassState::pass2Done;
    outline.origin = Post::Origin::ai;
    outline.micropubURL = u"https://example.org/p"_s;
    Bodies none;
    EXPECT_EQ(LibrarySearch::results(u"plan"_s, {outline}, none.provider()), QList<Post>{outline});
}

// The match rule over titles: case and canonical equivalence ignored,
// diacritics and word order kept, no word boundaries.
TEST(LibrarySearch, MatchRuleTable)
{
    const struct {
        QString title, query;
        bool found;
    } cases[] = {
        {u"Café"_s, u"cafe"_s, false},           {u"café"_s, u"CAFÉ"_s, true},
        {u"cafe\u0301"_s, u"café"_s, true},                                           // NFD title, NFC query
        {u"caf\u00e9"_s, u"cafe\u0301"_s, true},                                      // NFC title, NFD query
        {u"CAFE\u0301 NOIR"_s, u"é n"_s, true},  {u"cafe\u0301"_s, u"cafe"_s, false}, // ends inside the é
        {u"Training"_s, u"rain"_s, true},        {u"fox, red"_s, u"red fox"_s, false},
        {u"The red fox"_s, u"RED FOX"_s, true},  {u"ΟΔΟΣ"_s, u"οδος"_s, true},
        {u"Straße"_s, u"STRASSE"_s, true},       {u""_s, u"a"_s, false},
    };
    for (const auto &c : cases) {
        Bodies bodies;
        const QList<Post> found = LibrarySearch::results(c.query, {piece(c.title, u"p"_s)}, bodies.provider());
        EXPECT_EQ(found.size(), c.found ? 1 : 0)
            << ::testing::PrintToString(c.title) << " / " << ::testing::PrintToString(c.query);
        // The same answer from a text folded once and kept.
        EXPECT_EQ(LibrarySearch::Query(c.query).contains(LibrarySearch::FoldedText(c.title)), c.found)
            << ::testing::PrintToString(c.title) << " / " << ::testing::PrintToString(c.query);
    }
    // The same rule over bodies.
    Bodies bodies{{{u"A"_s, u"un cafe\u0301 noir"_s}, {u"B"_s, u"Cafe society"_s}}};
    EXPECT_EQ(titles(LibrarySearch::results(u"CAFÉ"_s, {piece(u"A"_s), piece(u"B"_s)}, bodies.provider())),
              QStringList{u"A"_s});
}

TEST(LibrarySearch, TrimmedQueryAndNoSearchAtAll)
{
    const QList<Post> posts{piece(u"Rain"_s), piece(u"Sun"_s)};
    // Blank queries (the whole trim set) search nothing and read nothing.
    for (const QString &blank : {u""_s, u"  \t\n\r"_s, u"\u000b\u000c\u0085"_s, u"\u00a0\u2003\u2028\u2029\u3000"_s}) {
        Bodies bodies;
        EXPECT_TRUE(LibrarySearch::results(blank, posts, bodies.provider()).isEmpty())
            << ::testing::PrintToString(blank);
        EXPECT_TRUE(bodies.calls.isEmpty());
    }
    // Trimmed at both ends by the same set, inside left alone.
    for (const QString &query : {u" rain "_s, u"\train\n"_s, u"\u2003rain\u2029"_s, u"\u0085rain\u00a0"_s}) {
        Bodies bodies;
        EXPECT_EQ(titles(LibrarySearch::results(query, posts, bodies.provider())), QStringList{u"Rain"_s})
            << ::testing::PrintToString(query);
    }
    EXPECT_EQ(LibrarySearch::trimmedQuery(u" \tred  fox\n"_s), u"red  fox"_s);
    Bodies bodies{{{u"Sun"_s, u"red fox"_s}}};
    EXPECT_TRUE(LibrarySearch::results(u"red  fox"_s, posts, bodies.provider()).isEmpty());

    // No pieces: nothing, for any query.
    Bodies empty;
    EXPECT_TRUE(LibrarySearch::results(u"a"_s, {}, empty.provider()).isEmpty());
}

TEST(LibrarySearch, MissingBodiesFindByTitleOnly)
{
    const QList<Post> posts{piece(u"Harbour"_s), piece(u"Lights"_s), piece(u"Harbour Lights"_s)};
    Bodies bodies; // answers none for every piece
    EXPECT_EQ(titles(LibrarySearch::results(u"light"_s, posts, bodies.provider())),
              (QStringList{u"Lights"_s, u"Harbour Lights"_s}));
    EXPECT_EQ(bodies.calls, QStringList{u"Harbour"_s});
    // With no provider at all, too.
    EXPECT_EQ(titles(LibrarySearch::results(u"harbour"_s, posts, {})),
              (QStringList{u"Harbour"_s, u"Harbour Lights"_s}));
}

// A provider that stops answering (a cancelled search) turns the rest of the
// run into title tests.
TEST(LibrarySearch, ProviderThatGoesSilentMidRun)
{
    QList<Post> posts;
    for (int i = 0; i < 6; ++i)
        posts.append(piece(u"Piece %1"_s.arg(i)));
    int calls = 0;
    const LibrarySearch::BodyProvider provider = [&calls](const Post &) -> std::optional<QString> {
        return ++calls <= 2 ? std::optional<QString>(u"a needle"_s) : std::nullopt;
    };
    EXPECT_EQ(titles(LibrarySearch::results(u"needle"_s, posts, provider)), (QStringList{u"Piece 0"_s, u"Piece 1"_s}));
    EXPECT_EQ(calls, 6);
}

// Hits put in the filter's order: title hits, then body hits, each in the
// order of the pieces.
TEST(LibrarySearch, OrderedByHits)
{
    using Hit = LibrarySearch::Hit;
    const QList<Post> posts{piece(u"A"_s), piece(u"B"_s), piece(u"C"_s), piece(u"D"_s), piece(u"E"_s)};
    EXPECT_EQ(titles(LibrarySearch::ordered(posts, {Hit::body, Hit::title, Hit::none, Hit::body, Hit::title})),
              (QStringList{u"B"_s, u"E"_s, u"A"_s, u"D"_s}));
    EXPECT_TRUE(LibrarySearch::ordered(posts, QList<Hit>(5, Hit::none)).isEmpty());
    EXPECT_TRUE(LibrarySearch::ordered({}, {}).isEmpty());
}

TEST(LibrarySearch, KeyAndSnapshotEquality)
{
    const LibrarySearch::SearchKey key{u"café"_s, u"/home/w/Pennora"_s, 7};
    EXPECT_EQ(key, (LibrarySearch::SearchKey{u"cafe\u0301"_s, u"/home/w/Pennora"_s, 7}));
    EXPECT_FALSE(key == (LibrarySearch::SearchKey{u"café"_s, u"/home/w/Pennora"_s, 8}));
    EXPECT_FALSE(key == (LibrarySearch::SearchKey{u"CAFÉ"_s, u"/home/w/Pennora"_s, 7}));
    EXPECT_FALSE(key == (LibrarySearch::SearchKey{u"café"_s, u"/home/w/Other"_s, 7}));

    const Post a = piece(u"A"_s);
    Post b = piece(u"B"_s);
    const LibrarySearch::Snapshot snapshot{key, {a, b}};
    EXPECT_EQ(snapshot, (LibrarySearch::Snapshot{key, {a, b}}));
    EXPECT_FALSE(snapshot == (LibrarySearch::Snapshot{key, {b, a}}));
    EXPECT_FALSE(snapshot == (LibrarySearch::Snapshot{key, {a}}));
    b.passState = Post::PassState::pass1Done;
    EXPECT_FALSE(snapshot == (LibrarySearch::Snapshot{key, {a, b}}));
    EXPECT_FALSE(snapshot == (LibrarySearch::Snapshot{{u"café"_s, u"/home/w/Pennora"_s, 8}, {a, piece(u"B"_s)}}));
}

} // namespace
