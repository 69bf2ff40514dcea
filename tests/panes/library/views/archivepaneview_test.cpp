// The archive pane offscreen over the real library model: groups in natural
// order, folding, the rows' clicks, menus and rename sheet, moving pieces and
// whole projects back, the selection mark, refusals left to the model, and
// the empty state.

#include "panes/library/views/archivepaneview.h"

#include "fixturehome.h"
#include "menutexts.h"
#include "panes/library/views/archiveitemdelegate.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/librarylistview.h"
#include "panes/library/views/librarysheets.h"
#include "screenshot.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using library::Post;
using panes::ArchivePaneView;
using panes::LibraryColumnItem;
using panes::LibraryColumnModel;
using testsupport::menuAction;
using testsupport::menuTitles;
using testsupport::spinUntil;
using testsupport::writePiece;
using Kind = LibraryColumnItem::Kind;

// "PROJECT · n" for each header, "row:id" for each row.
QStringList shape(const LibraryColumnModel &model)
{
    QStringList out;
    for (const LibraryColumnItem &item : model.items()) {
        if (item.kind == Kind::groupHeader)
            out.append(panes::ArchivePaneState::headerName(item.project) + u' '
                       + panes::LibraryGroups::countText(item.count));
        else
            out.append(u"row:"_s + item.post.id);
    }
    return out;
}

