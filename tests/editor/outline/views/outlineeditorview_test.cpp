// The outline editor offscreen over a real editing session on a temporary
// Home: typing and every structure key checked on the saved file, selection,
// the Escape ladder, folds, zoom and the breadcrumb, drags made of real mouse
// events, the draft path, the empty and held states, grapheme-safe Return,
// and screenshots.

#include "editor/outline/views/outlineeditorview.h"
#include "editor/outline/views/outlineinline.h"
#include "editor/outline/views/rowtextview.h"
#include "model/editorsession.h"

#include "../outlinefixture.h"
#include "screenshot.h"
#include "testutil.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

using editor::outline::InlineText;
using editor::outline::OutlineEditorView;
using editor::outline::RowTextView;
using model::EditorSession;
using testsupport::spinUntil;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QByteArray kFrontMatter = "---\ntype: outline\npass_state: First Draft\norigin: writer\n---\n";

class OutlineView : public ::testing::Test {
protected:
    void TearDown() override
    {
        view.reset();
        session.reset();
    }

    QString postPath() const { return home + "/projects/Essays/plan/post.md"; }
    // Opens the piece "plan" with body in an editor on screen.
    void open(const QByteArray &body, QSize size = QSize(640, 420))
    {
        testsupport::writeFile(postPath(), kFrontMatter + body);
        session = std::make_unique<EditorSession>(model::SessionTarget::post(u"plan"_s, home), 30ms);
        OutlineEditorView::Inputs inputs;
        inputs.session = session.get();
        inputs.openInProse = [this] { ++openInProseCalls; };
        show(std::make_unique<OutlineEditorView>(std::move(inputs)), size);
    }
    void show(std::unique_ptr<OutlineEditorView> made, QSize size = QSize(640, 420))
    {
        view = std::move(made);
        // The editor screen's page behind it, as in the application.
        QPalette page = view->palette();
        page.setColor(QPalette::Window, QColor(255, 254, 251));
        view->setPalette(page);
        view->setAutoFillBackground(true);
        view->resize(size);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        testsupport::drainPosted();
    }
    // The body on disk once the autosave has run.
    QString savedBody()
    {
        EXPECT_TRUE(spinUntil([&] { return !session->autosavePending(); }));
        const QByteArray disk = testsupport::readFile(postPath());
        EXPECT_TRUE(disk.startsWith(kFrontMatter));
        return QString::fromUtf8(disk.mid(kFrontMatter.size()));
    }
    RowTextView *editor() const { return view->rowEditor(); }
    // Keys go where the keyboard is, as the writer's do.
    static void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), k, modifiers);
        testsupport::drainPosted();
    }
    static void type(const QString &text)
    {
        QTest::keyClicks(QApplication::focusWidget(), text);
        testsupport::drainPosted();
    }
    QUuid id(const QString &text) const { return outlinetest::idOf(view->state().nodes(), text); }
    QWidget *viewport() const { return view->listView()->viewport(); }
    QPoint centreOf(const QString &text, QRect OutlineEditorView::RowParts::*part) const
    {
        const auto parts = view->partsOf(id(text));
        EXPECT_TRUE(parts.has_value()) << text.toStdString();
        return parts ? (*parts.*part).center() : QPoint();
    }
    void click(const QString &text, QRect OutlineEditorView::RowParts::*part,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mouseClick(viewport(), Qt::LeftButton, modifiers, centreOf(text, part));
        testsupport::drainPosted();
    }
    bool focusedOn(const QString &text) const
    {
        return editor() && editor()->rowText() == text && QApplication::focusWidget() == editor();
    }
    QStringList visibleTexts() const
    {
        QStringList texts;
        for (const auto &row : view->state().visibleRows())
            texts << row.text;
        return texts;
    }
    // Press, release, then the double click, as a mouse makes them.
    void doubleClick(const QString &text)
    {
        const QPoint at = centreOf(text, &OutlineEditorView::RowParts::bullet);
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at);
        testsupport::drainPosted();
    }
    // A drag by the grip of one row to a point, as the mouse makes it.
    void dragGrip(const QString &text, QPoint to, bool escapeBeforeRelease = false)
    {
        const QPoint from = centreOf(text, &OutlineEditorView::RowParts::grip);
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(viewport(), from + QPoint(0, 2));
        QTest::mouseMove(viewport(), from + QPoint(0, 6));
        QTest::mouseMove(viewport(), (from + to) / 2);
        QTest::mouseMove(viewport(), to);
        if (escapeBeforeRelease)
            key(Qt::Key_Escape);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, to);
        testsupport::drainPosted();
    }

    QTemporaryDir dir;
    QString home = dir.filePath("Home");
    std::unique_ptr<EditorSession> session;
    std::unique_ptr<OutlineEditorView> view;
    int openInProseCalls = 0;
};

