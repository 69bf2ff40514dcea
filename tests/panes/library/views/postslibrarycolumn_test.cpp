// The library column offscreen over the real library model: groups and
// captions, folding, clicks, the context menu and the sheets it brings up,
// the search's states, single-row updates and the launch focus reset.

#include "panes/library/views/postslibrarycolumn.h"

#include "capturedlog.h"
#include "fixturehome.h"
#include "menutexts.h"
#include "panes/library/views/launchfocusreset.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/libraryglyphs.h"
#include "panes/library/views/libraryitemdelegate.h"
#include "panes/library/views/librarysearchrow.h"
#include "panes/library/views/librarysheets.h"
#include "screenshot.h"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using library::Post;
using panes::LibraryColumnItem;
using panes::LibraryColumnModel;
using panes::PostsLibraryColumn;
using testsupport::menuAction;
using testsupport::menuTitles;
using testsupport::spinUntil;
using Kind = LibraryColumnItem::Kind;
using ListArea = PostsLibraryColumn::ListArea;

// "header:name", "caption:TEXT" and "row:id" for each item.
QStringList shape(const LibraryColumnModel &model)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        switch (model.item(row).kind) {
        case Kind::groupHeader: out.append(u"header:"_s + index.data().toString()); break;
        case Kind::caption: out.append(u"caption:"_s + index.data().toString()); break;
        case Kind::row: out.append(u"row:"_s + model.item(row).post.id); break;
        }
    }
    return out;
}

