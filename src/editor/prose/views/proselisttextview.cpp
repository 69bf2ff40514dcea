#include "editor/prose/views/proselisttextview.h"

#include "chrome/palette.h"
#include "foundation/text.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace editor {

namespace {

class UndoBoundary : public QAbstractUndoItem {
public:
    void undo() override {}
    void redo() override {}
};

} // namespace

ProseListTextView::ProseListTextView(QWidget *parent) : FileDropTextView(parent)
{
    setAcceptRichText(false);
    connect(document(), &QTextDocument::contentsChange, this, &ProseListTextView::noteChange);
    connect(this, &QTextEdit::cursorPositionChanged, this, &ProseListTextView::keepCaretOutside);
}

QString ProseListTextView::rawTextOf(const QTextDocument &document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

QString ProseListTextView::rawText() const
{
    // Read once per change: the host, the fold hints and the rescan all ask.
    if (m_rawRevision != m_textRevision) {
        m_raw = rawTextOf(*document());
        m_rawRevision = m_textRevision;
    }
    return m_raw;
}

void ProseListTextView::noteChange(int position, int removed, int added)
{
    ++m_textRevision;
    ++m_changesSinceRefresh;
    m_lastEdit = ProseList::Range{position, added};
    const int blocks = document()->blockCount();
    const bool sameBlocks = blocks == m_blockCount;
    m_blockCount = blocks;
    m_pendingPlainEdit.reset();
    [&] {
        if (!sameBlocks)
            return;
        // A block end removed and another added keeps the count: look at what
        // came in, and at whether the change stayed within one block.
        const QTextBlock first = document()->findBlock(position);
        if (!first.isValid() || position + added > first.position() + first.length() - 1)
            return;
        const QString inserted = first.text().mid(position - first.position(), added);
        for (const QChar c : inserted) {
            if (foundation::text::isLineBreak(c.unicode()))
                return;
        }
        m_pendingPlainEdit = PlainEdit{{position, removed}, qsizetype(added) - removed};
    }();
    if (m_folds.isEmpty())
        return;
    if (m_replacing) {
        // A new text: folds are re-found by their line text.
        m_foldsNeedRescan = true;
        return;
    }
    // The folds move with each change as it comes, so several changes before
    // a refresh are each counted from the right place.
    const ProseList::Range edited{position, removed};
    if (m_pendingPlainEdit && !m_listEditing && !m_foldsNeedRescan) {
        ProseFolds::PlainEditResult result =
            ProseFolds::afterPlainEdit(m_folds, edited, m_pendingPlainEdit->delta, document()->characterCount() - 1);
        m_folds = std::move(result.folds);
        m_reveal.append(result.reveal);
    } else {
        m_folds = ProseFolds::unmet(m_folds, edited);
        m_foldsNeedRescan = true;
    }
}

void ProseListTextView::replaceText(const QString &text)
{
    m_replacing = true;
    setPlainText(text);
    m_replacing = false;
}

void ProseListTextView::refreshAfterTextChange()
{
    const bool plain = m_changesSinceRefresh > 0 && !m_foldsNeedRescan;
    if (!plain && (m_foldsNeedRescan || !m_folds.isEmpty())) {
        rescanFolds();
    } else if (!m_folds.isEmpty() || !m_reveal.isEmpty()) {
        const bool revealed = !m_reveal.isEmpty();
        if (applyPlainEditToFolds())
            scheduleChromeRefresh(revealed ? std::nullopt : m_lastEdit);
        else
            rescanFolds();
    } else {
        scheduleChromeRefresh(m_changesSinceRefresh > 0 ? m_lastEdit : std::nullopt);
    }
    m_pendingPlainEdit.reset();
    m_changesSinceRefresh = 0;
    m_foldsNeedRescan = false;
    m_reveal.clear();
}

bool ProseListTextView::applyPlainEditToFolds()
{
    // The folds have moved with the change; what they dropped is shown again.
    if (!m_reveal.isEmpty())
        applyVisibility(m_changesSinceRefresh > 1 ? std::nullopt : std::optional(m_reveal));
    const int length = document()->characterCount() - 1;
    for (const ProseFolds::Fold &fold : m_folds) {
        if (fold.scope.length <= 0 || fold.scope.start >= length)
            return false;
        const QTextBlock first = document()->findBlock(int(fold.scope.start));
        if (!first.isValid() || first.position() != fold.scope.start || first.isVisible())
            return false;
    }
    keepCaretOutside();
    return true;
}

const QList<ProseList::ParentHint> &ProseListTextView::parentHints()
{
    if (m_hintsRevision != m_textRevision) {
        m_hints = ProseList::parentHints(rawText());
        m_hintsRevision = m_textRevision;
    }
    return m_hints;
}

void ProseListTextView::rescanFolds()
{
    ++m_foldRescans;
    m_foldsNeedRescan = false;
    const QList<ProseList::ParentHint> &hints = parentHints();
    if (!m_folds.isEmpty())
        m_folds = ProseFolds::refound(m_folds, hints, rawText());
    applyVisibility();
    // A caret inside a scope just folded goes to the end of the item's line.
    const qsizetype caret = textCursor().position();
    m_lastCaret = caret;
    keepCaretOutside();
    scheduleChromeRefresh(std::nullopt);
}

void ProseListTextView::toggleFold(const ProseList::ParentHint &hint)
{
    m_folds = ProseFolds::toggled(m_folds, hint, rawText());
    rescanFolds();
    // The writer's click is answered in the next paint, chevron included.
    layoutChrome();
}

void ProseListTextView::unfoldAround(ProseList::Range range)
{
    const QList<ProseFolds::Fold> kept = ProseFolds::unmet(m_folds, range);
    if (kept.size() == m_folds.size())
        return;
    m_folds = kept;
    rescanFolds();
    layoutChrome();
}

void ProseListTextView::applyVisibility(std::optional<QList<ProseList::Range>> ranges)
{
    QTextDocument *doc = document();
    const auto hidden = [this](qsizetype position) {
        return std::any_of(m_folds.cbegin(), m_folds.cend(), [&](const ProseFolds::Fold &fold) {
            return position >= fold.scope.start && position < fold.scope.end();
        });
    };
    // Runs of blocks whose visibility changed, each told to the layout once.
    QList<std::pair<int, int>> runs;
    const auto visit = [&](QTextBlock block, const QTextBlock &stop) {
        for (; block.isValid() && block != stop; block = block.next()) {
            const bool visible = !hidden(block.position());
            if (block.isVisible() == visible)
                continue;
            block.setVisible(visible);
            const int end = block.position() + block.length();
            if (!runs.isEmpty() && runs.last().second == block.position())
                runs.last().second = end;
            else
                runs.append({block.position(), end});
        }
    };
    if (!ranges) {
        visit(doc->begin(), QTextBlock());
    } else {
        for (const ProseList::Range &range : *ranges) {
            if (range.length <= 0)
                continue;
            const QTextBlock first = doc->findBlock(int(range.start));
            const QTextBlock last = doc->findBlock(int(range.end()) - 1);
            visit(first, last.isValid() ? last.next() : QTextBlock());
        }
    }
    const int length = doc->characterCount();
    for (const auto &[from, to] : runs)
        doc->markContentsDirty(from, std::min(to, length) - from);
    if (!runs.isEmpty())
        viewport()->update();
}

ProseFolds::TextEnd ProseListTextView::textEnd() const
{
    const QTextDocument *doc = document();
    return ProseFolds::TextEnd{doc->characterCount() - 1, doc->blockCount() > 1 && doc->lastBlock().length() == 1};
}

void ProseListTextView::keepCaretOutside()
{
    if (m_snapping || m_arrowing)
        return;
    QTextCursor cursor = textCursor();
    const qsizetype position = cursor.position();
    // Until a new text or a change of lines has been rescanned, the scopes
    // are not where the lines are: the rescan keeps the caret out.
    if (!m_folds.isEmpty() && !m_replacing && !m_foldsNeedRescan) {
        const qsizetype target = ProseFolds::caretOutside(m_folds, m_lastCaret, position, textEnd());
        if (target != position) {
            m_snapping = true;
            cursor.setPosition(int(target), cursor.hasSelection() ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
            setTextCursor(cursor);
            m_snapping = false;
        }
    }
    m_lastCaret = textCursor().position();
}

bool ProseListTextView::applyEdit(const ProseList::Edit &edit)
{
    const int length = document()->characterCount() - 1;
    const auto start = int(std::clamp<qsizetype>(edit.range.start, 0, length));
    const auto end = int(std::clamp<qsizetype>(edit.range.end(), start, length));
    QTextCursor cursor(document());
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    if (cursor.selectedText() == QString(edit.replacement).replace(u'\n', QChar::ParagraphSeparator))
        return false;
    // One edit block: one undo step, however many lines moved. It ends in a
    // step that does nothing, so Qt does not merge a letter typed next into
    // it: one undo must not take away both.
    m_listEditing = true;
    cursor.beginEditBlock();
    cursor.insertText(edit.replacement);
    document()->appendUndoItem(new UndoBoundary);
    cursor.endEditBlock();
    m_listEditing = false;
    // A list edit is looked at whole, even when it stayed on one line.
    m_pendingPlainEdit.reset();
    // The edit's caret is computed from outside the text: never between the
    // halves of a pair or inside a cluster.
    const QString text = rawText();
    QTextCursor caret(document());
    caret.setPosition(int(foundation::text::graphemeFloor(text, std::clamp<qsizetype>(edit.caret, 0, text.size()))));
    setTextCursor(caret);
    return true;
}

bool ProseListTextView::listKey(QKeyEvent *event)
{
    const int key = event->key();
    // Alt alone: the keypad flag aside, any other modifier spoils the move.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool move = (key == Qt::Key_Up || key == Qt::Key_Down) && modifiers == Qt::AltModifier;
    const bool tab = key == Qt::Key_Tab || key == Qt::Key_Backtab;
    if (!move && !tab)
        return false;
    const QString text = rawText();
    if (text.isEmpty())
        return false;
    const qsizetype caret = textCursor().selectionStart();
    const std::optional<ProseList::ListContext> context = ProseList::listContext(caret, text);
    if (!context)
        return false;
    std::optional<ProseList::Edit> edit;
    if (move)
        edit = ProseList::moveItem(*context, caret, key == Qt::Key_Up ? -1 : 1, text);
    else if (key == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier))
        edit = ProseList::outdent(*context, caret, text);
    else
        edit = ProseList::indent(*context, caret, text);
    // No edit still takes the key: Tab inserts no tab on a list line.
    if (edit)
        applyEdit(*edit);
    return true;
}

void ProseListTextView::keyPressEvent(QKeyEvent *event)
{
    // Shift+Tab off a list does nothing, as in a text view: passed on, it
    // would take the keyboard out of the editor, and the words typed next
    // with it.
    if (listKey(event) || event->key() == Qt::Key_Backtab) {
        event->accept();
        return;
    }
    const int key = event->key();
    const bool arrow = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
    if (!arrow || m_folds.isEmpty()) {
        FileDropTextView::keyPressEvent(event);
        return;
    }
    // The text system steps over hidden lines; where it lands next to a
    // fold is decided here.
    const qsizetype from = textCursor().position();
    m_arrowing = true;
    FileDropTextView::keyPressEvent(event);
    m_arrowing = false;
    QTextCursor cursor = textCursor();
    const qsizetype to = ProseFolds::afterArrow(m_folds, from, cursor.position(), textEnd());
    if (to != cursor.position()) {
        cursor.setPosition(int(to), cursor.hasSelection() ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
        setTextCursor(cursor);
    }
    m_lastCaret = textCursor().position();
}

void ProseListTextView::scheduleChromeRefresh(std::optional<ProseList::Range> edited)
{
    if (!edited)
        m_chromeFull = true;
    m_chromeEdited = edited;
    if (m_chromePosted)
        return;
    m_chromePosted = true;
    // After this change has been laid out; one layout for the requests made
    // meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this] {
            // Laid out meanwhile (a click is answered at once).
            if (m_chromePosted)
                layoutChrome();
        },
        Qt::QueuedConnection);
}