// The first row is focused with its editor; typing, Return, Tab, Shift+Tab
// and the moves each reach the file after the debounce.
TEST_F(OutlineView, TypingAndStructureKeysAreSaved)
{
    open("# Plan\n\n- one\n- two\n  - child\n- three");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("one"); }));
    type(" more");
    EXPECT_EQ(savedBody(), "# Plan\n\n- one more\n- two\n  - child\n- three");

    key(Qt::Key_Return);
    ASSERT_TRUE(focusedOn(""));
    EXPECT_EQ(editor()->caretGraphemes(), 0);
    type("new");
    EXPECT_EQ(savedBody(), "# Plan\n\n- one more\n- new\n- two\n  - child\n- three");

    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char *body;
    } steps[] = {
        {Qt::Key_Tab, Qt::NoModifier, "# Plan\n\n- one more\n  - new\n- two\n  - child\n- three"},
        {Qt::Key_Backtab, Qt::ShiftModifier, "# Plan\n\n- one more\n- new\n- two\n  - child\n- three"},
        {Qt::Key_Down, Qt::AltModifier, "# Plan\n\n- one more\n- two\n  - child\n- new\n- three"},
        {Qt::Key_Up, Qt::AltModifier, "# Plan\n\n- one more\n- new\n- two\n  - child\n- three"},
        // The first child cannot indent: nothing changes.
        {Qt::Key_Up, Qt::NoModifier, "# Plan\n\n- one more\n- new\n- two\n  - child\n- three"},
        {Qt::Key_Tab, Qt::NoModifier, "# Plan\n\n- one more\n- new\n- two\n  - child\n- three"},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.body);
        key(step.key, step.modifiers);
        EXPECT_EQ(savedBody(), QString::fromUtf8(step.body));
        // The keyboard stays in a row editor.
        EXPECT_NE(qobject_cast<RowTextView *>(QApplication::focusWidget()), nullptr);
    }
    EXPECT_TRUE(focusedOn("one more"));
    // A caret kept through an indent: the editor is the same.
    key(Qt::Key_Down);
    QPointer<RowTextView> kept = editor();
    key(Qt::Key_Tab);
    EXPECT_EQ(savedBody(), "# Plan\n\n- one more\n  - new\n- two\n  - child\n- three");
    EXPECT_EQ(editor(), kept);
    type("!");
    EXPECT_EQ(savedBody(), "# Plan\n\n- one more\n  - new!\n- two\n  - child\n- three");
}

