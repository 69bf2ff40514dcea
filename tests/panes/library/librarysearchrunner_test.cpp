#include "panes/library/librarysearchrunner.h"

#include "foundation/fs.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "panes/library/librarygroups.h"
#include "pieces.h"
#include "synthetichome.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

using library::Post;
using model::PostsModel;
using panes::LibrarySearchRunner;
using testsupport::piece;
using testsupport::spinUntil;
using testsupport::titles;
using ListState = LibrarySearchRunner::ListState;
namespace PostStore = library::PostStore;

// The library model over a library the test sets, and a body reader that
// records its calls (made on the worker thread).
class SearchRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home);
        model.scanLibrary = [this](const QString &, const std::shared_ptr<library::PostScanCache> &) {
            const std::lock_guard lock(mutex);
            return library;
        };
        setLibrary({piece(u"Drafting notes"_s), piece(u"Garden"_s), piece(u"Harbour"_s),
                    piece(u"Draft archive"_s, u"Essays"_s, true)});
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
        runner.bodyReader = [this](const Post &post, const QString &) -> std::optional<QString> {
            const std::lock_guard lock(mutex);
            calls.append(post.title);
            readerOnMain = readerOnMain || QThread::currentThread() == mainThread;
            return bodies.value(post.title);
        };
    }
    void setLibrary(const QList<Post> &posts)
    {
        const std::lock_guard lock(mutex);
        library = posts;
    }
    QStringList takeCalls()
    {
        const std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }
    bool settled() const
    {
        return runner.listState() == ListState::results || runner.listState() == ListState::noMatch;
    }

    QTemporaryDir dir;
    QString home = dir.path() + u"/Home"_s;
    std::mutex mutex;
    QList<Post> library;
    QHash<QString, QString> bodies{{u"Garden"_s, u"a draft of the beds"_s}, {u"Harbour"_s, u"boats"_s}};
    QStringList calls;
    QThread *const mainThread = QThread::currentThread();
    bool readerOnMain = false;
    PostsModel model;
    LibrarySearchRunner runner{&model, home};
};

TEST_F(SearchRunnerTest, TypingWithinTheDebounceRunsOneSearchForTheLastText)
{
    QSignalSpy started(&runner, &LibrarySearchRunner::searchStarted);
    QElapsedTimer clock;
    clock.start();
    runner.setQuery(u"dra"_s);
    EXPECT_EQ(runner.listState(), ListState::waiting);
    QTest::qWait(100);
    runner.setQuery(u"draft"_s);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_GE(clock.elapsed(), 250 + 100 - 5);
    EXPECT_EQ(started.size(), 1);
    EXPECT_EQ(runner.snapshot()->key.query, u"draft"_s);
    EXPECT_EQ(runner.snapshot()->key.homePath, home);
    EXPECT_EQ(runner.snapshot()->key.revision, model.contentRevision());
    // Title hit first, then the body hit; archived pieces are never looked at.
    EXPECT_EQ(titles(runner.snapshot()->results), (QStringList{u"Drafting notes"_s, u"Garden"_s}));
    EXPECT_EQ(takeCalls(), (QStringList{u"Garden"_s, u"Harbour"_s}));
    EXPECT_FALSE(readerOnMain);
    EXPECT_EQ(runner.listState(), ListState::results);
}

TEST_F(SearchRunnerTest, TheMemoHoldsWhileTheKeyHolds)
{
    runner.setDebounce(std::chrono::milliseconds(10));
    runner.setQuery(u"boat"_s);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(titles(runner.snapshot()->results), QStringList{u"Harbour"_s});
    takeCalls();

    // White space at the ends changes nothing: no search, the results stay.
    QSignalSpy started(&runner, &LibrarySearchRunner::searchStarted);
    QSignalSpy keyChanged(&runner, &LibrarySearchRunner::currentKeyChanged);
    runner.setQuery(u"  boat \n"_s);
    QTest::qWait(50);
    EXPECT_EQ(started.size(), 0);
    EXPECT_EQ(keyChanged.size(), 0);
    EXPECT_EQ(runner.listState(), ListState::results);

    // A rescan that changes the library changes the key: waiting, then the
    // same text searched again under the new revision.
    const qint64 before = model.contentRevision();
    bodies.insert(u"Garden"_s, u"two boats"_s);
    setLibrary({piece(u"Garden"_s), piece(u"Harbour"_s), piece(u"New"_s)});
    QCoro::waitFor(model.rescan());
    ASSERT_GT(model.contentRevision(), before);
    EXPECT_EQ(runner.listState(), ListState::waiting);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(runner.snapshot()->key.revision, model.contentRevision());
    EXPECT_EQ(titles(runner.snapshot()->results), (QStringList{u"Garden"_s, u"Harbour"_s}));

    // Nothing found: the no-match state and its texts.
    runner.setQuery(u"zebra"_s);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    EXPECT_EQ(runner.listState(), ListState::noMatch);
    EXPECT_EQ(LibrarySearchRunner::noMatchText(runner.currentKey().query),
              u"No piece's title or body contains \u201czebra\u201d."_s);

    // An empty field clears the memo at once, without waiting.
    runner.setQuery(u" "_s);
    EXPECT_EQ(runner.snapshot(), std::nullopt);
    EXPECT_EQ(runner.listState(), ListState::notSearching);
    EXPECT_FALSE(runner.isSearching());
}

