// The library model kept up to date by its Home watcher: rescans after file
// events, the open piece's cards, Home switches and a Home that is missing.
#include "model/postsmodel.h"

#include "faketransport.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "testenv.h"
#include "testutil.h"
#include "walkgate.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using library::Post;
using model::PostsModel;
namespace PostStore = library::PostStore;
using testsupport::spinUntil;
using testsupport::WalkGate;

// Lets every batch of file events that could still be open run.
void settle()
{
    spinUntil([] { return false; }, int(3 * model::PostsWatcher::latency.count()));
}

bool lists(const PostsModel &model, const QString &title)
{
    return std::any_of(model.posts().begin(), model.posts().end(), [&](const Post &p) { return p.title == title; });
}

class PostsModelWatchTest : public ::testing::Test {
protected:
    // Nothing of the model may still wait on a scan when the test ends.
    void TearDown() override { model.settleBackgroundWork(); }
    void SetUp() override
    {
        QDir().mkpath(home);
        walk = PostStore::createPiece("# Walk\n\nWe walked quite far.\n", "Essays", Post::ContentType::post,
                                      Post::Origin::writer, home);
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }
    QString folderOf(const Post &post) const { return *PostStore::folderPath(post.id, home); }
    QString postFile(const Post &post) const { return QDir(folderOf(post)).filePath("post.md"); }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    Post walk;
    PostsModel model;
};

TEST_F(PostsModelWatchTest, AProjectPieceAndCardMadeOutsideAreShownAfterTheirEvents)
{
    ASSERT_TRUE(model.watcher().isRunning());
    const qint64 revision = model.contentRevision();

    // A project, then a piece in it, then (from the tool server, another
    // process) the piece's cards/ with a card, each right after the other.
    QDir().mkpath(PostStore::rootPath(home, PostStore::Root::projects) + "/Notes");
    const Post swim = PostStore::createPiece("# Swim\n\nThe water was quite cold.\n", "Notes", Post::ContentType::post,
                                             Post::Origin::writer, home);
    model.openPiece(swim.id);
    ASSERT_TRUE(model.isSessionOpen(swim.id));
    QProcess server;
    server.start(testsupport::pennoraBinary(), {QStringLiteral("--serve-mcp")});
    ASSERT_TRUE(server.waitForStarted());
    server.write(QStringLiteral(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"submit_fix_cards",)"
                                R"("arguments":{"piece_path":"%1","cards":[{"pattern":"Filler","problem":"Hedges.",)"
                                R"("anchor":{"quote":"quite"},"lane":"mechanical","emitter":"engine"}]}}})"
                                "\n")
                     .arg(folderOf(swim))
                     .toUtf8());
    server.closeWriteChannel();
    ASSERT_TRUE(server.waitForFinished(60000));
    ASSERT_EQ(server.exitCode(), 0) << server.readAllStandardError().constData();
    ASSERT_TRUE(QDir(folderOf(swim) + "/cards").exists());

    // No rescan was asked for: only the watcher can bring these in.
    ASSERT_TRUE(spinUntil([&] { return lists(model, "Swim") && model.openPieceCards().size() == 1; }, 10000));
    EXPECT_EQ(model.openPieceCards().first().pattern, "Filler");
    EXPECT_GT(model.contentRevision(), revision);
    // projects/, archive/, both projects, both pieces and the new cards/.
    EXPECT_EQ(model.watcher().watchCount(), 7);
}