void ProseListTextView::layoutChrome()
{
    m_chromePosted = false;
    const std::optional<ProseList::Range> edited = m_chromeFull ? std::nullopt : m_chromeEdited;
    m_chromeFull = false;
    // A fold whose item is no longer the parent it was (a fence typed above
    // made it code, lines below joined it) is re-found, never left hidden
    // without its chevron.
    const QList<ProseList::ParentHint> &hints = parentHints();
    const bool stale = std::any_of(m_folds.cbegin(), m_folds.cend(), [&](const ProseFolds::Fold &fold) {
        return std::none_of(hints.cbegin(), hints.cend(), [&](const ProseList::ParentHint &hint) {
            return hint.markerLine.start == fold.key && hint.foldScope == fold.scope;
        });
    });
    if (stale) {
        rescanFolds();
        m_chromeFull = false;
    }
    QList<ProseFolds::ChromeHint> now = ProseFolds::chromeHints(hints, m_folds);
    if (ProseFolds::canSkipChromeLayout(m_drawnChrome, now, edited))
        return;
    m_chrome = std::move(now);
    m_drawnChrome = m_chrome;
    ++m_chromeLayouts;
    viewport()->update();
}

std::optional<QRectF> ProseListTextView::caretRect(qsizetype position) const
{
    const QTextDocument *doc = document();
    const QTextBlock block = doc->findBlock(int(position));
    if (!block.isValid() || !block.isVisible())
        return std::nullopt;
    // Asking for the block's place has it laid out.
    doc->documentLayout()->blockBoundingRect(block);
    const QTextLayout *layout = block.layout();
    const int relative = int(position) - block.position();
    QTextLine line = layout->lineForTextPosition(relative);
    if (!line.isValid())
        return std::nullopt;
    const QPointF origin = layout->position();
    const qreal x = origin.x() + line.cursorToX(relative) - horizontalScrollBar()->value();
    const qreal y = origin.y() + line.y() - verticalScrollBar()->value();
    return QRectF(x, y, 1, line.height());
}