class ColumnTest : public testsupport::PostsHomeTest {
protected:
    void SetUp() override
    {
        PostsHomeTest::SetUp();
        column = std::make_unique<PostsLibraryColumn>(home, &model);
        column->search().setDebounce(std::chrono::milliseconds(40));
        // Every change the lists report must add up to the items they hold.
        for (LibraryColumnModel *m : {column->groupedModel(), column->resultsModel()})
            testers.push_back(
                std::make_unique<QAbstractItemModelTester>(m, QAbstractItemModelTester::FailureReportingMode::Fatal));
        column->resize(PostsLibraryColumn::columnWidth, 720);
        column->setAttribute(Qt::WA_DontShowOnScreen);
        column->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        testers.clear();
        column.reset();
        PostsHomeTest::TearDown();
    }
    LibraryColumnModel &grouped() { return *column->groupedModel(); }
    void click(QListView *view, int row)
    {
        const QRect rect = view->visualRect(view->model()->index(row, 0));
        ASSERT_TRUE(rect.isValid()) << row;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void type(const QString &text)
    {
        QLineEdit *field = column->searchRow()->field();
        field->setFocus();
        QTest::keyClicks(field, text);
    }
    bool searchSettled()
    {
        const ListArea area = column->listArea();
        return area == ListArea::results || area == ListArea::noMatch;
    }

    std::unique_ptr<PostsLibraryColumn> column;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
};

TEST_F(ColumnTest, GroupsInNaturalOrderWithTheirCaptionsAndCounts)
{
    EXPECT_EQ(shape(grouped()), QStringList({
                                    "header:drafts",
                                    "caption:FIRST DRAFT",
                                    "row:morning",
                                    "header:essays",
                                    "caption:FIRST DRAFT",
                                    "row:plans",
                                    "caption:PASS 2 DONE",
                                    "row:harbour",
                                    "row:tides",
                                    "header:essays 2",
                                    "caption:FIRST DRAFT",
                                    "row:two",
                                    "header:essays 10",
                                    "caption:PASS 1 DONE",
                                    "row:ten",
                                }));
    const QModelIndex essays = grouped().index(grouped().rowOfHeader("Essays"));
    EXPECT_EQ(essays.data(Qt::AccessibleTextRole).toString(), "Essays, 3 pieces");
    EXPECT_EQ(essays.data(Qt::AccessibleDescriptionRole).toString(), "Expanded");
    EXPECT_EQ(grouped().index(grouped().rowOfHeader("Drafts")).data(Qt::AccessibleTextRole).toString(),
              "Drafts, 1 pieces");
    // Rows carry the row's texts; the archived piece is nowhere.
    const QModelIndex ten = grouped().index(grouped().rowOfPiece("ten"));
    EXPECT_EQ(ten.data(Qt::ToolTipRole).toString(), "Ten Things — outline");
    EXPECT_EQ(ten.data(Qt::AccessibleTextRole).toString(), "Ten Things, Pass-1 Done, origin writer");
    EXPECT_EQ(grouped().index(grouped().rowOfPiece("plans")).data(Qt::AccessibleTextRole).toString(),
              "Plans, First Draft, origin ai");
    EXPECT_EQ(grouped().rowOfPiece("gone"), -1);
    EXPECT_EQ(column->listArea(), ListArea::groupedList);
    EXPECT_EQ(column->width(), 232);
    testsupport::saveScreenshot(*column, "library-column", QSize(232, 720));
}

TEST_F(ColumnTest, AFoldedGroupStaysFoldedThroughASearchAndARescan)
{
    QSignalSpy resets(&grouped(), &QAbstractItemModel::modelReset);
    click(column->groupedView(), grouped().rowOfHeader("Essays"));
    EXPECT_TRUE(column->collapsed().contains("Essays"));
    const QModelIndex header = grouped().index(grouped().rowOfHeader("Essays"));
    EXPECT_TRUE(header.data(LibraryColumnModel::CollapsedRole).toBool());
    EXPECT_EQ(header.data(Qt::AccessibleDescriptionRole).toString(), "Collapsed");
    EXPECT_EQ(header.data(Qt::AccessibleTextRole).toString(), "Essays, 3 pieces");
    EXPECT_EQ(grouped().rowOfPiece("plans"), -1);
    testsupport::saveScreenshot(*column, "library-column-folded", QSize(232, 520));

    // A search lists the folded group's pieces all the same.
    type("plans");
    ASSERT_TRUE(spinUntil([&] { return searchSettled(); }));
    EXPECT_EQ(shape(*column->resultsModel()), QStringList({"caption:1 match", "row:plans"}));
    column->searchRow()->clearButton()->click();
    EXPECT_EQ(column->listArea(), ListArea::groupedList);
    EXPECT_EQ(grouped().rowOfPiece("plans"), -1);

    // A rescan that adds a piece to the folded project keeps it folded and
    // counts the piece.
    testsupport::writePiece(home, "projects", "Essays", "fresh", "Fresh");
    QCoro::waitFor(model.rescan());
    EXPECT_EQ(grouped().index(grouped().rowOfHeader("Essays")).data(Qt::AccessibleTextRole).toString(),
              "Essays, 4 pieces");
    EXPECT_EQ(grouped().rowOfPiece("fresh"), -1);
    click(column->groupedView(), grouped().rowOfHeader("Essays"));
    EXPECT_GE(grouped().rowOfPiece("fresh"), 0);
    EXPECT_EQ(resets.count(), 0);
}

TEST_F(ColumnTest, ARescanUpdatesTheChangedRowInPlace)
{
    QSignalSpy resets(&grouped(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&grouped(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&grouped(), &QAbstractItemModel::dataChanged);
    const int row = grouped().rowOfPiece("two");
    testsupport::writePiece(home, "projects", "essays 2", "two", "Two Roads", "First Draft", "post", "ai");
    QCoro::waitFor(model.rescan());
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), row);
    EXPECT_EQ(changed[0][1].value<QModelIndex>().row(), row);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(resets.count(), 0);
    // A new selection repaints the two rows concerned, nothing else.
    changed.clear();
    model.selectPiece("morning");
    model.selectPiece("two");
    ASSERT_EQ(changed.count(), 3);
    EXPECT_EQ(changed[2][0].value<QModelIndex>().row(), row);
}

TEST_F(ColumnTest, ARowThatTurnsIntoACaptionInPlaceIsLaidOutAgain)
{
    QListView *view = column->groupedView();
    const int first = grouped().rowOfPiece("plans");
    // Tides moves up under the first caption: the two items after Plans swap
    // kinds, a caption and a row, in place.
    testsupport::writePiece(home, "projects", "Essays", "tides", "Tides", "First Draft");
    QCoro::waitFor(model.rescan());
    ASSERT_EQ(grouped().rowOfPiece("tides"), first + 1);
    ASSERT_EQ(grouped().item(first + 2).kind, Kind::caption);
    QApplication::processEvents();
    for (int row = 0; row < grouped().rowCount(); ++row) {
        const QModelIndex index = grouped().index(row);
        EXPECT_EQ(view->visualRect(index).height(), view->sizeHintForIndex(index).height()) << row;
        if (row > 0) {
            EXPECT_EQ(view->visualRect(index).top(), view->visualRect(grouped().index(row - 1)).bottom() + 1) << row;
        }
    }
}

TEST_F(ColumnTest, ClickingARowOpensThePieceAndMarksIt)
{
    click(column->groupedView(), grouped().rowOfPiece("harbour"));
    EXPECT_EQ(model.selectedPostID(), "harbour");
    ASSERT_NE(model.session(), nullptr);
    EXPECT_TRUE(model.isSessionOpen("harbour"));
    for (int row = 0; row < grouped().rowCount(); ++row) {
        const bool marked = grouped().index(row).data(LibraryColumnModel::SelectedRole).toBool();
        EXPECT_EQ(marked, row == grouped().rowOfPiece("harbour")) << row;
    }
    testsupport::saveScreenshot(*column, "library-column-selected", QSize(232, 720));

    // New Post starts a draft and clears the selection: no row is marked.
    column->newPostButton()->click();
    ASSERT_TRUE(model.draft().has_value());
    EXPECT_EQ(model.selectedPostID(), std::nullopt);
    for (int row = 0; row < grouped().rowCount(); ++row)
        EXPECT_FALSE(grouped().index(row).data(LibraryColumnModel::SelectedRole).toBool()) << row;
    EXPECT_EQ(column->newPostButton()->toolTip(), "New Post");
    EXPECT_EQ(column->newPostButton()->accessibleName(), "New Post");
}

TEST_F(ColumnTest, TheContextMenuOffersTheActionsInOrderAndActsAtOnce)
{
    QMenu host;
    QMenu *postMenu = column->rowMenu(post("harbour"), &host);
    EXPECT_EQ(menuTitles(postMenu), QStringList({"Rename…", "Move to Project…", "Move to Archive", "Move to Trash"}));
    EXPECT_TRUE(menuAction(postMenu, "Move to Trash")->property("destructive").toBool());
    QMenu *outlineMenu = column->rowMenu(post("ten"), &host);
    EXPECT_EQ(menuTitles(outlineMenu),
              QStringList({"Rename…", "Convert to Post…", "Move to Project…", "Move to Archive", "Move to Trash"}));
    testsupport::saveScreenshot(*outlineMenu, "library-row-menu");

    menuAction(outlineMenu, "Convert to Post…")->trigger();
    ASSERT_TRUE(model.pendingConversion().has_value());
    EXPECT_EQ(model.pendingConversion()->id, "ten");

    // Archive and Trash act without a question.
    menuAction(postMenu, "Move to Archive")->trigger();
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_TRUE(QFile::exists(home + "/archive/Essays/harbour/post.md"));

    // Trash flushes the open piece first: the Trash has the last words.
    model.selectPiece("tides");
    model.session()->textDidChange("# Tides\n\nThe very last words.\n");
    QMenu *tidesMenu = column->rowMenu(post("tides"), &host);
    menuAction(tidesMenu, "Move to Trash")->trigger();
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_FALSE(QFile::exists(postFile("Essays", "tides")));
    EXPECT_TRUE(testsupport::readText(qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/tides/post.md")
                    .contains("The very last words."));
    QCoro::waitFor(model.rescan());
    EXPECT_EQ(grouped().rowOfPiece("tides"), -1);
    EXPECT_EQ(grouped().rowOfPiece("harbour"), -1);
}

TEST_F(ColumnTest, TheRenameSheetRenamesThePieceItWasOpenedFor)
{
    QMenu host;
    menuAction(column->rowMenu(post("plans"), &host), "Rename…")->trigger();
    panes::RenamePostSheet *sheet = column->renameSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->titleField()->text(), "Plans");
    EXPECT_EQ(column->renamingPost()->id, "plans");
    testsupport::saveScreenshot(*sheet, "rename-sheet");

    // A rescan while the sheet is up does not change the piece it holds.
    testsupport::writePiece(home, "projects", "Essays", "other", "Other");
    QCoro::waitFor(model.rescan());
    sheet->titleField()->setText("  Better Plans  ");
    QTest::keyClick(sheet->titleField(), Qt::Key_Return);
    EXPECT_EQ(column->renameSheet(), nullptr);
    EXPECT_EQ(column->renamingPost(), std::nullopt);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_TRUE(QFile::exists(postFile("Essays", "better-plans")));
    EXPECT_TRUE(testsupport::readText(postFile("Essays", "better-plans")).contains("# Better Plans"));
}

TEST(RenamePostSheet, SubmitTrimsRefusesBlankAndRenamesAnUnchangedTitle)
{
    QStringList calls;
    {
        panes::RenamePostSheet sheet("Plans", [&](const QString &title) { calls.append(title); });
        sheet.open();
        // The unchanged title is renamed all the same.
        QTest::keyClick(sheet.titleField(), Qt::Key_Return);
        EXPECT_EQ(calls, QStringList{"Plans"});
        EXPECT_FALSE(sheet.isVisible());
    }
    {
        panes::RenamePostSheet sheet("Plans", [&](const QString &title) { calls.append(title); });
        sheet.open();
        sheet.titleField()->setText(" \t ");
        EXPECT_FALSE(sheet.renameButton()->isEnabled());
        QTest::keyClick(sheet.titleField(), Qt::Key_Return);
        EXPECT_TRUE(sheet.isVisible());
        QTest::keyClick(&sheet, Qt::Key_Escape);
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_EQ(sheet.result(), QDialog::Rejected);
    }
    EXPECT_EQ(calls, QStringList{"Plans"});
}

TEST(MoveToProjectSheet, TheOwnProjectCannotBeChosenAsTheTarget)
{
    Post post;
    post.title = "Harbour Lights";
    post.project = "Essays";
    QStringList moves;
    {
        panes::MoveToProjectSheet sheet(post, {"Drafts", "Essays", "posts"},
                                        [&](const QString &project) { moves.append(project); });
        sheet.open();
        EXPECT_EQ(sheet.offeredProjects(), QStringList({"Drafts", "Essays", "posts"}));
        EXPECT_EQ(sheet.checkedProject(), "Essays");
        EXPECT_FALSE(sheet.moveButton()->isEnabled());
        sheet.choose("Drafts");
        EXPECT_TRUE(sheet.moveButton()->isEnabled());
        sheet.choose("Essays");
        EXPECT_FALSE(sheet.moveButton()->isEnabled());
        QTest::keyClick(&sheet, Qt::Key_Return);
        EXPECT_TRUE(sheet.isVisible());
        QTest::keyClick(&sheet, Qt::Key_Escape);
        EXPECT_FALSE(sheet.isVisible());
    }
    {
        // Its own project not offered: nothing is chosen until one is.
        panes::MoveToProjectSheet sheet(post, {"Drafts", "posts"}, [&](const QString &p) { moves.append(p); });
        sheet.open();
        EXPECT_EQ(sheet.checkedProject(), "");
        EXPECT_FALSE(sheet.moveButton()->isEnabled());
        sheet.choose("posts");
        EXPECT_EQ(sheet.checkedProject(), "posts");
        QTest::keyClick(&sheet, Qt::Key_Return);
        EXPECT_FALSE(sheet.isVisible());
    }
    EXPECT_EQ(moves, QStringList{"posts"});
}

TEST_F(ColumnTest, TheMoveSheetMovesThePieceIntoTheChosenProject)
{
    QMenu host;
    menuAction(column->rowMenu(post("morning"), &host), "Move to Project…")->trigger();
    panes::MoveToProjectSheet *sheet = column->moveSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->offeredProjects(), model.projectNames());
    EXPECT_EQ(sheet->checkedProject(), "Drafts");
    EXPECT_FALSE(sheet->moveButton()->isEnabled());
    testsupport::saveScreenshot(*sheet, "move-sheet");
    sheet->choose("essays 2");
    sheet->moveButton()->click();
    EXPECT_EQ(column->moveSheet(), nullptr);
    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_TRUE(QFile::exists(postFile("essays 2", "morning")));
}

