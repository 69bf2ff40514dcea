#include "editor/prose/views/filedroptextview.h"

#include "chrome/palette.h"
#include "foundation/error.h"
#include "library/micropubchecks.h"
#include "library/piececontents.h"

#include <QAbstractTextDocumentLayout>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace editor {

namespace {

using namespace Qt::StringLiterals;

// Closes an insertion's undo step, so that a letter typed next is not
// merged into it: one undo takes the insertion alone.
class UndoBoundary : public QAbstractUndoItem {
public:
    void undo() override {}
    void redo() override {}
};

} // namespace

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
    case DropKind::Kind::urls: {
        // Where the links go is read from the drop itself while it is handed on.
        m_dropY = event->position().y();
        const bool taken = onFileDrop && onFileDrop(kind.urls);
        m_dropY.reset();
        if (taken) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    }
}

double FileDropTextView::pointerY() const
{
    if (m_dropY)
        return *m_dropY;
    return viewport()->mapFromGlobal(QCursor::pos()).y();
}

QList<ImageDrop::Line> FileDropTextView::visibleLines() const
{
    QList<ImageDrop::Line> lines;
    const QTextDocument *text = document();
    const qsizetype length = text->characterCount() - 1;
    const double top = verticalScrollBar()->value();
    const double height = viewport()->height();
    QAbstractTextDocumentLayout *layout = text->documentLayout();
    for (QTextBlock block = cursorForPosition(QPoint(0, 0)).block(); block.isValid() && block.position() < length;
         block = block.next()) {
        if (!block.isVisible())
            continue;
        // Asking for the box lays the block out where that is done lazily.
        if (layout->blockBoundingRect(block).top() - top > height)
            break;
        const QTextLayout *lineLayout = block.layout();
        const double blockTop = lineLayout->position().y() - top;
        const qsizetype blockEnd = block.position() + block.length() - 1;
        for (int i = 0; i < lineLayout->lineCount(); ++i) {
            const QTextLine line = lineLayout->lineAt(i);
            const double middle = blockTop + line.y() + line.height() / 2;
            if (middle < 0 || middle > height)
                continue;
            const qsizetype start = block.position() + line.textStart();
            lines.append({start, std::min(blockEnd, start + line.textLength()), middle});
        }
    }
    return lines;
}

bool FileDropTextView::ingestImages(const QList<QUrl> &urls, const std::optional<QString> &folder)
{
    if (urls.isEmpty())
        return false;
    if (!folder) {
        showDropNotice(u"Illustrations only land in a saved post's prose editor."_s);
        return false;
    }
    const bool allImages = std::all_of(urls.cbegin(), urls.cend(), [](const QUrl &url) {
        return url.isLocalFile() && library::Micropub::mimeType(url.fileName());
    });
    if (!allImages) {
        showDropNotice(u"Drop images (PNG, JPEG, GIF, WebP, SVG) or markdown — one kind at a time."_s);
        return false;
    }

    const QString text = document()->toRawText();
    const qsizetype position =
        text.isEmpty() ? 0 : ImageDrop::pastWord(text, ImageDrop::boundaryNear(visibleLines(), pointerY()));

    QStringList paths;
    for (const QUrl &url : urls) {
        try {
            paths << library::PostStore::ingestImage(url, *folder);
        } catch (const std::exception &error) {
            showDropNotice(u"Couldn't ingest the image — "_s + foundation::describe(error));
            return false;
        }
    }
    if (isReadOnly())
        return false;

    const ImageDrop::Insertion insertion = ImageDrop::insertion(text, position, paths);
    QTextCursor cursor(document());
    cursor.setPosition(int(insertion.position));
    cursor.beginEditBlock();
    cursor.insertText(insertion.text);
    document()->appendUndoItem(new UndoBoundary);
    // "alt" is selected before the change is announced: the host then sees
    // a selection, and keeps the text where it is rather than centring it.
    QTextCursor alt(document());
    alt.setPosition(int(insertion.selection.start));
    alt.setPosition(int(insertion.selection.end()), QTextCursor::KeepAnchor);
    setTextCursor(alt);
    cursor.endEditBlock();
    revealInserted({insertion.position, insertion.text.size()});
    // Again: hidden lines around it may have moved the selection meanwhile.
    setTextCursor(alt);
    ensureCursorVisible();
    return true;
}

void FileDropTextView::revealInserted(ImageDrop::Range range)
{
    Q_UNUSED(range);
}

void FileDropTextView::showDropNotice(const QString &message)
{
    m_lastNotice = message;
    if (!m_notice) {
        m_notice = new QLabel(this);
        m_notice->setObjectName(u"dropNotice"_s);
        m_notice->setFont(app::Typeface::font(app::Typeface::mono(), 11));
        m_notice->setAlignment(Qt::AlignCenter);
        m_notice->setTextFormat(Qt::PlainText);
        const QColor paper = app::Palette::page();
        m_notice->setStyleSheet(u"QLabel#dropNotice { color: %1; background: rgba(%2, %3, %4, 0.96);"
                                " border-radius: 10px; }"_s.arg(app::Palette::accent().name())
                                    .arg(paper.red())
                                    .arg(paper.green())
                                    .arg(paper.blue()));
        m_noticeTimer = new QTimer(this);
        m_noticeTimer->setSingleShot(true);
        m_noticeTimer->setInterval(kNoticeDuration);
        connect(m_noticeTimer, &QTimer::timeout, m_notice, &QWidget::hide);
    }
    // Over the top of the visible area, where it stays while the text scrolls.
    const int hostWidth = width();
    // Rounded up, so a text that fits is never elided.
    const int fitted = int(std::ceil(QFontMetricsF(m_notice->font()).horizontalAdvance(message))) + 1;
    const int w = std::max(0, std::min(hostWidth - 24, fitted + 28));
    m_notice->setText(m_notice->fontMetrics().elidedText(message, Qt::ElideMiddle, std::max(0, w - 28)));
    m_notice->setToolTip(message);
    m_notice->setGeometry((hostWidth - w) / 2, 10, w, 26);
    m_notice->show();
    m_notice->raise();
    m_noticeTimer->start();
}

} // namespace editor