std::pair<qsizetype, qsizetype> ProseListTextView::shownRange() const
{
    const QAbstractTextDocumentLayout *layout = document()->documentLayout();
    const QPointF offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const int top = layout->hitTest(offset, Qt::FuzzyHit);
    const int bottom = layout->hitTest(offset + QPointF(viewport()->width(), viewport()->height()), Qt::FuzzyHit);
    const QTextBlock first = document()->findBlock(std::max(0, top));
    return {first.isValid() ? first.position() : 0, bottom < 0 ? document()->characterCount() : bottom};
}

std::optional<QRectF> ProseListTextView::chevronRect(qsizetype markerStart) const
{
    const auto it = std::find_if(m_chrome.cbegin(), m_chrome.cend(),
                                 [&](const ProseFolds::ChromeHint &hint) { return hint.markerStart == markerStart; });
    if (it == m_chrome.cend())
        return std::nullopt;
    const std::optional<QRectF> line = caretRect(markerStart);
    if (!line)
        return std::nullopt;
    return QRectF(line->left() - 14, line->center().y() - 6.82, kGlyphWidth, kGlyphHeight);
}

std::optional<QRectF> ProseListTextView::badgeRect(qsizetype markerStart) const
{
    const auto it = std::find_if(m_chrome.cbegin(), m_chrome.cend(),
                                 [&](const ProseFolds::ChromeHint &hint) { return hint.markerStart == markerStart; });
    if (it == m_chrome.cend() || !it->folded)
        return std::nullopt;
    const std::optional<QRectF> end = caretRect(it->markerEnd);
    if (!end)
        return std::nullopt;
    return QRectF(end->left() + 6, end->center().y() - 6.82, kGlyphWidth, kGlyphHeight);
}