TEST_F(ColumnTest, TheSearchWaitsForTheLastKeystrokeAndFollowsRescans)
{
    QSignalSpy started(&column->search(), &panes::LibrarySearchRunner::searchStarted);
    QSignalSpy resets(column->resultsModel(), &QAbstractItemModel::modelReset);
    // Spaces only are no search.
    type("   ");
    EXPECT_EQ(column->listArea(), ListArea::groupedList);
    EXPECT_FALSE(column->searchRow()->clearButton()->isVisibleTo(column.get()));
    column->searchRow()->field()->clear();

    type("dra");
    EXPECT_EQ(column->listArea(), ListArea::waiting);
    type("ft");
    EXPECT_TRUE(column->searchRow()->clearButton()->isVisibleTo(column.get()));
    ASSERT_TRUE(spinUntil([&] { return searchSettled(); }));
    EXPECT_EQ(started.count(), 1);
    // "draft" is in the title Gone Draft (archived, never found) and in
    // the body of Plans.
    EXPECT_EQ(shape(*column->resultsModel()), QStringList({"caption:1 match", "row:plans"}));
    testsupport::saveScreenshot(*column, "library-column-search", QSize(232, 520));

    // A trailing space changes nothing.
    type(" ");
    EXPECT_EQ(column->listArea(), ListArea::results);

    // A rescan that changes the library searches again.
    testsupport::writePiece(home, "projects", "Drafts", "second", "Second Draft");
    QCoro::waitFor(model.rescan());
    EXPECT_EQ(column->listArea(), ListArea::waiting);
    ASSERT_TRUE(spinUntil([&] { return searchSettled(); }));
    EXPECT_EQ(started.count(), 2);
    EXPECT_EQ(shape(*column->resultsModel()), QStringList({"caption:2 matches", "row:second", "row:plans"}));
    EXPECT_EQ(resets.count(), 0);

    // Clearing brings the grouped list back at once.
    column->searchRow()->clearButton()->click();
    EXPECT_EQ(column->searchRow()->field()->text(), "");
    EXPECT_EQ(column->listArea(), ListArea::groupedList);
}

