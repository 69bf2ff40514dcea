#include "model/postswatcher.h"

#include "testutil.h"
#include "walkgate.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using model::PostsWatcher;
using testsupport::spinUntil;
using testsupport::WalkGate;
using testsupport::writeFile;

// Lets every batch that could still be open run.
void settle()
{
    spinUntil([] { return false; }, int(3 * PostsWatcher::latency.count()));
}

class PostsWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        watcher.onEvent = [this] { ++calls; };
    }
    QString path(const QString &relative) const { return dir.path() + "/" + relative; }

    QTemporaryDir dir;
    PostsWatcher watcher;
    int calls = 0;
};

TEST_F(PostsWatcherTest, ABurstOfChangesGivesOneCallback)
{
    QDir().mkpath(path("root/piece/cards"));
    watcher.start({path("root")});
    ASSERT_TRUE(watcher.isRunning());
    for (int i = 0; i < 20; ++i)
        writeFile(path("root/piece/cards/card-%1.json").arg(i), "{}");
    writeFile(path("root/piece/post.md"), "# Piece\n");
    ASSERT_TRUE(spinUntil([&] { return calls > 0; }));
    settle();
    EXPECT_EQ(calls, 1);

    // The next change opens a batch of its own.
    writeFile(path("root/piece/post.md"), "# Piece, again\n");
    ASSERT_TRUE(spinUntil([&] { return calls == 2; }));
}

TEST_F(PostsWatcherTest, EveryFolderBelowTheRootsIsWatchedAndNothingElse)
{
    // Files and folders mixed at every level, hidden ones, leaves and
    // folders with folders in them, a link to a folder.
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < 4; ++i) {
            const QString piece = path("root/project-%1/piece-%2").arg(p).arg(i);
            writeFile(piece + "/post.md", "x");
            if (i % 2 == 0)
                QDir().mkpath(piece + "/cards");
            if (i % 3 == 0)
                QDir().mkpath(piece + "/.hidden/deeper");
            writeFile(piece + "/cards-not-a-folder", "x");
        }
    }
    ASSERT_TRUE(QFile::link(path("root/project-0"), path("root/project-link")));
    int folders = 1;
    QDirIterator it(path("root"), QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++folders;
    }
    const int baseline = testsupport::inotifyWatches();
    watcher.start({path("root")});
    EXPECT_EQ(watcher.watchCount(), folders);
    EXPECT_EQ(testsupport::inotifyWatches(), baseline + folders);
}

TEST_F(PostsWatcherTest, FoldersMadeAfterTheStartAreWatchedAsTheyAppear)
{
    QDir().mkpath(path("root/projects"));
    watcher.start({path("root/projects")});
    EXPECT_EQ(watcher.watchCount(), 1);

    // A project, a piece and its cards/ made one after the other before the
    // watcher reads a single event: the walk of the new project finds them.
    QDir().mkpath(path("root/projects/Essays/walk/cards"));
    writeFile(path("root/projects/Essays/walk/cards/a.json"), "{}");
    ASSERT_TRUE(spinUntil([&] { return calls == 1; }));
    EXPECT_EQ(watcher.watchCount(), 4);

    // And step by step, each folder seen before the next is made.
    QDir().mkpath(path("root/projects/Notes"));
    ASSERT_TRUE(spinUntil([&] { return watcher.watchCount() == 5; }));
    QDir().mkpath(path("root/projects/Notes/swim"));
    ASSERT_TRUE(spinUntil([&] { return watcher.watchCount() == 6; }));
    QDir().mkpath(path("root/projects/Notes/swim/cards"));
    ASSERT_TRUE(spinUntil([&] { return watcher.watchCount() == 7; }));
    settle();
    const int before = calls;
    writeFile(path("root/projects/Notes/swim/cards/b.json"), "{}");
    ASSERT_TRUE(spinUntil([&] { return calls == before + 1; }));
    EXPECT_EQ(testsupport::inotifyWatches(), watcher.watchCount());
}

