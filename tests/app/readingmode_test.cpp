// The application's "Toggle Reading Mode" (Ctrl+R) flips the open piece to its
// rendered page and back, through the real window, workspace and web view
// (offscreen); the writing lock holds the command.
#include "app/mainwindow.h"
#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "editor/prose/reading/readingsurface.h"
#include "editor/prose/views/posteditorview.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "focus/writinglockstate.h"
#include "library/homelocation.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "panes/library/views/postspaneview.h"

#include "testutil.h"
#include "webtestenv.h"

#include <QAction>
#include <QApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>
#include <gtest/gtest.h>

namespace {

using app::AppGateState;
using library::Post;
namespace PostStore = library::PostStore;
using testsupport::spinUntil;

class ReadingMode : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("APEX_PATH", PENNORA_RENDER_BINARY);
        // The surface linked in; the application loads it as a module.
        editor::PostEditorView::setReadingViewFactory(
            [](QWidget *parent) { return new editor::ReadingSurface(parent); });
        QDir().mkpath(home);
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("pennoraHome", library::HomeLocation::settingsText(home));
        gate.settleHome(settings);
        window = std::make_unique<app::MainWindow>(gate);
        window->resize(1100, 720);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(spinUntil([&] { return gate.posts().watchedHome() == home; }));
        const Post made = PostStore::createPiece("# Walk\n\nFirst.\n\nSecond.\n", "Essays", Post::ContentType::post,
                                                 Post::Origin::writer, home);
        QCoro::waitFor(gate.posts().rescan());
        gate.posts().selectPiece(made.id);
        ASSERT_TRUE(spinUntil([&] { return editor() && editor()->proseTextView()->textView()->hasFocus(); }));
    }
    void TearDown() override
    {
        window.reset();
        gate.posts().settleBackgroundWork();
        qunsetenv("APEX_PATH");
    }
    editor::PostEditorView *editor() const
    {
        auto *content = qobject_cast<app::ContentView *>(window->centralWidget());
        auto *pane = content ? qobject_cast<panes::PostsPaneView *>(content->workspace()->paneContent()) : nullptr;
        return pane ? qobject_cast<editor::PostEditorView *>(pane->editor()) : nullptr;
    }
    QAction *toggle() const { return window->action("Toggle Reading Mode"); }
    static void ctrlR() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_R, Qt::ControlModifier); }

    QTemporaryDir dir;
    QString home = dir.filePath("Home");
    AppGateState gate;
    std::unique_ptr<app::MainWindow> window;
};

TEST_F(ReadingMode, TheMenuCommandAndCtrlRFlipTheOpenPiece)
{
    editor::PostEditorView *screen = editor();
    toggle()->trigger();
    ASSERT_TRUE(screen->isReading());
    editor::ReadingSurface *surface = static_cast<editor::ReadingSurface *>(screen->readingView());
    ASSERT_NE(surface, nullptr);
    QSignalSpy loaded(surface, &editor::ReadingSurface::pageLoaded);
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_FALSE(surface->rendererFailed());
    // The key reaches the command from the page, where the keyboard is now.
    ASSERT_TRUE(spinUntil([&] { return surface->isAncestorOf(QApplication::focusWidget()); }));
    ctrlR();
    ASSERT_TRUE(spinUntil([&] { return !screen->isReading(); }));
    EXPECT_TRUE(spinUntil([&] { return QApplication::focusWidget() == screen->proseTextView()->textView(); }));

    ctrlR();
    EXPECT_TRUE(screen->isReading());
    toggle()->trigger();
    EXPECT_FALSE(screen->isReading());
}

TEST_F(ReadingMode, TheWritingLockHoldsTheCommand)
{
    gate.armWritingLock({focus::WritingGoal::Kind::words, 100});
    ASSERT_FALSE(toggle()->isEnabled());
    editor()->proseTextView()->textView()->setFocus();
    ctrlR();
    toggle()->trigger();
    QTest::qWait(50);
    EXPECT_FALSE(editor()->isReading());
    EXPECT_EQ(editor()->readingView(), nullptr) << "the web engine did not start";
}

} // namespace
