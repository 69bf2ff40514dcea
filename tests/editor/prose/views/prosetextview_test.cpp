// The prose text view over a real editing session on a temporary Home: what
// reaches the session and the disk, the cursor, reloads, list keys, drops and
// the find bar; and the plain rules the view decides by.

#include "editor/prose/views/prosetextview.h"

#include "chrome/palette.h"
#include "editor/prose/prosedocumentlayout.h"
#include "editor/prose/prosehighlighter.h"
#include "editor/prose/views/proselisttextview.h"
#include "library/piececontents.h"
#include "model/editorsession.h"

#include "piecehome.h"
#include "testutil.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>

namespace {

using editor::FileDropTextView;
using editor::ProseListTextView;
using editor::ProseTextView;
using model::EditorSession;
using model::SaveState;
using model::SessionTarget;
namespace PostStore = library::PostStore;
using testsupport::readFile;
using testsupport::spinUntil;
using testsupport::writeFile;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QByteArray kBlock = testsupport::PieceHome::frontMatter;

class ProseTextViewTest : public ::testing::Test, protected testsupport::PieceHome {
protected:
    std::unique_ptr<EditorSession> open(const QString &id, std::chrono::milliseconds debounce = 20ms)
    {
        return PieceHome::open(id, debounce);
    }
    // The view on screen with session, and the deferred steps run.
    void show(ProseTextView &view, EditorSession *session)
    {
        view.resize(700, 500);
        view.setSession(session);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        testsupport::drainPosted();
    }
    static void caretAt(ProseTextView &view, int position)
    {
        QTextCursor cursor = view.textView()->textCursor();
        cursor.setPosition(position);
        view.textView()->setTextCursor(cursor);
    }
    static void type(ProseTextView &view, const QString &text) { QTest::keyClicks(view.textView(), text); }
    static void key(ProseTextView &view, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(view.textView(), key, modifiers);
    }
    static void settle(EditorSession &session)
    {
        ASSERT_TRUE(spinUntil([&] { return !session.autosavePending(); }));
    }
};

TEST_F(ProseTextViewTest, LoadingIsNoEditAndTypingAutosavesUnderTheFrontMatter)
{
    piece(u"walk"_s, "# Walk\n\nWe walked.\n");
    auto session = open(u"walk"_s);
    ProseTextView view;
    show(view, session.get());
    // The load, and the highlighter's pass after it, hand nothing back.
    QTest::qWait(50);
    EXPECT_EQ(view.textView()->rawText(), u"# Walk\n\nWe walked.\n"_s);
    EXPECT_FALSE(session->autosavePending());
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(view.textView()->document()->availableUndoSteps(), 0);

    caretAt(view, 17);
    type(view, u" far"_s);
    EXPECT_EQ(session->text(), u"# Walk\n\nWe walked far.\n"_s);
    EXPECT_EQ(session->saveState(), SaveState::changed);
    EXPECT_EQ(readFile(postPath(u"walk"_s)), kBlock + "# Walk\n\nWe walked.\n");
    settle(*session);
    EXPECT_EQ(readFile(postPath(u"walk"_s)), kBlock + "# Walk\n\nWe walked far.\n");
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(session->loadGeneration(), 0);
}

TEST_F(ProseTextViewTest, ThePaperIsThePageAndTheCanvasInFocusMode)
{
    piece(u"walk"_s, "# Walk\n\nWe walked.\n");
    auto session = open(u"walk"_s);
    ProseTextView view;
    show(view, session.get());
    // Far below the text: only the paper.
    const auto paper = [&] { return view.grab().toImage().pixelColor(view.width() / 2, view.height() - 20).toRgb(); };
    EXPECT_EQ(paper(), app::Palette::page().toRgb());
    view.setFocused(true);
    EXPECT_EQ(paper(), app::Palette::canvas().toRgb());
    view.setFocused(false);
    EXPECT_EQ(paper(), app::Palette::page().toRgb());
}

TEST_F(ProseTextViewTest, TypingThenDeletingSavesTheTextByteForByte)
{
    // NBSP, a line separator, tabs, trailing spaces, an emoji sequence and
    // combining accents: what QTextDocument's plain text would change.
    const QByteArray body = "# Caf\xC3\xA9\n\nNo\xC2\xA0"
                            "break\xE2\x80\xA8same line\n\tTabbed\t \n"
                            "Trailing   \nFamily \xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 and e\xCC\x81 and "
                            "n\xCC\x83\n";
    piece(u"exact"_s, body);
    auto session = open(u"exact"_s, 10s);
    ProseTextView view;
    show(view, session.get());
    const QString loaded = QString::fromUtf8(body);
    EXPECT_EQ(view.textView()->rawText(), loaded);

    // A character in the middle is written where it was typed, and deleting
    // it writes the bytes as they were.
    const int middle = int(loaded.indexOf(u"same"_s));
    caretAt(view, middle);
    type(view, u"Z"_s);
    ASSERT_TRUE(session->flush());
    QByteArray typed = body;
    typed.insert(typed.indexOf("same"), 'Z');
    EXPECT_EQ(readFile(postPath(u"exact"_s)), kBlock + typed);
    key(view, Qt::Key_Backspace);
    ASSERT_TRUE(session->flush());
    EXPECT_EQ(readFile(postPath(u"exact"_s)), kBlock + body);

    // The same at the end of the text.
    caretAt(view, int(loaded.size()));
    type(view, u"!"_s);
    key(view, Qt::Key_Backspace);
    EXPECT_EQ(session->text(), loaded);
    ASSERT_TRUE(session->flush());
    EXPECT_EQ(readFile(postPath(u"exact"_s)), kBlock + body);
}

TEST_F(ProseTextViewTest, TheStoredCursorIsRestoredOnReopeningAndSnappedToACharacter)
{
    piece(u"c"_s, "\n\n# Title\n\nA line \xF0\x9F\x99\x82 with a face.\n");
    {
        auto session = open(u"c"_s);
        ProseTextView view;
        show(view, session.get());
        // No stored cursor: the first content line.
        EXPECT_EQ(view.textView()->textCursor().position(), 2);
        EXPECT_EQ(session->cursor(), (PostStore::CursorState{2, 0, 0}));
        caretAt(view, 13);
        type(view, u"x"_s);
        EXPECT_EQ(session->cursor().selectionLocation, 14);
        settle(*session);
    }
    {
        auto session = open(u"c"_s);
        ProseTextView view;
        show(view, session.get());
        EXPECT_EQ(view.textView()->textCursor().position(), 14);
    }
    // A stored caret between the halves of the emoji lands before it.
    const qsizetype face = PostStore::readText(u"c"_s, home)->indexOf(QChar(0xD83D));
    writeFile(home + "/projects/Essays/c/.pennora-state.json",
              QString(R"({"scrollOffset":0,"selectionLength":0,"selectionLocation":%1})").arg(face + 1).toUtf8());
    auto session = open(u"c"_s);
    ProseTextView view;
    show(view, session.get());
    EXPECT_EQ(view.textView()->textCursor().position(), face);
    EXPECT_EQ(session->cursor().selectionLocation, face);
}

TEST_F(ProseTextViewTest, ANewLoadGenerationReloadsWithoutEchoAndTheSameOneLeavesTheText)
{
    piece(u"g"_s, "# G\n\nFirst text.\n");
    writeFile(home + "/projects/Essays/g/.pennora-state.json",
              R"({"scrollOffset":0,"selectionLength":0,"selectionLocation":8})");
    auto session = open(u"g"_s);
    ProseTextView view;
    show(view, session.get());
    caretAt(view, 3);

    // The same generation: the session's text does not reach the view.
    session->textDidChange(u"# G\n\nSomething else.\n"_s);
    session->cancelAutosave();
    EXPECT_EQ(view.textView()->rawText(), u"# G\n\nFirst text.\n"_s);
    EXPECT_EQ(view.textView()->textCursor().position(), 3);

    // A replaced text (an applied card): loaded, the stored cursor kept, and
    // nothing handed back as typing.
    ASSERT_TRUE(session->replaceText(u"# G\n\nFixed text.\n"_s));
    testsupport::drainPosted();
    EXPECT_EQ(view.loadedGeneration(), 1);
    EXPECT_EQ(view.textView()->rawText(), u"# G\n\nFixed text.\n"_s);
    EXPECT_EQ(view.textView()->textCursor().position(), 8);
    EXPECT_FALSE(session->autosavePending());
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(view.textView()->document()->availableUndoSteps(), 0);
}

// A view made anew over a session the writer has typed into (the pane
// switched away and back) starts from the session's text, caret and scroll,
// never from the text as it was opened: the next keystroke would save that
// over everything written since.
TEST_F(ProseTextViewTest, ANewViewOnALiveSessionShowsItsTextCaretAndScroll)
{
    QByteArray body = "# Long\n\n";
    for (int i = 0; i < 60; ++i)
        body += "Line " + QByteArray::number(i) + " of the piece.\n\n";
    piece(u"live"_s, body);
    auto session = open(u"live"_s);
    int caret = 0;
    int scroll = 0;
    {
        ProseTextView view;
        show(view, session.get());
        caretAt(view, int(view.textView()->rawText().indexOf(u"Line 30"_s)));
        type(view, u"Typed "_s);
        settle(*session);
        caret = view.textView()->textCursor().position();
        // Scrolled away from the caret: what the writer sees is kept too.
        view.textView()->verticalScrollBar()->setValue(view.textView()->verticalScrollBar()->value() + 120);
        scroll = view.textView()->verticalScrollBar()->value();
    }
    ASSERT_EQ(readFile(postPath(u"live"_s)),
              kBlock + QString::fromUtf8(body).replace(u"Line 30"_s, u"Typed Line 30"_s).toUtf8());

    ProseTextView again;
    show(again, session.get());
    EXPECT_EQ(again.textView()->rawText(), session->text());
    EXPECT_EQ(again.textView()->textCursor().position(), caret);
    EXPECT_EQ(again.textView()->verticalScrollBar()->value(), scroll);
    EXPECT_EQ(session->saveState(), SaveState::saved);
    type(again, u"x"_s);
    settle(*session);
    const QString saved = QString::fromUtf8(readFile(postPath(u"live"_s)));
    EXPECT_TRUE(saved.contains(u"Typed xLine 30"_s)) << saved.toStdString();
}

// The room above the text is the page's margin from the first paint on; the
// room below is half the view, kept through every resize. Neither the first
// keystroke nor a resize moves the title, and it never sits mid-view.
TEST_F(ProseTextViewTest, TheTypewriterRoomIsRightFromTheFirstPaintAndAfterEveryResize)
{
    piece(u"t"_s, "# Title\n\nA line of the body.\n");
    auto session = open(u"t"_s);
    ProseTextView view;
    show(view, session.get());
    QTextEdit *text = view.textView();
    const auto titleTop = [&] {
        return view.documentLayout()->blockBoundingRect(text->document()->firstBlock()).top()
               - text->verticalScrollBar()->value();
    };
    const auto roomBelow = [&] {
        const QTextBlock last = text->document()->lastBlock();
        return view.documentLayout()->documentSize().height() - view.documentLayout()->blockBoundingRect(last).bottom();
    };
    const double opened = titleTop();
    EXPECT_LT(opened, text->viewport()->height() / 4.0);
    EXPECT_DOUBLE_EQ(roomBelow(), text->viewport()->height() / 2.0);

    caretAt(view, 7);
    type(view, u"s"_s);
    QTest::qWait(300); // any glide has ended
    EXPECT_DOUBLE_EQ(titleTop(), opened);

    for (const QSize size : {QSize(700, 300), QSize(700, 900), QSize(500, 500)}) {
        view.resize(size);
        QApplication::processEvents();
        QTest::qWait(50);
        EXPECT_DOUBLE_EQ(titleTop(), opened) << size.height();
        EXPECT_DOUBLE_EQ(roomBelow(), text->viewport()->height() / 2.0) << size.height();
    }
}

TEST_F(ProseTextViewTest, ListKeysAreOneUndoStepAndOnlyTheExactModifiersMove)
{
    piece(u"l"_s, "- one\n- two\n- three\n\nPlain line\n");
    auto session = open(u"l"_s, 10s);
    ProseTextView view;
    show(view, session.get());
    const QString start = view.textView()->rawText();

    caretAt(view, 9);
    key(view, Qt::Key_Tab);
    EXPECT_EQ(session->text(), u"- one\n  - two\n- three\n\nPlain line\n"_s);
    EXPECT_EQ(view.textView()->textCursor().position(), 11);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view.textView()->rawText(), start);
    EXPECT_EQ(session->text(), start);