// Folds by key and by bullet: the count, no text written; zoom by a bullet's
// double click with its breadcrumb; a childless bullet's click focuses.
TEST_F(OutlineView, FoldsZoomAndBullets)
{
    open("- alpha\n  - a1\n    - a11\n    - a12\n  - a2\n- beta");
    const QString body = savedBody();
    ASSERT_TRUE(spinUntil([&] { return focusedOn("alpha"); }));
    key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(visibleTexts(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(OutlineEditorView::foldCountText(view->state().visibleRows().first()), "⋯ 4");
    EXPECT_FALSE(view->partsOf(id("alpha"))->count.isEmpty());
    key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(visibleTexts().size(), 6);
    EXPECT_TRUE(view->partsOf(id("alpha"))->count.isEmpty());

    EXPECT_EQ(view->helpAt(centreOf("a1", &OutlineEditorView::RowParts::bullet)),
              "fold/unfold (Ctrl+↑ / Ctrl+↓) · double-click: zoom in");
    EXPECT_EQ(view->helpAt(centreOf("a2", &OutlineEditorView::RowParts::bullet)), "double-click: zoom in");
    // The bullet of a row with children folds it; a childless one focuses.
    click("a1", &OutlineEditorView::RowParts::bullet);
    EXPECT_EQ(visibleTexts(), (QStringList{"alpha", "a1", "a2", "beta"}));
    click("a2", &OutlineEditorView::RowParts::bullet);
    EXPECT_TRUE(focusedOn("a2"));
    click("a1", &OutlineEditorView::RowParts::bullet);
    EXPECT_EQ(visibleTexts().size(), 6);

    // A double click zooms in (the fold of its first click undone).
    doubleClick("a1");
    EXPECT_EQ(visibleTexts(), (QStringList{"a11", "a12"}));
    EXPECT_TRUE(view->state().folded().isEmpty());
    EXPECT_TRUE(view->zoomHeader()->isVisible());
    EXPECT_EQ(view->headerLabels(), (QStringList{"⟵ zoom out", "/", "outline", "/", "a1"}));
    // The focus went to the zoom's first row.
    EXPECT_TRUE(spinUntil([&] { return focusedOn("a11"); }));
    doubleClick("a11");
    EXPECT_TRUE(view->emptyState()->isVisible());
    EXPECT_EQ(view->headerLabels(), (QStringList{"⟵ zoom out", "/", "outline", "/", "a1", "/", "a11"}));
    EXPECT_EQ(view->rowEditor(), nullptr);

    // "⟵ zoom out" climbs to the whole outline at once.
    QPushButton *zoomOut = nullptr;
    for (QPushButton *button : view->zoomHeader()->findChildren<QPushButton *>())
        if (button->text() == OutlineEditorView::zoomOutLabel)
            zoomOut = button;
    ASSERT_NE(zoomOut, nullptr);
    zoomOut->click();
    testsupport::drainPosted();
    EXPECT_FALSE(view->zoomHeader()->isVisible());
    EXPECT_EQ(visibleTexts().size(), 6);
    EXPECT_EQ(savedBody(), body);
}

TEST_F(OutlineView, BreadcrumbLabels)
{
    const QString long27 = u"abcdefghijklmnopqrstuvwxyz1"_s;
    const QString long26 = u"abcdefghijklmnopqrstuvwxy😀"_s;
    open(("- " + long27 + "\n  - " + long26 + "\n    - \n      - leaf").toUtf8());
    const QUuid empty = view->state().visibleRows().at(2).id;
    view->state().zoomIn(id(long27));
    view->state().zoomIn(id(long26));
    view->state().zoomIn(empty);
    view->refresh();
    EXPECT_EQ(view->headerLabels(), (QStringList{"⟵ zoom out", "/", "outline", "/", u"abcdefghijklmnopqrstuvwxy…"_s,
                                                 "/", long26, "/", "(empty)"}));
    // A crumb button goes back to its level.
    for (QPushButton *button : view->zoomHeader()->findChildren<QPushButton *>())
        if (button->text() == u"abcdefghijklmnopqrstuvwxy…"_s)
            button->click();
    testsupport::drainPosted();
    EXPECT_EQ(visibleTexts(), (QStringList{long26, "", "leaf"}));
    EXPECT_EQ(view->headerLabels().size(), 5);
}

// Shift-click and Shift+arrows select runs of rows; Tab and the moves then
// act on the whole selection, and a drag of a selection carries its topmost
// rows.
TEST_F(OutlineView, SelectionsIndentMoveAndDrag)
{
    open("- a\n- b\n- c\n- d\n- e");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("a"); }));
    click("c", &OutlineEditorView::RowParts::text, Qt::ShiftModifier);
    EXPECT_EQ(view->state().selectionAnchor(), id("a"));
    EXPECT_TRUE(focusedOn("c"));
    key(Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(savedBody(), "- d\n- a\n- b\n- c\n- e");

    // A plain click drops it; Shift+Down builds another.
    click("b", &OutlineEditorView::RowParts::text);
    EXPECT_FALSE(view->state().selectionAnchor().has_value());
    key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_TRUE(focusedOn("c"));
    key(Qt::Key_Tab);
    EXPECT_EQ(savedBody(), "- d\n- a\n  - b\n  - c\n- e");

    // With a and its child b selected, a drag of b carries a alone, its
    // children inside it.
    click("a", &OutlineEditorView::RowParts::text, Qt::ShiftModifier);
    EXPECT_TRUE(view->state().isSelected(id("a")));
    EXPECT_TRUE(view->state().isSelected(id("b")));
    const auto eRow = view->partsOf(id("e"))->row;
    dragGrip("b", QPoint(eRow.center().x(), eRow.bottom() + 3));
    EXPECT_EQ(savedBody(), "- d\n- e\n- a\n  - b\n  - c");
    EXPECT_EQ(view->state().selectionAnchor(), id("a"));
    EXPECT_TRUE(spinUntil([&] { return focusedOn("a"); }));
}

