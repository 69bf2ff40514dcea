#include "model/postsmodel.h"

#include "faketransport.h"
#include "foundation/fs.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "review/fixcardstore.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

namespace {

using library::Post;
using model::PostsModel;
namespace PostStore = library::PostStore;
namespace FixCardStore = review::FixCardStore;
using Card = PostsModel::Card;
using testsupport::spinUntil;

class PostsModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home);
        walk = PostStore::createPiece("# Walk\n\nWe walked quite far.\n", "Essays", Post::ContentType::post,
                                      Post::Origin::writer, home);
        swim = PostStore::createPiece("# Swim\n\nThe water was cold.\n", "Essays", Post::ContentType::post,
                                      Post::Origin::writer, home);
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }
    void TearDown() override { model.settleBackgroundWork(); }

    QString postFile(const Post &post) const { return QDir(*PostStore::folderPath(post.id, home)).filePath("post.md"); }
    Card fileCard(const Post &post, const QString &quote, Card::Lane lane = Card::Lane::mechanical)
    {
        FixCardStore::Input input;
        input.pattern = "Filler";
        input.problem = "Hedges";
        input.fix = "very far";
        input.anchor.quote = quote;
        input.lane = lane;
        return FixCardStore::write(*PostStore::folderPath(post.id, home), {input}).first().card;
    }
    Card::Status statusOnDisk(const Post &post, const QUuid &id) const
    {
        const QString cards = QDir(*PostStore::folderPath(post.id, home)).filePath("cards");
        return FixCardStore::findCard(cards, id)->card.status;
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    Post walk;
    Post swim;
    PostsModel model;
};

TEST(PostsModelNoLibrary, EveryWriteLeavesTheNoLibraryMessage)
{
    QTemporaryDir dir;
    Post post;
    post.id = "walk";
    post.title = "Walk";
    const std::vector<std::pair<const char *, std::function<void(PostsModel &)>>> writes{
        {"rename", [&](PostsModel &m) { m.renamePiece(post, "Run"); }},
        {"move", [&](PostsModel &m) { m.movePiece(post, "Other"); }},
        {"archive", [&](PostsModel &m) { m.archivePiece(post); }},
        {"trash", [&](PostsModel &m) { m.trashPiece(post); }},
        {"restore", [&](PostsModel &m) { m.restorePiece(post); }},
        {"create project", [&](PostsModel &m) { EXPECT_EQ(m.createProject("New"), PostsModel::noLibraryMessage); }},
        {"mentor piece", [&](PostsModel &m) { EXPECT_EQ(m.createAIPiece("# Hi"), std::nullopt); }},
    };
    for (const auto &[name, write] : writes) {
        PostsModel model;
        write(model);
        EXPECT_EQ(model.lastError(), PostsModel::noLibraryMessage) << name;
        EXPECT_EQ(model.projectNames(), QStringList{"posts"}) << name;
    }
    EXPECT_TRUE(testsupport::entries(dir.path()).isEmpty());
}

TEST_F(PostsModelTest, RetitlingTheOpenPieceKeepsItOpenUnderItsNewID)
{
    model.selectPiece(walk.id);
    ASSERT_NE(model.session(), nullptr);
    model.session()->textDidChange("# Walk\n\nWe walked quite far, typed.\n");
    model.renamePiece(walk, "Long Walk");

    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(model.selectedPostID(), "long-walk");
    ASSERT_NE(model.session(), nullptr);
    EXPECT_TRUE(model.isSessionOpen("long-walk"));
    // The typed text was flushed before the move and reads back from the new place.
    EXPECT_TRUE(model.session()->text().contains("typed"));
    EXPECT_TRUE(spinUntil([&] { return model.displayTitle("long-walk") == "Long Walk"; }));
}

TEST_F(PostsModelTest, AnOutsideChangeStopsSwitchingAndIsNeverOverwritten)
{
    model.selectPiece(walk.id);
    model.session()->textDidChange("# Walk\n\nMine.\n");
    testsupport::writeFile(postFile(walk), "---\ntype: post\n---\n# Walk\n\nTheirs.\n");

    model.selectPiece(swim.id);
    EXPECT_EQ(model.selectedPostID(), walk.id);
    EXPECT_EQ(model.lastError(), "This piece changed on disk underneath you — answer the reload question first.");
    EXPECT_TRUE(testsupport::readFile(postFile(walk)).contains("Theirs."));
}

