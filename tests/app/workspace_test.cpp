// The workspace over the real root state and library model: the rail, the
// panes' places, the focus panel, the library task keyed by the Home, the
// guarded Home change, drops, the settings model, and the four sheets on
// their own and as the library model raises them.

#include "app/mainwindow.h"
#include "app/panemounts.h"
#include "app/state/appgatestate.h"
#include "app/workspacesheets.h"
#include "app/workspaceview.h"
#include "editor/prose/prosedocumentlayout.h"
#include "editor/prose/views/posteditorview.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "engine/mentorsessionmodel.h"
#include "focus/writinglockstate.h"
#include "library/homelocation.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "panes/library/views/postspaneview.h"
#include "profiles/settingsmodel.h"

#include "fakehermesscenario.h"
#include "screenshot.h"
#include "testutil.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEnterEvent>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

namespace {

using app::AppGateState;
using app::WorkspaceView;
using library::Post;
using Pane = WorkspaceView::Pane;
namespace PostStore = library::PostStore;
namespace Layout = app::WorkspaceLayout;
using testsupport::spinUntil;

// --- Rules --------------------------------------------------------------------------

TEST(WorkspaceRules, WidthsOfThePostsPaneAndTheFocusPanel)
{
    EXPECT_EQ(Layout::availableWidth(1000), 944);
    struct Case {
        int width;
        bool focused;
        bool locked;
        std::optional<int> panel;
    };
    const Case cases[] = {
        {1099, true, false, 57},          {1100, true, false, 289},           {1400, true, false, 289},
        {1100, true, true, std::nullopt}, {1100, false, false, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Layout::focusPanelWidth(c.width, c.focused, c.locked), c.panel) << c.width << c.focused << c.locked;
    EXPECT_FALSE(Layout::focusPanelShowsLibrary(1099));
    EXPECT_TRUE(Layout::focusPanelShowsLibrary(1100));

    using V = app::EngineStatusSurface::Visibility;
    EXPECT_TRUE(Layout::cardShown(V::failed, true, false));
    EXPECT_FALSE(Layout::cardShown(V::failed, true, true));
    EXPECT_FALSE(Layout::cardShown(V::failed, false, false));
    EXPECT_FALSE(Layout::cardShown(V::pulsing, true, false));

    EXPECT_EQ(Layout::homeNotChangedInformative(QString("“Walk” has unsaved changes — tend to it first.")),
              "“Walk” has unsaved changes — tend to it first.");
    EXPECT_EQ(Layout::homeNotChangedInformative(std::nullopt),
              "An open piece could not be saved. Tend to it, then choose the folder again.");
    EXPECT_EQ(Layout::homeNotChangedInformative(QString()),
              "An open piece could not be saved. Tend to it, then choose the folder again.");
    EXPECT_STREQ(Layout::homeNotChangedMessage, "Home not changed — a piece needs you first");
    EXPECT_STREQ(Layout::homeNotChangedButton, "Back to Pennora");
}

// --- The workspace -----------------------------------------------------------------

class Workspace : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home);
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("pennoraHome", library::HomeLocation::settingsText(home));
        gate.settleHome(settings);
        view = std::make_unique<WorkspaceView>(gate);
        view->runAlert = [this](const QString &message, const QString &, const QString &) { alerts << message; };
        view->resize(1100, 720);
        view->show();
        ASSERT_TRUE(spinUntil([&] { return gate.posts().watchedHome() == home; }));
    }
    void TearDown() override
    {
        view.reset();
        gate.posts().settleBackgroundWork();
    }

    Post piece(const QString &title, const QString &project = "Essays")
    {
        Post made = PostStore::createPiece("# " + title + "\n\nText.\n", project, Post::ContentType::post,
                                           Post::Origin::writer, home);
        QCoro::waitFor(gate.posts().rescan());
        return made;
    }
    QString sheetTitle() const
    {
        QDialog *sheet = view->presentedSheet();
        return sheet ? sheet->findChild<QLabel *>("title")->text() : QString("<none>");
    }

    QTemporaryDir dir;
    QString home = dir.filePath("Home");
    AppGateState gate;
    std::unique_ptr<WorkspaceView> view;
    QStringList alerts;
};