TEST_F(ColumnTest, AQueryThatMatchesNothingSaysSo)
{
    type(u"zebra"_s);
    column->searchRow()->field()->insert(u"\u00e9"_s);
    ASSERT_TRUE(spinUntil([&] { return searchSettled(); }));
    EXPECT_EQ(column->listArea(), ListArea::noMatch);
    EXPECT_EQ(column->noMatchMessage()->text(), u"No piece's title or body contains \u201czebra\u00e9\u201d."_s);
    testsupport::saveScreenshot(*column, "library-column-no-match", QSize(232, 520));
}

class EmptyColumnTest : public ColumnTest {
protected:
    void writeLibrary() override { testsupport::writePiece(home, "archive", "Essays", "gone", "Gone"); }
};

TEST_F(EmptyColumnTest, ALibraryOfArchivedPiecesShowsTheEmptyState)
{
    EXPECT_EQ(column->listArea(), ListArea::empty);
    EXPECT_EQ(grouped().rowCount(), 0);
    testsupport::saveScreenshot(*column, "library-column-empty", QSize(232, 520));
}

// A thousand pieces in four projects: more rows than one batch of the list's
// layout.
class LargeColumnTest : public ColumnTest {
protected:
    void writeLibrary() override
    {
        for (int i = 0; i < 1000; ++i)
            testsupport::writePiece(home, "projects", u"Project %1"_s.arg(i % 4),
                                    u"piece-%1"_s.arg(i, 4, 10, QChar(u'0')), u"Piece %1"_s.arg(i, 4, 10, QChar(u'0')));
    }
    // Until the batched layout has placed every row.
    void settleLayout(QListView *view)
    {
        const QModelIndex last = view->model()->index(view->model()->rowCount() - 1, 0);
        ASSERT_TRUE(spinUntil([&] {
            QApplication::processEvents();
            return view->visualRect(last).isValid()
                   && view->visualRect(last).bottom() - view->viewport()->height()
                          <= view->verticalScrollBar()->maximum() + 1;
        }));
    }
};