// Three archived projects whose names sort differently by case and by
// number, an outline among them, a project with live pieces only, and one
// with both live and archived pieces.
class ArchiveTest : public testsupport::PostsHomeTest {
protected:
    void writeLibrary() override
    {
        writePiece(home, "archive", "Essays 10", "zeta", "Zeta");
        writePiece(home, "archive", "Essays 10", "list", "List of Ten", "Pass-1 Done", "outline", "writer",
                   "- one\n- two");
        writePiece(home, "archive", "Essays 10", "alpha", "Alpha Notes", "Pass-1 Done", "post", "ai");
        writePiece(home, "archive", "essays 2", "road", "Road Not Taken");
        writePiece(home, "archive", "Drafts", "old", "Old Morning");
        writePiece(home, "projects", "Essays 10", "live", "Live One");
        writePiece(home, "projects", "Notes", "note", "A Note");
    }
    void SetUp() override
    {
        PostsHomeTest::SetUp();
        pane = std::make_unique<ArchivePaneView>(
            &model, [this] { ++opened; },
            [this](const std::function<void()> &call) {
                ++kept;
                call();
            });
        tester = std::make_unique<QAbstractItemModelTester>(pane->itemModel(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
        pane->resize(760, 640);
        pane->setAttribute(Qt::WA_DontShowOnScreen);
        pane->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        tester.reset();
        pane.reset();
        PostsHomeTest::TearDown();
    }
    LibraryColumnModel &items() { return *pane->itemModel(); }
    QRect itemRect(int row) { return pane->listView()->visualRect(items().index(row)); }
    int headerRow(const QString &project) { return items().rowOfHeader(project); }
    void clickAt(const QPoint &pos) { QTest::mouseClick(pane->listView()->viewport(), Qt::LeftButton, {}, pos); }
    QRect toggleArea(const QString &project)
    {
        const int row = headerRow(project);
        return pane->delegate()->toggleArea(itemRect(row), items().index(row));
    }
    bool rescanned(const std::function<bool()> &done) { return spinUntil(done); }

    std::unique_ptr<ArchivePaneView> pane;
    std::unique_ptr<QAbstractItemModelTester> tester;
    int opened = 0;
    int kept = 0;
};

TEST_F(ArchiveTest, GroupsTheArchivedPiecesByProjectInNaturalOrder)
{
    EXPECT_EQ(shape(items()), QStringList({
                                  "DRAFTS · 1",
                                  "row:old",
                                  "ESSAYS 2 · 1",
                                  "row:road",
                                  "ESSAYS 10 · 3",
                                  "row:alpha",
                                  "row:list",
                                  "row:zeta",
                              }));
    EXPECT_FALSE(pane->showsEmptyState());
    // Each group has its button, with its tooltip and label.
    for (const QString &project : {u"Drafts"_s, u"essays 2"_s, u"Essays 10"_s}) {
        QPushButton *button = pane->unarchiveButton(project);
        ASSERT_NE(button, nullptr) << project.toStdString();
        EXPECT_EQ(button->text(), "Unarchive Group");
        EXPECT_EQ(button->toolTip(), "Move the whole project back to projects/");
        EXPECT_EQ(button->accessibleName(), u"Unarchive "_s + project);
        EXPECT_TRUE(button->isVisible());
        // On the header's line, at its trailing end inside the 720 column.
        const QRect header = itemRect(headerRow(project));
        EXPECT_TRUE(header.contains(button->geometry())) << project.toStdString();
        EXPECT_EQ(button->geometry().right(), 720 - 14 - 1);
    }
    EXPECT_EQ(pane->unarchiveButton("Notes"), nullptr);
    const QModelIndex header = items().index(headerRow("Essays 10"));
    EXPECT_EQ(header.data(Qt::AccessibleTextRole).toString(), "Toggle Essays 10");
    EXPECT_EQ(header.data(Qt::AccessibleDescriptionRole).toString(), "Expanded");
    EXPECT_EQ(items().index(items().rowOfPiece("list")).data(Qt::ToolTipRole).toString(), "List of Ten — outline");
    EXPECT_EQ(items().index(items().rowOfPiece("alpha")).data(Qt::AccessibleTextRole).toString(),
              "Alpha Notes, Pass-1 Done, origin ai");
    QStringList labels;
    for (QLabel *label : pane->findChildren<QLabel *>())
        labels.append(label->text());
    EXPECT_TRUE(labels.contains("Archive"));
}

TEST_F(ArchiveTest, TheChevronAndTheNameFoldAGroupTheCountDoesNot)
{
    const QStringList open = shape(items());
    const int rows = items().rowCount();
    // The count, just after the name, does nothing.
    const QRect area = toggleArea("Essays 10");
    clickAt(QPoint(area.right() + 12, area.center().y()));
    EXPECT_FALSE(pane->collapsed().contains("Essays 10"));
    EXPECT_EQ(items().rowCount(), rows);

    // The chevron folds: the rows go, the header keeps its count and button.
    clickAt(QPoint(area.left() + 4, area.center().y()));
    EXPECT_TRUE(pane->collapsed().contains("Essays 10"));
    EXPECT_EQ(shape(items()).mid(4), QStringList{"ESSAYS 10 · 3"});
    const QModelIndex header = items().index(headerRow("Essays 10"));
    EXPECT_TRUE(header.data(LibraryColumnModel::CollapsedRole).toBool());
    EXPECT_EQ(header.data(Qt::AccessibleDescriptionRole).toString(), "Collapsed");
    QApplication::processEvents();
    ASSERT_NE(pane->unarchiveButton("Essays 10"), nullptr);
    EXPECT_TRUE(pane->unarchiveButton("Essays 10")->isVisible());
    EXPECT_TRUE(itemRect(headerRow("Essays 10")).contains(pane->unarchiveButton("Essays 10")->geometry()));

    // The name opens it again.
    clickAt(toggleArea("Essays 10").adjusted(14, 0, 0, 0).center());
    EXPECT_FALSE(pane->collapsed().contains("Essays 10"));
    EXPECT_EQ(shape(items()), open);
    EXPECT_EQ(kept, 0);
}

TEST_F(ArchiveTest, ClickingARowOpensThePieceThenThePostsPane)
{
    const QRect row = itemRect(items().rowOfPiece("road"));
    clickAt(row.center());
    // Not from inside the click: the workspace may drop the pane.
    EXPECT_EQ(opened, 0);
    ASSERT_TRUE(spinUntil([&] { return opened == 1; }));
    EXPECT_EQ(model.selectedPostID(), "road");
    EXPECT_TRUE(model.isSessionOpen("road"));
    for (int r = 0; r < items().rowCount(); ++r) {
        const bool marked = items().index(r).data(LibraryColumnModel::SelectedRole).toBool();
        EXPECT_EQ(marked, r == items().rowOfPiece("road")) << r;
    }
    EXPECT_EQ(kept, 0);
    // A piece selected elsewhere moves the mark; a live one leaves none here.
    model.selectPiece("alpha");
    EXPECT_TRUE(items().index(items().rowOfPiece("alpha")).data(LibraryColumnModel::SelectedRole).toBool());
    EXPECT_FALSE(items().index(items().rowOfPiece("road")).data(LibraryColumnModel::SelectedRole).toBool());
    model.selectPiece("note");
    for (int r = 0; r < items().rowCount(); ++r)
        EXPECT_FALSE(items().index(r).data(LibraryColumnModel::SelectedRole).toBool()) << r;
}

TEST_F(ArchiveTest, TheMenuOffersConvertOnlyForOutlines)
{
    QMenu host;
    EXPECT_EQ(menuTitles(pane->rowMenu(post("zeta"), &host)), QStringList({"Move Back to Essays 10", "Rename…"}));
    QMenu *outline = pane->rowMenu(post("list"), &host);
    EXPECT_EQ(menuTitles(outline), QStringList({"Move Back to Essays 10", "Rename…", "Convert to Post…"}));
    testsupport::saveScreenshot(*outline, "archive-row-menu");
    menuAction(outline, "Convert to Post…")->trigger();
    ASSERT_TRUE(model.pendingConversion().has_value());
    EXPECT_EQ(model.pendingConversion()->id, "list");
    EXPECT_EQ(opened, 0);
}

TEST_F(ArchiveTest, MoveBackOpensThePieceButLeavesThePaneInFrontAndDropsAnEmptiedGroup)
{
    QMenu host;
    menuAction(pane->rowMenu(post("road"), &host), "Move Back to essays 2")->trigger();
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(kept, 1);
    EXPECT_TRUE(QFile::exists(postFile("essays 2", "road")));
    EXPECT_FALSE(QFile::exists(home + "/archive/essays 2/road"));
    EXPECT_EQ(model.selectedPostID(), "road");
    EXPECT_TRUE(model.isSessionOpen("road"));
    // The group whose last piece left is dropped, with its button.
    ASSERT_TRUE(rescanned([&] { return headerRow("essays 2") < 0; }));
    EXPECT_EQ(shape(items()).first(2), QStringList({"DRAFTS · 1", "row:old"}));
    EXPECT_EQ(shape(items()).at(2), "ESSAYS 10 · 3");
    QApplication::processEvents();
    EXPECT_EQ(pane->unarchiveButton("essays 2"), nullptr);
    // Every button still sits on its own header.
    for (const QString &project : {u"Drafts"_s, u"Essays 10"_s})
        EXPECT_TRUE(itemRect(headerRow(project)).contains(pane->unarchiveButton(project)->geometry()));
    QApplication::processEvents();
    EXPECT_EQ(opened, 0);
}

TEST_F(ArchiveTest, ATakenNameIsRefusedWithTheModelsErrorAndNothingIsOverwritten)
{
    writePiece(home, "projects", "Drafts", "old", "Old Morning", "First Draft", "post", "writer", "The live words.");
    QMenu host;
    menuAction(pane->rowMenu(post("old"), &host), "Move Back to Drafts")->trigger();
    ASSERT_TRUE(model.lastError().has_value());
    EXPECT_TRUE(testsupport::readText(postFile("Drafts", "old")).contains("The live words."));
    EXPECT_TRUE(testsupport::readText(home + "/archive/Drafts/old/post.md").contains("Some words."));
    EXPECT_GE(items().rowOfPiece("old"), 0);

    // The same for the whole group: nothing moves over the live piece.
    pane->unarchiveButton("Drafts")->click();
    ASSERT_TRUE(model.lastError().has_value());
    EXPECT_TRUE(testsupport::readText(postFile("Drafts", "old")).contains("The live words."));
    EXPECT_TRUE(QFile::exists(home + "/archive/Drafts/old/post.md"));
}

TEST_F(ArchiveTest, UnarchiveGroupMovesTheWholeProjectBackAtOnce)
{
    pane->unarchiveButton("Essays 10")->click();
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(kept, 1);
    for (const char *id : {"alpha", "list", "zeta", "live"})
        EXPECT_TRUE(QFile::exists(postFile("Essays 10", id))) << id;
    EXPECT_FALSE(QFile::exists(home + "/archive/Essays 10"));
    ASSERT_TRUE(rescanned([&] { return headerRow("Essays 10") < 0; }));
    EXPECT_EQ(shape(items()), QStringList({"DRAFTS · 1", "row:old", "ESSAYS 2 · 1", "row:road"}));
    EXPECT_EQ(opened, 0);

    // The last groups leave: the empty state comes up.
    pane->unarchiveGroup("Drafts");
    pane->unarchiveGroup("essays 2");
    ASSERT_TRUE(rescanned([&] { return pane->showsEmptyState(); }));
    EXPECT_TRUE(pane->emptyState()->isVisible());
    EXPECT_FALSE(pane->listView()->isVisible());
}

TEST_F(ArchiveTest, TheRenameSheetRenamesTheArchivedPiece)
{
    QMenu host;
    menuAction(pane->rowMenu(post("zeta"), &host), "Rename…")->trigger();
    panes::RenamePostSheet *sheet = pane->renameSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->titleField()->text(), "Zeta");
    EXPECT_EQ(pane->renamingPost()->id, "zeta");
    sheet->titleField()->setText("Omega Point");
    QTest::keyClick(sheet->titleField(), Qt::Key_Return);
    EXPECT_EQ(pane->renameSheet(), nullptr);
    EXPECT_EQ(pane->renamingPost(), std::nullopt);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(kept, 1);
    EXPECT_TRUE(QFile::exists(home + "/archive/Essays 10/omega-point/post.md"));
    ASSERT_TRUE(rescanned([&] { return items().rowOfPiece("omega-point") >= 0; }));
    EXPECT_EQ(shape(items()).mid(4), QStringList({"ESSAYS 10 · 3", "row:alpha", "row:list", "row:omega-point"}));
}

TEST_F(ArchiveTest, AFoldOutlivesItsGroup)
{
    pane->toggleCollapsed("essays 2");
    pane->unarchiveGroup("essays 2");
    ASSERT_TRUE(rescanned([&] { return headerRow("essays 2") < 0; }));
    // The project comes back to the archive: its group comes up folded.
    writePiece(home, "archive", "essays 2", "path", "Path");
    QCoro::waitFor(model.rescan());
    ASSERT_GE(headerRow("essays 2"), 0);
    EXPECT_EQ(items().rowOfPiece("path"), -1);
    EXPECT_TRUE(items().index(headerRow("essays 2")).data(LibraryColumnModel::CollapsedRole).toBool());
}

TEST_F(ArchiveTest, ThreeGroupsOneFoldedScreenshot)
{
    model.selectPiece("list");
    pane->toggleCollapsed("essays 2");
    QApplication::processEvents();
    const QString path = testsupport::saveScreenshot(*pane, "archive-pane", QSize(760, 520));
    EXPECT_FALSE(path.isEmpty());
}

class EmptyArchiveTest : public testsupport::PostsHomeTest {
protected:
    void writeLibrary() override { writePiece(home, "projects", "Essays", "live", "Live One"); }
};

TEST_F(EmptyArchiveTest, AHomeWithNothingArchivedShowsTheEmptyState)
{
    ArchivePaneView pane(&model, [] {});
    pane.setAttribute(Qt::WA_DontShowOnScreen);
    pane.resize(760, 520);
    pane.show();
    EXPECT_TRUE(pane.showsEmptyState());
    EXPECT_TRUE(pane.emptyState()->isVisible());
    EXPECT_EQ(pane.itemModel()->rowCount(), 0);
    QStringList texts;
    for (QLabel *label : pane.findChildren<QLabel *>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains("Archive"));
    EXPECT_TRUE(texts.contains("Nothing archived"));
    EXPECT_TRUE(texts.contains("Finished projects and pieces fold away here. Move things here from their context "
                               "menu; they stay openable and editable."));
    testsupport::saveScreenshot(pane, "archive-pane-empty", QSize(760, 520));
}

TEST(ArchiveNoHome, UnarchiveGroupWithNoHomeChangesNothingAndLeavesTheModelsError)
{
    QTemporaryDir dir;
    model::PostsModel model;
    ArchivePaneView pane(&model, [] {});
    EXPECT_TRUE(pane.showsEmptyState());
    pane.unarchiveGroup("Essays");
    EXPECT_EQ(model.lastError(), model::PostsModel::noLibraryMessage);
    EXPECT_EQ(model.lastError(), u"No library is open yet — nothing was changed."_s);
    EXPECT_TRUE(testsupport::entries(dir.path()).isEmpty());
}

} // namespace
