// The archive pane in the workspace's Archive place over the real root
// state: a click on a row opens the piece in the posts pane, while moving a
// piece back or renaming the open one opens it behind the archive.

#include "app/panemounts.h"
#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "library/homelocation.h"
#include "model/postsmodel.h"
#include "panes/library/views/archivepaneview.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/librarylistview.h"
#include "panes/library/views/librarysheets.h"

#include "testutil.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using app::WorkspaceView;
using Pane = WorkspaceView::Pane;
using testsupport::spinUntil;

class ArchiveMount : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const auto &[root, id] : {std::pair{"archive", "road"}, {"archive", "old"}, {"projects", "live"}})
            testsupport::writeFile(home + "/" + root + "/Essays/" + id + "/post.md",
                                   QByteArray("---\ntype: post\n---\n# ") + id + "\n\nWords.\n");
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("pennoraHome", library::HomeLocation::settingsText(home));
        gate.settleHome(settings);
        view = std::make_unique<WorkspaceView>(gate, &app::mountPanes);
        view->resize(1100, 720);
        view->show();
        ASSERT_TRUE(spinUntil([&] { return gate.posts().watchedHome() == home && gate.posts().posts().size() == 3; }));
        // A piece is open, so that opening another moves the selection while
        // a session is open: the case that brings the posts pane forward.
        gate.posts().selectPiece("live");
        view->select(Pane::archive);
    }
    void TearDown() override
    {
        view.reset();
        gate.posts().settleBackgroundWork();
    }
    panes::ArchivePaneView *pane() const { return qobject_cast<panes::ArchivePaneView *>(view->paneContent()); }
    library::Post post(const QString &id) const
    {
        for (const library::Post &p : gate.posts().posts()) {
            if (p.id == id)
                return p;
        }
        ADD_FAILURE() << "no piece " << id.toStdString();
        return {};
    }
    void choose(const QString &id, const QString &title)
    {
        QMenu host;
        for (QAction *action : pane()->rowMenu(post(id), &host)->actions()) {
            if (action->text() == title)
                return action->trigger();
        }
        ADD_FAILURE() << "no item " << title.toStdString();
    }

    QTemporaryDir dir;
    QString home = dir.filePath("Home");
    app::AppGateState gate;
    std::unique_ptr<WorkspaceView> view;
};

TEST_F(ArchiveMount, MovingBackAndRenamingOpenThePieceBehindTheArchive)
{
    const QPointer<panes::ArchivePaneView> shown = pane();
    ASSERT_NE(shown, nullptr);
    choose("road", "Move Back to Essays");
    EXPECT_EQ(gate.posts().lastError(), std::nullopt);
    EXPECT_EQ(gate.posts().selectedPostID(), "road");
    EXPECT_TRUE(gate.posts().isSessionOpen("road"));
    EXPECT_EQ(view->selection(), Pane::archive);
    EXPECT_EQ(pane(), shown.data());

    // Renaming the open archived piece gives it a new id behind the archive.
    gate.posts().selectPiece("old");
    view->select(Pane::archive);
    choose("old", "Rename…");
    panes::RenamePostSheet *sheet = pane()->renameSheet();
    ASSERT_NE(sheet, nullptr);
    sheet->titleField()->setText("Older");
    sheet->submit();
    EXPECT_EQ(gate.posts().selectedPostID(), "older");
    EXPECT_EQ(view->selection(), Pane::archive);

    // Opening a piece by a click on its row shows it in the posts pane.
    ASSERT_TRUE(spinUntil([&] { return pane()->itemModel()->rowOfPiece("older") >= 0; }));
    gate.posts().selectPiece("live");
    view->select(Pane::archive);
    const QPointer<panes::ArchivePaneView> before = pane();
    const QRect row =
        pane()->listView()->visualRect(pane()->itemModel()->index(pane()->itemModel()->rowOfPiece("older")));
    QTest::mouseClick(pane()->listView()->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_TRUE(spinUntil([&] { return view->selection() == Pane::posts; }));
    EXPECT_EQ(gate.posts().selectedPostID(), "older");
    EXPECT_TRUE(gate.posts().isSessionOpen("older"));
    EXPECT_TRUE(spinUntil([&] { return before.isNull(); }));
}

} // namespace
