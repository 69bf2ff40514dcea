#include "editor/prose/prosedocumentlayout.h"

#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace editor {

using ProsePresenter::BlockMetrics;

namespace {

BlockMetrics metricsOf(const QTextBlock &block)
{
    if (const auto *data = dynamic_cast<const ProseBlockData *>(block.userData()))
        return data->metrics;
    return ProsePresenter::paragraphStyle(ProsePresenter::LineKind::body);
}

} // namespace

ProseDocumentLayout::ProseDocumentLayout(QTextDocument *document) : QAbstractTextDocumentLayout(document) {}

void ProseDocumentLayout::setTypewriterInsets(qreal top, qreal bottom)
{
    if (top == m_insetTop && bottom == m_insetBottom)
        return;
    m_insetTop = top;
    m_insetBottom = bottom;
    placeBlocks(0);
    emit documentSizeChanged(documentSize());
    emit update();
}

qreal ProseDocumentLayout::columnWidth() const
{
    const qreal page = document()->pageSize().width();
    // The measure holds the padding on both sides.
    if (page <= 0)
        return ProsePresenter::measure() - 2 * kSidePadding;
    return std::max<qreal>(1, std::min(ProsePresenter::measure(), page) - 2 * kSidePadding);
}

qreal ProseDocumentLayout::columnLeft() const
{
    const qreal page = document()->pageSize().width();
    if (page <= 0)
        return kSidePadding;
    return std::max(kSidePadding, (page - columnWidth()) / 2);
}

qreal ProseDocumentLayout::layoutBlock(const QTextBlock &block)
{
    QTextLayout *layout = block.layout();
    if (!block.isVisible()) {
        layout->clearLayout();
        return 0;
    }
    const BlockMetrics metrics = metricsOf(block);
    const qreal width = columnWidth();
    QTextOption option = document()->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    qreal y = metrics.spaceBefore;
    bool first = true;
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        const qreal indent = first ? metrics.firstLineIndent : metrics.headIndent;
        line.setLineWidth(std::max<qreal>(1, width - indent));
        // The natural height the multiples are computed from includes leading.
        line.setLeadingIncluded(true);
        const qreal natural = line.height();
        const qreal height = natural * metrics.lineHeightMultiple;
        // The added height goes above the glyphs, as on the platform the
        // metrics come from.
        line.setPosition(QPointF(indent, y + height - natural));
        y += height;
        first = false;
    }
    layout->endLayout();
    ++m_lastLaidOut;
    return y + metrics.spaceAfter;
}

void ProseDocumentLayout::placeBlocks(int fromIndex)
{
    const int count = int(m_heights.size());
    m_tops.resize(count);
    if (fromIndex >= count)
        return;
    const qreal left = columnLeft();
    qreal top = fromIndex == 0 ? m_insetTop : m_tops[fromIndex - 1] + m_heights[fromIndex - 1];
    QTextBlock block = document()->findBlockByNumber(fromIndex);
    for (int i = fromIndex; i < count && block.isValid(); ++i, block = block.next()) {
        m_tops[i] = top;
        block.layout()->setPosition(QPointF(left, top));
        top += m_heights[i];
    }
}

qreal ProseDocumentLayout::estimateBlock(const QTextBlock &block)
{
    // A stale layout from another width or text must not be drawn.
    block.layout()->clearLayout();
    if (!block.isVisible())
        return 0;
    static const QFontMetricsF body(ProsePresenter::bodyFont());
    const BlockMetrics metrics = metricsOf(block);
    const qreal perLine = std::max<qreal>(1, columnWidth() / body.averageCharWidth());
    const qreal lines = std::max<qreal>(1, std::ceil(qreal(block.length()) / perLine));
    return metrics.spaceBefore + lines * body.height() * metrics.lineHeightMultiple + metrics.spaceAfter;
}

void ProseDocumentLayout::ensureExact(int index, const QTextBlock &block)
{
    if (index < 0 || index >= m_exact.size() || m_exact[index])
        return;
    const qreal height = layoutBlock(block);
    m_exact[index] = true;
    --m_estimated;
    if (height != m_heights[index]) {
        m_heights[index] = height;
        placeBlocks(index);
        sizeChangedLater();
    } else {
        block.layout()->setPosition(QPointF(columnLeft(), m_tops[index]));
    }
}

void ProseDocumentLayout::sizeChangedLater()
{
    if (m_sizePosted)
        return;
    m_sizePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_sizePosted = false;
            emit documentSizeChanged(documentSize());
        },
        Qt::QueuedConnection);
}