const QPixmap &ProseListTextView::glyph(const QString &text, bool folded)
{
    // Drawn once per text at the screen's ratio; each text always has the
    // same ink ("▾" open, "▸" and the badges folded).
    const qreal ratio = devicePixelRatioF();
    if (ratio != m_glyphRatio) {
        m_glyphs.clear();
        m_glyphRatio = ratio;
    }
    auto it = m_glyphs.find(text);
    if (it != m_glyphs.end())
        return it.value();
    QPixmap image(int(std::ceil(kGlyphWidth * ratio)), int(std::ceil(kGlyphHeight * ratio)));
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setFont(app::Typeface::font(app::Typeface::mono(), 11));
    painter.setPen(folded ? app::Palette::accent() : app::Palette::inkMuted());
    painter.drawText(QRectF(0, 0, kGlyphWidth, kGlyphHeight), Qt::AlignLeft | Qt::AlignTop, text);
    painter.end();
    return m_glyphs.insert(text, image).value();
}

void ProseListTextView::paintEvent(QPaintEvent *event)
{
    FileDropTextView::paintEvent(event);
    if (m_chrome.isEmpty())
        return;
    // Only the items on screen are placed, from the layout as it is now.
    const auto [first, last] = shownRange();
    auto it = std::lower_bound(m_chrome.cbegin(), m_chrome.cend(), first,
                               [](const ProseFolds::ChromeHint &hint, qsizetype p) { return hint.markerStart < p; });
    QPainter painter(viewport());
    for (; it != m_chrome.cend() && it->markerStart <= last; ++it) {
        if (const std::optional<QRectF> at = chevronRect(it->markerStart))
            painter.drawPixmap(at->topLeft(), glyph(ProseFolds::chevron(it->folded), it->folded));
        if (const std::optional<QRectF> at = badgeRect(it->markerStart))
            painter.drawPixmap(at->topLeft(), glyph(ProseFolds::badge(it->hiddenLineCount), true));
    }
}

