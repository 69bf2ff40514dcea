#include "editor/prose/views/filedroptextview.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

namespace editor {

FileDropTextView::FileDropTextView(QWidget *parent) : QTextEdit(parent) {}

FileDropTextView::DropKind FileDropTextView::classify(const QMimeData &data)
{
    if (const QList<QUrl> urls = data.urls(); !urls.isEmpty())
        return {DropKind::Kind::urls, urls};
    if (data.hasText())
        return {DropKind::Kind::text, {}};
    return {};
}

FileDropTextView::DropKind FileDropTextView::dropKind(const QMimeData &data, bool newDrag)
{
    // A drag keeps its data from entering to dropping; the many moves between
    // need not read it again.
    if (newDrag || !m_dropProbe || m_probedData != &data) {
        m_dropProbe = classify(data);
        m_probedData = &data;
    }
    return *m_dropProbe;
}

void FileDropTextView::dragEnterEvent(QDragEnterEvent *event)
{
    offerDrag(event, true);
}

void FileDropTextView::dragMoveEvent(QDragMoveEvent *event)
{
    offerDrag(event, false);
}

void FileDropTextView::offerDrag(QDragMoveEvent *event, bool entering)
{
    switch (dropKind(*event->mimeData(), entering).kind) {
    case DropKind::Kind::text:
        if (entering)
            QTextEdit::dragEnterEvent(static_cast<QDragEnterEvent *>(event));
        else
            QTextEdit::dragMoveEvent(event);
        return;
    case DropKind::Kind::none: event->ignore(); return;
    case DropKind::Kind::urls:
        if (onFileDrop) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
}

void FileDropTextView::dropEvent(QDropEvent *event)
{
    const DropKind kind = dropKind(*event->mimeData(), false);
    switch (kind.kind) {
    case DropKind::Kind::text: QTextEdit::dropEvent(event); return;
    case DropKind::Kind::none: event->ignore(); return;
    case DropKind::Kind::urls:
        if (onFileDrop && onFileDrop(kind.urls)) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
}

} // namespace editor
