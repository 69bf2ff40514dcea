#include "editor/prose/views/prosetextview.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "editor/prose/prosedocumentlayout.h"
#include "editor/prose/prosehighlighter.h"
#include "editor/prose/prosepresenter.h"
#include "editor/prose/prosestyle.h"
#include "editor/prose/spellchecker.h"
#include "editor/prose/views/proselisttextview.h"
#include "foundation/text.h"
#include "model/editorsession.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace editor {

namespace {

// The find field: Return finds on, Shift+Return back, Escape closes the bar.
class FindField : public QLineEdit {
public:
    std::function<void(bool backwards)> onFind;
    std::function<void()> onClose;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            onFind(event->modifiers() & Qt::ShiftModifier);
            return;
        }
        if (event->key() == Qt::Key_Escape) {
            onClose();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
};

// The load generation a view last showed, kept on the session: a view made
// later over the same generation is not the first to show that text.
constexpr char kShownGeneration[] = "pennoraShownLoadGeneration";

} // namespace

ProseTextView::ProseTextView(QWidget *parent) : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_text = new ProseListTextView(this);
    m_text->setFrameStyle(QFrame::NoFrame);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text->setUndoRedoEnabled(true);
    QTextDocument *document = m_text->document();
    document->setDefaultFont(ProsePresenter::bodyFont());
    document->setDocumentMargin(0);
    m_layout = new ProseDocumentLayout(document);
    m_layout->setCursorColour(app::Palette::accent());
    document->setDocumentLayout(m_layout);
    m_highlighter = new ProseHighlighter(document);
    m_text->setCurrentCharFormat(ProsePresenter::bodyFormat());
    column->addWidget(m_text, 1);

    m_findBar = new QWidget(this);
    auto *findRow = new QHBoxLayout(m_findBar);
    findRow->setContentsMargins(24, 6, 24, 6);
    auto *field = new FindField;
    field->setPlaceholderText(QStringLiteral("Find"));
    field->onFind = [this, field](bool backwards) {
        const bool found = find(field->text(), backwards);
        m_findStatus->setText(found || field->text().isEmpty() ? QString() : QStringLiteral("Not found"));
    };
    field->onClose = [this] {
        m_findBar->hide();
        m_text->setFocus();
    };
    m_findField = field;
    m_findStatus = new QLabel(m_findBar);
    m_findStatus->setFont(app::Typeface::font(app::Typeface::mono(), 11));
    findRow->addWidget(m_findField, 1);
    findRow->addWidget(m_findStatus);
    m_findBar->hide();
    column->addWidget(m_findBar);

    auto *findAction = new QAction(this);
    findAction->setShortcut(QKeySequence::Find);
    findAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(findAction, &QAction::triggered, this, &ProseTextView::showFindBar);
    addAction(findAction);

    // The caret line glides back to the middle.
    m_centring = new QPropertyAnimation(m_text->verticalScrollBar(), "value", this);
    m_centring->setDuration(150);
    m_centring->setEasingCurve(QEasingCurve::OutCubic);

    // The room is set from the visible area's own size, after the text view
    // has taken it: on show this comes after this view's resize, and before
    // the first paint.
    m_text->onViewportResized = [this] {
        if (applyInsets())
            m_text->ensureCursorVisible();
    };
    applyInsets();

    connect(m_text, &QTextEdit::textChanged, this, &ProseTextView::userChanged);
    connect(m_text, &QTextEdit::cursorPositionChanged, this, &ProseTextView::recordCursor);
    connect(m_text, &QTextEdit::selectionChanged, this, &ProseTextView::recordCursor);
    applyBackground();
}

ProseTextView::~ProseTextView()
{
    m_text->onViewportResized = nullptr;
    // Scrolling alone records nothing; a view going away leaves where it
    // stood for the next view on the session.
    if (m_session && m_revealed && m_loadedGeneration == m_session->loadGeneration())
        recordCursor();
}

ProseTextView::Selection ProseTextView::restoredSelection(qsizetype length, const std::optional<StoredCursor> &stored,
                                                          std::optional<qsizetype> firstContentLine)
{
    const StoredCursor cursor = stored.value_or(StoredCursor{});
    Selection out;
    out.location = std::min<qsizetype>(length, std::max<qint64>(0, cursor.location));
    out.length = std::min<qsizetype>(length - out.location, std::max<qint64>(0, cursor.length));
    // A stored selection is never moved; a caret before the first content
    // line goes to its start.
    if (out.length == 0 && firstContentLine && *firstContentLine > out.location)
        out.location = *firstContentLine;
    out.scrollOffset = std::isfinite(cursor.scrollOffset) ? std::max(0.0, cursor.scrollOffset) : 0;
    return out;
}