// Escape drops the selection, then climbs one zoom level, then goes on.
TEST_F(OutlineView, TheEscapeLadder)
{
    open("- a\n  - a1\n  - a2\n- b");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("a"); }));
    view->state().zoomIn(id("a"));
    view->refresh();
    ASSERT_TRUE(spinUntil([&] { return focusedOn("a1"); }));
    key(Qt::Key_Down, Qt::ShiftModifier);
    ASSERT_TRUE(view->state().selectionAnchor().has_value());

    const QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    key(Qt::Key_Escape);
    EXPECT_FALSE(view->state().selectionAnchor().has_value());
    EXPECT_EQ(view->state().zoomStack().size(), 1);
    key(Qt::Key_Escape);
    EXPECT_TRUE(view->state().zoomStack().isEmpty());
    EXPECT_EQ(visibleTexts().size(), 4);
    // At the top without a selection the key is not taken.
    EXPECT_FALSE(view->handleEscKey(escape));
    // Nor while no row editor has the keyboard, even zoomed.
    view->state().zoomIn(id("a"));
    view->refresh();
    testsupport::drainPosted();
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus();
    EXPECT_FALSE(view->handleEscKey(escape));
}

// A drag made of real mouse events lands where the drop targets say;
// Escape during it changes nothing; a drop onto a moving row is refused.
TEST_F(OutlineView, DragsByTheGrip)
{
    open("- a\n- b\n  - b1\n- c");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("a"); }));
    const QString before = savedBody();

    // Escape mid-drag: nothing moves, the dimming goes.
    dragGrip("a", view->partsOf(id("c"))->row.center(), true);
    EXPECT_FALSE(view->state().drag().has_value());
    EXPECT_EQ(view->state().nodes().first().text, "a");
    EXPECT_EQ(savedBody(), before);
    EXPECT_FALSE(session->autosavePending());

    // Onto itself: refused, nothing written.
    dragGrip("b", view->partsOf(id("b"))->row.center());
    EXPECT_EQ(savedBody(), before);

    // Onto the middle of c: the last child of c.
    dragGrip("a", view->partsOf(id("c"))->row.center());
    EXPECT_EQ(savedBody(), "- b\n  - b1\n- c\n  - a");
    EXPECT_TRUE(spinUntil([&] { return focusedOn("a"); }));

    // Above the first row: before it.
    dragGrip("c", view->partsOf(id("b"))->row.topLeft() + QPoint(40, 1));
    EXPECT_EQ(savedBody(), "- c\n  - a\n- b\n  - b1");

    // A press on the grip that does not travel is a click.
    click("b1", &OutlineEditorView::RowParts::grip);
    EXPECT_TRUE(focusedOn("b1"));
}

