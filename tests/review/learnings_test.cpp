#include "reviewfixture.h"

#include "review/fixcardstore.h"
#include "review/learnings.h"
#include "testenv.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace review;
using namespace reviewtest;
using library::Frontmatter;
using library::Post;

namespace {

QString countsPath(const Home &h)
{
    return h.home + QStringLiteral("/learnings/pass-counts.json");
}

template<typename F>
QString refusal(F &&f)
{
    try {
        f();
    } catch (const FixCardStore::CardError &error) {
        return error.message();
    }
    return QStringLiteral("(no refusal)");
}

} // namespace

// --- Counts ------------------------------------------------------------------------------

TEST(PassCounts, FirstPassCreatesTheFileAsTheGoldenFile)
{
    Home h;
    EXPECT_TRUE(LearningPassClock::readPassCounts(h.home).isEmpty());
    LearningPassClock::bumpPassCount(h.home, Post::ContentType::post);
    EXPECT_EQ(readFile(countsPath(h)), "{\"posts\":1}");
    LearningPassClock::bumpPassCount(h.home, Post::ContentType::outline);
    LearningPassClock::bumpPassCount(h.home, Post::ContentType::post);
    EXPECT_EQ(readFile(countsPath(h)),
              readFile(testsupport::sourceDir() + QStringLiteral("/tests/review/golden/pass-counts.json")).trimmed());
}

TEST(PassCounts, ReadsLenientlyAndClamps)
{
    Home h;
    writeFile(countsPath(h), R"({"posts":-5,"outlines":5000000000,"notes":"many","other":3,"half":2.5})");
    const QMap<QString, qint64> counts = LearningPassClock::readPassCounts(h.home);
    EXPECT_EQ(counts, (QMap<QString, qint64>{{"posts", 0}, {"outlines", 1000000000}, {"other", 3}}));
    LearningPassClock::bumpPassCount(h.home, Post::ContentType::post);
    EXPECT_EQ(readFile(countsPath(h)), R"({"other":3,"outlines":1000000000,"posts":1})");

    for (const QByteArray &bad : {QByteArray("[1,2]"), QByteArray("not json"), QByteArray("")}) {
        writeFile(countsPath(h), bad);
        EXPECT_TRUE(LearningPassClock::readPassCounts(h.home).isEmpty()) << bad.constData();
    }
}

TEST(PassCounts, SymlinkedLearningsFolderIsRefused)
{
    Home h;
    QDir().mkpath(h.home);
    QDir().mkpath(h.root + QStringLiteral("/elsewhere"));
    QFile::link(h.root + QStringLiteral("/elsewhere"), h.home + QStringLiteral("/learnings"));
    EXPECT_EQ(refusal([&] { LearningPassClock::bumpPassCount(h.home, Post::ContentType::post); }),
              QStringLiteral("learnings path is a symlink: ") + h.home + QStringLiteral("/learnings"));
    EXPECT_TRUE(entries(h.root + QStringLiteral("/elsewhere")).isEmpty());

    // Readers do not follow it either: what lies behind the link is not the Home's.
    writeFile(h.root + QStringLiteral("/elsewhere/pass-counts.json"), R"({"posts":5})");
    writeFile(h.root + QStringLiteral("/elsewhere/posts/20260101-x.md"), "---\npattern: X\n---\n");
    EXPECT_TRUE(LearningPassClock::readPassCounts(h.home).isEmpty());
    EXPECT_TRUE(LearningsIndex::scan(h.home).isEmpty());
}

// --- Arithmetic ---------------------------------------------------------------------------