TEST_F(LargeColumnTest, ClickingARowFarDownKeepsTheListWhereItWas)
{
    QListView *view = column->groupedView();
    settleLayout(view);
    QScrollBar *bar = view->verticalScrollBar();
    const int row = grouped().rowOfPiece(u"piece-0803"_s);
    ASSERT_GT(row, 600);
    view->scrollTo(grouped().index(row), QAbstractItemView::PositionAtCenter);
    QApplication::processEvents();
    const int scrolled = bar->value();
    ASSERT_GT(scrolled, 0);
    const QRect before = view->visualRect(grouped().index(row));
    ASSERT_TRUE(view->viewport()->rect().contains(before)) << before.y();

    click(view, row);
    ASSERT_EQ(model.selectedPostID(), u"piece-0803"_s);
    // The repaint and whatever layout follows the selection run their course.
    testsupport::spinUntil([] { return false; }, 300);
    EXPECT_EQ(bar->value(), scrolled);
    EXPECT_EQ(view->visualRect(grouped().index(row)), before);
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(grouped().index(row))));
    testsupport::saveScreenshot(*column, "library-column-large-selected", QSize(232, 720));

    // A rescan that changes the row in place (its title edited) keeps it too.
    testsupport::writePiece(home, "projects", "Project 3", "piece-0803", "Piece 0803 revised");
    QCoro::waitFor(model.rescan());
    testsupport::spinUntil([] { return false; }, 300);
    EXPECT_EQ(grouped().rowOfPiece(u"piece-0803"_s), row);
    EXPECT_EQ(bar->value(), scrolled);
}

