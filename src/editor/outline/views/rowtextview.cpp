#include "editor/outline/views/rowtextview.h"

#include "editor/prose/prosestyle.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QTextBlock>
#include <QTimer>

namespace editor::outline {

RowTextView::RowTextView(const QString &text, std::optional<qsizetype> caret, QWidget *parent)
    : FileDropTextView(parent)
{
    setAcceptRichText(false);
    setUndoRedoEnabled(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setViewportMargins(0, 0, 0, 0);
    document()->setDocumentMargin(0);
    setContentsMargins(0, 0, 0, 0);
    // Transparent over the row, so the selection tint shows through.
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, ProsePresenter::textColour());
    setPalette(palette);
    setFont(ProsePresenter::bodyFont());
    document()->setDefaultFont(ProsePresenter::bodyFont());

    m_settingText = true;
    setPlainText(text);
    m_settingText = false;
    m_lastLocalText = text;
    QTextCursor cursor(document());
    cursor.setPosition(int(utf16ForGraphemes(text, caret ? std::optional(std::max<qsizetype>(*caret, 0)) : caret)));
    setTextCursor(cursor);

    connect(this, &QTextEdit::textChanged, this, &RowTextView::writerChanged);
    // The keyboard follows a new row editor, once it is placed in a window.
    QTimer::singleShot(0, this, [this] {
        if (window() && isVisible())
            setFocus(Qt::OtherFocusReason);
    });
}

void RowTextView::updateText(const QString &text)
{
    if (text == m_lastLocalText || text == toPlainText())
        return;
    m_settingText = true;
    setPlainText(text);
    m_settingText = false;
    m_lastLocalText = text;
    moveCursor(QTextCursor::End);
}

qsizetype RowTextView::caretGraphemes() const
{
    return outline::caretGraphemes(toPlainText(), textCursor().selectionStart());
}

int RowTextView::heightForWidth(int width) const
{
    if (width <= 0)
        return kMinimumHeight;
    QTextDocument *doc = document();
    if (doc->textWidth() != width)
        doc->setTextWidth(width);
    return std::max(kMinimumHeight, int(std::ceil(doc->documentLayout()->documentSize().height())));
}

void RowTextView::writerChanged()
{
    if (m_settingText)
        return;
    m_lastLocalText = toPlainText();
    if (const EditAction action = onEdit)
        action(m_lastLocalText);
}

void RowTextView::keyPressEvent(QKeyEvent *event)
{
    const std::optional<StructureOp> op =
        structureOpFor(event->key(), event->modifiers(), toPlainText(), textCursor().selectionStart());
    if (!op) {
        FileDropTextView::keyPressEvent(event);
        return;
    }
    // A structure key never edits the text, nor goes on to the parents.
    event->accept();
    // The operation may replace this editor: the owner defers its deletion
    // and clears these callbacks, so the one running is a copy.
    if (const StructureAction action = onStructure)
        action(*op);
}

bool RowTextView::focusNextPrevChild(bool)
{
    // Tab and Shift+Tab are structure keys, never a focus move.
    return false;
}

} // namespace editor::outline