TEST_F(PostsModelTest, AnEditedDraftIsSavedBeforeItWouldBeDropped)
{
    struct Case {
        const char *name;
        std::function<void(PostsModel &, const Post &)> next;
    };
    const std::vector<Case> cases{
        {"a new draft", [](PostsModel &m, const Post &) { m.newPostDraft(); }},
        {"opening a piece", [](PostsModel &m, const Post &other) { m.selectPiece(other.id); }},
        {"quitting", [](PostsModel &m, const Post &) { EXPECT_TRUE(m.flushAll()); }},
    };
    for (const Case &c : cases) {
        model.newPostDraft();
        model.setDraftText(QStringLiteral("# Kept %1\n\nWords.\n").arg(c.name));
        c.next(model, swim);
        EXPECT_EQ(model.lastError(), std::nullopt) << c.name;
        QCoro::waitFor(model.rescan());
        const QString title = QStringLiteral("Kept %1").arg(c.name);
        EXPECT_TRUE(std::any_of(model.posts().begin(), model.posts().end(), [&](const Post &p) {
            return p.title == title;
        })) << c.name;
    }
    // An untouched draft is simply replaced.
    model.newPostDraft();
    const qsizetype before = model.posts().size();
    model.newOutlineDraft();
    QCoro::waitFor(model.rescan());
    EXPECT_EQ(model.posts().size(), before);
    EXPECT_EQ(model.draft()->text, "- ");
}

TEST_F(PostsModelTest, ADraftThatCannotBeSavedStaysWithTheReason)
{
    // A file stands where the draft's project folder would go.
    testsupport::writeFile(PostStore::rootPath(home, PostStore::Root::projects) + "/blocked", "x");
    model.setPendingProject("blocked");
    model.newPostDraft();
    model.setDraftText("# Stays\n\nWords.\n");

    // Quitting is refused, with the reason.
    EXPECT_FALSE(model.flushAll());
    EXPECT_TRUE(model.lastError().has_value());
    model.selectPiece(swim.id);
    EXPECT_TRUE(model.lastError().has_value());
    ASSERT_TRUE(model.draft().has_value());
    EXPECT_EQ(model.draft()->text, "# Stays\n\nWords.\n");
    EXPECT_EQ(model.session(), nullptr);
    EXPECT_EQ(model.selectedPostID(), std::nullopt);
}

TEST_F(PostsModelTest, ApplyOutcomes)
{
    model.selectPiece(walk.id);
    const Card live = fileCard(walk, "quite far");
    const Card gone = fileCard(walk, "not in the text");
    const Card demo = fileCard(walk, "walked", Card::Lane::demonstration);
    Card skipped = fileCard(walk, "We");
    model.closeCard(skipped, Card::Status::skipped);

    EXPECT_EQ(model.applyCard(demo), PostsModel::ApplyOutcome::refused("demonstration cards close Done or Skip"));
    EXPECT_EQ(model.applyCard(gone), PostsModel::ApplyOutcome::wentStale());
    EXPECT_EQ(model.applyCard(live), PostsModel::ApplyOutcome::applied());
    EXPECT_TRUE(model.session()->text().contains("very far"));
    EXPECT_TRUE(testsupport::readFile(postFile(walk)).contains("very far"));
    EXPECT_EQ(statusOnDisk(walk, live.id), Card::Status::applied);
    // The window's copies still say open; the files say otherwise.
    EXPECT_EQ(model.applyCard(live), PostsModel::ApplyOutcome::refused("card already closed"));
    EXPECT_EQ(model.applyCard(skipped), PostsModel::ApplyOutcome::refused("card already closed"));
    EXPECT_EQ(statusOnDisk(walk, gone.id), Card::Status::open);

    model.newPostDraft();
    EXPECT_EQ(model.applyCard(gone), PostsModel::ApplyOutcome::refused("open the piece to work its cards"));
}

TEST_F(PostsModelTest, ClosingACardThatCannotBeClosedSaysWhy)
{
    const Card card = fileCard(walk, "quite far");
    // No piece open.
    model.closeCard(card, Card::Status::done);
    EXPECT_EQ(model.lastError(), "open the piece to work its cards");

    model.selectPiece(walk.id);
    // Only the card operations' own refreshes may show what they did.
    model.watcher().stop();
    // A card that is not among the piece's files: named as the files name it.
    Card missing = card;
    missing.id = QUuid::createUuid();
    model.closeCard(missing, Card::Status::done);
    EXPECT_EQ(model.lastError(),
              "card close failed: card not found: " + missing.id.toString(QUuid::WithoutBraces).toUpper());

    // Its file cannot be rewritten: the temp goes before it is renamed into place.
    foundation::fs::detail::setTempCreatedHook([](const QString &temp) { QFile::remove(temp); });
    model.closeCard(card, Card::Status::done);
    foundation::fs::detail::setTempCreatedHook(nullptr);
    ASSERT_TRUE(model.lastError().has_value());
    EXPECT_TRUE(model.lastError()->startsWith("card close failed: ")) << model.lastError()->toStdString();
    EXPECT_EQ(statusOnDisk(walk, card.id), Card::Status::open);

    // Closed already (the window's copy still says open): it stays as closed.
    model.closeCard(card, Card::Status::skipped);
    EXPECT_EQ(statusOnDisk(walk, card.id), Card::Status::skipped);
    model.closeCard(card, Card::Status::done);
    EXPECT_EQ(model.lastError(), "card already closed");
    EXPECT_EQ(statusOnDisk(walk, card.id), Card::Status::skipped);
    // Every attempt ends with the shown cards read again.
    EXPECT_TRUE(spinUntil([&] {
        return model.openPieceCards().size() == 1 && model.openPieceCards().first().status == Card::Status::skipped;
    }));
}