TEST_F(PostsWatcherTest, FoldersMadeOrMovedWhileTheBackgroundWalkRunsAreWatched)
{
    QDir().mkpath(path("home/projects/Essays/walk"));
    QDir().mkpath(path("home/archive/Old/swim"));
    WalkGate gate(watcher, path("home/archive"));
    watcher.startInBackground({path("home/projects"), path("home/archive")});
    EXPECT_TRUE(watcher.isRunning());
    EXPECT_TRUE(watcher.isSettingUp());
    EXPECT_TRUE(watcher.watchesEveryRoot());
    // projects/ is walked, but what the walk found is not handed back yet.
    ASSERT_TRUE(gate.waitUntilReached());

    // Made in folders the walk has watched, and a folder of them renamed...
    QDir().mkpath(path("home/projects/Essays/walk/cards"));
    QDir().mkpath(path("home/projects/Notes/swim"));
    ASSERT_TRUE(QDir().rename(path("home/projects/Essays"), path("home/projects/Prose")));
    // ...and made where the walk has not been yet.
    QDir().mkpath(path("home/archive/Old/swim/cards"));
    spinUntil([] { return false; }, 200); // their events are read meanwhile
    gate.release();
    ASSERT_TRUE(spinUntil([&] { return !watcher.isSettingUp(); }));

    // projects/, Prose, Prose/walk, its cards/, Notes, Notes/swim; archive/,
    // Old, Old/swim, its cards/.
    EXPECT_EQ(watcher.watchCount(), 10);
    EXPECT_EQ(testsupport::inotifyWatches(), watcher.watchCount());
    // The renamed folder is known by its new name: what is made in it is followed.
    QDir().mkpath(path("home/projects/Prose/walk/cards/deeper"));
    ASSERT_TRUE(spinUntil([&] { return watcher.watchCount() == 11; }));
    settle();
    const int before = calls;
    writeFile(path("home/projects/Prose/walk/cards/deeper/a.json"), "{}");
    ASSERT_TRUE(spinUntil([&] { return calls == before + 1; }));
}

TEST_F(PostsWatcherTest, TheEndOfABackgroundWalkOpensABatch)
{
    // A file changed in a folder before the walk reached it told no one.
    QDir().mkpath(path("root/piece"));
    WalkGate gate(watcher, path("root"));
    watcher.startInBackground({path("root")});
    ASSERT_TRUE(gate.waitUntilReached());
    writeFile(path("root/piece/post.md"), "x");
    gate.release();
    ASSERT_TRUE(spinUntil([&] { return calls == 1; }));
    settle();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(watcher.watchCount(), 2);
}

TEST_F(PostsWatcherTest, WatchesFollowFoldersThatGoAndMove)
{
    QDir().mkpath(path("root/a/x"));
    QDir().mkpath(path("root/b"));
    QDir().mkpath(path("outside/y"));
    // A link to a folder is not followed.
    ASSERT_TRUE(QFile::link(path("outside"), path("root/link")));
    watcher.start({path("root")});
    EXPECT_EQ(watcher.watchCount(), 4); // root, a, a/x, b

    // Moved out: its watches go, and its later changes are not ours.
    ASSERT_TRUE(QDir().rename(path("root/a"), path("outside/a")));
    ASSERT_TRUE(spinUntil([&] { return watcher.watchCount() == 2; }));
    // Moved in: watched under its new place, with what is inside it.
    ASSERT_TRUE(QDir().rename(path("outside/y"), path("root/b/y")));
    ASSERT_TRUE(spinUntil([&] { return watcher.watchCount() == 3; }));
    // Removed: the kernel drops the watch and so do we.
    ASSERT_TRUE(QDir(path("root/b")).removeRecursively());
    ASSERT_TRUE(spinUntil([&] { return watcher.watchCount() == 1; }));
    settle();
    EXPECT_EQ(testsupport::inotifyWatches(), 1);

    const int before = calls;
    writeFile(path("outside/a/x/moved-away.md"), "x");
    writeFile(path("outside/linked.md"), "x");
    settle();
    EXPECT_EQ(calls, before);
}

TEST_F(PostsWatcherTest, ARootMovedAwayCountsAsLost)
{
    // A sync tool or the writer renames projects/ and puts another in its
    // place: the watch must not stay on the folder that left.
    QDir().mkpath(path("home/projects/Essays/walk"));
    QDir().mkpath(path("home/archive"));
    watcher.start({path("home/projects"), path("home/archive")});
    ASSERT_TRUE(watcher.watchesEveryRoot());
    EXPECT_EQ(watcher.watchCount(), 4);

    ASSERT_TRUE(QDir().rename(path("home/projects"), path("home/projects-old")));
    ASSERT_TRUE(spinUntil([&] { return calls == 1; }));
    EXPECT_FALSE(watcher.watchesEveryRoot());
    EXPECT_EQ(watcher.watchCount(), 1); // archive/ alone
    settle();
    EXPECT_EQ(testsupport::inotifyWatches(), 1);

    // What happens in the folder that left is no longer ours.
    const int before = calls;
    writeFile(path("home/projects-old/Essays/walk/post.md"), "x");
    settle();
    EXPECT_EQ(calls, before);
}