TEST_F(Workspace, TheRailInOrderWithTooltipsAndSelection)
{
    QStringList order;
    QList<int> tops;
    for (const WorkspaceView::RailEntry &entry : WorkspaceView::railEntries()) {
        app::RailButton *button = view->railButton(entry.pane);
        order << button->toolTip();
        tops << button->mapTo(view->rail(), QPoint()).y();
        EXPECT_EQ(button->accessibleName(), entry.label);
    }
    EXPECT_EQ(order, (QStringList{"Posts", "Sessions", "Learnings", "Trends", "Archive", "Settings"}));
    EXPECT_TRUE(std::is_sorted(tops.begin(), tops.end()));
    // Trends at the top, archive and settings at the bottom.
    EXPECT_LT(tops.at(3), 300);
    EXPECT_GT(tops.at(4), 600);
    EXPECT_EQ(view->rail()->width(), 56);

    EXPECT_EQ(WorkspaceView::symbolWeight(QFont::Light, true), QFont::Normal);
    EXPECT_EQ(WorkspaceView::symbolWeight(QFont::Normal, true), QFont::Medium);
    EXPECT_EQ(WorkspaceView::symbolWeight(QFont::Light, false), QFont::Light);

    EXPECT_EQ(view->selection(), Pane::posts);
    EXPECT_TRUE(view->railButton(Pane::posts)->isSelected());
    EXPECT_EQ(view->paneContent()->objectName(), "placeholder:Posts");
    testsupport::saveScreenshot(*view, "workspace-rail", QSize(1100, 720));

    // The pointer over a button gives it the hover look.
    app::RailButton *trends = view->railButton(Pane::trends);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(trends, &enter);
    EXPECT_TRUE(trends->isHovered());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(trends, &leave);
    EXPECT_FALSE(trends->isHovered());

    // Changing the pane puts the Dedu Duvodo arm bar away.
    gate.writingLock().setShowsArmBar(true);
    view->railButton(Pane::learnings)->click();
    EXPECT_EQ(view->selection(), Pane::learnings);
    EXPECT_FALSE(view->railButton(Pane::posts)->isSelected());
    EXPECT_TRUE(view->railButton(Pane::learnings)->isSelected());
    EXPECT_EQ(view->paneContent()->objectName(), "placeholder:Learnings");
    EXPECT_FALSE(gate.writingLock().showsArmBar());

    // A mounted factory replaces the placeholder of the pane shown.
    int built = 0;
    view->setPaneFactory(Pane::learnings, [&](WorkspaceView &workspace) {
        ++built;
        EXPECT_EQ(&workspace.gate(), &gate);
        auto *pane = new QWidget;
        pane->setObjectName("learnings pane");
        return pane;
    });
    EXPECT_EQ(view->paneContent()->objectName(), "learnings pane");
    view->railButton(Pane::learnings)->click(); // the same pane: nothing is rebuilt
    EXPECT_EQ(built, 1);
}

TEST_F(Workspace, AvailableWidthAndTheFocusPanel)
{
    QSignalSpy widths(view.get(), &WorkspaceView::availableWidthChanged);
    view->resize(1000, 720);
    EXPECT_EQ(view->availableWidth(), 944);
    ASSERT_FALSE(widths.isEmpty());
    EXPECT_EQ(widths.last().at(0).toInt(), 944);
    EXPECT_EQ(view->focusPanel(), nullptr);

    gate.setIsFocused(true);
    EXPECT_EQ(view->availableWidth(), 944);
    EXPECT_FALSE(view->rail()->isVisibleTo(view.get()) && view->rail()->parentWidget()->parentWidget() == view.get());
    ASSERT_NE(view->focusPanel(), nullptr);
    EXPECT_TRUE(view->focusPanel()->isAncestorOf(view->rail()));
    EXPECT_EQ(view->focusPanel()->findChild<QWidget *>("placeholder:PostsLibraryColumn"), nullptr);

    view->resize(1099, 720);
    EXPECT_EQ(view->focusPanel()->findChild<QWidget *>("placeholder:PostsLibraryColumn"), nullptr);
    view->resize(1100, 720);
    QWidget *column = view->focusPanel()->findChild<QWidget *>("placeholder:PostsLibraryColumn");
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->width(), 232);
    // Hidden, the panel is a thin zone on the edge; the pointer reveals it.
    EXPECT_LT(view->focusPanel()->width(), 10);
    QEnterEvent enter(QPointF(2, 300), QPointF(2, 300), QPointF(2, 300));
    QApplication::sendEvent(view->focusPanel(), &enter);
    EXPECT_EQ(view->focusPanel()->width(), 289);
    EXPECT_TRUE(view->rail()->isVisible());
    testsupport::saveScreenshot(*view, "workspace-focus-panel", QSize(1100, 720));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view->focusPanel(), &leave);
    ASSERT_TRUE(spinUntil([&] { return view->focusPanel()->width() < 10; }, 2000));

    // The panel holds its width once revealed: 289 wide, 57 narrow.
    int panelWidth = 0;
    view->setFocusPanelFactory([&](WorkspaceView &, QWidget *content, int width) {
        panelWidth = width;
        return content;
    });
    view->resize(1099, 720);
    EXPECT_EQ(panelWidth, 57);
    view->resize(1100, 720);
    EXPECT_EQ(panelWidth, 289);

    // While the lock holds there is no panel, so no rail to reach.
    gate.writingLock().arm(focus::WritingGoal{focus::WritingGoal::Kind::words, 50}, "", QDateTime::currentDateTime(),
                           false);
    ASSERT_TRUE(gate.writingLock().isLocked());
    EXPECT_EQ(view->focusPanel(), nullptr);
    EXPECT_FALSE(view->rail()->isVisible());

    gate.setIsFocused(false);
    EXPECT_EQ(view->focusPanel(), nullptr);
    EXPECT_TRUE(view->rail()->isVisible());
    EXPECT_EQ(view->rail()->mapTo(view.get(), QPoint()), QPoint(0, 0));
}

