// List folds in the prose text view over a real editing session: folding and
// unfolding by clicks, folds kept across edits, the caret kept out of hidden
// lines, nothing of it reaching the undo stack or the disk, and the chevrons
// and badges where the writer sees them.

#include "editor/prose/views/proselisttextview.h"

#include "editor/prose/views/prosetextview.h"
#include "model/editorsession.h"

#include "piecehome.h"
#include "screenshot.h"
#include "testutil.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

#include <memory>

namespace {

using editor::ProseListTextView;
using editor::ProseTextView;
using model::EditorSession;
namespace L = editor::ProseList;
using testsupport::readFile;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QByteArray kList = "intro\n- a\n  - b\n  - c\n- d\n";

class ProseFoldViewTest : public ::testing::Test, protected testsupport::PieceHome {
protected:
    void SetUp() override
    {
        piece(u"list"_s, kList);
        session = open(u"list"_s, 10s);
        view.resize(700, 500);
        view.setSession(session.get());
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        testsupport::drainPosted();
    }
    ProseListTextView &text() { return *view.textView(); }
    QWidget *viewport() { return text().viewport(); }
    L::ParentHint hint(const QString &line)
    {
        const QString all = text().rawText();
        for (const L::ParentHint &h : text().parentHints()) {
            if (editor::ProseFolds::trimmedLineText(all, h.markerLine) == line)
                return h;
        }
        ADD_FAILURE() << "no item " << line.toStdString();
        return {};
    }
    // The texts of the hidden lines.
    QStringList hidden()
    {
        QStringList out;
        for (QTextBlock b = text().document()->begin(); b.isValid(); b = b.next()) {
            if (!b.isVisible())
                out << b.text();
        }
        return out;
    }
    QPointF chevronCentre(const QString &line)
    {
        testsupport::drainPosted();
        const std::optional<QRectF> at = text().chevronRect(hint(line).markerLine.start);
        EXPECT_TRUE(at.has_value()) << line.toStdString();
        // The glyph sits at the image's top left.
        return at ? at->topLeft() + QPointF(4, 7) : QPointF();
    }
    void click(QPointF at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mouseClick(viewport(), Qt::LeftButton, modifiers, at.toPoint());
        testsupport::drainPosted();
    }
    void caretAt(qsizetype position)
    {
        QTextCursor cursor = text().textCursor();
        cursor.setPosition(int(position));
        text().setTextCursor(cursor);
    }
    qsizetype caret() { return text().textCursor().position(); }
    // Outside '- a''s hidden lines (10 up to 22) of the list text.
    bool outside() { return caret() <= 9 || caret() >= 22; }
    // A paste (plain text, without the clipboard) over from ... to.
    void paste(qsizetype from, qsizetype to, const QString &with)
    {
        QTextCursor cursor = text().textCursor();
        cursor.setPosition(int(from));
        cursor.setPosition(int(to), QTextCursor::KeepAnchor);
        text().setTextCursor(cursor);
        text().insertPlainText(with);
        testsupport::drainPosted();
    }
    void reload(const QString &body)
    {
        text().replaceText(body);
        text().refreshAfterTextChange();
        testsupport::drainPosted();
    }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(&text(), k, modifiers);
        testsupport::drainPosted();
    }
    void type(const QString &s)
    {
        QTest::keyClicks(&text(), s);
        testsupport::drainPosted();
    }
    void fold(const QString &line)
    {
        text().toggleFold(hint(line));
        testsupport::drainPosted();
    }
    // The darkest ink in rect of the view's image: a glyph's core.
    QColor inkIn(const QRectF &rect)
    {
        const QImage image = viewport()->grab().toImage();
        QColor darkest(Qt::white);
        for (int y = int(rect.top()); y < int(rect.bottom()); ++y) {
            for (int x = int(rect.left()); x < int(rect.right()); ++x) {
                const QColor c = image.rect().contains(x, y) ? image.pixelColor(x, y) : QColor(Qt::white);
                if (c.lightness() < darkest.lightness())
                    darkest = c;
            }
        }
        return darkest;
    }
    // The brick red of folded chrome, the grey of open chevrons.
    static bool brick(const QColor &c) { return c.red() - c.blue() > 80 && c.red() > 150; }
    static bool grey(const QColor &c) { return std::abs(c.red() - c.blue()) < 16 && c.red() < 200; }

