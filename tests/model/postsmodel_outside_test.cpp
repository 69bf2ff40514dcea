#include "model/postsmodel.h"

#include "foundation/fs.h"
#include "library/frontmatter.h"
#include "library/poststore.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

using library::Post;
using model::PostsModel;
namespace PostStore = library::PostStore;
namespace PostFrontmatter = library::PostFrontmatter;
using testsupport::readFile;
using testsupport::spinUntil;
using testsupport::writeFile;

const QString kReloadFirst = "This piece changed on disk underneath you — answer the reload question first.";

class PostsModelOutside : public ::testing::Test {
protected:
    // Nothing of the model may still wait on a scan when the test ends.
    void TearDown() override { model.settleBackgroundWork(); }
    void SetUp() override
    {
        QDir().mkpath(home);
        walk = PostStore::createPiece("# Walk\n\nWe walked.\n", "Essays", Post::ContentType::post, Post::Origin::writer,
                                      home);
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }

    QString outside(const QString &name) const { return dir.path() + "/Outside/" + name; }
    static QUrl url(const QString &path) { return QUrl::fromLocalFile(path); }
    // The piece listed under title after a rescan.
    std::optional<Post> listed(const QString &title)
    {
        QCoro::waitFor(model.rescan());
        const auto found =
            std::find_if(model.posts().begin(), model.posts().end(), [&](const Post &p) { return p.title == title; });
        return found == model.posts().end() ? std::nullopt : std::optional<Post>(*found);
    }
    QByteArray postBytes(const Post &post) const
    {
        return readFile(QDir(*PostStore::folderPath(post.id, home)).filePath(PostStore::kPostFileName));
    }
    // Lets a watcher batch land (or not): the absence of a conflict needs a wait.
    static void waitPastOneBatch()
    {
        spinUntil([] { return false; }, 1500);
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    Post walk;
    PostsModel model;
};

TEST_F(PostsModelOutside, ALinkedFileEditsAndWatchesItsTarget)
{
    const QString target = writeFile(dir.path() + "/Real/note.md", "# Note\n");
    const QString link = dir.path() + "/Links/note.md";
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_TRUE(QFile::link(target, link));

    model.selectPiece(walk.id);
    model.openExternalFile(url(link));
    ASSERT_NE(model.externalSession(), nullptr);
    EXPECT_EQ(model.session(), nullptr);
    EXPECT_EQ(model.externalSession()->target().filePath(), QFileInfo(target).canonicalFilePath());
    EXPECT_EQ(model.externalSession()->text(), "# Note\n");
    EXPECT_TRUE(model.showsProse());
    EXPECT_TRUE(model.externalWatcher().isRunning());

    model.externalSession()->textDidChange("# Note\n\nMore.\n");
    EXPECT_TRUE(model.flushAll());
    EXPECT_EQ(readFile(target), "# Note\n\nMore.\n");
    EXPECT_TRUE(QFileInfo(link).isSymLink());

    // A reload that cannot read the file keeps the text and says nothing.
    writeFile(target, "caf\xe9\n");
    waitPastOneBatch();
    EXPECT_FALSE(model.externalSession()->conflictAlert());
    EXPECT_EQ(model.externalSession()->text(), "# Note\n\nMore.\n");
    EXPECT_EQ(model.lastError(), std::nullopt);

    // An edit elsewhere in the target's folder is seen.
    writeFile(target, "# Note\n\nTheirs.\n");
    EXPECT_TRUE(spinUntil([&] { return model.externalSession()->conflictAlert(); }));
}

TEST_F(PostsModelOutside, AFileThatIsNotUtf8OpensNothing)
{
    const QString bad = writeFile(outside("latin.md"), "caf\xe9\n");
    model.selectPiece(walk.id);
    model.openExternalFile(url(bad));

    EXPECT_EQ(model.lastError(), "Couldn't read latin.md — not UTF-8 text or unreadable. Nothing was changed.");
    EXPECT_EQ(model.externalSession(), nullptr);
    EXPECT_FALSE(model.externalWatcher().isRunning());
    // The piece had already been closed for the file.
    EXPECT_EQ(model.session(), nullptr);
    EXPECT_EQ(readFile(bad), "caf\xe9\n");
}

TEST_F(PostsModelOutside, ChangesInTheFolderReloadAndOnlyAnOutsideEditConflicts)
{
    const QString note = writeFile(outside("note.md"), "# Note\n");

    model.openExternalFile(url(note));
    ASSERT_NE(model.externalSession(), nullptr);
    model.externalSession()->textDidChange("# Note\n\nTyped.\n");

    // The session's own autosave and a change of another file: no conflict.
    ASSERT_TRUE(spinUntil([&] { return readFile(note) == "# Note\n\nTyped.\n"; }));
    writeFile(outside("other.txt"), "x");
    waitPastOneBatch();
    EXPECT_FALSE(model.externalSession()->conflictAlert());

    // A second name for the note in another folder (made after the autosave,
    // whose rename gave the note a new inode): a write through it changes the
    // note without an event in the note's folder. The next change of another
    // file reloads the note.
    const QString alias = dir.path() + "/Elsewhere/alias.md";
    QDir().mkpath(QFileInfo(alias).path());
    ASSERT_EQ(::link(QFile::encodeName(note).constData(), QFile::encodeName(alias).constData()), 0);
    writeFile(alias, "# Note\n\nTheirs.\n");
    waitPastOneBatch();
    EXPECT_FALSE(model.externalSession()->conflictAlert());
    writeFile(outside("other.txt"), "y");
    EXPECT_TRUE(spinUntil([&] { return model.externalSession()->conflictAlert(); }));
    EXPECT_EQ(model.externalSession()->text(), "# Note\n\nTyped.\n");
}

TEST_F(PostsModelOutside, WhileTheConflictStandsTheFileCannotBeClosedOrReplaced)
{
    const QString note = writeFile(outside("note.md"), "# Note\n");
    const QString second = writeFile(outside("second.md"), "# Second\n");
    model.openExternalFile(url(note));
    model.externalSession()->textDidChange("# Note\n\nMine.\n");
    writeFile(note, "# Note\n\nTheirs.\n");
    ASSERT_TRUE(spinUntil([&] { return model.externalSession()->conflictAlert(); }));
    const model::EditorSession *open = model.externalSession();

    EXPECT_FALSE(model.closeExternalFile());
    EXPECT_EQ(model.lastError(), kReloadFirst);
    model.setLastError(std::nullopt);
    model.openExternalFile(url(second));
    EXPECT_EQ(model.lastError(), kReloadFirst);
    model.setLastError(std::nullopt);
    model.selectPiece(walk.id);
    EXPECT_EQ(model.lastError(), kReloadFirst);
    EXPECT_EQ(model.externalSession(), open);
    EXPECT_TRUE(model.externalWatcher().isRunning());
    EXPECT_EQ(readFile(note), "# Note\n\nTheirs.\n");

    // Answered with Reload, the file closes and its watcher stops.
    model.externalSession()->reloadFromDisk();
    EXPECT_EQ(model.externalSession()->text(), "# Note\n\nTheirs.\n");
    EXPECT_TRUE(model.closeExternalFile());
    EXPECT_EQ(model.externalSession(), nullptr);
    EXPECT_FALSE(model.externalWatcher().isRunning());
}

TEST_F(PostsModelOutside, AnEditedDraftIsKeptWhenAnOutsideFileOpens)
{
    const QString note = writeFile(outside("note.md"), "# Note\n");
    model.newPostDraft();
    model.setDraftText("# Kept draft\n\nWords.\n");
    model.openExternalFile(url(note));

    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(model.draft(), std::nullopt);
    EXPECT_EQ(model.session(), nullptr);
    ASSERT_NE(model.externalSession(), nullptr);
    const std::optional<Post> kept = listed("Kept draft");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(postBytes(*kept).endsWith("# Kept draft\n\nWords.\n"));
}

TEST_F(PostsModelOutside, ImportedFilesArriveAsNewFirstDraftPosts)
{
    struct Case {
        const char *name;
        QByteArray bytes;
        Post::Origin origin;
        QByteArray expected;
    };
    const std::vector<Case> cases{
        {"restamped, other keys kept",
         "---\ntype: outline\npass_state: Pass-2 Done\ntags: walking\norigin: writer\n---\n# Restamped\n",
         Post::Origin::ai, "---\ntype: post\npass_state: First Draft\ntags: walking\norigin: ai\n---\n# Restamped\n"},
        {"no front matter", "# Bare\n\nText.\n", Post::Origin::writer,
         "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n# Bare\n\nText.\n"},
        {"byte-order mark and CR LF", "\xEF\xBB\xBF# Windows\r\n\r\nOne\rstays.\r\n", Post::Origin::writer,
         "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n# Windows\n\nOne\rstays.\n"},
    };
    for (const Case &c : cases) {
        model.selectPiece(walk.id);
        const QString file = writeFile(outside(QString("%1.md").arg(c.name)), c.bytes);
        model.setPendingImportURLs(QList<QUrl>{url(file)});
        model.importPendingFiles(c.origin);
        EXPECT_EQ(model.lastError(), std::nullopt) << c.name;
        EXPECT_EQ(model.pendingImportURLs(), std::nullopt) << c.name;
        ASSERT_TRUE(model.selectedPostID()) << c.name;
        EXPECT_TRUE(model.isSessionOpen(*model.selectedPostID())) << c.name;
        Post imported;
        imported.id = *model.selectedPostID();
        EXPECT_EQ(postBytes(imported), c.expected) << c.name;
        // The piece goes into the selected piece's project.
        EXPECT_TRUE(PostStore::folderPath(imported.id, home)->contains("/projects/Essays/")) << c.name;
        EXPECT_EQ(readFile(file), c.bytes) << c.name;
    }
}

TEST_F(PostsModelOutside, OfTwoImportsTheBadOneFailsAndTheGoodOneOpens)
{
    const QString good = writeFile(outside("good.md"), "# Same\n\nFirst.\n");
    const QString twin = writeFile(outside("twin.md"), "# Same\n\nSecond.\n");
    const QString bad = writeFile(outside("bad.md"), "\xff\xfe bytes\n");
    QString readError;
    try {
        model::EditorSession::readOutsideFile(bad);
    } catch (const foundation::fs::FileError &error) {
        readError = error.message();
    }
    ASSERT_FALSE(readError.isEmpty());

    model.setPendingImportURLs(QList<QUrl>{url(good), url(twin), url(bad)});
    model.importPendingFiles(Post::Origin::writer);
    EXPECT_EQ(model.lastError(), "Import failed — bad.md: " + readError);
    // The same first line gives the second piece the next free name, and the
    // last one imported is open.
    EXPECT_EQ(model.selectedPostID(), "same-2");
    EXPECT_TRUE(model.isSessionOpen("same-2"));
    EXPECT_EQ(model.session()->text(), "# Same\n\nSecond.\n");
    EXPECT_TRUE(PostStore::folderPath("same", home));
}

TEST_F(PostsModelOutside, RefusedImportsConsumeTheListAndWriteNothing)
{
    const QString file = writeFile(outside("a.md"), "# A\n");
    const QStringList before = testsupport::entries(home + "/projects");

    // A project name that would leave projects/.
    model.setPendingProject("../Escape");
    model.setPendingImportURLs(QList<QUrl>{url(file)});
    model.importPendingFiles(Post::Origin::writer);
    EXPECT_EQ(model.lastError(), library::StoreError::description(library::StoreError::Code::fileWriteInvalidFileName));
    EXPECT_EQ(model.pendingImportURLs(), std::nullopt);
    EXPECT_EQ(testsupport::entries(home + "/projects"), before);
    EXPECT_EQ(testsupport::entries(dir.path()).size(), 2); // Home and Outside

    // No library open.
    PostsModel closed;
    closed.setPendingImportURLs(QList<QUrl>{url(file)});
    closed.importPendingFiles(Post::Origin::writer);
    EXPECT_EQ(closed.lastError(), PostsModel::noLibraryMessage);
    EXPECT_EQ(closed.pendingImportURLs(), std::nullopt);

    // Cancelled.
    closed.setPendingImportURLs(QList<QUrl>{url(file)});
    closed.clearPendingImports();
    EXPECT_EQ(closed.pendingImportURLs(), std::nullopt);
}

} // namespace