qsizetype ProseTextView::hintCaret(qsizetype length, qsizetype location, std::optional<qsizetype> firstContentLine)
{
    qsizetype caret = std::max<qsizetype>(0, location);
    if (firstContentLine && *firstContentLine > caret)
        caret = *firstContentLine;
    return std::min(length, caret);
}

std::optional<int> ProseTextView::centringScroll(double caretMiddle, int scroll, int viewportHeight, int maximum)
{
    const double visibleMiddle = scroll + viewportHeight / 2.0;
    if (std::abs(caretMiddle - visibleMiddle) <= kTypewriterSlack)
        return std::nullopt;
    const double target = std::clamp(caretMiddle - viewportHeight / 2.0, 0.0, double(std::max(0, maximum)));
    if (std::abs(target - scroll) <= 0.5)
        return std::nullopt;
    return int(std::lround(target));
}

void ProseTextView::setSession(model::EditorSession *session)
{
    if (session == m_session)
        return;
    if (m_session)
        disconnect(m_session, nullptr, this, nullptr);
    m_session = session;
    m_loadedGeneration = -1;
    if (!session)
        return;
    connect(session, &model::EditorSession::loadGenerationChanged, this, [this] {
        if (m_session && m_session->loadGeneration() != m_loadedGeneration)
            load();
        applyCaretHint();
    });
    load();
    applyCaretHint();
}

void ProseTextView::setDraft(const std::optional<QString> &draft)
{
    m_draft = draft;
    if (m_session || !draft || *draft == m_knownText)
        return;
    // A draft equal to the view's text is left alone: the caret stays put
    // while the draft is typed.
    replaceViewText(*draft);
    m_text->refreshAfterTextChange();
}

void ProseTextView::setSpellChecking(bool on)
{
    m_spellChecking = on;
    m_highlighter->setSpellChecker(on ? &SpellChecker::english() : nullptr);
}

void ProseTextView::setFocused(bool focused)
{
    m_focused = focused;
    applyBackground();
}

void ProseTextView::applyBackground()
{
    QPalette palette = m_text->palette();
    const QColor paper = m_focused ? app::Palette::canvas() : app::Palette::page();
    palette.setColor(QPalette::Base, paper);
    palette.setColor(QPalette::Window, paper);
    palette.setColor(QPalette::Text, app::Palette::ink());
    m_text->setPalette(palette);
    m_text->viewport()->setAutoFillBackground(true);
    app::fillBackground(this, paper);
}

void ProseTextView::setCaretHint(const std::optional<CaretHint> &hint)
{
    m_caretHint = hint;
    applyCaretHint();
}

void ProseTextView::setIngestFolder(const std::optional<QString> &folder)
{
    m_text->ingestFolder = folder;
}

void ProseTextView::setDropBridge(ProseDropBridge *bridge)
{
    m_dropBridge = bridge;
    if (bridge)
        bridge->setTextView(m_text);
}

void ProseTextView::setRouteDrop(FileDrop route)
{
    m_text->onFileDrop = std::move(route);
}

void ProseTextView::replaceViewText(const QString &text)
{
    m_replacing = true;
    m_text->replaceText(text);
    m_text->setCurrentCharFormat(ProsePresenter::bodyFormat());
    m_knownText = m_text->rawText();
    m_replacing = false;
}

void ProseTextView::load()
{
    model::EditorSession *session = m_session;
    const qint64 generation = session->loadGeneration();
    const QVariant shown = session->property(kShownGeneration);
    // Another view showed this text already: the writer has been at work in
    // it, and the stored cursor is older than their caret.
    const bool live = shown.isValid() && shown.toLongLong() == generation;
    session->setProperty(kShownGeneration, generation);
    m_loadedGeneration = generation;
    m_revealed = false;
    // The session's text: the loaded one right after a load, and everything
    // typed since once a view has shown it.
    replaceViewText(session->text());
    m_text->refreshAfterTextChange();

    const QString &text = m_knownText;
    std::optional<StoredCursor> stored;
    std::optional<qsizetype> firstContentLine = ProsePresenter::firstContentLineRange(text);
    if (live) {
        const model::EditorSession::CursorState &current = session->cursor();
        stored = StoredCursor{current.selectionLocation, current.selectionLength, current.scrollOffset};
        // The writer's own caret stays where they left it.
        firstContentLine = std::nullopt;
    } else if (const auto &restore = session->restoreCursor()) {
        stored = StoredCursor{restore->selectionLocation, restore->selectionLength, restore->scrollOffset};
    }
    const Selection selection = restoredSelection(text.size(), stored, firstContentLine);
    // A stored caret may come from another text: never between the halves
    // of a pair or inside a cluster.
    const qsizetype start = foundation::text::graphemeFloor(text, selection.location);
    const qsizetype end = foundation::text::graphemeFloor(text, selection.location + selection.length);
    QTextCursor cursor(m_text->document());
    cursor.setPosition(int(start));
    cursor.setPosition(int(end), QTextCursor::KeepAnchor);
    m_text->setTextCursor(cursor);
    revealLater(selection.scrollOffset);
    session->setCursor({start, end - start, selection.scrollOffset});
}

