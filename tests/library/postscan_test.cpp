#include "library/postscan.h"

#include "foundation/fs.h"
#include "foundation/text.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using library::Post;
using library::PostScanCache;
using library::PostScan::scanLibrary;
using testsupport::writeFile;

namespace {

const QLocale kEnglish(QStringLiteral("en_US"));

// A Home inside a sandbox folder, so that links can point out of it.
class PostScanHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sandbox.isValid());
        home = m_sandbox.path() + "/Home";
        outside = m_sandbox.path() + "/Outside";
        ASSERT_TRUE(QDir().mkpath(home));
        ASSERT_TRUE(QDir().mkpath(outside));
    }

    QString path(const QString &relative) const { return home + "/" + relative; }

    void piece(const QString &relative, const QString &text) { writeFile(path(relative + "/post.md"), text.toUtf8()); }
    void titled(const QString &relative, const QString &title) { piece(relative, "# " + title + "\n\nBody.\n"); }

    void link(const QString &target, const QString &relative)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).path()));
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path(relative)).constData()), 0);
    }

    QList<Post> scan(PostScanCache *cache = nullptr) const { return scanLibrary(home, cache, kEnglish); }

    QString home;
    QString outside;

private:
    QTemporaryDir m_sandbox{testsupport::tempHome() + "/postscan-XXXXXX"};
};

// "project/id" of each Post, with "archive:" in front of archived ones.
QStringList places(const QList<Post> &posts)
{
    QStringList out;
    for (const Post &post : posts)
        out << (post.isArchived ? "archive:" : "") + post.project + "/" + post.id;
    return out;
}

QStringList titles(const QList<Post> &posts)
{
    QStringList out;
    for (const Post &post : posts)
        out << post.title;
    return out;
}

} // namespace

TEST_F(PostScanHome, EmptyHomeOrMissingRootsGiveNothing)
{
    EXPECT_TRUE(scan().isEmpty());
    ASSERT_TRUE(QDir().mkpath(path("projects/Blog")));
    writeFile(path("archive"), "a file where a root should be");
    EXPECT_TRUE(scan().isEmpty());
    EXPECT_TRUE(scanLibrary(home + "/missing", nullptr, kEnglish).isEmpty());
}

// Every kind of entry that is not a readable piece, beside two real ones.
TEST_F(PostScanHome, ListsOnlyReadablePieceFoldersOfBothRoots)
{
    titled("projects/Blog/kept", "Kept");
    titled("archive/Old/kept-archived", "Kept archived");

    titled("projects/.hidden/in-hidden-project", "Hidden project");
    titled("projects/Blog/.hidden-piece", "Hidden piece");
    titled("archive/Old/.git", "Hidden piece");
    writeFile(outside + "/Linked/linked-project-piece/post.md", "# Through a linked project\n");
    link(outside + "/Linked", "projects/Linked");
    writeFile(outside + "/elsewhere/post.md", "# Through a linked piece\n");
    link(outside + "/elsewhere", "projects/Blog/linked-piece");
    writeFile(path("projects/stray.md"), "# A file at the project level\n");
    writeFile(path("projects/Blog/stray.md"), "# A file at the piece level\n");

    ASSERT_TRUE(QDir().mkpath(path("projects/Blog/no-post")));
    writeFile(path("projects/Blog/not-utf8/post.md"), "# Caf\xe9\n");
    ASSERT_TRUE(QDir().mkpath(path("projects/Blog/folder-post/post.md")));
    writeFile(outside + "/target.md", "# Linked file\n");
    link(outside + "/target.md", "projects/Blog/linked-post/post.md");
    ASSERT_TRUE(QDir().mkpath(path("projects/Blog/fifo-post")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("projects/Blog/fifo-post/post.md")).constData(), 0644), 0);
    if (::geteuid() != 0) { // root reads through any mode
        titled("projects/Blog/no-permission", "No permission");
        ASSERT_EQ(::chmod(QFile::encodeName(path("projects/Blog/no-permission/post.md")).constData(), 0), 0);
    }

    PostScanCache cache;
    for (PostScanCache *with : {static_cast<PostScanCache *>(nullptr), &cache, &cache}) {
        const QList<Post> posts = scan(with);
        EXPECT_EQ(places(posts), QStringList({"Blog/kept", "archive:Old/kept-archived"}));
        EXPECT_EQ(titles(posts), QStringList({"Kept", "Kept archived"}));
    }
    EXPECT_EQ(cache.hitCount(), 2);
    EXPECT_EQ(cache.missCount(), 2);
}