    // Tab on the first item (no previous sibling) is taken and does nothing.
    caretAt(view, 2);
    key(view, Qt::Key_Tab);
    EXPECT_EQ(view.textView()->rawText(), start);
    // Shift+Tab on a top-level item does nothing either.
    key(view, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(view.textView()->rawText(), start);

    // Alt+Down moves the item under its next sibling; one undo restores.
    key(view, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(view.textView()->rawText(), u"- two\n- one\n- three\n\nPlain line\n"_s);
    key(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view.textView()->rawText(), start);

    // Alt+Shift+Up and Ctrl+Alt+Up are left to the text view: no move.
    caretAt(view, 9);
    key(view, Qt::Key_Up, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(view.textView()->rawText(), start);
    caretAt(view, 9);
    key(view, Qt::Key_Up, Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(view.textView()->rawText(), start);

    // Tab off a list inserts a tab.
    caretAt(view, int(start.indexOf(u"Plain"_s)));
    key(view, Qt::Key_Tab);
    EXPECT_EQ(session->text(), u"- one\n- two\n- three\n\n\tPlain line\n"_s);
}

// Shift+Tab where there is no list item to outdent (plain text, "- ", which
// is a rule, an empty text) does nothing and keeps the keyboard: the words
// typed next still go into the piece, not into the field before the editor.
TEST_F(ProseTextViewTest, ShiftTabOffAListKeepsTheTyping)
{
    const char *bodies[] = {"Plain line\n", "- ", ""};
    int n = 0;
    for (const char *body : bodies) {
        SCOPED_TRACE(body);
        const QString id = u"s"_s + QString::number(n++);
        piece(id, body);
        auto session = open(id, 10s);
        QWidget window;
        auto *column = new QVBoxLayout(&window);
        auto *field = new QLineEdit;
        column->addWidget(field);
        auto *view = new ProseTextView;
        column->addWidget(view);
        view->setSession(session.get());
        window.resize(700, 500);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        testsupport::drainPosted();
        view->textView()->setFocus();
        caretAt(*view, int(std::strlen(body)));
        key(*view, Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_TRUE(view->textView()->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), u"x"_s);
        EXPECT_EQ(session->text(), QString::fromUtf8(body) + u"x"_s);
        EXPECT_TRUE(field->text().isEmpty());
    }
}

// A list edit that leaves the caret at the end of what it replaced: the
// letter typed next is an undo step of its own.
TEST_F(ProseTextViewTest, TypingAfterAListEditIsUndoneAlone)
{
    struct Case {
        const char *body;
        int caret;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char16_t *edited;
    };
    const Case cases[] = {
        {"- a\n- b", 7, Qt::Key_Tab, Qt::NoModifier, u"- a\n  - b"},
        {"- a\n  - b", 9, Qt::Key_Backtab, Qt::ShiftModifier, u"- a\n- b"},
        {"- a\n- b", 3, Qt::Key_Down, Qt::AltModifier, u"- b\n- a"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        const QString id = u"u"_s + QString::number(n++);
        piece(id, c.body);
        auto session = open(id, 10s);
        ProseTextView view;
        show(view, session.get());
        caretAt(view, c.caret);
        key(view, c.key, c.modifiers);
        const QString edited = QString::fromUtf16(c.edited);
        ASSERT_EQ(view.textView()->rawText(), edited);
        type(view, u"x"_s);
        key(view, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(view.textView()->rawText(), edited);
        EXPECT_EQ(session->text(), edited);
        key(view, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(view.textView()->rawText(), QString::fromUtf8(c.body));
    }
}

// A paste without the clipboard.
struct PastingTextView : ProseListTextView {
    using ProseListTextView::insertFromMimeData;
};

TEST_F(ProseTextViewTest, SingleLineEditsAreNotedForTheRefresh)
{
    PastingTextView text;
    std::optional<ProseListTextView::PlainEdit> seen;
    QObject::connect(&text, &QTextEdit::textChanged, [&] { seen = text.pendingPlainEdit(); });
    text.setPlainText(u"alpha beta gamma\nsecond"_s);
    QTextCursor cursor = text.textCursor();
    cursor.setPosition(5);
    text.setTextCursor(cursor);
    QTest::keyClick(&text, Qt::Key_X);
    EXPECT_EQ(seen, (ProseListTextView::PlainEdit{{5, 0}, 1}));
    QTest::keyClick(&text, Qt::Key_Return);
    EXPECT_EQ(seen, std::nullopt);
    // A paste of 3 over a word of 5.
    cursor.setPosition(8);
    cursor.setPosition(13, QTextCursor::KeepAnchor);
    text.setTextCursor(cursor);
    QMimeData paste;
    paste.setText(u"abc"_s);
    text.insertFromMimeData(&paste);
    EXPECT_EQ(seen, (ProseListTextView::PlainEdit{{8, 5}, -2}));
    text.refreshAfterTextChange();
    EXPECT_EQ(text.pendingPlainEdit(), std::nullopt);
}

TEST_F(ProseTextViewTest, FileDropsGoToTheCallbackAndTextDropsAreInserted)
{
    piece(u"d"_s, "# D\n\nBody.\n");
    auto session = open(u"d"_s, 10s);
    ProseTextView view;
    QList<QList<QUrl>> routed;
    bool answer = true;
    view.setRouteDrop([&](const QList<QUrl> &urls) {
        routed << urls;
        return answer;
    });
    show(view, session.get());
    QWidget *target = view.textView()->viewport();
    const QPoint at = view.textView()->cursorRect(QTextCursor(view.textView()->document()->lastBlock())).center();

    const auto drop = [&](QMimeData &data) {
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent dropped(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    };

    // URLs win over text, even a link with its title.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(u"/tmp/a.png"_s), QUrl(u"https://example.com/x"_s)});
    files.setText(u"a title"_s);
    EXPECT_TRUE(drop(files));
    EXPECT_EQ(routed, (QList<QList<QUrl>>{files.urls()}));
    answer = false;
    EXPECT_FALSE(drop(files));
    EXPECT_EQ(view.textView()->rawText(), u"# D\n\nBody.\n"_s);

    QMimeData words;
    words.setText(u"dropped words"_s);
    drop(words);
    EXPECT_TRUE(session->text().contains(u"dropped words"_s)) << session->text().toStdString();
    EXPECT_EQ(routed.size(), 2);

    // Without a route, URLs are refused.
    view.setRouteDrop({});
    EXPECT_FALSE(drop(files));
    EXPECT_EQ(routed.size(), 2);
}

TEST(FileDropTextViewKinds, URLsWinOverTextAndNothingIsNone)
{
    using Kind = FileDropTextView::DropKind::Kind;
    QMimeData both;
    both.setUrls({QUrl(u"https://example.com"_s)});
    both.setText(u"Example"_s);
    EXPECT_EQ(FileDropTextView::classify(both).kind, Kind::urls);
    EXPECT_EQ(FileDropTextView::classify(both).urls, QList<QUrl>{QUrl(u"https://example.com"_s)});
    QMimeData text;
    text.setText(u"words"_s);
    EXPECT_EQ(FileDropTextView::classify(text).kind, Kind::text);
    QMimeData image;
    image.setData(u"image/png"_s, "\x89PNG");
    EXPECT_EQ(FileDropTextView::classify(image).kind, Kind::none);
}

TEST_F(ProseTextViewTest, FindSelectsTheNextMatchAndWraps)
{
    piece(u"f"_s, "# Find\n\nOne fish, two fish.\n");
    auto session = open(u"f"_s, 10s);
    ProseTextView view;
    show(view, session.get());
    view.textView()->setFocus();
    QTest::keyClick(view.textView(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(view.findBar()->isVisible());

    caretAt(view, 0);
    ASSERT_TRUE(view.find(u"fish"_s));
    EXPECT_EQ(view.textView()->textCursor().selectionStart(), 12);
    ASSERT_TRUE(view.find(u"fish"_s));
    EXPECT_EQ(view.textView()->textCursor().selectionStart(), 22);
    ASSERT_TRUE(view.find(u"fish"_s));
    EXPECT_EQ(view.textView()->textCursor().selectionStart(), 12);
    EXPECT_FALSE(view.find(u"whale"_s));
    // Finding records the selection as the cursor.
    EXPECT_EQ(session->cursor().selectionLocation, 12);
    EXPECT_EQ(session->cursor().selectionLength, 4);
}

TEST_F(ProseTextViewTest, SpellCheckingUnderlinesMisspeltProseOnly)
{
    piece(u"s"_s, "# Spel\n\nA wrod here, `wrod` in code.\n\n```\nwrod\n```\n");
    auto session = open(u"s"_s, 10s);
    ProseTextView view;
    show(view, session.get());
    const auto underlined = [&](int blockNumber) {
        QList<int> starts;
        const QTextBlock block = view.textView()->document()->findBlockByNumber(blockNumber);
        for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
            if (range.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline && !starts.contains(range.start))
                starts << range.start;
        }
        return starts;
    };
    EXPECT_EQ(underlined(2), QList<int>());
    view.setSpellChecking(true);
    EXPECT_EQ(underlined(0), QList<int>{2});
    EXPECT_EQ(underlined(2), QList<int>{2});
    EXPECT_EQ(underlined(5), QList<int>());
    view.setSpellChecking(false);
    EXPECT_EQ(underlined(2), QList<int>());
    // Turning it on and off is no edit.
    EXPECT_FALSE(session->autosavePending());
}

TEST(ProseTextViewRules, RestoredSelection)
{
    using S = ProseTextView::Selection;
    using C = ProseTextView::StoredCursor;
    struct Case {
        const char *name;
        qsizetype length;
        std::optional<C> stored;
        std::optional<qsizetype> first;
        S expected;
    };
    const std::vector<Case> cases{
        {"beyond the end", 100, C{120, 5, 300}, std::nullopt, S{100, 0, 300}},
        {"caret before the heading", 40, C{0, 0, 0}, 2, S{2, 0, 0}},
        {"a selection stays", 40, C{0, 4, 0}, 2, S{0, 4, 0}},
        {"only blank lines", 5, C{3, 0, 0}, std::nullopt, S{3, 0, 0}},
        {"no stored cursor", 40, std::nullopt, 6, S{6, 0, 0}},
        {"negative values", 40, C{-4, -2, -10}, std::nullopt, S{0, 0, 0}},
        {"scroll not a number", 40, C{1, 0, std::nan("")}, std::nullopt, S{1, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProseTextView::restoredSelection(c.length, c.stored, c.first), c.expected);
    }
}

TEST(ProseTextViewRules, HintCaretAndCentring)
{
    EXPECT_EQ(ProseTextView::hintCaret(50, -5, 3), 3);
    EXPECT_EQ(ProseTextView::hintCaret(50, 80, 3), 50);
    EXPECT_EQ(ProseTextView::hintCaret(50, 20, 3), 20);
    EXPECT_EQ(ProseTextView::hintCaret(50, 0, std::nullopt), 0);

    // Within 60 of the middle: left alone; beyond: to the middle, clamped.
    EXPECT_EQ(ProseTextView::centringScroll(300, 0, 500, 1000), std::nullopt);
    EXPECT_EQ(ProseTextView::centringScroll(400, 0, 500, 1000), 150);
    EXPECT_EQ(ProseTextView::centringScroll(1600, 0, 500, 1000), 1000);
    EXPECT_EQ(ProseTextView::centringScroll(100, 400, 500, 1000), 0);
}

TEST_F(ProseTextViewTest, ACaretHintIsAppliedOncePerToken)
{
    piece(u"h"_s, "\n# H\n\nText here.\n");
    auto session = open(u"h"_s, 10s);
    ProseTextView view;
    show(view, session.get());
    view.setCaretHint(ProseTextView::CaretHint{8, 1});
    EXPECT_EQ(view.textView()->textCursor().position(), 8);
    EXPECT_EQ(session->cursor().selectionLocation, 8);
    caretAt(view, 3);
    view.setCaretHint(ProseTextView::CaretHint{8, 1});
    EXPECT_EQ(view.textView()->textCursor().position(), 3);
    view.setCaretHint(ProseTextView::CaretHint{-5, 2});
    EXPECT_EQ(view.textView()->textCursor().position(), 1);
}

} // namespace
