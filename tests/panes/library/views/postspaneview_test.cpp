// The posts pane offscreen over the real library model: the columns by
// width, the focused layout, the editor area's content and identity keys,
// the injectable editor, the publish sheet and the error line.

#include "panes/library/views/postspaneview.h"

#include "fixturehome.h"
#include "panes/library/views/postslibrarycolumn.h"
#include "screenshot.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QDialog>
#include <QLabel>
#include <QSignalSpy>
#include <QUrl>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using panes::PostsEditorContent;
using panes::PostsEditorRequest;
using panes::PostsPaneView;
using Case = PostsEditorContent::Case;

class PaneTest : public testsupport::PostsHomeTest {
protected:
    void SetUp() override
    {
        PostsHomeTest::SetUp();
        pane = std::make_unique<PostsPaneView>(home, &model);
        pane->setEditorFactory([this](const PostsEditorRequest &request) {
            requests.append(request);
            return PostsPaneView::editorPlaceholder(request);
        });
        requests.clear();
        pane->setAttribute(Qt::WA_DontShowOnScreen);
        pane->resize(1100, 700);
        pane->setAvailableWidth(1100);
        pane->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        pane.reset();
        PostsHomeTest::TearDown();
    }
    QString shownTitle() const
    {
        auto *title = pane->editor() ? pane->editor()->findChild<QLabel *>("title") : nullptr;
        return title ? title->text() : QString();
    }

    std::unique_ptr<PostsPaneView> pane;
    QList<PostsEditorRequest> requests;
};

TEST_F(PaneTest, TheColumnsFollowTheWidthThresholds)
{
    struct Case {
        double width;
        bool column;
        bool mentor;
    };
    const Case cases[] = {
        {800, false, false},   {863.5, false, false}, {864, false, true}, {900, false, true},
        {1043.5, false, true}, {1044, true, true},    {1100, true, true}, {800, false, false},
    };
    for (const Case &c : cases) {
        pane->setAvailableWidth(c.width);
        EXPECT_EQ(pane->libraryColumn() != nullptr, c.column) << c.width;
        EXPECT_EQ(pane->mentorPlace() != nullptr, c.mentor) << c.width;
        if (pane->mentorPlace()) {
            EXPECT_EQ(pane->mentorPlace()->width(), 356) << c.width;
        }
    }
    // Crossing a threshold drops the column with its view state.
    pane->setAvailableWidth(1100);
    pane->libraryColumn()->toggleCollapsed("Essays");
    pane->setAvailableWidth(1000);
    pane->setAvailableWidth(1100);
    EXPECT_FALSE(pane->libraryColumn()->collapsed().contains("Essays"));
}

TEST_F(PaneTest, FocusModeShowsTheEditorAloneAndTheMentorOnlyWhileUnlocked)
{
    QSignalSpy left(pane.get(), &PostsPaneView::focusedLayoutLeft);
    model.selectPiece("harbour");
    QWidget *regularEditor = pane->editor();
    pane->setFocusMode(true);
    EXPECT_EQ(pane->libraryColumn(), nullptr);
    ASSERT_NE(pane->mentorPlace(), nullptr);
    EXPECT_FALSE(pane->mentorPlace()->isVisible()); // until the pointer reaches the edge
    // The editor moves to the focused layout under its key, and back.
    EXPECT_EQ(pane->editor(), regularEditor);
    EXPECT_TRUE(regularEditor->isVisible());
    EXPECT_EQ(pane->editorContent().identityKey, "harbour");
    pane->setWritingLocked(true);
    EXPECT_EQ(pane->mentorPlace(), nullptr);
    pane->setWritingLocked(false);
    pane->setAvailableWidth(800);
    EXPECT_EQ(pane->mentorPlace(), nullptr);
    EXPECT_EQ(left.count(), 0);
    pane->setFocusMode(false);
    EXPECT_EQ(left.count(), 1);
    EXPECT_EQ(pane->editor(), regularEditor);
    EXPECT_TRUE(regularEditor->isVisible());
}