TEST_F(PostScanHome, DuplicateIDsKeepTheFirstReadableInWalkingOrder)
{
    // Projects are walked in code-point order: "B" before "a".
    titled("projects/a/same", "Lower project");
    titled("projects/B/same", "Upper project");
    titled("archive/A/same", "Archived");
    titled("archive/A/only-archived", "Only archived");
    // An unreadable first folder leaves the name to the next one.
    writeFile(path("projects/A/broken/post.md"), "\xff\xfe");
    titled("projects/C/broken", "Readable broken");
    titled("archive/A/broken", "Archived broken");

    PostScanCache cache;
    for (int round = 0; round < 2; ++round) {
        const QList<Post> posts = scan(&cache);
        EXPECT_EQ(places(posts), QStringList({"archive:A/only-archived", "C/broken", "B/same"})) << round;
        EXPECT_EQ(titles(posts), QStringList({"Only archived", "Readable broken", "Upper project"})) << round;
    }
    // Duplicates and unreadable files are read on every scan but never kept.
    EXPECT_EQ(cache.hitCount(), 3);
    EXPECT_EQ(cache.missCount(), 3);
}

TEST_F(PostScanHome, SortsTitlesNumericallyIgnoringCaseAndStably)
{
    struct Case {
        const char *name;
        QStringList titles; // in walking order
        QStringList expected;
    };
    const Case cases[] = {
        {"numbers", {"Part 10", "part 2", "Part 1"}, {"Part 1", "part 2", "Part 10"}},
        {"case ties get a fixed order", {"Apple", "apple", "Banana"}, {"apple", "Apple", "Banana"}},
        {"width ignored", {"Ｂ", "a", "C"}, {"a", "Ｂ", "C"}},
        {"untitled", {"", "Zed", "Alpha"}, {"Alpha", "untitled", "Zed"}},
    };
    for (const Case &c : cases) {
        QDir(path("projects")).removeRecursively();
        for (int i = 0; i < c.titles.size(); ++i)
            piece(QStringLiteral("projects/P/piece-%1").arg(i), "# " + c.titles[i] + "\n");
        EXPECT_EQ(titles(scan()), c.expected) << c.name;
    }

    // Equal titles keep the walking order: projects, then project, then piece.
    QDir(path("projects")).removeRecursively();
    titled("archive/A/x", "Same");
    titled("projects/B/y", "Same");
    titled("projects/A/z", "Same");
    titled("projects/A/a", "Same");
    EXPECT_EQ(places(scan()), QStringList({"A/a", "A/z", "B/y", "archive:A/x"}));
}

TEST_F(PostScanHome, ReadsFlagsMicropubURLAndWriterStats)
{
    const QString stats = "stats_captured: 2025-03-14T09:05:00\nstats_burstiness: 0.5\n"
                          "stats_type_token_ratio: 0.6\nstats_sentence_variation: 0.7\n"
                          "stats_trigram_repetition: 0.01\n";
    struct Case {
        const char *id;
        QString frontmatter;
        Post::PassState passState;
        Post::Origin origin;
        Post::ContentType type;
        std::optional<QString> url;
        bool hasStats;
    };
    const Case cases[] = {
        {"a-plain", "", Post::PassState::firstDraft, Post::Origin::writer, Post::ContentType::post, {}, false},
        {"b-writer-pass2",
         "pass_state: Pass-2 Done\n" + stats,
         Post::PassState::pass2Done,
         Post::Origin::writer,
         Post::ContentType::post,
         {},
         true},
        {"c-ai",
         "origin: ai\n" + stats,
         Post::PassState::firstDraft,
         Post::Origin::ai,
         Post::ContentType::post,
         {},
         false},
        {"d-outline",
         "type: outline\n" + stats,
         Post::PassState::firstDraft,
         Post::Origin::writer,
         Post::ContentType::outline,
         {},
         false},
        {"e-https", "micropub_url: https://example.org/p/1\n", Post::PassState::firstDraft, Post::Origin::writer,
         Post::ContentType::post, QString("https://example.org/p/1"), false},
        {"f-http",
         "micropub_url: http://example.org/p/1\n",
         Post::PassState::firstDraft,
         Post::Origin::writer,
         Post::ContentType::post,
         {},
         false},
        {"g-no-host",
         "micropub_url: https:///p\n",
         Post::PassState::firstDraft,
         Post::Origin::writer,
         Post::ContentType::post,
         {},
         false},
    };
    for (const Case &c : cases)
        piece(QString("projects/P/") + c.id, "---\n" + c.frontmatter + "---\n# " + c.id + "\n");

    const QList<Post> posts = scan();
    ASSERT_EQ(posts.size(), qsizetype(std::size(cases)));
    for (qsizetype i = 0; i < posts.size(); ++i) {
        const Case &c = cases[i];
        const Post &post = posts[i];
        EXPECT_EQ(post.id, c.id);
        EXPECT_EQ(post.title, c.id);
        EXPECT_EQ(post.project, "P") << c.id;
        EXPECT_EQ(post.passState, c.passState) << c.id;
        EXPECT_EQ(post.origin, c.origin) << c.id;
        EXPECT_EQ(post.type, c.type) << c.id;
        EXPECT_EQ(post.micropubURL, c.url) << c.id;
        EXPECT_EQ(post.firstDraftStats.has_value(), c.hasStats) << c.id;
    }
    ASSERT_TRUE(posts[1].firstDraftStats);
    EXPECT_EQ(posts[1].firstDraftStats->stats.burstiness, 0.5);
}