TEST(PassClock, ResurfacingArithmetic)
{
    struct Case {
        const char *what;
        Frontmatter frontmatter;
        qint64 count;
        std::optional<qint64> expected;
    };
    const Case cases[] = {
        {"never dismissed", {{"pattern", "x"}}, 10, std::nullopt},
        {"one dismissal implied", {{"dismissed_at_pass", "4"}}, 10, 4},
        {"third dismissal waits 40", {{"dismiss_count", "3"}, {"dismissed_at_pass", "4"}}, 10, 34},
        {"third dismissal over", {{"dismiss_count", "3"}, {"dismissed_at_pass", "4"}}, 44, std::nullopt},
        {"one pass left", {{"dismissed_at_pass", "4"}}, 13, 1},
        {"resurface_after 0", {{"dismissed_at_pass", "4"}, {"resurface_after", "0"}}, 4, std::nullopt},
        {"resurface_after as a word", {{"dismissed_at_pass", "4"}, {"resurface_after", "soon"}}, 10, 4},
        {"resurface_after 3", {{"dismissed_at_pass", "4"}, {"resurface_after", "3"}}, 5, 2},
        {"dismiss_count 0", {{"dismiss_count", "0"}, {"dismissed_at_pass", "4"}}, 4, std::nullopt},
        {"negative dismiss_count", {{"dismiss_count", "-2"}, {"dismissed_at_pass", "4"}}, 4, std::nullopt},
        {"doubling stops at 2^30", {{"dismiss_count", "500"}, {"dismissed_at_pass", "0"}}, 0, qint64(10) << 30},
        {"31st dismissal equals the cap", {{"dismiss_count", "31"}, {"dismissed_at_pass", "0"}}, 0, qint64(10) << 30},
        {"30th dismissal", {{"dismiss_count", "30"}, {"dismissed_at_pass", "0"}}, 0, qint64(10) << 29},
        {"largest base and cap",
         {{"dismiss_count", "99"}, {"dismissed_at_pass", "0"}, {"resurface_after", "5000000000"}},
         0,
         qint64(1000000000) << 30},
        {"counts reset below the dismissal", {{"dismissed_at_pass", "20"}}, 5, 25},
        {"dismissed_at_pass clamped", {{"dismissed_at_pass", "99999999999"}}, 1000000000, 10},
        {"+5 is an integer", {{"dismissed_at_pass", "+5"}}, 10, 5},
        {"5.0 is not", {{"dismissed_at_pass", "5.0"}}, 10, std::nullopt},
        {"leading blank is not", {{"dismissed_at_pass", " 5"}}, 10, std::nullopt},
        {"empty is not", {{"dismissed_at_pass", ""}}, 10, std::nullopt},
        {"dismiss_count 5.0 falls back to one", {{"dismiss_count", "5.0"}, {"dismissed_at_pass", "4"}}, 10, 4},
        {"dismiss_count +2", {{"dismiss_count", "+2"}, {"dismissed_at_pass", "4"}}, 10, 14},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LearningPassClock::resurfacesIn(c.frontmatter, c.count), c.expected) << c.what;

    EXPECT_EQ(LearningPassClock::dismissCount({}), 0);
    EXPECT_EQ(LearningPassClock::dismissCount({{"pattern", "x"}}), 0);
    EXPECT_EQ(LearningPassClock::dismissCount({{"dismissed_at_pass", "x"}}), 1);
    EXPECT_EQ(LearningPassClock::dismissCount({{"dismiss_count", "-3"}}), 0);
    EXPECT_TRUE(LearningPassClock::isPassClocked("posts"));
    EXPECT_TRUE(LearningPassClock::isPassClocked("outlines"));
    EXPECT_FALSE(LearningPassClock::isPassClocked("Posts"));
}

// --- Dismissing ---------------------------------------------------------------------------

TEST(Dismiss, RecordsTheDismissalKeepingOtherKeys)
{
    Home h;
    const QString path = h.home + QStringLiteral("/learnings/posts/20260101-x.md");
    writeFile(path, "---\npattern: x\ndismiss_count: 2\nproblem: p\ndismissed_at_pass: 1\nfrom_card: ID\n---\n\n# x\n");
    writeFile(countsPath(h), R"({"posts":100})");
    LearningPassClock::dismissLearning(h.home, "posts", "20260101-x.md", noon(2026, 3, 9));
    EXPECT_EQ(readFile(path), "---\npattern: x\ndismiss_count: 3\nproblem: p\ndismissed_at_pass: 100\nfrom_card: ID\n"
                              "dismissed: 2026-03-09\n---\n\n# x\n");
    // Now waiting 40 passes.
    EXPECT_EQ(refusal([&] { LearningPassClock::dismissLearning(h.home, "posts", "20260101-x.md", noon(2026, 3, 9)); }),
              QStringLiteral("already dismissed — resurfaces in 40 passes"));
}