TEST_F(PaneTest, TheEditorAreaShowsTheFirstCaseThatApplies)
{
    // Nothing open.
    EXPECT_EQ(pane->editor(), nullptr);
    ASSERT_NE(pane->emptyStateMessage(), nullptr);
    EXPECT_EQ(pane->emptyStateMessage()->text(), "Select a post, or start a new one.");
    testsupport::saveScreenshot(*pane, "posts-pane-nothing-open", QSize(1100, 700));

    // The open piece, with publishing, under its id.
    model.selectPiece("harbour");
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests.last().content.which, Case::openPiece);
    EXPECT_EQ(requests.last().content.identityKey, "harbour");
    EXPECT_EQ(requests.last().session, model.session());
    EXPECT_TRUE(bool(requests.last().publish));
    EXPECT_EQ(shownTitle(), "Harbour Lights");
    testsupport::saveScreenshot(*pane, "posts-pane-wide", QSize(1100, 700));

    // A draft wins over the open piece and lives under its mount id.
    model.newPostDraft();
    ASSERT_TRUE(model.draft().has_value());
    const QString draftKey = u"draft-"_s + model.draft()->mountID.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(pane->editorContent().which, Case::draft);
    EXPECT_EQ(pane->editorContent().identityKey, draftKey);
    EXPECT_FALSE(bool(requests.last().publish));
    EXPECT_TRUE(bool(requests.last().draftEdited));
    // Typing into the draft keeps its editor.
    QWidget *draftEditor = pane->editor();
    const qsizetype built = requests.size();
    requests.last().draftEdited(u"# Typed\n"_s);
    EXPECT_EQ(model.draft()->text, "# Typed\n");
    EXPECT_EQ(pane->editor(), draftEditor);
    EXPECT_EQ(requests.size(), built);
    // Another draft never shares the editor.
    model.newOutlineDraft();
    EXPECT_NE(pane->editorContent().identityKey, draftKey);
    EXPECT_TRUE(pane->editorContent().outline);
}

// The model opens a new session for a piece it moved or renamed; the editor
// shown must work on that one, or what the writer types next goes nowhere.
TEST_F(PaneTest, TheEditorFollowsTheSessionTheModelReopensForTheOpenPiece)
{
    const struct {
        const char *name;
        std::function<void()> act;
        QString key;
    } cases[] = {
        {"moved into another project", [&] { model.movePiece(post("harbour"), u"Drafts"_s); }, u"harbour"_s},
        {"renamed", [&] { model.renamePiece(post("harbour"), u"Harbour Nights"_s); }, u"harbour-nights"_s},
    };
    for (const auto &c : cases) {
        model.selectPiece(post("harbour").id);
        c.act();
        ASSERT_EQ(model.lastError(), std::nullopt) << c.name;
        QCoro::waitFor(model.rescan());
        ASSERT_NE(model.session(), nullptr) << c.name;
        EXPECT_EQ(pane->editorContent().identityKey, c.key) << c.name;
        ASSERT_FALSE(requests.isEmpty());
        EXPECT_EQ(requests.last().session, model.session()) << c.name;
        // While the session stays, a rescan keeps the editor.
        QWidget *editor = pane->editor();
        QCoro::waitFor(model.rescan());
        EXPECT_EQ(pane->editor(), editor) << c.name;
    }
}

TEST_F(PaneTest, AnOutsideFileShowsUnderItsAddressWithoutPublishing)
{
    model.selectPiece("harbour");
    const QString outside = dir.path() + "/notes.md";
    testsupport::writeFile(outside, "# Notes\n");
    model.openExternalFile(QUrl::fromLocalFile(outside));
    ASSERT_NE(model.externalSession(), nullptr);
    EXPECT_EQ(pane->editorContent().which, Case::outsideFile);
    EXPECT_EQ(pane->editorContent().identityKey, QUrl::fromLocalFile(outside).toString());
    EXPECT_FALSE(bool(requests.last().publish));
    EXPECT_EQ(requests.last().session, model.externalSession());
    EXPECT_EQ(shownTitle(), "notes.md");
}

TEST_F(PaneTest, TheOutlineFlagFollowsTheOverrideAndTheLastDraft)
{
    model.selectPiece("ten");
    EXPECT_EQ(pane->editorContent().which, Case::openPiece);
    EXPECT_TRUE(pane->editorContent().outline);
    model.setProseOverridePostID(u"ten"_s);
    EXPECT_FALSE(PostsEditorContent::of(model).outline);

    model.setProseOverridePostID(std::nullopt);

    // Right after an outline draft is saved, before a rescan lists it, the
    // model's last draft says it is an outline.
    model.newOutlineDraft();
    model.setDraftText(u"- first\n- second\n"_s);
    model.saveDraft();
    ASSERT_EQ(pane->editorContent().which, Case::openPiece) << model.lastError().value_or("").toStdString();
    EXPECT_TRUE(pane->editorContent().outline);
}

TEST_F(PaneTest, TheEmptyStatesFollowTheOutlineGuard)
{
    model.selectPiece("harbour");
    model.setOutlineGuardPieceID(u"ten"_s);
    // The held outline's state only when no editor applies.
    EXPECT_EQ(pane->editorContent().which, Case::openPiece);
    model.archivePiece(post("harbour"));
    EXPECT_EQ(pane->editorContent().which, Case::heldOutline);
    ASSERT_NE(pane->emptyStateMessage(), nullptr);
    EXPECT_EQ(pane->emptyStateMessage()->text(), "This outline has lines the outliner can't show.");
    model.setOutlineGuardPieceID(std::nullopt);
    EXPECT_EQ(pane->editorContent().which, Case::nothingOpen);
}