void ProseTextView::applyCaretHint()
{
    if (!m_caretHint || m_caretHint->token == m_appliedCaretToken)
        return;
    m_appliedCaretToken = m_caretHint->token;
    const QString &text = m_knownText;
    const qsizetype caret = foundation::text::graphemeFloor(
        text, hintCaret(text.size(), m_caretHint->location, ProsePresenter::firstContentLineRange(text)));
    QTextCursor cursor(m_text->document());
    cursor.setPosition(int(caret));
    m_text->setTextCursor(cursor);
    revealLater(std::nullopt);
    recordCursor();
}

void ProseTextView::revealLater(std::optional<double> scrollOffset)
{
    // After the current update has laid everything out.
    QTimer::singleShot(0, m_text, [this, text = m_text, scrollOffset] {
        if (scrollOffset)
            text->verticalScrollBar()->setValue(int(std::lround(*scrollOffset)));
        else
            text->ensureCursorVisible();
        m_revealed = true;
        focusText();
    });
}

void ProseTextView::focusText()
{
    // A view just put into a shown pane shows a moment after this.
    if (m_text->isVisible())
        m_text->setFocus();
    else
        m_focusOnShow = true;
}

void ProseTextView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_focusOnShow) {
        m_focusOnShow = false;
        m_text->setFocus();
    }
}

void ProseTextView::userChanged()
{
    if (m_replacing)
        return;
    QString text = m_text->rawText();
    // A restyle notice carries no new text.
    if (text == m_knownText)
        return;
    m_knownText = text;
    centreCaret();
    if (m_session)
        m_session->textDidChange(m_knownText);
    else if (m_onEdit)
        m_onEdit(m_knownText);
    if (m_onTextChange)
        m_onTextChange(m_knownText);
    m_text->refreshAfterTextChange();
}

void ProseTextView::recordCursor()
{
    if (m_replacing || !m_session)
        return;
    const QTextCursor cursor = m_text->textCursor();
    m_session->setCursor({cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart(),
                          double(m_text->verticalScrollBar()->value())});
}

bool ProseTextView::applyInsets()
{
    const qreal below = m_text->viewport()->height() / 2.0;
    if (below == m_roomBelow)
        return false;
    m_roomBelow = below;
    m_layout->setTypewriterInsets(kTopRoom, below);
    return true;
}

void ProseTextView::centreCaret()
{
    if (!m_text->isVisible())
        return;
    applyInsets();
    if (m_text->textCursor().hasSelection())
        return;
    QScrollBar *bar = m_text->verticalScrollBar();
    // From where the scroll stands now, not where a glide was heading.
    m_centring->stop();
    const double middle = m_text->cursorRect().center().y() + bar->value();
    const std::optional<int> target =
        centringScroll(middle, bar->value(), m_text->viewport()->height(), bar->maximum());
    if (!target)
        return;
    m_centring->setStartValue(bar->value());
    m_centring->setEndValue(*target);
    m_centring->start();
}

void ProseTextView::showFindBar()
{
    m_findBar->show();
    m_findField->setFocus();
    m_findField->selectAll();
}

bool ProseTextView::find(const QString &text, bool backwards)
{
    if (text.isEmpty())
        return false;
    QTextDocument *document = m_text->document();
    const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    QTextCursor found = document->find(text, m_text->textCursor(), flags);
    if (found.isNull()) {
        QTextCursor wrap(document);
        if (backwards)
            wrap.movePosition(QTextCursor::End);
        found = document->find(text, wrap, flags);
    }
    if (found.isNull())
        return false;
    // A hit in folded lines is shown, never selected unseen.
    m_text->unfoldAround({found.selectionStart(), found.selectionEnd() - found.selectionStart()});
    m_text->setTextCursor(found);
    m_text->ensureCursorVisible();
    return true;
}

} // namespace editor
