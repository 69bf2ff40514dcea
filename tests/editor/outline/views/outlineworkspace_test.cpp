// The outline editor where the application puts it: in the editor screen of
// the posts pane for an outline piece. What is typed survives switching panes
// away and back and focus mode, and is on disk.

#include "app/panemounts.h"
#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "editor/outline/views/outlineeditorview.h"
#include "editor/prose/views/posteditorview.h"
#include "library/homelocation.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "panes/library/views/postspaneview.h"

#include "screenshot.h"
#include "testutil.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using app::WorkspaceView;
using editor::outline::OutlineEditorView;
using editor::outline::RowTextView;
using library::Post;
using Pane = WorkspaceView::Pane;
namespace PostStore = library::PostStore;
using testsupport::spinUntil;

class OutlineWorkspace : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home);
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("pennoraHome", library::HomeLocation::settingsText(home));
        gate.settleHome(settings);
        view = std::make_unique<WorkspaceView>(gate, &app::mountPanes);
        view->resize(1100, 720);
        view->show();
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        ASSERT_TRUE(spinUntil([&] { return gate.posts().watchedHome() == home; }));
    }
    void TearDown() override
    {
        view.reset();
        gate.posts().settleBackgroundWork();
    }
    editor::PostEditorView *screen() const
    {
        auto *pane = qobject_cast<panes::PostsPaneView *>(view->paneContent());
        return pane ? qobject_cast<editor::PostEditorView *>(pane->editor()) : nullptr;
    }
    OutlineEditorView *outline() const
    {
        editor::PostEditorView *editor = screen();
        return editor ? qobject_cast<OutlineEditorView *>(editor->outlineEditor()) : nullptr;
    }
    bool keyboardInRow(const QString &text) const
    {
        auto *row = qobject_cast<RowTextView *>(QApplication::focusWidget());
        return row && outline() && row == outline()->rowEditor() && row->rowText() == text;
    }
    void saved()
    {
        ASSERT_TRUE(spinUntil([&] { return !gate.posts().session()->autosavePending(); }));
        ASSERT_EQ(gate.posts().session()->saveState(), model::SaveState::saved);
    }

    QTemporaryDir dir;
    QString home = dir.filePath("Home");
    app::AppGateState gate;
    std::unique_ptr<WorkspaceView> view;
};

TEST_F(OutlineWorkspace, NoTypedWordIsLostThroughPaneSwitchesAndFocusMode)
{
    const Post made = PostStore::createPiece("# Trip\n\n- pack\n- go", "Essays", Post::ContentType::outline,
                                             Post::Origin::writer, home);
    QCoro::waitFor(gate.posts().rescan());
    gate.posts().selectPiece(made.id);
    ASSERT_TRUE(spinUntil([&] { return keyboardInRow("pack"); }));
    EXPECT_EQ(screen()->proseTextView(), nullptr);
    const QString file = *PostStore::folderPath(made.id, home) + "/post.md";

    QTest::keyClicks(QApplication::focusWidget(), " bags");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClicks(QApplication::focusWidget(), "lock up");
    saved();
    EXPECT_TRUE(testsupport::readFile(file).endsWith("# Trip\n\n- pack bags\n- lock up\n- go"));
    testsupport::saveScreenshot(*view, "outline-editor-workspace");

    OutlineEditorView *editor = outline();
    const std::function<void()> moves[] = {
        [&] { view->select(Pane::trends); },
        [&] { view->select(Pane::posts); },
        [&] { gate.setIsFocused(true); },
        [&] { gate.setIsFocused(false); },
    };
    int step = 0;
    for (const auto &move : moves) {
        SCOPED_TRACE(step++);
        move();
        if (view->selection() != Pane::posts)
            continue;
        ASSERT_TRUE(spinUntil([&] { return outline() && outline()->isVisible(); }));
        EXPECT_EQ(outline(), editor);
        EXPECT_EQ(outline()->state().outlineText(), "# Trip\n\n- pack bags\n- lock up\n- go");
    }
    // The keyboard comes back to a row, and the next words land there.
    ASSERT_TRUE(spinUntil([&] { return outline()->rowEditor() != nullptr; }));
    outline()->rowEditor()->setFocus();
    QTest::keyClicks(outline()->rowEditor(), "!");
    saved();
    EXPECT_TRUE(testsupport::readFile(file).endsWith("# Trip\n\n- pack bags\n- lock up!\n- go"));
}

// A new outline draft is edited in the outline editor; what is typed becomes
// the draft's text and is saved with it as a piece.
TEST_F(OutlineWorkspace, ANewOutlineDraftKeepsWhatIsTyped)
{
    gate.posts().newOutlineDraft();
    ASSERT_TRUE(spinUntil([&] { return outline() && outline()->rowEditor(); }));
    outline()->rowEditor()->setFocus();
    QTest::keyClicks(outline()->rowEditor(), "first thought");
    ASSERT_TRUE(gate.posts().draft().has_value());
    EXPECT_TRUE(gate.posts().draft()->text.contains("- first thought")) << gate.posts().draft()->text.toStdString();
    EXPECT_EQ(screen()->draftMirror(), gate.posts().draft()->text);
}

} // namespace
