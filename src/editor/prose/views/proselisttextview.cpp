#include "editor/prose/views/proselisttextview.h"

#include "foundation/text.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

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
}

QString ProseListTextView::rawTextOf(const QTextDocument &document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

QString ProseListTextView::rawText() const
{
    return rawTextOf(*document());
}

void ProseListTextView::noteChange(int position, int removed, int added)
{
    const int blocks = document()->blockCount();
    const bool sameBlocks = blocks == m_blockCount;
    m_blockCount = blocks;
    m_pendingPlainEdit.reset();
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
}

void ProseListTextView::refreshAfterTextChange()
{
    m_pendingPlainEdit.reset();
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
    cursor.beginEditBlock();
    cursor.insertText(edit.replacement);
    document()->appendUndoItem(new UndoBoundary);
    cursor.endEditBlock();
    // A list edit is looked at whole, even when it stayed on one line.
    m_pendingPlainEdit.reset();
    QTextCursor caret(document());
    caret.setPosition(int(std::clamp<qsizetype>(edit.caret, 0, document()->characterCount() - 1)));
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
    FileDropTextView::keyPressEvent(event);
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
    Q_UNUSED(urls);
    return false;
}

} // namespace editor