TEST_F(SearchRunnerTest, AnOvertakenSearchStopsReadingAndNeverWritesTheMemo)
{
    runner.setDebounce(std::chrono::milliseconds(1));
    QSemaphore entered;
    QSemaphore release;
    int gardenReads = 0;
    runner.bodyReader = [&](const Post &post, const QString &) -> std::optional<QString> {
        if (post.title == u"Garden"_s && gardenReads++ == 0) {
            entered.release();
            release.acquire(); // the first search stalls on its first read
        }
        const std::lock_guard lock(mutex);
        calls.append(post.title);
        return bodies.value(post.title);
    };
    QSignalSpy changed(&runner, &LibrarySearchRunner::snapshotChanged);
    runner.setQuery(u"beds"_s);
    ASSERT_TRUE(spinUntil([&] { return entered.tryAcquire(); }));
    runner.setQuery(u"boats"_s); // overtakes the stalled search
    release.release();
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
    // The first search read up to Garden and never reached Harbour; its
    // "Garden" result never showed.
    EXPECT_EQ(gardenReads, 2); // once by each search
    EXPECT_EQ(takeCalls(),
              (QStringList{u"Drafting notes"_s, u"Garden"_s, u"Drafting notes"_s, u"Garden"_s, u"Harbour"_s}));
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(runner.snapshot()->key.query, u"boats"_s);
    EXPECT_EQ(titles(runner.snapshot()->results), QStringList{u"Harbour"_s});
}

TEST_F(SearchRunnerTest, DestroyedWhileSearchingLeavesNothingBehind)
{
    runner.setDebounce(std::chrono::milliseconds(1));
    QSemaphore entered;
    QSemaphore release;
    auto doomed = std::make_unique<LibrarySearchRunner>(&model, home);
    doomed->setDebounce(std::chrono::milliseconds(1));
    doomed->bodyReader = [&](const Post &, const QString &) -> std::optional<QString> {
        entered.release();
        release.acquire();
        return u"x"_s;
    };
    doomed->setQuery(u"x"_s);
    ASSERT_TRUE(spinUntil([&] { return entered.tryAcquire(); }));
    doomed.reset();
    release.release(3);
    // The next search runs on the same worker after the cancelled one ends.
    runner.setQuery(u"boats"_s);
    ASSERT_TRUE(spinUntil([&] { return settled(); }));
}

TEST(LibrarySearchRunnerTexts, MatchCaption)
{
    EXPECT_EQ(LibrarySearchRunner::matchCaption(1), u"1 match"_s);
    EXPECT_EQ(LibrarySearchRunner::matchCaption(3), u"3 matches"_s);
    EXPECT_EQ(LibrarySearchRunner::matchCaption(0), u"0 matches"_s);
}

// Whether a folded body holds text, by the filter's own rule.
bool holds(const std::shared_ptr<const panes::LibraryBodyCache::Body> &body, const QString &text)
{
    return body && panes::LibrarySearch::Query(text).contains(*body);
}