// The first piece opened far down a long list: nothing for the log, not a
// painter's complaint about the selection strip.
TEST_F(LargeColumnTest, OpeningAPieceFarDownLogsNothing)
{
    QListView *view = column->groupedView();
    settleLayout(view);
    const int row = grouped().rowOfPiece(u"piece-0901"_s);
    view->scrollTo(grouped().index(row), QAbstractItemView::PositionAtCenter);
    view->viewport()->repaint();
    testsupport::CapturedLog log;
    click(view, row);
    ASSERT_EQ(model.selectedPostID(), u"piece-0901"_s);
    for (int frame = 0; frame < 10; ++frame) {
        view->viewport()->repaint();
        testsupport::spinUntil([] { return false; }, 30);
    }
    for (const testsupport::CapturedLog::Line &line : log.lines)
        ADD_FAILURE() << line.category.toStdString() << ": " << line.text.toStdString();
}

TEST_F(ColumnTest, TheFirstActivationOfItsWindowTakesTheFocusAway)
{
    if (panes::LaunchFocusReset::didReset())
        GTEST_SKIP() << "this process already had its launch reset";
    QWidget window;
    column->setParent(&window);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    QLineEdit *field = column->searchRow()->field();
    field->setFocus();
    ASSERT_EQ(window.focusWidget(), field);
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    EXPECT_EQ(window.focusWidget(), nullptr);
    EXPECT_TRUE(panes::LaunchFocusReset::didReset());
    QApplication::processEvents();
    // Later activations leave the focus where the writer put it.
    field->setFocus();
    QApplication::sendEvent(&window, &activate);
    QApplication::processEvents();
    EXPECT_EQ(window.focusWidget(), field);
    column->setParent(nullptr);
}

} // namespace