TEST_F(Workspace, TheLibraryTaskRunsOnceForEachHomeShown)
{
    EXPECT_EQ(view->libraryTaskRuns(), 1);
    EXPECT_EQ(gate.posts().watchedHome(), home);

    const QString other = dir.filePath("Other");
    QDir().mkpath(other);
    PostStore::createPiece("# Elsewhere\n", "Notes", Post::ContentType::post, Post::Origin::writer, other);
    EXPECT_TRUE(view->setHome(other));
    EXPECT_EQ(view->home(), other);
    EXPECT_EQ(view->libraryTaskRuns(), 2);
    EXPECT_EQ(gate.posts().watchedHome(), other);
    // The scan it started, never awaited, lands by itself.
    ASSERT_TRUE(spinUntil([&] { return gate.posts().posts().size() == 1; }));

    // The same folder again changes no key.
    EXPECT_TRUE(view->setHome(other + "/"));
    EXPECT_EQ(view->libraryTaskRuns(), 2);
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(Workspace, ARefusedHomeChangeKeepsTheHomeAndShowsNoAlertInATestRun)
{
    const Post walk = piece("Walk");
    gate.posts().openPiece(walk.id);
    gate.posts().session()->textDidChange("# Walk\n\nTyped.\n");
    const QString postFile = *PostStore::folderPath(walk.id, home) + "/post.md";
    ASSERT_TRUE(QFile::remove(postFile));
    ASSERT_TRUE(QDir().mkpath(postFile));

    EXPECT_FALSE(view->setHome(dir.filePath("Other")));
    EXPECT_EQ(view->home(), home);
    EXPECT_EQ(view->libraryTaskRuns(), 1);
    ASSERT_TRUE(library::HomeLocation::isRunningTests());
    EXPECT_TRUE(alerts.isEmpty());
    // What the alert would say: the library's own message.
    ASSERT_TRUE(gate.posts().lastError());
    EXPECT_EQ(Layout::homeNotChangedInformative(gate.posts().lastError()), *gate.posts().lastError());
    QDir(postFile).removeRecursively();
}

TEST_F(Workspace, DropsOpenMarkdownAndBringThePostsPaneForwardUnlessLocked)
{
    const QUrl first = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("out/a.md"), "# A\n"));
    const QUrl second = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("out/b.md"), "# B\n"));
    view->select(Pane::trends);
    EXPECT_TRUE(view->handleDrop({first, second}));
    EXPECT_EQ(view->selection(), Pane::posts);
    ASSERT_NE(gate.posts().externalSession(), nullptr);

    view->select(Pane::trends);
    gate.writingLock().arm(focus::WritingGoal{focus::WritingGoal::Kind::words, 50}, "", QDateTime::currentDateTime(),
                           false);
    EXPECT_FALSE(view->handleDrop({second}));
    EXPECT_EQ(view->selection(), Pane::trends);
}