    std::unique_ptr<EditorSession> session;
    ProseTextView view;
};

TEST_F(ProseFoldViewTest, APlainClickOnTheChevronOrTheMarkerFoldsAndUnfolds)
{
    const int undo = text().document()->availableUndoSteps();
    QAbstractTextDocumentLayout *layout = text().document()->documentLayout();
    const auto height = [&] { return layout->documentSize().height(); };
    const auto block = [&](int n) { return layout->blockBoundingRect(text().document()->findBlockByNumber(n)); };
    const qreal unfolded = height();
    const qreal dTop = block(4).top();
    ASSERT_EQ(text().chromeHints().size(), 1);
    click(chevronCentre(u"- a"_s));
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - c"_s}));
    // The layout was told: the hidden lines take no room.
    EXPECT_LT(height(), unfolded);
    EXPECT_EQ(block(4).top(), block(1).bottom());
    ASSERT_EQ(text().folds().size(), 1);
    EXPECT_EQ(text().folds()[0].key, 6);
    // The first 12 pixels of the item's line: its marker.
    const QRectF line = text().chevronRect(6)->translated(14, 0);
    click(QPointF(line.left() + 8, line.top() + 7));
    EXPECT_TRUE(hidden().isEmpty());
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_EQ(height(), unfolded);
    EXPECT_EQ(block(4).top(), dTop);
    // Past the marker the click is the text's.
    click(QPointF(line.left() + 20, line.top() + 7));
    EXPECT_TRUE(text().folds().isEmpty());

    // Held modifiers, or a double click, leave the fold alone.
    for (const Qt::KeyboardModifier modifier :
         {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier, Qt::MetaModifier}) {
        click(chevronCentre(u"- a"_s), modifier);
        EXPECT_TRUE(text().folds().isEmpty()) << modifier;
    }
    QMouseEvent twice(QEvent::MouseButtonDblClick, chevronCentre(u"- a"_s),
                      viewport()->mapToGlobal(chevronCentre(u"- a"_s)), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport(), &twice);
    EXPECT_TRUE(text().folds().isEmpty());

    // Folding is view state: no undo step, no edit for the session.
    EXPECT_EQ(text().document()->availableUndoSteps(), undo);
    EXPECT_FALSE(session->autosavePending());
    EXPECT_EQ(text().rawText(), QString::fromUtf8(kList));
}

TEST_F(ProseFoldViewTest, FoldingChangesNoByteOfTheFileAndAddsNoUndoStep)
{
    const int undo = text().document()->availableUndoSteps();
    fold(u"- a"_s);
    fold(u"- a"_s);
    fold(u"- a"_s);
    EXPECT_EQ(text().document()->availableUndoSteps(), undo);
    // An edit elsewhere and a save write the text as it is, folded lines and all.
    caretAt(5);
    type(u"!"_s);
    ASSERT_TRUE(session->flush());
    EXPECT_EQ(readFile(postPath(u"list"_s)), frontMatter + "intro!\n- a\n  - b\n  - c\n- d\n");
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - c"_s}));
    key(Qt::Key_Backspace);
    fold(u"- a"_s);
    ASSERT_TRUE(session->flush());
    EXPECT_EQ(readFile(postPath(u"list"_s)), frontMatter + kList);
}

TEST_F(ProseFoldViewTest, NestedFoldsHideTheInnerChevronAndUnfoldInTurn)
{
    reload(u"- a\n  - b\n    - c\n- d\n"_s);
    ASSERT_EQ(text().chromeHints().size(), 2);
    fold(u"  - b"_s);
    EXPECT_EQ(hidden(), QStringList{u"    - c"_s});
    fold(u"- a"_s);
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"    - c"_s}));
    // No chevron inside a folded scope.
    ASSERT_EQ(text().chromeHints().size(), 1);
    EXPECT_FALSE(text().chevronRect(4).has_value());
    click(chevronCentre(u"- a"_s));
    // The inner fold is still folded.
    EXPECT_EQ(hidden(), QStringList{u"    - c"_s});
    ASSERT_EQ(text().chromeHints().size(), 2);
    EXPECT_TRUE(text().chromeHints()[1].folded);
}