TEST_F(PostsModelWatchTest, SavingTheOpenPieceRaisesNoConflict)
{
    model.openPiece(walk.id);
    EXPECT_FALSE(model.session()->conflictAlert());

    // The save's own file event: the rescan reads what the session wrote.
    const qint64 revision = model.contentRevision();
    model.session()->textDidChange("# Walk\n\nWe walked very far.\n");
    ASSERT_TRUE(model.session()->flush());
    ASSERT_TRUE(spinUntil([&] { return model.contentRevision() > revision; }));
    settle();
    EXPECT_FALSE(model.session()->conflictAlert());

    // A rescan that read post.md just before a save and publishes after it:
    // its disk text is older than the save, not an outside edit.
    std::atomic<bool> scanned{false};
    const PostsModel::ScanLibrary real = model.scanLibrary;
    model.scanLibrary = [&](const QString &h, const std::shared_ptr<library::PostScanCache> &cache) {
        QList<Post> posts = real(h, cache);
        scanned = true;
        return posts;
    };
    testsupport::Running<bool> rescan(testsupport::ended(model.rescan()));
    // The main thread holds still, so the result waits until after the save.
    while (!scanned)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the read of post.md follows the scan
    model.session()->textDidChange("# Walk\n\nWe walked far, and then further.\n");
    ASSERT_TRUE(model.session()->flush());
    model.session()->textDidChange("# Walk\n\nWe walked far, and then further still.\n");
    rescan.wait();
    EXPECT_FALSE(model.session()->conflictAlert());

    // An edit from outside still raises the question.
    testsupport::writeFile(postFile(walk), "---\ntype: post\n---\n# Walk\n\nTheirs.\n");
    ASSERT_TRUE(spinUntil([&] { return model.session()->conflictAlert(); }));
}

TEST_F(PostsModelWatchTest, DeletingTheOpenPiecesFolderWritesNothingAndKeepsOnlyTheUnsavedWords)
{
    // Everything saved: the piece simply closes.
    const Post swim = PostStore::createPiece("# Swim\n\nCold water.\n", "Essays", Post::ContentType::post,
                                             Post::Origin::writer, home);
    model.openPiece(swim.id);
    ASSERT_TRUE(QDir(folderOf(swim)).removeRecursively());
    ASSERT_TRUE(spinUntil([&] { return model.session() == nullptr; }));
    EXPECT_EQ(model.draft(), std::nullopt);
    EXPECT_EQ(model.lastError(), std::nullopt);

    // Typed and not yet saved: the words stay in the editor as a draft.
    model.openPiece(walk.id);
    model.session()->textDidChange("# Walk\n\nTyped, never saved.\n");
    ASSERT_TRUE(model.session()->autosavePending());
    const QString folder = folderOf(walk);
    ASSERT_TRUE(QDir(folder).removeRecursively());

    ASSERT_TRUE(spinUntil([&] { return model.session() == nullptr; }));
    EXPECT_EQ(model.selectedPostID(), std::nullopt);
    EXPECT_FALSE(lists(model, "Walk"));
    ASSERT_TRUE(model.draft().has_value());
    EXPECT_EQ(model.draft()->text, "# Walk\n\nTyped, never saved.\n");
    EXPECT_EQ(model.lastError(), PostsModel::folderLeftMessage);
    // Past the autosave's wait: nothing brought the piece back.
    spinUntil([] { return false; }, int(2 * PostsModel::sessionDebounce.count()));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(PostsModelWatchTest, UnsavedWordsFollowTheOpenPiecesFolderWhereverItGoes)
{
    const QString typed = "# Walk\n\nTyped just before the folder moved.\n";
    const QString folder = folderOf(walk);

    // A sync tool moves the folder to another project: the words are written
    // there, and the session reads the folder the piece is in now.
    model.openPiece(walk.id);
    model.session()->textDidChange(typed);
    const QString elsewhere = PostStore::rootPath(home, PostStore::Root::projects) + "/Elsewhere/" + walk.id;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(elsewhere).path()));
    ASSERT_TRUE(QDir().rename(folder, elsewhere));
    ASSERT_TRUE(spinUntil([&] { return model.session() && model.session()->folderPath() == elsewhere; }, 10000));
    EXPECT_TRUE(testsupport::readText(elsewhere + "/post.md").endsWith(typed));
    EXPECT_TRUE(model.isSessionOpen(walk.id));
    EXPECT_EQ(model.selectedPostID(), walk.id);
    EXPECT_EQ(model.session()->text(), typed);
    EXPECT_EQ(model.session()->saveState(), model::SaveState::saved);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(folder));

    // Out of the Home, before the autosave and after a save that failed for
    // it: nothing is written anywhere, the words stay as a draft to save.
    for (const bool failedSave : {false, true}) {
        SCOPED_TRACE(failedSave ? "after a failed save" : "before the autosave");
        const QString more = typed + (failedSave ? "And more, saved too late.\n" : "And more.\n");
        const QString away = dir.path() + (failedSave ? "/Away2" : "/Away");
        const QString before = testsupport::readText(folderOf(walk) + "/post.md");
        model.session()->textDidChange(more);
        ASSERT_TRUE(QDir().rename(folderOf(walk), away));
        if (failedSave) {
            EXPECT_FALSE(model.session()->flush());
        }
        ASSERT_TRUE(spinUntil([&] { return model.draft().has_value(); }, 10000));
        EXPECT_EQ(model.draft()->text, more);
        EXPECT_EQ(model.draft()->project, "Elsewhere");
        EXPECT_EQ(model.draft()->type, Post::ContentType::post);
        EXPECT_EQ(model.session(), nullptr);
        EXPECT_EQ(model.selectedPostID(), std::nullopt);
        EXPECT_EQ(model.lastError(), PostsModel::folderLeftMessage);
        EXPECT_EQ(testsupport::readText(away + "/post.md"), before);
        EXPECT_FALSE(PostStore::folderPath(walk.id, home));

        // Saved, it is a piece again with every word.
        model.saveDraft();
        ASSERT_EQ(model.lastError(), std::nullopt);
        ASSERT_NE(model.session(), nullptr);
        EXPECT_TRUE(testsupport::readText(model.session()->folderPath() + "/post.md").endsWith(more));
        walk.id = model.session()->target().id();
        QCoro::waitFor(model.rescan());
    }
}