TEST_F(Workspace, OpeningAnythingBringsThePostsPaneForward)
{
    const Post walk = piece("Walk");
    const Post swim = piece("Swim");
    // A draft.
    view->select(Pane::archive);
    gate.posts().newPostDraft();
    EXPECT_EQ(view->selection(), Pane::posts);
    gate.posts().saveDraft();

    // A piece opened while a session is open.
    gate.posts().openPiece(walk.id);
    view->select(Pane::sessions);
    gate.posts().openPiece(swim.id);
    EXPECT_EQ(view->selection(), Pane::posts);

    // An outside file.
    view->select(Pane::settings);
    gate.posts().openExternalFile(QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("x.md"), "# X\n")));
    EXPECT_EQ(view->selection(), Pane::posts);
}

TEST_F(Workspace, TheSettingsPaneGetsAFreshModelWhoseChatWritesRestartTheChatEngine)
{
    EXPECT_EQ(view->settingsModel(), nullptr);
    view->select(Pane::settings);
    const std::shared_ptr<profiles::SettingsModel> first = view->settingsModel();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->onChatSurfaceWrite);
    view->select(Pane::posts);
    EXPECT_EQ(view->settingsModel(), nullptr);
    view->select(Pane::settings);
    EXPECT_NE(view->settingsModel(), first);

    // A chat engine on the stand-in, ready: a chat write restarts it.
    QJsonObject initialize{{"result", QJsonObject{{"agentInfo", QJsonObject{{"version", "0.5.1"}}}}}};
    testsupport::FakeHermesScenario fake(QJsonObject{
        {"acp", QJsonObject{{"answers", QJsonObject{{"initialize", initialize},
                                                    {"session/new",
                                                     QJsonObject{{"result", QJsonObject{{"sessionId", "s-1"}}}}}}}}}});
    gate.mentor().setBinaryPath(testsupport::fakeHermesBinary());
    QCoro::waitFor(gate.mentor().start());
    ASSERT_EQ(gate.mentor().phase().which(), engine::MentorSessionModel::Phase::Case::ready)
        << gate.mentor().stderrTail().join("\n").toStdString();
    QStringList phases;
    QObject::connect(&gate.mentor(), &engine::MentorSessionModel::phaseChanged, view.get(),
                     [&] { phases << QString::number(int(gate.mentor().phase().which())); });
    view->settingsModel()->onChatSurfaceWrite();
    ASSERT_TRUE(spinUntil([&] { return fake.events("run").size() == 2; }));
    ASSERT_TRUE(
        spinUntil([&] { return gate.mentor().phase().which() == engine::MentorSessionModel::Phase::Case::ready; }));
    EXPECT_TRUE(phases.contains(QString::number(int(engine::MentorSessionModel::Phase::Case::starting))));
    gate.mentor().shutdown();
}

TEST_F(Workspace, TheMainWindowShowsTheWorkspace)
{
    app::MainWindow window(gate);
    auto *content = qobject_cast<app::ContentView *>(window.centralWidget());
    ASSERT_NE(content, nullptr);
    ASSERT_NE(content->workspace(), nullptr);
    EXPECT_EQ(&content->workspace()->gate(), &gate);
}

// --- The real panes ------------------------------------------------------------------

// The workspace as the application mounts it, its window active, with a piece
// open in the prose editor.
class MountedWorkspace : public Workspace {
protected:
    void SetUp() override
    {
        Workspace::SetUp();
        view = std::make_unique<WorkspaceView>(gate, &app::mountPanes);
        view->resize(1100, 720);
        view->show();
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }
    editor::PostEditorView *editorView() const
    {
        auto *pane = qobject_cast<panes::PostsPaneView *>(view->paneContent());
        return pane ? qobject_cast<editor::PostEditorView *>(pane->editor()) : nullptr;
    }
    editor::ProseListTextView *textView() const
    {
        editor::PostEditorView *editor = editorView();
        return editor ? editor->proseTextView()->textView() : nullptr;
    }
    // Opens a piece and waits until its editor is on screen with the keyboard.
    QString openPiece(const QString &title, const QString &body)
    {
        const Post made = PostStore::createPiece("# " + title + "\n\n" + body, "Essays", Post::ContentType::post,
                                                 Post::Origin::writer, home);
        QCoro::waitFor(gate.posts().rescan());
        gate.posts().selectPiece(made.id);
        EXPECT_TRUE(spinUntil([&] { return textView() && QApplication::focusWidget() == textView(); }));
        return *PostStore::folderPath(made.id, home) + "/post.md";
    }
    // Keys go where the keyboard is, as the writer's do.
    static void typeHere(const QString &text) { QTest::keyClicks(QApplication::focusWidget(), text); }
    void saved()
    {
        ASSERT_TRUE(spinUntil([&] { return !gate.posts().session()->autosavePending(); }));
        ASSERT_EQ(gate.posts().session()->saveState(), model::SaveState::saved);
    }
    // Where the title's first line stands in the window.
    int titleTop() const
    {
        editor::ProseListTextView *text = textView();
        const QTextBlock title = text->document()->firstBlock();
        const double top = editorView()->proseTextView()->documentLayout()->blockBoundingRect(title).top()
                           - text->verticalScrollBar()->value();
        return text->viewport()->mapTo(view.get(), QPoint(0, int(top))).y();
    }
};