void ProseDocumentLayout::layOutNextChunk()
{
    m_chunkPosted = false;
    if (m_estimated <= 0)
        return;
    int laidOut = 0;
    int firstChanged = -1;
    // A chunk also stops after a few milliseconds: a keystroke that comes
    // meanwhile waits for one chunk at most.
    QElapsedTimer spent;
    spent.start();
    QTextBlock block = document()->begin();
    for (int i = 0; i < m_exact.size() && block.isValid() && laidOut < kChunkBlocks && spent.elapsed() < kChunkMs;
         ++i, block = block.next()) {
        if (m_exact[i])
            continue;
        const qreal height = layoutBlock(block);
        m_exact[i] = true;
        --m_estimated;
        ++laidOut;
        if (height != m_heights[i]) {
            m_heights[i] = height;
            if (firstChanged < 0)
                firstChanged = i;
        }
    }
    if (firstChanged >= 0) {
        placeBlocks(firstChanged);
        emit documentSizeChanged(documentSize());
        emit update(QRectF(0, m_tops[firstChanged], 1e9, 1e9));
    } else {
        placeBlocks(0);
    }
    postChunk();
}

void ProseDocumentLayout::postChunk()
{
    if (m_chunkPosted || m_estimated <= 0)
        return;
    m_chunkPosted = true;
    QMetaObject::invokeMethod(this, &ProseDocumentLayout::layOutNextChunk, Qt::QueuedConnection);
}

void ProseDocumentLayout::documentChanged(int from, int /*charsRemoved*/, int charsAdded)
{
    QTextDocument *doc = document();
    const int count = doc->blockCount();
    // The blocks are found from the document, never from the lengths: typing
    // over a selected line break keeps the length and removes a block.
    m_lastLaidOut = 0;

    int firstIndex = 0;
    const qreal width = columnWidth();
    QTextBlock first = doc->findBlock(from);
    QTextBlock last = doc->findBlock(from + charsAdded);
    if (!first.isValid())
        first = doc->lastBlock();
    if (!last.isValid())
        last = doc->lastBlock();
    const int delta = count - int(m_heights.size());
    const int oldLast = last.blockNumber() - delta;
    const bool whole = width != m_laidOutWidth || m_heights.isEmpty() || oldLast < first.blockNumber() - 1
                       || oldLast >= m_heights.size();
    if (whole) {
        // What the first screens need is laid out now; the rest is estimated
        // and laid out in chunks after this turn, or when it is asked for.
        m_laidOutWidth = width;
        m_heights.clear();
        m_heights.reserve(count);
        m_exact.clear();
        m_exact.reserve(count);
        m_estimated = 0;
        qreal top = m_insetTop;
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            const bool now = top < m_insetTop + kEagerHeight;
            const qreal height = now ? layoutBlock(block) : estimateBlock(block);
            m_heights.append(height);
            m_exact.append(now);
            m_estimated += now ? 0 : 1;
            top += height;
        }
    } else {
        // Blocks already laid out are laid out again; estimated ones stay so.
        firstIndex = first.blockNumber();
        const bool exact = firstIndex < m_exact.size() && m_exact[firstIndex];
        for (int i = firstIndex; i <= oldLast; ++i)
            m_estimated -= m_exact[i] ? 0 : 1;
        const QList<qreal> old = m_heights.mid(firstIndex, oldLast - firstIndex + 1);
        m_heights.remove(firstIndex, oldLast - firstIndex + 1);
        m_exact.remove(firstIndex, oldLast - firstIndex + 1);
        // A long change (a whole new text, a big paste) is laid out for a
        // screenful or so, like a whole layout.
        QList<qreal> fresh;
        QList<bool> freshExact;
        qreal laidOut = 0;
        for (QTextBlock block = first; block.isValid(); block = block.next()) {
            const bool now = exact && laidOut < kEagerHeight;
            fresh.append(now ? layoutBlock(block) : estimateBlock(block));
            freshExact.append(now);
            m_estimated += now ? 0 : 1;
            laidOut += fresh.last();
            if (block == last)
                break;
        }
        m_heights.insert(firstIndex, fresh.size(), 0);
        std::copy(fresh.cbegin(), fresh.cend(), m_heights.begin() + firstIndex);
        m_exact.insert(firstIndex, freshExact.size(), false);
        std::copy(freshExact.cbegin(), freshExact.cend(), m_exact.begin() + firstIndex);
        if (fresh == old) {
            // Same heights (a restyle, or typing within a line): nothing
            // below moves.
            QTextBlock block = first;
            for (int i = firstIndex; i < firstIndex + fresh.size() && block.isValid(); ++i, block = block.next())
                block.layout()->setPosition(QPointF(columnLeft(), m_tops[i]));
            postChunk();
            emit update(QRectF(0, m_tops[firstIndex], 1e9, m_heights[firstIndex] + 1));
            return;
        }
    }
    placeBlocks(firstIndex);
    postChunk();
    emit documentSizeChanged(documentSize());
    const qreal top = firstIndex < m_tops.size() ? m_tops[firstIndex] : 0;
    emit update(QRectF(0, top, 1e9, 1e9));
}