// Bodies come from post.md after its front matter, kept by the file's stamp:
// a changed file is read again.
TEST(LibraryBodyCache, ReadsTheBodyAgainOnlyWhenTheFileChanged)
{
    QTemporaryDir dir;
    const QString home = dir.path() + u"/Home"_s;
    QDir().mkpath(home);
    const Post post = PostStore::createPiece(u"# Walk\n\nWe walked far.\n"_s, u"Essays"_s, Post::ContentType::post,
                                             Post::Origin::writer, home);
    panes::LibraryBodyCache cache;
    const auto first = cache.body(post, home);
    ASSERT_TRUE(first);
    EXPECT_TRUE(holds(first, u"We walked far."_s));
    EXPECT_FALSE(holds(first, u"pass_state"_s)); // the front matter is not searched
    EXPECT_EQ(cache.body(post, home), first);
    EXPECT_EQ(cache.readCount(), 1);

    library::PostStore::writeText(post.id, u"# Walk\n\nWe ran.\n"_s, home);
    const auto second = cache.body(post, home);
    ASSERT_TRUE(second);
    EXPECT_TRUE(holds(second, u"We ran."_s));
    EXPECT_EQ(cache.readCount(), 2);

    // A piece moved to another project is found where it now is, and kept
    // there until the scan catches up.
    PostStore::movePiece(post, u"Notes"_s, home);
    const auto moved = cache.body(post, home);
    EXPECT_TRUE(holds(moved, u"We ran."_s));
    EXPECT_EQ(cache.readCount(), 3);
    EXPECT_EQ(cache.body(post, home), moved);
    EXPECT_EQ(cache.readCount(), 3);

    Post missing = post;
    missing.id = u"nowhere"_s;
    EXPECT_EQ(cache.body(missing, home), nullptr);
}

// The bodies kept stay under the limit: room is made by dropping pieces no
// search asked for since the one before last, never by forgetting the rest.
TEST(LibraryBodyCache, KeepsWithinItsLimitByDroppingWhatNoRecentSearchRead)
{
    QTemporaryDir dir;
    const QString home = dir.path() + u"/Home"_s;
    QDir().mkpath(home);
    QList<Post> posts;
    for (const QString &name : {u"A"_s, u"B"_s, u"C"_s, u"D"_s})
        posts.append(PostStore::createPiece(u"# %1\n\n%2\n"_s.arg(name, QString(97, u'x')), u"Essays"_s,
                                            Post::ContentType::post, Post::Origin::writer, home));
    const qsizetype each = panes::LibraryBodyCache::Body(u"\n"_s + QString(97, u'x') + u"\n"_s).size();
    panes::LibraryBodyCache cache(3 * each + each / 2);
    const auto readAll = [&](const QList<Post> &which) {
        for (const Post &post : which)
            EXPECT_TRUE(holds(cache.body(post, home), u"xxx"_s)) << post.id.toStdString();
    };

    cache.beginSearch();
    readAll(posts); // D does not fit: answered, not kept
    EXPECT_EQ(cache.readCount(), 4);
    EXPECT_EQ(cache.cachedBodies(), 3);
    readAll(posts.mid(0, 3)); // A, B and C from memory
    EXPECT_EQ(cache.readCount(), 4);
    EXPECT_LE(cache.cachedChars(), 3 * each + each / 2);

    cache.beginSearch();
    readAll({posts[0]});
    cache.beginSearch();
    readAll({posts[3]}); // B and C, unread for two searches, make room for D
    EXPECT_EQ(cache.readCount(), 5);
    EXPECT_EQ(cache.cachedBodies(), 2);
    readAll({posts[0], posts[3]});
    EXPECT_EQ(cache.readCount(), 5);
    readAll({posts[1]});
    EXPECT_EQ(cache.readCount(), 6);
    EXPECT_LE(cache.cachedChars(), 3 * each + each / 2);
}

// The runner as the column uses it: bodies from its cache, over a Home on
// disk that the library model has scanned.
class CachedSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home);
        runner.setDebounce(std::chrono::milliseconds(1));
    }
    void scan()
    {
        model.startWatching(home);
        model.stopWatching();
        QCoro::waitFor(model.rescan());
    }
    QStringList search(const QString &query)
    {
        runner.setQuery(query);
        const bool done = spinUntil(
            [&] { return runner.listState() == ListState::results || runner.listState() == ListState::noMatch; });
        EXPECT_TRUE(done) << query.toStdString();
        return done ? titles(runner.snapshot()->results) : QStringList{u"(no result)"_s};
    }

    QTemporaryDir dir;
    QString home = dir.path() + u"/Home"_s;
    PostsModel model;
    LibrarySearchRunner runner{&model, home};
};