// Switching the rail away and back and going in and out of focus mode move
// the open piece's editor, never rebuild it: what was typed before stays on
// disk and in the editor, the keyboard comes back to the text, the next
// letter lands after it, and every step can still be undone.
TEST_F(MountedWorkspace, TheEditorOfTheOpenPieceIsKeptThroughRailSwitchesAndFocusMode)
{
    const QString postFile = openPiece("Walk", "Text.\n");
    editor::PostEditorView *editor = editorView();
    QTextCursor end = textView()->textCursor();
    end.movePosition(QTextCursor::End);
    textView()->setTextCursor(end);
    typeHere("We walked far.");
    saved();
    ASSERT_TRUE(testsupport::readFile(postFile).endsWith("# Walk\n\nText.\nWe walked far."));

    const std::function<void()> moves[] = {
        [&] { view->select(Pane::trends); }, [&] { view->select(Pane::posts); }, [&] { view->select(Pane::settings); },
        [&] { view->select(Pane::posts); },  [&] { gate.setIsFocused(true); },   [&] { gate.setIsFocused(false); },
    };
    int step = 0;
    for (const auto &move : moves) {
        SCOPED_TRACE(step++);
        move();
        if (view->selection() != Pane::posts)
            continue;
        ASSERT_EQ(editorView(), editor);
        ASSERT_TRUE(spinUntil([&] { return editor->isVisible(); }));
        EXPECT_EQ(textView()->rawText(), "# Walk\n\nText.\nWe walked far.");
        ASSERT_TRUE(spinUntil([&] { return QApplication::focusWidget() == textView(); }));
        EXPECT_EQ(editor->saveStateDot()->look().label, "Saved");
        if (gate.isFocused())
            testsupport::saveScreenshot(*view, "workspace-editor-focus-mode");
    }
    typeHere("x");
    saved();
    EXPECT_TRUE(testsupport::readFile(postFile).endsWith("# Walk\n\nText.\nWe walked far.x"));

    // The whole history is still there.
    QTextDocument *document = textView()->document();
    while (document->isUndoAvailable())
        document->undo();
    EXPECT_EQ(textView()->rawText(), "# Walk\n\nText.\n");
    EXPECT_EQ(gate.posts().session()->text(), "# Walk\n\nText.\n");
}

// A draft's editor is kept the same way, with what was typed into it.
TEST_F(MountedWorkspace, ADraftsEditorIsKeptThroughARailSwitch)
{
    gate.posts().newPostDraft();
    ASSERT_TRUE(spinUntil([&] { return textView() && textView()->isVisible(); }));
    textView()->setFocus(); // the writer clicks into it
    editor::PostEditorView *editor = editorView();
    QTextCursor end = textView()->textCursor();
    end.movePosition(QTextCursor::End);
    textView()->setTextCursor(end);
    typeHere("Fresh start.");
    view->select(Pane::learnings);
    view->select(Pane::posts);
    ASSERT_EQ(editorView(), editor);
    ASSERT_TRUE(spinUntil([&] { return QApplication::focusWidget() == textView(); }));
    typeHere(" Again.");
    EXPECT_TRUE(gate.posts().draft()->text.endsWith("Fresh start. Again."));
    EXPECT_TRUE(textView()->document()->isUndoAvailable());
}