TEST_F(ProseFoldViewTest, FoldsAreKeptAcrossTypingAboveBelowAndInsideOnceUnfolded)
{
    fold(u"- a"_s);
    const int rescans = text().foldRescans();
    // Above: moved by arithmetic, no rescan.
    caretAt(2);
    type(u"xy"_s);
    EXPECT_EQ(text().folds().value(0).key, 8);
    EXPECT_EQ(text().foldRescans(), rescans);
    // Below.
    caretAt(text().rawText().size() - 1);
    type(u" end"_s);
    EXPECT_EQ(text().folds().value(0).key, 8);
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - c"_s}));
    // A new line above: re-found by its line text.
    caretAt(0);
    key(Qt::Key_Return);
    EXPECT_EQ(text().folds().value(0).key, 9);
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - c"_s}));
    // Inside, once unfolded; folding again hides the edited lines.
    fold(u"- a"_s);
    caretAt(text().rawText().indexOf(u"- b"_s) + 3);
    type(u"b"_s);
    key(Qt::Key_Return);
    type(u"  - bbb"_s);
    fold(u"- a"_s);
    EXPECT_EQ(hidden(), (QStringList{u"  - bb"_s, u"  - bbb"_s, u"  - c"_s}));
    ASSERT_TRUE(session->flush());
    EXPECT_EQ(readFile(postPath(u"list"_s)), frontMatter + "\ninxytro\n- a\n  - bb\n  - bbb\n  - c\n- d end\n");
}

TEST_F(ProseFoldViewTest, EditsThatMeetAFoldUnfoldItAndAPasteOrUndoAboveKeepsIt)
{
    fold(u"- a"_s);
    // A multi-line paste above: the fold follows its item.
    paste(0, 0, u"p\nq\n"_s);
    EXPECT_EQ(text().folds().value(0).key, 10);
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - c"_s}));
    // Its undo: the fold goes back with its item.
    text().undo();
    testsupport::drainPosted();
    EXPECT_EQ(text().rawText(), QString::fromUtf8(kList));
    EXPECT_EQ(text().folds().value(0).key, 6);
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - c"_s}));

    // A selection across the fold, replaced: the fold is unfolded first.
    paste(3, 22, u"p\nq\n"_s);
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_TRUE(hidden().isEmpty());
    // And its undo brings back the lines, shown.
    text().undo();
    testsupport::drainPosted();
    EXPECT_EQ(text().rawText(), QString::fromUtf8(kList));
    EXPECT_TRUE(hidden().isEmpty());

    // Backspace at the start of the line past the scope joins it to a hidden
    // line: unfolded.
    fold(u"- a"_s);
    caretAt(22);
    key(Qt::Key_Backspace);
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_TRUE(hidden().isEmpty());
    text().undo();
    testsupport::drainPosted();

    // Typing on the folded item's own line unfolds it.
    fold(u"- a"_s);
    caretAt(9);
    type(u"!"_s);
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_TRUE(hidden().isEmpty());
}