TEST_F(PostsModelWatchTest, SwitchingHomesFlushesAndClearsTheOpenStateOrRefuses)
{
    model.openPiece(walk.id);
    model.setPendingProject("Essays");
    model.session()->textDidChange("# Walk\n\nTyped before the switch.\n");

    // The Home already watched: nothing is reset.
    EXPECT_TRUE(model.setHome(home));
    EXPECT_TRUE(model.isSessionOpen(walk.id));

    // A text that cannot be written stops the switch with its reason.
    const QByteArray original = testsupport::readFile(postFile(walk));
    ASSERT_TRUE(QFile::remove(postFile(walk)));
    ASSERT_TRUE(QDir().mkpath(postFile(walk)));
    const QString other = dir.path() + "/Other";
    EXPECT_FALSE(model.setHome(other));
    ASSERT_TRUE(model.lastError().has_value());
    EXPECT_TRUE(model.lastError()->endsWith(" — nothing was changed.")) << model.lastError()->toStdString();
    EXPECT_TRUE(model.isSessionOpen(walk.id));
    EXPECT_EQ(model.selectedPostID(), walk.id);
    EXPECT_EQ(model.pendingProject(), "Essays");

    // Once it can be written, the switch saves it and clears what was open;
    // the list stays the old Home's until the new one is watched and scanned.
    ASSERT_TRUE(QDir(postFile(walk)).removeRecursively());
    testsupport::writeFile(postFile(walk), original);
    settle();
    ASSERT_TRUE(model.setHome(other));
    EXPECT_TRUE(testsupport::readText(postFile(walk)).contains("Typed before the switch."));
    EXPECT_EQ(model.session(), nullptr);
    EXPECT_EQ(model.selectedPostID(), std::nullopt);
    EXPECT_EQ(model.pendingProject(), std::nullopt);
    EXPECT_EQ(model.watchedHome(), home);
    EXPECT_TRUE(lists(model, "Walk"));

    QDir().mkpath(other);
    model.startWatching(other);
    QCoro::waitFor(model.rescan());
    EXPECT_TRUE(model.posts().isEmpty());
    EXPECT_TRUE(QDir(other + "/projects").exists() && QDir(other + "/archive").exists());
    // The old Home's changes no longer reach the model.
    const qint64 revision = model.contentRevision();
    PostStore::createPiece("# Late\n\nWords.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    settle();
    EXPECT_EQ(model.contentRevision(), revision);
}

TEST_F(PostsModelWatchTest, AScanOfTheOldHomeThatEndsAfterTheSwitchIsDropped)
{
    std::atomic<bool> release{false};
    const PostsModel::ScanLibrary real = model.scanLibrary;
    model.scanLibrary = [&](const QString &h, const std::shared_ptr<library::PostScanCache> &cache) {
        if (h == home) {
            while (!release)
                std::this_thread::yield();
        }
        return real(h, cache);
    };
    testsupport::Running<bool> old(testsupport::ended(model.rescan()));
    PostStore::createPiece("# Late\n\nWords.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    const QString other = dir.path() + "/Other";
    QDir().mkpath(other);
    ASSERT_TRUE(model.setHome(other));
    model.startWatching(other);
    // The old Home's scan ends first, with a list that has the late piece.
    release = true;
    old.wait();
    EXPECT_FALSE(lists(model, "Late"));
    QCoro::waitFor(model.rescan());
    EXPECT_TRUE(model.posts().isEmpty());
}

TEST_F(PostsModelWatchTest, AHomeSwitchedWhileItsWatchIsSetUpLeavesOnlyTheNewHomeWatched)
{
    std::atomic<int> scans{0};
    const PostsModel::ScanLibrary real = model.scanLibrary;
    model.scanLibrary = [&](const QString &h, const std::shared_ptr<library::PostScanCache> &cache) {
        ++scans;
        return real(h, cache);
    };
    const int otherWatches = testsupport::inotifyWatches() - model.watcher().watchCount();
    const QString other = dir.path() + "/Other";
    QDir().mkpath(other);
    PostStore::createPiece("# Swim\n\nCold water.\n", "Notes", Post::ContentType::post, Post::Origin::writer, other);
    const QString otherArchive = PostStore::rootPath(other, PostStore::Root::archive);
    QDir().mkpath(otherArchive + "/Old/piece/cards");

    // The other Home's walk is held halfway: its projects/ is walked, its
    // archive/ not yet. Then the writer goes back to the first Home.
    WalkGate gate(model.watcher(), otherArchive);
    ASSERT_TRUE(model.setHome(other));
    model.startWatching(other);
    ASSERT_TRUE(gate.waitUntilReached());
    ASSERT_TRUE(model.setHome(home));
    model.startWatching(home);
    gate.release();
    QCoro::waitFor(model.rescan());
    ASSERT_TRUE(spinUntil([&] {
        return !model.watcher().isSettingUp()
               && testsupport::inotifyWatches() == otherWatches + model.watcher().watchCount();
    }));
    EXPECT_TRUE(lists(model, "Walk"));
    EXPECT_FALSE(lists(model, "Swim"));
    // projects/, archive/, Essays and the walk's folder, and nothing else.
    EXPECT_EQ(model.watcher().watchCount(), 4);
    EXPECT_TRUE(model.watcher().watchesEveryRoot());

    // The other Home's changes start no scan; this Home's are shown.
    settle();
    const int before = scans;
    testsupport::writeFile(otherArchive + "/Old/piece/cards/card.json", "{}");
    PostStore::createPiece("# Late\n\nWords.\n", "Notes", Post::ContentType::post, Post::Origin::writer, other);
    settle();
    EXPECT_EQ(scans, before);
    PostStore::createPiece("# Later\n\nStill here.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_TRUE(spinUntil([&] { return lists(model, "Later"); }, 10000));
}

TEST(PostsModelMissingHome, AMissingHomeIsReportedAndNeverCreated)
{
    QTemporaryDir dir;
    // The mount point of an unplugged drive: the Home and its parent are gone.
    const QString home = dir.path() + "/Drive/Pennora";
    PostsModel model;
    model.startWatching(home);
    EXPECT_EQ(model.lastError(),
              "The library folder " + home + " is missing — connect its drive or choose another Home.");
    EXPECT_FALSE(model.watcher().isRunning());
    QCoro::waitFor(model.rescan());
    EXPECT_TRUE(model.posts().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/Drive"));

    // The drive is back: starting again watches it and withdraws the report.
    QDir().mkpath(home);
    model.startWatching(home);
    EXPECT_TRUE(model.watcher().isRunning());
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_TRUE(QDir(home + "/projects").exists());
}

TEST_F(PostsModelWatchTest, AHomeThatGoesAwayKeepsTheOpenText)
{
    model.openPiece(walk.id);
    model.session()->textDidChange("# Walk\n\nStill here.\n");
    model.session()->cancelAutosave();
    // The drive goes: the whole Home leaves at once.
    // (An unmount's events start the rescan; a rename of the Home has none.)
    ASSERT_TRUE(QDir().rename(home, dir.path() + "/Away"));
    QCoro::waitFor(model.rescan());
    EXPECT_TRUE(model.posts().isEmpty());
    EXPECT_EQ(model.lastError(), PostsModel::missingHomeMessage(home));
    EXPECT_EQ(model.selectedPostID(), walk.id);
    ASSERT_NE(model.session(), nullptr);
    EXPECT_EQ(model.session()->text(), "# Walk\n\nStill here.\n");
    // A save cannot land, and makes nothing in the Home's place.
    EXPECT_FALSE(model.session()->flush());
    EXPECT_FALSE(QFileInfo::exists(home));
}

TEST_F(PostsModelWatchTest, AHomeWhoseDriveLeftIsWatchedAgainWhenItComesBack)
{
    // Every watch goes with the folders, as with an unmounted drive.
    ASSERT_TRUE(QDir(home).removeRecursively());
    ASSERT_TRUE(spinUntil([&] { return model.lastError() == PostsModel::missingHomeMessage(home); }, 10000));
    EXPECT_FALSE(model.watcher().watchesEveryRoot());

    // The drive is back with a piece on it: the report goes, the piece shows.
    QDir().mkpath(home);
    PostStore::createPiece("# Back\n\nHome again.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    ASSERT_TRUE(spinUntil([&] { return lists(model, "Back") && !model.lastError(); },
                          int(3 * PostsModel::homeReturnPollInterval.count())));
    EXPECT_TRUE(model.watcher().watchesEveryRoot());
    // And it is watched again: a later piece arrives through the watcher.
    PostStore::createPiece("# Later\n\nStill here.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_TRUE(spinUntil([&] { return lists(model, "Later"); }, 10000));
}

TEST_F(PostsModelWatchTest, AHomeRenamedAwayAndMadeAgainIsWatchedInItsPlace)
{
    // The Home is renamed away (a rename has no events of its own) and the
    // next scan finds it missing; its watches went along with the folders.
    ASSERT_TRUE(QDir().rename(home, dir.path() + "/Away"));
    QCoro::waitFor(model.rescan());
    ASSERT_EQ(model.lastError(), PostsModel::missingHomeMessage(home));

    // A new Home is made at the same path, say restored from a backup.
    QDir().mkpath(home);
    PostStore::createPiece("# Back\n\nHome again.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    ASSERT_TRUE(spinUntil([&] { return lists(model, "Back") && !model.lastError(); },
                          int(3 * PostsModel::homeReturnPollInterval.count())));
    // It is the one watched now: a later piece arrives through the watcher.
    PostStore::createPiece("# Later\n\nStill here.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_TRUE(spinUntil([&] { return lists(model, "Later"); }, 10000));
}

TEST_F(PostsModelWatchTest, AProjectsFolderDeletedUnderTheHomeIsWatchedAgain)
{
    ASSERT_TRUE(QDir(PostStore::rootPath(home, PostStore::Root::projects)).removeRecursively());
    ASSERT_TRUE(spinUntil([&] { return !lists(model, "Walk"); }, 10000));
    ASSERT_TRUE(spinUntil([&] { return model.watcher().watchesEveryRoot(); }, 10000));
    EXPECT_FALSE(model.lastError());

    PostStore::createPiece("# Anew\n\nA fresh start.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_TRUE(spinUntil([&] { return lists(model, "Anew"); }, 10000));
}

TEST_F(PostsModelWatchTest, AProjectsFolderRenamedAwayIsWatchedAgainInItsPlace)
{
    const QString projects = PostStore::rootPath(home, PostStore::Root::projects);
    ASSERT_TRUE(QDir().rename(projects, home + "/projects-old"));
    ASSERT_TRUE(spinUntil([&] { return !lists(model, "Walk"); }, 10000));
    ASSERT_TRUE(spinUntil([&] { return model.watcher().watchesEveryRoot(); }, 10000));

    PostStore::createPiece("# Anew\n\nA fresh start.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_TRUE(spinUntil([&] { return lists(model, "Anew"); }, 10000));
}

} // namespace