// A conflict that arises while another pane is shown is asked about when the
// writer is back at the text, not over the pane they are in.
TEST_F(MountedWorkspace, AConflictWhileAwayIsAskedAboutOnReturn)
{
    const QString postFile = openPiece("Walk", "Text.\n");
    editor::PostEditorView *editor = editorView();
    QTextCursor end = textView()->textCursor();
    end.movePosition(QTextCursor::End);
    textView()->setTextCursor(end);
    typeHere("Mine");
    view->select(Pane::trends);
    QByteArray disk = testsupport::readFile(postFile);
    testsupport::writeFile(postFile, disk.replace("Text.", "Theirs."));
    EXPECT_FALSE(gate.posts().flushAll());
    ASSERT_TRUE(gate.posts().session()->conflictAlert());
    testsupport::drainPosted();
    EXPECT_EQ(editor->conflictAlert(), nullptr);

    view->select(Pane::posts);
    ASSERT_EQ(editorView(), editor);
    ASSERT_TRUE(spinUntil([&] { return editor->conflictAlert() && editor->conflictAlert()->isVisible(); }));
    auto *pane = qobject_cast<panes::PostsPaneView *>(view->paneContent());
    EXPECT_TRUE(pane->errorLine()->isVisible());
    testsupport::saveScreenshot(*view, "workspace-editor-conflict-on-return");
    QTest::mouseClick(editor->conflictAlert()->keepLocalButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !editor->conflictAlert(); }));
    // The line saying a write waits for the answer goes with the question.
    EXPECT_FALSE(pane->errorLine()->isVisible());
    EXPECT_EQ(gate.posts().lastError(), std::nullopt);
    EXPECT_TRUE(gate.posts().flushAll());
    EXPECT_TRUE(testsupport::readFile(postFile).endsWith("# Walk\n\nText.\nMine"));
}

// Focus mode comes on wherever the pointer rests: the mentor's panel waits
// for the pointer to reach the trailing edge.
TEST_F(MountedWorkspace, FocusModeShowsNoMentorWhereThePointerRests)
{
    openPiece("Walk", "Text.\n");
    for (const QPoint at : {QPoint(8, 8), QPoint(90, 20), QPoint(600, 300)}) {
        QCursor::setPos(view->mapToGlobal(at));
        gate.setIsFocused(true);
        QApplication::processEvents();
        auto *pane = qobject_cast<panes::PostsPaneView *>(view->paneContent());
        ASSERT_NE(pane->mentorPlace(), nullptr);
        EXPECT_FALSE(pane->mentorPlace()->isVisible()) << at.x() << "," << at.y();
        gate.setIsFocused(false);
    }
}

// The title stands where the first paint put it, near the top: typing does
// not move it, a resize does not, and focus mode only takes the header away.
TEST_F(MountedWorkspace, TheTitleStaysNearTheTopFromTheFirstPaint)
{
    openPiece("Harbour Lights", "The ferry comes in at six, and the whole quay leans toward it.\n");
    const int opened = titleTop();
    testsupport::saveScreenshot(*view, "workspace-editor-opened");
    EXPECT_LT(opened, view->height() / 4);
    QTextCursor end = textView()->textCursor();
    end.movePosition(QTextCursor::End);
    textView()->setTextCursor(end);
    typeHere("Gulls.");
    QTest::qWait(300); // any glide has ended
    EXPECT_EQ(titleTop(), opened);
    testsupport::saveScreenshot(*view, "workspace-editor-typed");
    view->resize(900, 480);
    QApplication::processEvents();
    EXPECT_EQ(titleTop(), opened);
    testsupport::saveScreenshot(*view, "workspace-editor-resized");
    view->resize(1300, 900);
    QApplication::processEvents();
    EXPECT_EQ(titleTop(), opened);
}

// --- The sheets on their own ---------------------------------------------------------

TEST(WorkspaceSheets, OriginAskTextsDefaultAndKeys)
{
    EXPECT_EQ(app::OriginAskSheet::countText(1), "Importing 1 file as a Post — the original is untouched.");
    EXPECT_EQ(app::OriginAskSheet::countText(2), "Importing 2 files as Posts — the originals are untouched.");
    EXPECT_EQ(app::OriginAskSheet::countText(0), "Importing 0 files as Posts — the originals are untouched.");

    QList<Post::Origin> answers;
    app::OriginAskSheet sheet(2, [&](Post::Origin origin) { answers << origin; });
    sheet.open();
    EXPECT_EQ(sheet.origin(), Post::Origin::writer);
    EXPECT_TRUE(sheet.findChild<QRadioButton *>("I wrote it (writer)")->isChecked());
    EXPECT_EQ(sheet.explanatoryTexts().at(1), "Origin is stamped once and never asked again — it decides whether the "
                                              "draft's stats can measure you.");
    EXPECT_EQ(sheet.width(), 380);
    testsupport::saveScreenshot(sheet, "sheet-origin");
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_EQ(answers, QList<Post::Origin>{Post::Origin::writer});
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_FALSE(sheet.isVisible());

    app::OriginAskSheet cancelled(1, [&](Post::Origin origin) { answers << origin; });
    cancelled.open();
    cancelled.findChild<QRadioButton *>("AI-assisted (ai)")->click();
    QTest::keyClick(&cancelled, Qt::Key_Escape);
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(answers.size(), 1);
}