TEST_F(OutlineView, AnUnsavedDraftHandsEveryEditToItsOwner)
{
    QStringList edits;
    OutlineEditorView::Inputs inputs;
    inputs.draftText = u"# Ideas\n\n- first"_s;
    inputs.onDraftEdit = [&](const QString &text) { edits << text; };
    show(std::make_unique<OutlineEditorView>(std::move(inputs)));
    ASSERT_TRUE(spinUntil([&] { return focusedOn("first"); }));
    type("!");
    key(Qt::Key_Return);
    type("second");
    ASSERT_FALSE(edits.isEmpty());
    EXPECT_EQ(edits.last(), "# Ideas\n\n- first!\n- second");
}

TEST_F(OutlineView, EmptyStates)
{
    open("# Only a heading");
    EXPECT_TRUE(view->emptyState()->isVisible());
    EXPECT_FALSE(view->listView()->isVisible());
    bool found = false;
    for (QLabel *label : view->emptyState()->findChildren<QLabel *>())
        found = found || label->text() == "An empty outline — every line is a node.";
    EXPECT_TRUE(found);
    EXPECT_EQ(view->rowEditor(), nullptr);
    testsupport::saveScreenshot(*view, "outline-editor-empty");
}

// The disk gains a plain paragraph and the session reloads it: the view
// holds, offers prose, writes nothing, and the file keeps the paragraph.
TEST_F(OutlineView, ALossyReloadIsHeldAndNeverWritten)
{
    open("- one\n- two");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("one"); }));
    const QByteArray disk = kFrontMatter + "- one\n- two\nplain paragraph\n";
    testsupport::writeFile(postPath(), disk);
    session->diskDidChange(u"- one\n- two\nplain paragraph\n"_s);
    session->reloadFromDisk();
    testsupport::drainPosted();
    EXPECT_TRUE(view->heldState()->isVisible());
    EXPECT_EQ(view->rowEditor(), nullptr);
    type("more words");
    key(Qt::Key_Return);
    EXPECT_TRUE(session->flush());
    EXPECT_EQ(testsupport::readFile(postPath()), disk);
    view->heldState()->findChild<QPushButton *>("openInProse")->click();
    EXPECT_EQ(openInProseCalls, 1);
    testsupport::saveScreenshot(*view, "outline-editor-held", QSize(640, 420));
}

// Return splits a row of an emoji and a combining accent at every caret
// position without breaking a character.
TEST_F(OutlineView, ReturnSplitsWholeCharacters)
{
    const QString text = u"a😀e\u0301b"_s;
    const QList<qsizetype> bounds = {0, 1, 3, 5, 6};
    for (qsizetype caret : bounds) {
        SCOPED_TRACE(caret);
        QStringList edits;
        OutlineEditorView::Inputs inputs;
        inputs.draftText = u"- "_s + text;
        inputs.onDraftEdit = [&](const QString &edited) { edits << edited; };
        show(std::make_unique<OutlineEditorView>(std::move(inputs)));
        ASSERT_TRUE(spinUntil([&] { return focusedOn(text); }));
        QTextCursor cursor = editor()->textCursor();
        cursor.setPosition(int(caret));
        editor()->setTextCursor(cursor);
        key(Qt::Key_Return);
        ASSERT_FALSE(edits.isEmpty());
        EXPECT_EQ(edits.last(), u"- "_s + text.left(caret) + u"\n- "_s + text.mid(caret));
    }
}