TEST_F(PaneTest, ThePublishActionBringsUpTheSheetOnce)
{
    model.selectPiece("harbour");
    ASSERT_TRUE(bool(requests.last().publish));
    EXPECT_FALSE(pane->showingPublish());
    requests.last().publish();
    ASSERT_TRUE(pane->showingPublish());
    QDialog *sheet = pane->publishSheet();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    requests.last().publish();
    EXPECT_EQ(pane->publishSheet(), sheet);
    sheet->reject();
    QApplication::processEvents();
    EXPECT_FALSE(pane->showingPublish());
}

TEST_F(PaneTest, TheErrorLineShowsTheModelsLastError)
{
    model.selectPiece("harbour");
    EXPECT_FALSE(pane->errorLine()->isVisibleTo(pane.get()));
    // A refused write: the open piece cannot be flushed.
    model.session()->textDidChange("# Harbour Lights\n\nTyped.\n");
    QFile::remove(postFile("Essays", "harbour"));
    QDir().mkpath(postFile("Essays", "harbour"));
    model.archivePiece(post("harbour"));
    ASSERT_TRUE(model.lastError().has_value());
    EXPECT_TRUE(pane->errorLine()->isVisibleTo(pane.get()));
    EXPECT_EQ(pane->errorLine()->text(), *model.lastError());
    EXPECT_EQ(pane->errorLine()->palette().color(QPalette::WindowText), QColor(201, 100, 66));
    // It stays under the editor while the writer goes on.
    EXPECT_NE(pane->editor(), nullptr);
    testsupport::saveScreenshot(*pane, "posts-pane-error", QSize(1100, 700));
    model.setLastError(std::nullopt);
    EXPECT_FALSE(pane->errorLine()->isVisibleTo(pane.get()));
}

// A write the library refused because the disk changed underneath is
// reported beneath the editor until the conflict is answered, by either
// answer, and not a moment longer; focus mode in between changes nothing.
TEST_F(PaneTest, TheConflictsErrorGoesWithTheConflict)
{
    model.selectPiece("harbour");
    const QString file = postFile("Essays", "harbour");
    int round = 0;
    for (const bool keepLocal : {true, false, true}) {
        SCOPED_TRACE(round);
        const QString typed = u"Typed %1."_s.arg(round);
        model.session()->textDidChange(u"# Harbour Lights\n\n"_s + typed + u"\n"_s);
        QString disk = QString::fromUtf8(testsupport::readFile(file));
        disk.replace(disk.indexOf(u"\n\n"_s) + 2, disk.size(), u"Theirs %1.\n"_s.arg(round++));
        testsupport::writeFile(file, disk.toUtf8());
        EXPECT_FALSE(model.flushAll());
        ASSERT_TRUE(model.session()->conflictAlert());
        ASSERT_TRUE(model.lastError().has_value());
        EXPECT_TRUE(pane->errorLine()->isVisibleTo(pane.get()));
        pane->setFocusMode(round == 2);
        EXPECT_TRUE(pane->errorLine()->isVisibleTo(pane.get()));
        if (keepLocal)
            model.session()->keepLocal();
        else
            model.session()->reloadFromDisk();
        EXPECT_FALSE(model.session()->conflictAlert());
        EXPECT_EQ(model.lastError(), std::nullopt);
        EXPECT_FALSE(pane->errorLine()->isVisibleTo(pane.get()));
        EXPECT_EQ(model.session()->text().contains(typed), keepLocal);
    }
    // An error with no conflict standing is left alone by a conflict that
    // comes and goes without one.
    model.setLastError(u"Something else."_s);
    model.session()->diskDidChange(u"# Harbour Lights\n\nElsewhere.\n"_s);
    ASSERT_TRUE(model.session()->conflictAlert());
    model.session()->keepLocal();
    EXPECT_EQ(model.lastError(), u"Something else."_s);
}

TEST_F(PaneTest, NarrowLayoutsScreenshots)
{
    model.selectPiece("plans");
    pane->setAvailableWidth(900);
    testsupport::saveScreenshot(*pane, "posts-pane-medium", QSize(900, 700));
    pane->setAvailableWidth(700);
    testsupport::saveScreenshot(*pane, "posts-pane-narrow", QSize(700, 700));
    EXPECT_EQ(pane->libraryColumn(), nullptr);
    EXPECT_EQ(pane->mentorPlace(), nullptr);
}

} // namespace