TEST(WorkspaceSheets, NewProjectTrimsRefusesBlanksAndKeepsAFailure)
{
    QStringList asked;
    std::optional<QString> answer = QString("No library is open yet — nothing was changed.");
    app::NewProjectSheet sheet([&](const QString &name) {
        asked << name;
        return answer;
    });
    sheet.open();
    EXPECT_EQ(sheet.width(), 360);
    QPushButton *create = sheet.button("Create");
    EXPECT_FALSE(create->isEnabled());
    QTest::keyClicks(sheet.nameField(), "  \t ");
    EXPECT_FALSE(create->isEnabled());
    QTest::keyClick(sheet.nameField(), Qt::Key_Return);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(sheet.isVisible());

    sheet.nameField()->setText("  Field Notes \n");
    EXPECT_TRUE(create->isEnabled());
    QTest::keyClick(sheet.nameField(), Qt::Key_Return);
    EXPECT_EQ(asked, QStringList{"Field Notes"});
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.failure(), answer);
    EXPECT_EQ(sheet.findChild<QLabel *>("failure")->text(), *answer);
    EXPECT_EQ(sheet.nameField()->text(), "  Field Notes \n");
    testsupport::saveScreenshot(sheet, "sheet-new-project-failed");

    // Typing keeps the message; a successful create closes the sheet.
    sheet.nameField()->setText("Notes");
    EXPECT_EQ(sheet.failure(), answer);
    answer = std::nullopt;
    create->click();
    EXPECT_EQ(asked.last(), "Notes");
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_FALSE(sheet.isVisible());
}

TEST(WorkspaceSheets, OutlineGuardAndConvertDefaultToTheAnswerThatLosesNothing)
{
    QStringList calls;
    app::OutlineGuardSheet guard([&] { calls << "prose"; }, [&] { calls << "outline"; });
    guard.open();
    EXPECT_EQ(guard.width(), 420);
    EXPECT_EQ(guard.explanatoryTexts().size(), 2);
    testsupport::saveScreenshot(guard, "sheet-outline-guard");
    QTest::keyClick(&guard, Qt::Key_Return);
    guard.button("Open as Outline")->click();
    EXPECT_EQ(calls, (QStringList{"prose", "outline"}));
    // The answers leave closing to the workspace.
    EXPECT_TRUE(guard.isVisible());
    QTest::keyClick(&guard, Qt::Key_Escape);
    EXPECT_FALSE(guard.isVisible());
    EXPECT_EQ(calls.size(), 2);

    QList<bool> converted;
    app::ConvertSheet lossy(true, [&](bool headings) { converted << headings; });
    app::ConvertSheet plain(false, [&](bool headings) { converted << headings; });
    EXPECT_EQ(lossy.explanatoryTexts().size(), 3);
    EXPECT_EQ(lossy.explanatoryTexts().at(1), "This outline has paragraph lines between its bullets. The headings "
                                              "ladder drops them; verbatim keeps every line.");
    EXPECT_EQ(plain.explanatoryTexts().size(), 2);
    lossy.open();
    EXPECT_EQ(lossy.width(), 440);
    testsupport::saveScreenshot(lossy, "sheet-convert-lossy");
    QTest::keyClick(&lossy, Qt::Key_Return);
    lossy.button("Headings")->click();
    EXPECT_EQ(converted, (QList<bool>{false, true}));
    EXPECT_TRUE(lossy.isVisible());
}

// --- The sheets as the library raises them --------------------------------------------