// Where the caret rests after each way of reaching a folded scope.
TEST_F(ProseFoldViewTest, TheCaretNeverRestsInAHiddenLine)
{
    fold(u"- a"_s);
    struct Move {
        const char *name;
        qsizetype from;
        Qt::Key key;
        qsizetype rest;
    };
    // 'intro\n- a\n  - b\n  - c\n- d\n': '- a' at 6..9, hidden 10..22, '- d' at 22.
    const QList<Move> moves{
        {"Up from '- d'", 24, Qt::Key_Up, 9},
        {"Up from the start of '- d'", 22, Qt::Key_Up, 9},
        {"Left from the start of '- d'", 22, Qt::Key_Left, 9},
        {"Down from '- a'", 7, Qt::Key_Down, 22},
        {"Right from the end of '- a'", 9, Qt::Key_Right, 22},
        {"Home on '- d'", 24, Qt::Key_Home, 22},
        {"End on '- a'", 6, Qt::Key_End, 9},
    };
    for (const Move &move : moves) {
        caretAt(move.from);
        key(move.key);
        EXPECT_EQ(caret(), move.rest) << move.name;
    }
    // Shift+Up from '- d' selects up to the end of '- a'.
    caretAt(22);
    key(Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(text().textCursor().anchor(), 22);
    EXPECT_EQ(caret(), 9);

    // A caret put inside from code (a caret request) goes out.
    caretAt(14);
    EXPECT_TRUE(outside()) << caret();
    view.setCaretHint(ProseTextView::CaretHint{16, 7});
    EXPECT_TRUE(outside()) << caret();

    // A click just below the item's line lands outside.
    const QRectF line = *text().chevronRect(6);
    click(QPointF(line.left() + 60, line.bottom() + 6));
    EXPECT_FALSE(hidden().isEmpty());
    EXPECT_TRUE(outside()) << caret();

    // A find hit inside the fold unfolds it and selects the hit.
    caretAt(0);
    EXPECT_TRUE(view.find(u"- c"_s));
    EXPECT_TRUE(hidden().isEmpty());
    EXPECT_EQ(text().textCursor().selectedText(), u"- c"_s);

    // A restored cursor inside a fold, on a reload, goes out.
    fold(u"- a"_s);
    session->setRestoreCursor(EditorSession::CursorState{15, 0, 0});
    ASSERT_TRUE(session->replaceText(QString::fromUtf8(kList) + u"more\n"_s));
    testsupport::drainPosted();
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - c"_s}));
    EXPECT_TRUE(outside()) << caret();
}

// The re-find rules, each after a change of more than one line.
TEST_F(ProseFoldViewTest, FoldsAreReFoundByLineTextOrDropped)
{
    // Two items with the same text: the fold goes to the nearer one.
    reload(u"- a\n  - x\n- a\n  - y\n"_s);
    fold(u"- a"_s); // the first
    paste(0, 0, u"1\n2\n3\n4\n5\n6\n7\n8\n"_s);
    EXPECT_EQ(hidden(), QStringList{u"  - x"_s});
    // The folded item's line changed by a paste with a line break: dropped.
    reload(QString::fromUtf8(kList));
    fold(u"- a"_s);
    paste(6, 9, u"- b\nc"_s);
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_TRUE(hidden().isEmpty());

    // A fence typed above makes the item code: dropped, nothing stays hidden.
    reload(QString::fromUtf8(kList));
    fold(u"- a"_s);
    caretAt(0);
    type(u"```"_s);
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_TRUE(hidden().isEmpty());
    EXPECT_TRUE(text().chromeHints().isEmpty());

    // The item lost its nested lines (an undo took them away): dropped.
    reload(u"- a\n- d\n"_s);
    caretAt(3);
    key(Qt::Key_Return);
    type(u"  - b"_s);
    fold(u"- a"_s);
    ASSERT_EQ(text().folds().size(), 1);
    while (text().rawText() != u"- a\n- d\n"_s && text().document()->isUndoAvailable())
        text().undo();
    testsupport::drainPosted();
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_TRUE(hidden().isEmpty());

    // Deleting everything drops every fold.
    reload(u"- a\n  - b\n- c\n  - d\n"_s);
    fold(u"- a"_s);
    fold(u"- c"_s);
    text().selectAll();
    key(Qt::Key_Delete);
    EXPECT_TRUE(text().folds().isEmpty());
    EXPECT_TRUE(text().chromeHints().isEmpty());
}

TEST_F(ProseFoldViewTest, TheChromeDrawsChevronsAndTheBadgeInTheirInks)
{
    const L::ParentHint a = hint(u"- a"_s);
    const QRectF open = *text().chevronRect(a.markerLine.start);
    EXPECT_TRUE(grey(inkIn(open.adjusted(0, 0, -50, 0))));
    EXPECT_FALSE(text().badgeRect(a.markerLine.start).has_value());
    click(chevronCentre(u"- a"_s));
    const QRectF folded = *text().chevronRect(a.markerLine.start);
    EXPECT_EQ(folded, open);
    EXPECT_TRUE(brick(inkIn(folded.adjusted(0, 0, -50, 0))));
    const QRectF badge = *text().badgeRect(a.markerLine.start);
    EXPECT_EQ(badge.center().y(), folded.center().y());
    EXPECT_GT(badge.left(), folded.left() + 30);
    EXPECT_TRUE(brick(inkIn(badge.adjusted(0, 0, -30, 0))));
    EXPECT_EQ(text().chromeHints().value(0).hiddenLineCount, 2);
    // Unfolded, the badge is gone and the chevron grey again.
    click(chevronCentre(u"- a"_s));
    EXPECT_GT(inkIn(badge.adjusted(0, 0, -30, 0)).lightness(), 240);
    EXPECT_TRUE(grey(inkIn(open.adjusted(0, 0, -50, 0))));
}

TEST_F(ProseFoldViewTest, ChevronsFollowScrollingAndResizing)
{
    QString body;
    for (int i = 0; i < 60; ++i)
        body += u"Paragraph %1 of plain prose.\n\n"_s.arg(i);
    body += u"- far\n  - nested\n"_s;
    reload(body);
    const qsizetype far = body.indexOf(u"- far"_s);
    QScrollBar *bar = text().verticalScrollBar();
    bar->setValue(bar->maximum());
    testsupport::drainPosted();
    const std::optional<QRectF> before = text().chevronRect(far);
    ASSERT_TRUE(before.has_value());
    EXPECT_TRUE(grey(inkIn(before->adjusted(0, 0, -50, 0))));
    bar->setValue(bar->value() - 40);
    testsupport::drainPosted();
    const QRectF after = *text().chevronRect(far);
    EXPECT_EQ(after.top(), before->top() + 40);
    EXPECT_TRUE(grey(inkIn(after.adjusted(0, 0, -50, 0))));
    // Narrower: the column moves, the chevron with it, still left of the
    // item's first character.
    view.resize(560, 500);
    testsupport::drainPosted();
    bar->setValue(bar->maximum());
    testsupport::drainPosted();
    const QRectF narrow = *text().chevronRect(far);
    EXPECT_TRUE(grey(inkIn(narrow.adjusted(0, 0, -50, 0))));
    click(narrow.topLeft() + QPointF(4, 7));
    EXPECT_EQ(hidden(), QStringList{u"  - nested"_s});
}

TEST_F(ProseFoldViewTest, AClickTogglesOnlyItsItem)
{
    reload(u"- a\n  - b\n- c\n  - d\n"_s);
    click(chevronCentre(u"- c"_s));
    EXPECT_EQ(hidden(), QStringList{u"  - d"_s});
    click(chevronCentre(u"- a"_s));
    EXPECT_EQ(hidden(), (QStringList{u"  - b"_s, u"  - d"_s}));
    click(chevronCentre(u"- c"_s));
    EXPECT_EQ(hidden(), QStringList{u"  - b"_s});
}

TEST_F(ProseFoldViewTest, TheChromeIsLaidOutAgainOnlyWhenItsHintsChange)
{
    reload(u"- a\n  - b\n\nbody\n"_s);
    const int layouts = text().chromeLayouts();
    // Below every item: the same hints, nothing laid out.
    caretAt(text().rawText().size() - 1);
    type(u"x"_s);
    EXPECT_EQ(text().chromeLayouts(), layouts);
    // Below every item's line, but it makes '  - b' a parent.
    caretAt(9);
    key(Qt::Key_Return);
    type(u"    x"_s);
    EXPECT_GT(text().chromeLayouts(), layouts);
    EXPECT_EQ(text().chromeHints().size(), 2);
    EXPECT_TRUE(text().chevronRect(4).has_value());
}

TEST_F(ProseFoldViewTest, AListEditsCaretIsSnappedToACharacter)
{
    reload(u"- a\n- 😀b\n"_s);
    // A caret computed between the halves of the pair.
    ASSERT_TRUE(text().applyEdit(L::Edit{L::Range{4, 6}, u"  - 😀b\n"_s, 9}));
    EXPECT_EQ(text().rawText(), u"- a\n  - 😀b\n"_s);
    EXPECT_EQ(caret(), 8);
    // A click is answered in the paint that follows it, chevron included.
    reload(QString::fromUtf8(kList));
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::NoModifier, chevronCentre(u"- a"_s).toPoint());
    EXPECT_TRUE(text().chromeHints().value(0).folded);
}

TEST_F(ProseFoldViewTest, Screenshots)
{
    reload(u"# Errands\n\nWhat the week holds, in order.\n\n- Market\n  - apples\n  - bread\n  - "
           u"coffee beans\n- Post office\n  - the parcel for Ana\n- Library\n  - return two books\n  - "
           u"renew the third\n\nThe rest can wait.\n"_s);
    EXPECT_FALSE(testsupport::saveScreenshot(view, u"prose-list-unfolded"_s, QSize(700, 500)).isEmpty());
    fold(u"- Market"_s);
    fold(u"- Library"_s);
    EXPECT_FALSE(testsupport::saveScreenshot(view, u"prose-list-folded"_s, QSize(700, 500)).isEmpty());
}

} // namespace
