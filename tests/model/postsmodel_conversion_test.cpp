#include "model/postsmodel.h"

#include "library/frontmatter.h"
#include "library/poststore.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

using library::Post;
using model::PendingConversion;
using model::PostsModel;
namespace PostStore = library::PostStore;
namespace PostFrontmatter = library::PostFrontmatter;

const QString kChangedMessage = "The outline changed since the sheet opened — nothing was converted.";

// Bullets only: nothing is lost by the ladder of headings.
const QString kClean = "Preamble line\n- Plan\n  - Step one\n- Close\n";
// A paragraph between the bullets, which the outline parse drops.
const QString kLossy = "- Plan\nA paragraph the outline cannot show.\n- Close\n";

class PostsModelConversion : public ::testing::Test {
protected:
    // Nothing of the model may still wait on a scan when the test ends.
    void TearDown() override { model.settleBackgroundWork(); }
    void SetUp() override
    {
        QDir().mkpath(home);
        outline = PostStore::createPiece(kClean, "posts", Post::ContentType::outline, Post::Origin::writer, home);
        lossy = PostStore::createPiece(kLossy, "posts", Post::ContentType::outline, Post::Origin::writer, home);
        prose =
            PostStore::createPiece("# Prose\n\nWords.\n", "posts", Post::ContentType::post, Post::Origin::writer, home);
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }

    QString postFile(const Post &post) const
    {
        return QDir(*PostStore::folderPath(post.id, home)).filePath(PostStore::kPostFileName);
    }
    PostFrontmatter::Split onDisk(const Post &post) const
    {
        return PostFrontmatter::splitFrontmatter(testsupport::readText(postFile(post)));
    }
    Post::ContentType typeOnDisk(const Post &post) const
    {
        const QString text = testsupport::readText(postFile(post));
        return PostFrontmatter::frontmatterFlags(PostFrontmatter::parseFrontmatter(text)).type;
    }
    void writeBody(const Post &post, const QString &body)
    {
        testsupport::writeFile(postFile(post), (onDisk(post).block + body).toUtf8());
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    Post outline;
    Post lossy;
    Post prose;
    PostsModel model;
};

TEST_F(PostsModelConversion, TheRequestRecordsWhetherHeadingsWouldDropLines)
{
    QSignalSpy notified(&model, &PostsModel::pendingConversionChanged);
    model.requestConvertToPost(prose);
    EXPECT_EQ(model.pendingConversion(), std::nullopt);
    EXPECT_EQ(notified.count(), 0);

    model.requestConvertToPost(outline);
    EXPECT_EQ(model.pendingConversion(), (PendingConversion{outline.id, false}));
    // The same request again still reaches the sheet.
    model.requestConvertToPost(outline);
    EXPECT_EQ(notified.count(), 2);

    model.requestConvertToPost(lossy);
    EXPECT_EQ(model.pendingConversion(), (PendingConversion{lossy.id, true}));

    // For the open piece the editor's unsaved text decides, not the disk.
    model.selectPiece(outline.id);
    ASSERT_TRUE(model.isSessionOpen(outline.id));
    model.session()->textDidChange("- Plan\nTyped paragraph.\n- Close\n");
    model.requestConvertToPost(outline);
    EXPECT_EQ(model.pendingConversion(), (PendingConversion{outline.id, true}));
}

TEST_F(PostsModelConversion, HeadingsIsRefusedWhenTheOutlineBecameLossy)
{
    model.requestConvertToPost(outline);
    writeBody(outline, kLossy);
    const QByteArray before = testsupport::readFile(postFile(outline));

    model.convertToPost(true);
    EXPECT_EQ(model.lastError(), kChangedMessage);
    EXPECT_EQ(model.pendingConversion(), std::nullopt);
    EXPECT_EQ(testsupport::readFile(postFile(outline)), before);

    // The refusal consumed the request: answering again does nothing.
    model.setLastError(std::nullopt);
    model.convertToPost(false);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(testsupport::readFile(postFile(outline)), before);
}

TEST_F(PostsModelConversion, VerbatimNeverRechecksAndAKnownLossIsAccepted)
{
    // Verbatim on a sheet that showed no loss, though the outline is lossy now.
    model.requestConvertToPost(outline);
    writeBody(outline, kLossy);
    model.convertToPost(false);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(typeOnDisk(outline), Post::ContentType::post);
    EXPECT_EQ(onDisk(outline).body, kLossy);

    // Headings on a sheet that showed the loss converts and drops the paragraph.
    model.requestConvertToPost(lossy);
    model.convertToPost(true);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(typeOnDisk(lossy), Post::ContentType::post);
    EXPECT_EQ(onDisk(lossy).body, "## Plan\n## Close");

    // The rescan that follows lists both as posts.
    EXPECT_TRUE(testsupport::spinUntil([&] {
        return std::all_of(model.posts().begin(), model.posts().end(),
                           [](const Post &p) { return p.type == Post::ContentType::post; });
    }));
}

TEST_F(PostsModelConversion, TheOpenOutlineStaysOpenInProseOnTheConvertedText)
{
    model.selectPiece(outline.id);
    ASSERT_TRUE(model.isSessionOpen(outline.id));
    EXPECT_FALSE(model.showsProse());
    // Typed but not yet saved: the flush before the rewrite carries it over.
    model.session()->textDidChange("- Plan\n  - Step one\n- Typed\n");
    model.requestConvertToPost(outline);

    // The session holding the outline text is replaced; a new one may take
    // the freed one's address, so the replacement is seen by its signal.
    const QSignalSpy replaced(&model, &PostsModel::sessionChanged);
    model.convertToPost(true);
    EXPECT_EQ(model.lastError(), std::nullopt);
    ASSERT_NE(model.session(), nullptr);
    EXPECT_FALSE(replaced.isEmpty());
    EXPECT_TRUE(model.isSessionOpen(outline.id));
    EXPECT_EQ(model.selectedPostID(), outline.id);
    EXPECT_EQ(model.proseOverridePostID(), outline.id);
    // Before the rescan has listed the piece as a post.
    const auto listed =
        std::find_if(model.posts().begin(), model.posts().end(), [&](const Post &p) { return p.id == outline.id; });
    ASSERT_NE(listed, model.posts().end());
    EXPECT_EQ(listed->type, Post::ContentType::outline);
    EXPECT_TRUE(model.showsProse());
    EXPECT_EQ(model.session()->text(), "## Plan\n### Step one\n## Typed");
    EXPECT_FALSE(model.session()->autosavePending());
}

TEST_F(PostsModelConversion, ConvertingTheGuardedPieceClearsGuardAndSelection)
{
    model.selectPiece(lossy.id);
    ASSERT_EQ(model.outlineGuardPieceID(), lossy.id);
    ASSERT_EQ(model.session(), nullptr);

    model.requestConvertToPost(lossy);
    EXPECT_EQ(model.pendingConversion(), (PendingConversion{lossy.id, true}));
    model.convertToPost(false);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(model.outlineGuardPieceID(), std::nullopt);
    EXPECT_EQ(model.selectedPostID(), std::nullopt);
    EXPECT_EQ(model.session(), nullptr);
    EXPECT_EQ(onDisk(lossy).body, kLossy);
}

TEST_F(PostsModelConversion, TheOutlineQuestionOpensThePieceOrPutsTheSelectionBack)
{
    struct Case {
        const char *name;
        std::optional<bool> asProse; // none: put away unanswered
    };
    // Nothing guarded: an answer opens nothing.
    model.answerOutlineGuard(true);
    EXPECT_EQ(model.session(), nullptr);

    for (const Case &c : {Case{"prose", true}, Case{"outline", false}, Case{"dismissed", std::nullopt}}) {
        SCOPED_TRACE(c.name);
        PostsModel asked;
        asked.startWatching(home);
        QCoro::waitFor(asked.rescan());
        asked.selectPiece(lossy.id);
        ASSERT_EQ(asked.outlineGuardPieceID(), lossy.id);
        ASSERT_EQ(asked.session(), nullptr);
        if (c.asProse)
            asked.answerOutlineGuard(*c.asProse);
        else
            asked.dismissOutlineGuard();
        EXPECT_EQ(asked.outlineGuardPieceID(), std::nullopt);
        EXPECT_EQ(asked.isSessionOpen(lossy.id), c.asProse.has_value());
        EXPECT_EQ(asked.selectedPostID(), c.asProse ? std::optional<QString>(lossy.id) : std::nullopt);
        EXPECT_EQ(asked.proseOverridePostID(),
                  c.asProse.value_or(false) ? std::optional<QString>(lossy.id) : std::nullopt);
        asked.settleBackgroundWork();
    }
}

TEST_F(PostsModelConversion, ANewProjectGetsAPostDraftUnlessItIsRefused)
{
    const std::optional<QString> refused = model.createProjectForNewDraft("Notes/2026");
    ASSERT_TRUE(refused);
    EXPECT_EQ(model.lastError(), refused);
    EXPECT_EQ(model.draft(), std::nullopt);
    EXPECT_EQ(model.pendingProject(), std::nullopt);

    EXPECT_EQ(model.createProjectForNewDraft("Field Notes"), std::nullopt);
    EXPECT_TRUE(QFileInfo(home + "/projects/Field Notes").isDir());
    EXPECT_EQ(model.pendingProject(), "Field Notes");
    ASSERT_TRUE(model.draft());
    EXPECT_EQ(model.draft()->type, Post::ContentType::post);
}

TEST_F(PostsModelConversion, FailuresConvertNothing)
{
    // A conflict on the open piece stops the conversion at its flush.
    model.selectPiece(outline.id);
    model.session()->textDidChange("- Mine\n");
    writeBody(outline, "- Theirs\n");
    model.requestConvertToPost(outline);
    model.convertToPost(true);
    EXPECT_EQ(model.lastError(), "This piece changed on disk underneath you — answer the reload question first.");
    EXPECT_EQ(typeOnDisk(outline), Post::ContentType::outline);

    // The piece's folder is gone: the store's error, and the session stays.
    model.requestConvertToPost(lossy);
    ASSERT_TRUE(QDir(*PostStore::folderPath(lossy.id, home)).removeRecursively());
    model.convertToPost(false);
    EXPECT_EQ(model.lastError(), library::StoreError::description(library::StoreError::Code::fileReadNoSuchFile));
    EXPECT_TRUE(model.isSessionOpen(outline.id));

    // No library: the request reads nothing and the answer is refused.
    PostsModel closed;
    closed.requestConvertToPost(lossy);
    EXPECT_EQ(closed.pendingConversion(), (PendingConversion{lossy.id, false}));
    closed.convertToPost(true);
    EXPECT_EQ(closed.lastError(), PostsModel::noLibraryMessage);
}

} // namespace