TEST_F(Workspace, OriginSheetImportsWithTheChosenOriginOrClearsThePendingFiles)
{
    const QUrl file = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("in/Walk.md"), "# Walk\n\nText.\n"));
    gate.posts().setPendingImportURLs(QList<QUrl>{file});
    ASSERT_NE(view->presentedSheet(), nullptr);
    EXPECT_EQ(sheetTitle(), "Who wrote this?");
    EXPECT_EQ(view->presentedSheet()->windowModality(), Qt::WindowModal);
    testsupport::saveScreenshot(*view->presentedSheet(), "workspace-sheet-origin");
    QTest::keyClick(view->presentedSheet(), Qt::Key_Escape);
    EXPECT_FALSE(gate.posts().pendingImportURLs());
    EXPECT_EQ(view->presentedSheet(), nullptr);

    gate.posts().setPendingImportURLs(QList<QUrl>{file});
    view->presentedSheet()->findChild<QRadioButton *>("AI-assisted (ai)")->click();
    static_cast<app::WorkspaceSheet *>(view->presentedSheet())->button("Import")->click();
    EXPECT_EQ(view->presentedSheet(), nullptr);
    ASSERT_TRUE(spinUntil([&] { return gate.posts().posts().size() == 1; }));
    EXPECT_EQ(gate.posts().posts().first().origin, Post::Origin::ai);
}

TEST_F(Workspace, NewProjectSheetCreatesTheProjectAndStartsADraftInIt)
{
    view->select(Pane::archive);
    gate.posts().setAskNewProject(true);
    auto *sheet = qobject_cast<app::NewProjectSheet *>(view->presentedSheet());
    ASSERT_NE(sheet, nullptr);
    // Refused by the library: the sheet stays up with its message, and no
    // draft is started.
    sheet->nameField()->setText("Notes/2026");
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_EQ(view->presentedSheet(), sheet);
    ASSERT_TRUE(sheet->failure());
    EXPECT_EQ(sheet->findChild<QLabel *>("failure")->text(), *sheet->failure());
    EXPECT_FALSE(gate.posts().draft());
    EXPECT_TRUE(gate.posts().askNewProject());
    EXPECT_FALSE(QFileInfo::exists(home + "/projects/Notes"));

    sheet->nameField()->setText(" Field Notes ");
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_TRUE(QFileInfo(home + "/projects/Field Notes").isDir());
    EXPECT_EQ(gate.posts().pendingProject(), "Field Notes");
    EXPECT_TRUE(gate.posts().draft());
    EXPECT_EQ(view->selection(), Pane::posts);
    ASSERT_TRUE(spinUntil([&] { return view->presentedSheet() == nullptr; }));
    EXPECT_FALSE(gate.posts().askNewProject());

    // Closed without a name: the question is put away.
    gate.posts().setAskNewProject(true);
    QTest::keyClick(view->presentedSheet(), Qt::Key_Escape);
    EXPECT_FALSE(gate.posts().askNewProject());
}

TEST_F(Workspace, OutlineGuardAndConvertSheetsAnswerThroughTheLibrary)
{
    const Post walk = piece("Walk");
    // Dismissed with no piece open: the guard and the selection go.
    gate.posts().setSelectedPostID(walk.id);
    gate.posts().setOutlineGuardPieceID(walk.id);
    EXPECT_EQ(sheetTitle(), "Open as outline or prose?");
    testsupport::saveScreenshot(*view->presentedSheet(), "workspace-sheet-outline-guard");
    QTest::keyClick(view->presentedSheet(), Qt::Key_Escape);
    EXPECT_FALSE(gate.posts().outlineGuardPieceID());
    EXPECT_FALSE(gate.posts().selectedPostID());

    // "Open in Prose" opens the piece with the prose override; the cleared
    // question takes the sheet down.
    gate.posts().setOutlineGuardPieceID(walk.id);
    view->select(Pane::trends);
    QTest::keyClick(view->presentedSheet(), Qt::Key_Return);
    EXPECT_FALSE(gate.posts().outlineGuardPieceID());
    EXPECT_EQ(gate.posts().proseOverridePostID(), walk.id);
    EXPECT_TRUE(gate.posts().isSessionOpen(walk.id));
    EXPECT_EQ(view->selection(), Pane::posts);
    EXPECT_EQ(view->presentedSheet(), nullptr);

    gate.posts().setPendingConversion(model::PendingConversion{walk.id, true});
    EXPECT_EQ(sheetTitle(), "Convert to Post");
    EXPECT_EQ(static_cast<app::WorkspaceSheet *>(view->presentedSheet())->explanatoryTexts().size(), 3);
    testsupport::saveScreenshot(*view->presentedSheet(), "workspace-sheet-convert");
    QTest::keyClick(view->presentedSheet(), Qt::Key_Escape);
    EXPECT_FALSE(gate.posts().pendingConversion());
}

} // namespace