TEST_F(PostScanHome, RescanTakesUnchangedFilesFromTheCache)
{
    for (int i = 0; i < 5; ++i)
        titled(QStringLiteral("projects/P/piece-%1").arg(i), QStringLiteral("Piece %1").arg(i));
    PostScanCache cache;
    const QList<Post> first = scan(&cache);
    EXPECT_EQ(cache.hitCount(), 0);
    EXPECT_EQ(cache.missCount(), 5);

    EXPECT_EQ(scan(&cache), first);
    EXPECT_EQ(cache.hitCount(), 5);
    EXPECT_EQ(cache.missCount(), 5);

    titled("projects/P/piece-3", "Piece three, longer");
    const QList<Post> changed = scan(&cache);
    EXPECT_EQ(cache.hitCount(), 9);
    EXPECT_EQ(cache.missCount(), 6);
    EXPECT_EQ(titles(changed), QStringList({"Piece 0", "Piece 1", "Piece 2", "Piece 4", "Piece three, longer"}));
    // A scan without the cache agrees and leaves it alone.
    EXPECT_EQ(scan(), changed);
    EXPECT_EQ(cache.missCount(), 6);
}

TEST_F(PostScanHome, CachedRescanSortsByTheLocaleAsked)
{
    titled("projects/P/a", "\u00c4pple");
    titled("projects/P/z", "Zebra");
    PostScanCache cache;
    const QLocale swedish(QStringLiteral("sv_SE"));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(titles(scanLibrary(home, &cache, kEnglish)), QStringList({"\u00c4pple", "Zebra"})) << round;
        EXPECT_EQ(titles(scanLibrary(home, &cache, swedish)), QStringList({"Zebra", "\u00c4pple"})) << round;
    }
    EXPECT_EQ(cache.missCount(), 2);
}

TEST_F(PostScanHome, SameSizeRewriteWithTheSameModificationTimeIsSeen)
{
    const QString file = path("projects/P/piece/post.md");
    piece("projects/P/piece", "---\npass_state: Pass-1 Done\n---\n# Piece\n");
    PostScanCache cache;
    ASSERT_EQ(scan(&cache).value(0).passState, Post::PassState::pass1Done);

    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &before), 0);
    foundation::fs::atomicWrite(file, "---\npass_state: Pass-2 Done\n---\n# Piece\n");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &after), 0);
    ASSERT_EQ(after.st_size, before.st_size);
    ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    ASSERT_NE(after.st_ino, before.st_ino);

    EXPECT_EQ(scan(&cache).value(0).passState, Post::PassState::pass2Done);
    EXPECT_EQ(cache.hitCount(), 0);
    EXPECT_EQ(cache.missCount(), 2);
}

TEST_F(PostScanHome, AScanRemovesOldLeftoversOfInterruptedSaves)
{
    titled("projects/P/piece", "Piece");
    const QString old = path("projects/P/piece/.post.md.tmp-0123456789abcdef");
    const QString fresh = path("projects/P/piece/.post.md.tmp-fedcba9876543210");
    writeFile(old, "# Piece\n\nHalf a sa");
    writeFile(fresh, "# Piece\n\nA save und");
    const struct timespec times[2] = {{::time(nullptr) - 2 * 60 * 60, 0}, {::time(nullptr) - 2 * 60 * 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(old).constData(), times, 0), 0);

    PostScanCache cache;
    EXPECT_EQ(titles(scan(&cache)), QStringList{"Piece"});
    EXPECT_FALSE(QFileInfo::exists(old));
    EXPECT_TRUE(QFileInfo::exists(fresh));
}