// A structure key that replaces the row editor leaves it alive until its own
// key handler has returned.
TEST_F(OutlineView, TheRowEditorOutlivesItsOwnKeyHandler)
{
    open("- one\n- two");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("one"); }));
    QPointer<RowTextView> first = editor();
    QTest::keyClick(first, Qt::Key_Down);
    ASSERT_FALSE(first.isNull());
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(spinUntil([&] { return first.isNull(); }));
    EXPECT_TRUE(spinUntil([&] { return focusedOn("two"); }));
}

// Two pasted lines stay in one row, joined by a space, the caret after them.
TEST_F(OutlineView, APastedLineBreakBecomesASpace)
{
    open("- one\n- two");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("one"); }));
    QApplication::clipboard()->setText(u" first\nsecond"_s);
    editor()->paste();
    testsupport::drainPosted();
    EXPECT_EQ(editor()->rowText(), "one first second");
    EXPECT_EQ(editor()->textCursor().position(), editor()->rowText().size());
    EXPECT_EQ(savedBody(), "- one first second\n- two");
}

TEST(OutlineInline, MarkersGoAndStylesStay)
{
    const struct {
        QString source;
        QString shown;
        int formats;
    } table[] = {
        {u"plain words"_s, u"plain words"_s, 0},
        {u"**bold** and *it* and _it_"_s, u"bold and it and it"_s, 3},
        {u"run `a * b` now"_s, u"run a * b now"_s, 1},
        {u"see [the site](https://example.com)"_s, u"see the site"_s, 1},
        {u"[**bold link**](u)"_s, u"bold link"_s, 2},
        {u"snake_case_name"_s, u"snake_case_name"_s, 0},
        // Block syntax and HTML show as written.
        {u"# not a heading <b>x</b>"_s, u"# not a heading <b>x</b>"_s, 0},
        {u"**unclosed"_s, u"**unclosed"_s, 0},
    };
    for (const auto &row : table) {
        const InlineText shown = editor::outline::renderInline(row.source);
        EXPECT_EQ(shown.text, row.shown) << row.source.toStdString();
        EXPECT_EQ(shown.formats.size(), row.formats) << row.source.toStdString();
    }
}

TEST_F(OutlineView, Screenshots)
{
    open("# Garden plan\n\n"
         "- Beds by the **south** wall\n"
         "  - Tomatoes, `san-marzano` and cherry\n"
         "  - Beans on the *old* trellis\n"
         "    - Runner beans\n"
         "- Read [the almanac](https://example.com) before sowing\n"
         "  - Frost dates\n"
         "  - Moon phases\n"
         "- Tools\n"
         "  - Mend the hose\n"
         "  - Sharpen the hoe\n"
         "- A note that runs long enough to wrap onto a second line in the column of the outline editor");
    ASSERT_TRUE(spinUntil([&] { return focusedOn("Beds by the **south** wall"); }));
    click("Tools", &OutlineEditorView::RowParts::bullet);
    view->state().setHover(id("Beans on the *old* trellis"), true);
    view->refresh();
    testsupport::saveScreenshot(*view, "outline-editor-rows");

    view->state().zoomIn(id("Beds by the **south** wall"));
    view->refresh();
    testsupport::saveScreenshot(*view, "outline-editor-zoomed");
    view->state().zoomToTop();
    view->refresh();

    // A drag in flight over the middle of a row.
    const QPoint from = centreOf("Frost dates", &OutlineEditorView::RowParts::grip);
    const QPoint to = view->partsOf(id("Tomatoes, `san-marzano` and cherry"))->row.center();
    QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport(), from + QPoint(0, 8));
    QTest::mouseMove(viewport(), to);
    ASSERT_TRUE(view->dragging());
    testsupport::saveScreenshot(*view, "outline-editor-drag");
    key(Qt::Key_Escape);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, to);
}

} // namespace