std::optional<ProseList::ParentHint> ProseListTextView::chevronAt(const QPointF &point)
{
    const QList<ProseList::ParentHint> visible = ProseFolds::visibleHints(parentHints(), m_folds);
    const auto [first, last] = shownRange();
    for (const ProseList::ParentHint &hint : visible) {
        if (hint.markerLine.start < first || hint.markerLine.start > last)
            continue;
        const std::optional<QRectF> line = caretRect(hint.markerLine.start);
        if (line && ProseFolds::hitsChevronZone(*line, point))
            return hint;
    }
    return std::nullopt;
}

void ProseListTextView::mousePressEvent(QMouseEvent *event)
{
    // A plain single click only; a double click comes as its own event and
    // goes to the text.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->button() == Qt::LeftButton && modifiers == Qt::NoModifier) {
        if (const std::optional<ProseList::ParentHint> hint = chevronAt(event->position())) {
            toggleFold(*hint);
            event->accept();
            return;
        }
    }
    FileDropTextView::mousePressEvent(event);
}

void ProseListTextView::resizeEvent(QResizeEvent *event)
{
    FileDropTextView::resizeEvent(event);
    if (onViewportResized)
        onViewportResized();
}

bool ProseListTextView::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasText();
}

void ProseListTextView::insertFromMimeData(const QMimeData *source)
{
    // Plain text only, in the typing format: never a rich paste.
    if (source->hasText())
        textCursor().insertText(source->text());
}

bool ProseListTextView::ingestDrop(const QList<QUrl> &urls)
{
    return ingestImages(urls, ingestFolder);
}

void ProseListTextView::revealInserted(ProseList::Range range)
{
    // Links that joined a folded item (a line after its last child belongs
    // to it) are shown: the writer is about to type over their "alt".
    unfoldAround(range);
}

} // namespace editor