// A sync tool or editor that saves by rename, with the same size and the
// modification time kept, is seen by the next search.
TEST_F(CachedSearchTest, ASameSizeReplacementByRenameWithItsTimeKeptIsSeen)
{
    const Post post = PostStore::createPiece(u"# Walk\n\nWe walked far.\n"_s, u"Essays"_s, Post::ContentType::post,
                                             Post::Origin::writer, home);
    scan();
    EXPECT_EQ(search(u"walked"_s), QStringList{u"Walk"_s});

    const QString path = *PostStore::folderPath(post.id, home) + u"/post.md"_s;
    const auto before = foundation::fs::regularFileStamp(path);
    ASSERT_TRUE(before);
    QByteArray bytes = testsupport::readFile(path);
    bytes.replace("walked", "talked");
    const QString replacement = path + u".sync"_s;
    testsupport::writeFile(replacement, bytes);
    const timespec times[2] = {{before->modifiedNs / 1000000000, before->modifiedNs % 1000000000},
                               {before->modifiedNs / 1000000000, before->modifiedNs % 1000000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(replacement).constData(), times, 0), 0);
    ASSERT_EQ(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(path).constData()), 0);
    const auto after = foundation::fs::regularFileStamp(path);
    ASSERT_TRUE(after);
    ASSERT_EQ(after->size, before->size);
    ASSERT_EQ(after->modifiedNs, before->modifiedNs);

    EXPECT_EQ(search(u"talked"_s), QStringList{u"Walk"_s});
    EXPECT_EQ(search(u"walked"_s), QStringList{});
}

// Read on several threads, answered in the filter's order: the same pieces
// as the filter run alone with PostStore's reads, for every query.
TEST_F(CachedSearchTest, AnswersWhatTheFilterAnswersWithPostStoreReads)
{
    testsupport::SyntheticHomeOptions options;
    options.projects = 5;
    options.piecesPerProject = 40;
    options.minWords = 20;
    options.maxWords = 200;
    testsupport::generateSyntheticHome(home, options);
    // Titles that match, a body without front matter, one that is not UTF-8
    // (no body), and a piece moved after the scan (read where it now is).
    PostStore::createPiece(u"# River notes\n\nNothing here.\n"_s, u"Essays"_s, Post::ContentType::post,
                           Post::Origin::writer, home);
    const Post bare =
        PostStore::createPiece(u"# Bare\n\nx\n"_s, u"Essays"_s, Post::ContentType::post, Post::Origin::writer, home);
    testsupport::writeFile(*PostStore::folderPath(bare.id, home) + u"/post.md"_s,
                           "# Bare\n\nA winter river, no front matter.\n");
    const Post broken = PostStore::createPiece(u"# Broken\n\nriver\n"_s, u"Essays"_s, Post::ContentType::post,
                                               Post::Origin::writer, home);
    const Post moving = PostStore::createPiece(u"# Moving\n\nA WINTER RIVER.\n"_s, u"Essays"_s, Post::ContentType::post,
                                               Post::Origin::writer, home);
    scan();
    testsupport::writeFile(*PostStore::folderPath(broken.id, home) + u"/post.md"_s, "# Broken\n\nriver \xff\n");
    PostStore::movePiece(moving, u"Notes"_s, home);

    const QList<Post> live = panes::LibraryGroups::livePieces(model.posts());
    ASSERT_GT(live.size(), 150);
    const auto fromDisk = [this](const Post &post) { return PostStore::readText(post.id, home); };
    for (const QString &query : {u"river"_s, u"CAFÉ"_s, u"winter river"_s, u"piece 3"_s, u"cafe\u0301"_s,
                                 u"front matter"_s, u"pass_state"_s, u"zebra"_s, u" Déjà "_s}) {
        const QStringList expected = titles(panes::LibrarySearch::results(query, live, fromDisk));
        EXPECT_EQ(search(query), expected) << query.toStdString();
        // Again with the bodies in memory.
        search(u"-"_s);
        EXPECT_EQ(search(query), expected) << query.toStdString();
    }
    EXPECT_TRUE(search(u"winter river"_s).contains(u"Moving"_s));
    EXPECT_FALSE(search(u"river"_s).contains(u"Broken"_s));
}

// A search overtaken as it starts never shows: only the last key's result
// is kept.
TEST_F(CachedSearchTest, AnOvertakenSearchNeverWritesTheMemo)
{
    testsupport::SyntheticHomeOptions options;
    options.projects = 3;
    options.piecesPerProject = 50;
    testsupport::generateSyntheticHome(home, options);
    scan();
    QSignalSpy changed(&runner, &LibrarySearchRunner::snapshotChanged);
    bool overtaken = false;
    QObject::connect(&runner, &LibrarySearchRunner::searchStarted, &runner, [&] {
        if (!std::exchange(overtaken, true))
            runner.setQuery(u"quokka"_s);
    });
    const QStringList found = search(u"river"_s);
    EXPECT_TRUE(overtaken);
    EXPECT_EQ(runner.snapshot()->key.query, u"quokka"_s);
    EXPECT_TRUE(found.isEmpty());
    EXPECT_EQ(changed.size(), 1);
}

} // namespace
