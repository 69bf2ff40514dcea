#include "panes/library/librarysearchrunner.h"

#include "library/piececontents.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "pieces.h"
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

#include <mutex>

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
              u"No piece\u2019s title or body contains \u201czebra\u201d."_s);

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

// Bodies come from post.md after its front matter, kept by the file's
// modification time and size: a changed file is read again.
TEST(LibraryBodyCache, ReadsTheBodyAgainOnlyWhenTheFileChanged)
{
    QTemporaryDir dir;
    const QString home = dir.path() + u"/Home"_s;
    QDir().mkpath(home);
    const Post post = PostStore::createPiece(u"# Walk\n\nWe walked far.\n"_s, u"Essays"_s, Post::ContentType::post,
                                             Post::Origin::writer, home);
    panes::LibraryBodyCache cache;
    const std::optional<QString> first = cache.body(post, home);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->contains(u"We walked far."_s));
    EXPECT_FALSE(first->contains(u"pass_state"_s)); // the front matter is not searched
    EXPECT_EQ(cache.body(post, home), first);
    EXPECT_EQ(cache.readCount(), 1);

    library::PostStore::writeText(post.id, u"# Walk\n\nWe ran.\n"_s, home);
    const std::optional<QString> second = cache.body(post, home);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->contains(u"We ran."_s));
    EXPECT_EQ(cache.readCount(), 2);

    // A piece moved to another project is found where it now is.
    PostStore::movePiece(post, u"Notes"_s, home);
    EXPECT_EQ(cache.body(post, home), second);
    EXPECT_EQ(cache.readCount(), 3);

    Post missing = post;
    missing.id = u"nowhere"_s;
    EXPECT_EQ(cache.body(missing, home), std::nullopt);
}

} // namespace