TEST_F(PostsWatcherTest, ARootWhoseParentMovedAwayCountsAsLost)
{
    // The Home renamed aside and made anew: the roots' watches went along
    // with the folders that left, and the paths name other folders now.
    QDir().mkpath(path("home/projects"));
    watcher.start({path("home/projects")});
    ASSERT_TRUE(watcher.watchesEveryRoot());
    ASSERT_TRUE(QDir().rename(path("home"), path("away")));
    EXPECT_FALSE(watcher.watchesEveryRoot());
    QDir().mkpath(path("home/projects"));
    EXPECT_FALSE(watcher.watchesEveryRoot());
    EXPECT_EQ(watcher.watchCount(), 1);
}

TEST_F(PostsWatcherTest, StopAndRestartLeaveNoWatchesBehind)
{
    const int baseline = testsupport::inotifyWatches();
    for (const char *folder : {"one/a", "one/b", "two/c"})
        QDir().mkpath(path(folder));
    watcher.start({path("one"), path("two")});
    EXPECT_EQ(watcher.watchCount(), 5);
    EXPECT_EQ(testsupport::inotifyWatches(), baseline + 5);

    watcher.start({path("two")});
    EXPECT_EQ(watcher.watchCount(), 2);
    EXPECT_EQ(testsupport::inotifyWatches(), baseline + 2);

    // A batch opened before the stop never calls back.
    writeFile(path("two/c/late.md"), "x");
    QCoreApplication::processEvents();
    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
    EXPECT_EQ(watcher.watchCount(), 0);
    EXPECT_EQ(testsupport::inotifyWatches(), baseline);
    writeFile(path("two/c/later.md"), "x");
    settle();
    EXPECT_EQ(calls, 0);
}

TEST_F(PostsWatcherTest, FoldersThatCannotBeWatchedAreSkipped)
{
    writeFile(path("file"), "x");
    watcher.start({path("missing"), path("file")});
    EXPECT_FALSE(watcher.isRunning());
    EXPECT_EQ(watcher.watchCount(), 0);

    QDir().mkpath(path("present"));
    watcher.start({path("missing"), path("present")});
    EXPECT_TRUE(watcher.isRunning());
    EXPECT_EQ(watcher.watchCount(), 1);
}

TEST_F(PostsWatcherTest, WithoutRecursionOnlyTheFolderItselfIsWatched)
{
    QDir().mkpath(path("folder/sub"));
    watcher.start({path("folder")}, false);
    EXPECT_EQ(watcher.watchCount(), 1);
    writeFile(path("folder/sub/inner.md"), "x");
    QDir().mkpath(path("folder/sub/deeper"));
    settle();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(watcher.watchCount(), 1);

    writeFile(path("folder/outside.md"), "x");
    ASSERT_TRUE(spinUntil([&] { return calls == 1; }));
    // A folder made in it is an event of the folder, but is not watched.
    QDir().mkpath(path("folder/new"));
    ASSERT_TRUE(spinUntil([&] { return calls == 2; }));
    EXPECT_EQ(watcher.watchCount(), 1);
}

TEST_F(PostsWatcherTest, TheCallbackMayRestartOrStopTheWatcher)
{
    QDir().mkpath(path("a"));
    QDir().mkpath(path("b"));
    watcher.onEvent = [this] {
        ++calls;
        if (calls == 1)
            watcher.start({path("b")});
        else
            watcher.stop();
    };
    watcher.start({path("a")});
    writeFile(path("a/one.md"), "x");
    ASSERT_TRUE(spinUntil([&] { return calls == 1; }));
    EXPECT_EQ(watcher.watchCount(), 1);
    writeFile(path("b/two.md"), "x");
    ASSERT_TRUE(spinUntil([&] { return calls == 2; }));
    EXPECT_FALSE(watcher.isRunning());
}

} // namespace