int ProseDocumentLayout::blockIndexAt(qreal y) const
{
    const auto it = std::upper_bound(m_tops.cbegin(), m_tops.cend(), y);
    return std::max(0, int(it - m_tops.cbegin()) - 1);
}

void ProseDocumentLayout::draw(QPainter *painter, const PaintContext &context)
{
    if (m_tops.isEmpty())
        return;
    const QRectF clip = context.clip.isValid() ? context.clip : QRectF(0, 0, 1e9, 1e9);
    painter->setPen(context.palette.color(QPalette::Text));
    int i = blockIndexAt(clip.top());
    for (QTextBlock block = document()->findBlockByNumber(i); block.isValid() && i < m_tops.size();
         block = block.next(), ++i) {
        if (m_tops[i] > clip.bottom())
            break;
        ensureExact(i, block);
        if (m_heights[i] <= 0 || !block.isVisible())
            continue;
        const int position = block.position();
        const int length = block.length();
        QList<QTextLayout::FormatRange> selections;
        for (const Selection &selection : context.selections) {
            const int start = selection.cursor.selectionStart() - position;
            const int end = selection.cursor.selectionEnd() - position;
            if (end <= 0 || start >= length || start == end)
                continue;
            QTextLayout::FormatRange range;
            range.start = std::max(0, start);
            range.length = std::min(length, end) - range.start;
            range.format = selection.format;
            selections.append(range);
        }
        QTextLayout *layout = block.layout();
        layout->draw(painter, QPointF(), selections, clip);
        if (context.cursorPosition >= position && context.cursorPosition < position + length)
            drawCaret(painter, *layout, context.cursorPosition - position);
    }
}

void ProseDocumentLayout::drawCaret(QPainter *painter, QTextLayout &layout, int position) const
{
    if (!m_cursorColour.isValid()) {
        layout.drawCursor(painter, QPointF(), position, 1);
        return;
    }
    // QTextLayout inverts what lies under its caret; this one has its own ink.
    QTextLine line = layout.lineForTextPosition(position);
    if (!line.isValid() && layout.lineCount() > 0)
        line = layout.lineAt(layout.lineCount() - 1);
    if (!line.isValid())
        return;
    const QPointF origin = layout.position();
    painter->fillRect(QRectF(origin.x() + line.cursorToX(position), origin.y() + line.y(), 1.5, line.height()),
                      m_cursorColour);
}

int ProseDocumentLayout::hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const
{
    if (m_tops.isEmpty())
        return -1;
    auto *self = const_cast<ProseDocumentLayout *>(this);
    int i = blockIndexAt(point.y());
    QTextBlock block = document()->findBlockByNumber(i);
    self->ensureExact(i, block);
    // Hidden blocks take no room: the hit belongs to the next shown one.
    while (block.isValid() && (m_heights[i] <= 0 || !block.isVisible()) && block.next().isValid()) {
        block = block.next();
        ++i;
        self->ensureExact(i, block);
    }
    const QTextLayout *layout = block.layout();
    const QPointF local = point - layout->position();
    if (layout->lineCount() == 0)
        return accuracy == Qt::ExactHit ? -1 : block.position();
    for (int l = 0; l < layout->lineCount(); ++l) {
        const QTextLine line = layout->lineAt(l);
        const bool lastLine = l + 1 == layout->lineCount();
        if (local.y() < line.y() + line.height() || lastLine) {
            if (accuracy == Qt::ExactHit && !line.naturalTextRect().contains(local))
                return -1;
            return block.position() + line.xToCursor(local.x());
        }
    }
    return -1;
}

QSizeF ProseDocumentLayout::documentSize() const
{
    const qreal height = m_tops.isEmpty() ? m_insetTop : m_tops.last() + m_heights.last();
    const qreal page = document()->pageSize().width();
    const qreal width = page > 0 ? page : columnWidth() + 2 * kSidePadding;
    return QSizeF(width, height + m_insetBottom);
}

QRectF ProseDocumentLayout::frameBoundingRect(QTextFrame *) const
{
    return QRectF(QPointF(0, 0), documentSize());
}

QRectF ProseDocumentLayout::blockBoundingRect(const QTextBlock &block) const
{
    const int i = block.blockNumber();
    if (i < 0 || i >= m_tops.size())
        return QRectF();
    // Whoever asks where a block is (the caret, a scroll) gets it laid out.
    const_cast<ProseDocumentLayout *>(this)->ensureExact(i, block);
    return QRectF(columnLeft(), m_tops[i], columnWidth(), m_heights[i]);
}

} // namespace editor