namespace {

QList<LibraryColumnItem> rows(const QString &ids)
{
    QList<LibraryColumnItem> items;
    for (const QChar id : ids) {
        LibraryColumnItem item;
        item.post.id = id;
        items.append(item);
    }
    return items;
}

TEST(LibraryColumnModel, LaysAnyNewListOverTheOldOneWithoutAReset)
{
    const std::pair<const char *, const char *> cases[] = {
        {"abcde", "abXcde"}, {"abcde", "abde"}, {"abcde", "aXYe"}, {"abc", "abcdef"},
        {"abc", ""},         {"", "abc"},       {"abcd", "dcba"},  {"aaaa", "aa"},
    };
    for (const auto &[before, after] : cases) {
        LibraryColumnModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.setItems(rows(before));
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setItems(rows(after));
        EXPECT_EQ(model.items(), rows(after)) << before << " -> " << after;
        EXPECT_EQ(resets.count(), 0);
    }
}

// What a tool tip shows for text: Qt takes anything that looks like markup
// as rich text.
// A selected row handed a rectangle too small to hold it (as a list mid-way
// through a layout does) is drawn without a word to the log.
TEST(LibraryItemDelegate, ASelectedRowInAnEmptyRectangleLogsNothing)
{
    LibraryColumnModel model;
    model.setItems(rows(u"ab"_s));
    model.setSelectedID(u"a"_s);
    panes::LibraryItemDelegate delegate(10);
    QImage canvas(232, 80, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    testsupport::CapturedLog log;
    for (const QRect rect : {QRect(), QRect(0, 0, 232, 0), QRect(0, 0, 232, 6), QRect(0, 0, 0, 65)}) {
        QStyleOptionViewItem option;
        option.rect = rect;
        delegate.paint(&painter, option, model.index(0));
        delegate.paint(&painter, option, model.index(1));
    }
    for (const testsupport::CapturedLog::Line &line : log.lines)
        ADD_FAILURE() << line.category.toStdString() << ": " << line.text.toStdString();
}

QString shownAsToolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

TEST(LibraryColumnModel, RowToolTipsShowTitlesAsTyped)
{
    const struct {
        QString title;
        Post::ContentType type;
        QString shown;
    } cases[] = {
        {u"Plain Title"_s, Post::ContentType::post, u"Plain Title"_s},
        {u"Why <b> tags matter"_s, Post::ContentType::post, u"Why <b> tags matter"_s},
        {u"<i>Notes</i>  on  spacing"_s, Post::ContentType::post, u"<i>Notes</i>  on  spacing"_s},
        {u"Fish &lt; chips"_s, Post::ContentType::post, u"Fish &lt; chips"_s},
        {u"<em>Ten</em> Things"_s, Post::ContentType::outline, u"<em>Ten</em> Things \u2014 outline"_s},
    };
    LibraryColumnModel model;
    QList<LibraryColumnItem> items;
    for (const auto &c : cases) {
        LibraryColumnItem item;
        item.post.id = QString::number(items.size());
        item.post.title = c.title;
        item.post.type = c.type;
        items.append(item);
    }
    model.setItems(items);
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_EQ(shownAsToolTip(model.index(row).data(Qt::ToolTipRole).toString()), cases[row].shown)
            << cases[row].title.toStdString();
}

} // namespace