TEST_F(PostsModelTest, PromotingACardWritesItsLearningAndShowsItPromoted)
{
    const Card card = fileCard(walk, "quite far");
    Card promoted = card;
    promoted.promotedAt = QDateTime::currentDateTime();
    EXPECT_EQ(model.promoteCard(promoted), "card already promoted");
    EXPECT_EQ(model.promoteCard(card), "open the piece to work its cards");
    EXPECT_EQ(model.lastError(), std::nullopt);

    model.selectPiece(walk.id);
    ASSERT_TRUE(spinUntil([&] { return model.openPieceCards().size() == 1; }));
    // Only the promotion's own refresh may show it, not a rescan after its file events.
    model.watcher().stop();
    Card missing = card;
    missing.id = QUuid::createUuid();
    EXPECT_EQ(model.promoteCard(missing), "card not found: " + missing.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(home + "/learnings"));

    EXPECT_EQ(model.promoteCard(card), std::nullopt);
    EXPECT_EQ(testsupport::entries(home + "/learnings/posts").size(), 1);
    EXPECT_TRUE(spinUntil(
        [&] { return model.openPieceCards().size() == 1 && model.openPieceCards().first().promotedAt.has_value(); }));
    // The window's older copy: the file says it is promoted, nothing is written twice.
    EXPECT_EQ(model.promoteCard(card), "learning write failed: card already promoted");
    EXPECT_EQ(testsupport::entries(home + "/learnings/posts").size(), 1);
}

TEST_F(PostsModelTest, ACardOfAnotherPieceIsNeitherAppliedNorPromoted)
{
    // The same sentence in another piece: the card's quote occurs there too.
    const Post stroll = PostStore::createPiece("# Stroll\n\nWe walked quite far.\n", "Essays", Post::ContentType::post,
                                               Post::Origin::writer, home);
    const Card card = fileCard(walk, "quite far");
    model.selectPiece(walk.id);
    ASSERT_TRUE(spinUntil([&] { return model.openPieceCards().size() == 1; }));
    model.selectPiece(stroll.id);
    ASSERT_TRUE(model.isSessionOpen(stroll.id));
    const QByteArray walkBefore = testsupport::readFile(postFile(walk));
    const QByteArray strollBefore = testsupport::readFile(postFile(stroll));

    const QString notFound = "card not found: " + card.id.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(model.applyCard(card), PostsModel::ApplyOutcome::refused(notFound));
    EXPECT_EQ(model.promoteCard(card), notFound);
    EXPECT_EQ(model.session()->text(), "# Stroll\n\nWe walked quite far.\n");
    EXPECT_EQ(testsupport::readFile(postFile(stroll)), strollBefore);
    EXPECT_EQ(testsupport::readFile(postFile(walk)), walkBefore);
    EXPECT_EQ(statusOnDisk(walk, card.id), Card::Status::open);
    EXPECT_FALSE(QFileInfo::exists(home + "/learnings"));
}

TEST_F(PostsModelTest, OpeningAPieceRemovesOldLeftoversOfInterruptedSaves)
{
    // Made after the first scan, so only the opening can sweep them.
    const QString folder = *PostStore::folderPath(swim.id, home);
    const QString old = testsupport::writeFile(folder + "/.post.md.tmp-0123456789abcdef", "# Swim\n\nThe wat");
    const QString fresh = testsupport::writeFile(folder + "/.post.md.tmp-fedcba9876543210", "# Swim\n\nThe wa");
    const qint64 twoHoursAgo = QDateTime::currentSecsSinceEpoch() - 2 * 60 * 60;
    const struct timespec times[2] = {{twoHoursAgo, 0}, {twoHoursAgo, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(old).constData(), times, 0), 0);

    model.selectPiece(swim.id);
    ASSERT_TRUE(model.isSessionOpen(swim.id));
    EXPECT_FALSE(QFileInfo::exists(old));
    EXPECT_TRUE(QFileInfo::exists(fresh));
}