TEST(PostScanCache, LookupNeedsAStampEqualInEveryPart)
{
    using Stamp = PostScanCache::Stamp;
    const Stamp stored{1, 2, 3, 4};
    Post post;
    post.id = "piece";
    PostScanCache cache;
    cache.store(post, "/h/post.md", stored);
    cache.store(post, "/h/other.md", std::nullopt); // counted, not kept

    struct Case {
        const char *name;
        QString path;
        std::optional<Stamp> stamp;
        bool hit;
    };
    const Case cases[] = {
        {"same", "/h/post.md", stored, true},
        {"no stamp", "/h/post.md", std::nullopt, false},
        {"other device", "/h/post.md", Stamp{9, 2, 3, 4}, false},
        {"other inode", "/h/post.md", Stamp{1, 9, 3, 4}, false},
        {"other time", "/h/post.md", Stamp{1, 2, 9, 4}, false},
        {"other size", "/h/post.md", Stamp{1, 2, 3, 9}, false},
        {"stored without stamp", "/h/other.md", stored, false},
        {"never stored", "/h/none.md", stored, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(cache.lookup(c.path, c.stamp).has_value(), c.hit) << c.name;
    EXPECT_EQ(cache.hitCount(), 1);
    EXPECT_EQ(cache.missCount(), 2);
}

TEST(PostScanCache, AKeyMadeForAnOldTitleIsNotKept)
{
    // A scan keys a title while another scan stores the piece's new title:
    // the late key must not sort the new title as the old one.
    const foundation::text::DisplayCollator collator(kEnglish);
    const QString collation = collator.collationName();
    const QString path = "/h/projects/P/piece/post.md";
    const auto read = [&](const QString &title, qint64 size) {
        Post post;
        post.id = "piece";
        post.title = title;
        return PostScanCache::Read{path, post, PostScanCache::Stamp{1, 2, 3, size}};
    };
    const auto keyOf = [&](const QString &title) {
        return PostScanCache::TitleKey{path, title, collator.sortKey(title)};
    };
    PostScanCache cache;
    const auto storedKey = [&] { return cache.snapshot(collation).entries.value(path).titleKey; };

    cache.record(0, {read("Zebra", 10)}, collation, {});
    cache.record(0, {read("Apple", 11)}, collation, {});
    cache.record(1, {}, collation, {keyOf("Zebra")});
    EXPECT_FALSE(storedKey().has_value());
    EXPECT_TRUE(cache.snapshot(collation).keysFit);

    // The key of the title it has now is kept, and a path never stored gets no entry.
    cache.record(0, {}, collation, {keyOf("Apple"), {"/h/none/post.md", "None", collator.sortKey("None")}});
    ASSERT_TRUE(storedKey().has_value());
    EXPECT_EQ(storedKey()->compare(collator.sortKey("Apple")), 0);
    EXPECT_FALSE(cache.snapshot(collation).entries.contains("/h/none/post.md"));
}

TEST_F(PostScanHome, ScansShareOneCacheAcrossThreads)
{
    // Enough pieces that a scan reads them on several threads too; the first
    // 50 ids exist in two projects, and the first project in walking order
    // must win however the reads interleave.
    constexpr int kFolders = 300;
    constexpr int kIDs = 250;
    for (int i = 0; i < kFolders; ++i)
        titled(QStringLiteral("projects/P%1/piece-%2").arg(i % 4).arg(i % kIDs), QStringLiteral("Piece %1").arg(i));
    const QList<Post> expected = scan();
    ASSERT_EQ(expected.size(), kIDs);
    for (const Post &post : expected) {
        const int j = post.id.mid(6).toInt();
        const QString first = QStringLiteral("P%1").arg(j < kFolders - kIDs ? qMin(j % 4, (j + kIDs) % 4) : j % 4);
        EXPECT_EQ(post.project, first) << post.id.toStdString();
    }

    PostScanCache cache;
    std::vector<QList<Post>> results(4);
    std::vector<std::thread> threads;
    for (auto &result : results)
        threads.emplace_back([&] { result = scan(&cache); });
    for (auto &thread : threads)
        thread.join();
    for (const auto &result : results)
        EXPECT_EQ(result, expected);
    // The second folder of an id is read but neither kept nor counted.
    EXPECT_EQ(cache.hitCount() + cache.missCount(), 4 * kIDs);
    // A rescan with every file known takes them all from the cache.
    const qint64 misses = cache.missCount();
    EXPECT_EQ(scan(&cache), expected);
    EXPECT_EQ(cache.missCount(), misses);
}