TEST(Dismiss, RefusalsChangeNothing)
{
    Home h;
    const QString path = h.home + QStringLiteral("/learnings/posts/a.md");
    const QByteArray waiting = "---\npattern: a\ndismissed_at_pass: 4\n---\n";
    writeFile(path, waiting);
    writeFile(countsPath(h), R"({"posts":13})");
    writeFile(h.home + QStringLiteral("/learnings/notes/n.md"), "x");
    writeFile(h.root + QStringLiteral("/secret.md"), "---\npattern: s\n---\n");
    QFile::link(h.root + QStringLiteral("/secret.md"), h.home + QStringLiteral("/learnings/posts/link.md"));

    struct Case {
        QString type;
        QString file;
        QString message;
    };
    const Case cases[] = {
        {"posts", "a.md", "already dismissed — resurfaces in 1 pass"},
        {"..", "a.md", "invalid learning path: ../a.md"},
        {"posts", ".hidden.md", "invalid learning path: posts/.hidden.md"},
        {"posts", "sub/a.md", "invalid learning path: posts/sub/a.md"},
        {"posts", "", "invalid learning path: posts/"},
        {"notes", "n.md", "not a pass-clocked content type: notes"},
        {"posts", "link.md", "learnings path is a symlink: " + h.home + "/learnings/posts/link.md"},
        {"posts", "missing.md", "learning not found: missing.md"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(refusal([&] { LearningPassClock::dismissLearning(h.home, c.type, c.file, noon(2026, 3, 9)); }),
                  c.message);
    }
    writeFile(countsPath(h), R"({"posts":12})");
    EXPECT_EQ(refusal([&] { LearningPassClock::dismissLearning(h.home, "posts", "a.md", noon(2026, 3, 9)); }),
              QStringLiteral("already dismissed — resurfaces in 2 passes"));
    EXPECT_EQ(readFile(path), waiting);
    EXPECT_EQ(readFile(h.root + QStringLiteral("/secret.md")), "---\npattern: s\n---\n");
}

TEST(Dismiss, RefusesALearningTheReadersWouldSkip)
{
    const QByteArray head = "---\npattern: a\n---\n";
    qint64 growth = 0;
    {
        Home h;
        writeFile(h.home + QStringLiteral("/learnings/posts/a.md"), head);
        LearningPassClock::dismissLearning(h.home, "posts", "a.md", noon(2026, 3, 9));
        growth = readFile(h.home + QStringLiteral("/learnings/posts/a.md")).size() - head.size();
    }
    struct Case {
        const char *what;
        qint64 after; // the size the dismissal would leave
        bool dismissed;
    };
    const qint64 cap = FixCardStore::kSideFileCap;
    const Case cases[] = {
        {"lands at the cap", cap, true},
        {"lands one byte over", cap + 1, false},
    };
    for (const Case &c : cases) {
        Home h;
        const QString path = h.home + QStringLiteral("/learnings/posts/a.md");
        const QByteArray text = head + QByteArray(c.after - growth - head.size(), 'x');
        writeFile(path, text);
        EXPECT_EQ(refusal([&] { LearningPassClock::dismissLearning(h.home, "posts", "a.md", noon(2026, 3, 9)); }),
                  c.dismissed ? QStringLiteral("(no refusal)") : QStringLiteral("learning file too large: a.md"))
            << c.what;
        EXPECT_EQ(readFile(path).size(), c.dismissed ? cap : text.size()) << c.what;
        const QList<LearningsIndex::Group> groups = LearningsIndex::scan(h.home);
        EXPECT_EQ(groups.size(), 1) << c.what;
        EXPECT_EQ(groups.value(0).entries.value(0).resurfacesIn.has_value(), c.dismissed) << c.what;
    }
}

// --- Index -------------------------------------------------------------------------------

TEST(LearningsIndex, ScansGroupsInFolderOrderWithSortedEntries)
{
    Home h;
    EXPECT_TRUE(LearningsIndex::scan(h.home).isEmpty());

    const QString l = h.home + QStringLiteral("/learnings");
    writeFile(l + QStringLiteral("/posts/20260101-old.md"),
              "---\npattern: Old\nproblem: p\npromoted: 2026-01-01\n---\n");
    writeFile(l + QStringLiteral("/posts/20260301-new-slug.md"), "# no front matter\n");
    writeFile(l + QStringLiteral("/posts/zeta.md"), "---\npattern:\nproblem:\n---\n");
    writeFile(l + QStringLiteral("/posts/alpha.MD"), "---\ndismissed_at_pass: 1\n---\n");
    writeFile(l + QStringLiteral("/posts/.hidden.md"), "x");
    writeFile(l + QStringLiteral("/posts/notes.txt"), "x");
    writeFile(l + QStringLiteral("/outlines/only.txt"), "x");
    writeFile(l + QStringLiteral("/ideas/20260202-idea.md"), "---\ndismissed_at_pass: 1\n---\n");
    writeFile(l + QStringLiteral("/.trash/a.md"), "x");
    writeFile(l + QStringLiteral("/pass-counts.json"), R"({"posts":5})");

    const QList<LearningsIndex::Group> groups = LearningsIndex::scan(h.home);
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups[0].type, QStringLiteral("ideas"));
    ASSERT_EQ(groups[0].entries.size(), 1);
    EXPECT_EQ(groups[0].entries[0].pattern, QStringLiteral("idea"));
    EXPECT_EQ(groups[0].entries[0].resurfacesIn, std::nullopt); // not pass-clocked

    EXPECT_EQ(groups[1].type, QStringLiteral("posts"));
    const QList<LearningsIndex::Entry> expected = {
        {"20260301-new-slug.md", "new-slug", std::nullopt, std::nullopt, std::nullopt},
        {"20260101-old.md", "Old", "p", "2026-01-01", std::nullopt},
        {"zeta.md", "", std::nullopt, std::nullopt, std::nullopt},
        {"alpha.MD", "alpha", std::nullopt, std::nullopt, 6},
    };
    EXPECT_EQ(groups[1].entries, expected);
}

TEST(LearningsIndex, DatePrefix)
{
    EXPECT_TRUE(LearningsIndex::hasDatePrefix("20260101-x.md"));
    EXPECT_TRUE(LearningsIndex::hasDatePrefix("20260101-.md"));
    EXPECT_TRUE(LearningsIndex::hasDatePrefix(QStringLiteral("٢٠٢٦٠١٠١-x.md")));         // other numerals count
    EXPECT_TRUE(LearningsIndex::hasDatePrefix(QStringLiteral("二〇二六〇一〇一-x.md"))); // numeric letters too
    EXPECT_FALSE(LearningsIndex::hasDatePrefix("20260101.md"));
    EXPECT_FALSE(LearningsIndex::hasDatePrefix("2026010-x.md"));
    EXPECT_FALSE(LearningsIndex::hasDatePrefix("2026O101-x.md"));
}