TEST_F(PostsModelTest, AnOlderCardRefreshLosesToANewerOne)
{
    std::atomic<bool> release{false};
    std::atomic<int> calls{0};
    model.scanPieceCards = [&](const QString &folder) {
        const int call = ++calls;
        if (call == 1) {
            while (!release)
                std::this_thread::yield();
            return QList<Card>{}; // stale: taken before the card was filed
        }
        return FixCardStore::cardsForPiece(folder);
    };
    model.selectPiece(walk.id); // the first, slow refresh
    ASSERT_TRUE(spinUntil([&] { return calls == 1; }));
    fileCard(walk, "quite far");
    model.refreshOpenPieceCards();
    ASSERT_TRUE(spinUntil([&] { return model.openPieceCards().size() == 1; }));
    release = true;
    // Let the slow result come back; it must not replace the newer one.
    spinUntil([] { return false; }, 200);
    EXPECT_EQ(model.openPieceCards().size(), 1);
}

TEST_F(PostsModelTest, AnOlderRescanLosesToANewerOne)
{
    std::atomic<bool> release{false};
    std::atomic<int> calls{0};
    const PostsModel::ScanLibrary real = model.scanLibrary;
    model.scanLibrary = [&](const QString &h, const std::shared_ptr<library::PostScanCache> &cache) {
        if (++calls == 1) {
            while (!release)
                std::this_thread::yield();
            return QList<Post>{}; // stale: taken before the new piece
        }
        return real(h, cache);
    };
    testsupport::Running<bool> slow(testsupport::ended(model.rescan()));
    ASSERT_TRUE(spinUntil([&] { return calls == 1; }));
    PostStore::createPiece("# Run\n\nFast.\n", "Essays", Post::ContentType::post, Post::Origin::writer, home);
    QCoro::waitFor(model.rescan());
    ASSERT_EQ(model.posts().size(), 3);
    release = true;
    slow.wait();
    EXPECT_EQ(model.posts().size(), 3);
}

TEST_F(PostsModelTest, AFailedFlushStopsTheWriteWithItsReason)
{
    struct Case {
        const char *name;
        Post piece;
        std::function<void(PostsModel &, const Post &)> write;
    };
    const std::vector<Case> cases{
        {"archive", walk, [](PostsModel &m, const Post &p) { m.archivePiece(p); }},
        {"trash", swim, [](PostsModel &m, const Post &p) { m.trashPiece(p); }},
    };
    for (const Case &c : cases) {
        PostsModel m;
        m.startWatching(home);
        QCoro::waitFor(m.rescan());
        m.selectPiece(c.piece.id);
        ASSERT_NE(m.session(), nullptr) << c.name;
        m.session()->textDidChange("# Typed\n\nTyped.\n");
        // post.md can no longer be written: a folder stands in its place.
        ASSERT_TRUE(QFile::remove(postFile(c.piece)));
        ASSERT_TRUE(QDir().mkpath(postFile(c.piece)));
        c.write(m, c.piece);
        ASSERT_TRUE(m.lastError().has_value()) << c.name;
        EXPECT_TRUE(m.lastError()->endsWith(" — nothing was changed.")) << m.lastError()->toStdString();
        EXPECT_EQ(m.selectedPostID(), c.piece.id) << c.name;
        EXPECT_TRUE(PostStore::folderPath(c.piece.id, home).has_value()) << c.name;
        m.settleBackgroundWork();
    }
}

TEST_F(PostsModelTest, TrashingTheOpenPieceTakesItsLastWordsAlong)
{
    model.selectPiece(walk.id);
    model.session()->textDidChange("# Walk\n\nThe last words.\n");
    model.trashPiece(walk);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(model.session(), nullptr);
    EXPECT_EQ(model.selectedPostID(), std::nullopt);
    const QString trashed = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/" + walk.id + "/post.md";
    EXPECT_TRUE(testsupport::readFile(trashed).contains("The last words.")) << trashed.toStdString();
}

TEST_F(PostsModelTest, ProjectNamesAreSortedAsAFileBrowserSortsThem)
{
    for (const char *name : {"b", "A", ".hidden", "Project 10", "Project 2"})
        QDir().mkpath(PostStore::rootPath(home, PostStore::Root::projects) + "/" + name);
    const QStringList natural{"A", "b", "Essays", "posts", "Project 2", "Project 10"};
    EXPECT_EQ(model.projectNames(), natural);
    // The C locale's collation knows no numbers; the order stays natural.
    const QLocale before;
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(model.projectNames(), natural);
    QLocale::setDefault(before);
}

} // namespace
