#pragma once
// A document layout for the prose editor that reads each block's metrics
// (line height multiple, space before and after, first and hanging indents)
// from what the highlighter left on the block, and adds the column, its side
// padding and the typewriter insets. Nothing of the look is written into the
// document, so none of it reaches the undo stack. Hidden blocks (folds) take
// no room.
//
// Blocks are laid out again only where the document reports a change; the
// blocks below are moved, not laid out. A whole layout (a new text, a new
// width) lays out the first screens at once and estimates the rest, which is
// laid out in chunks after the current turn of the event loop, or at once
// where it is drawn, hit or asked for.

#include "editor/prose/prosestyle.h"

#include <QAbstractTextDocumentLayout>
#include <QColor>
#include <QList>
#include <QTextBlockUserData>

class QTextLayout;

namespace editor {

// The metrics of one block, kept on the block by the highlighter.
class ProseBlockData : public QTextBlockUserData {
public:
    explicit ProseBlockData(const ProsePresenter::BlockMetrics &metrics) : metrics(metrics) {}
    ProsePresenter::BlockMetrics metrics;
};

class ProseDocumentLayout : public QAbstractTextDocumentLayout {
    Q_OBJECT
public:
    explicit ProseDocumentLayout(QTextDocument *document);

    // Room above the first and below the last line, so the caret line can sit
    // in the middle of the view.
    void setTypewriterInsets(qreal top, qreal bottom);
    // The caret's ink; the text's when invalid.
    void setCursorColour(const QColor &colour) { m_cursorColour = colour; }
    static constexpr qreal kSidePadding = 24;
    // The text column: the prose measure less the side padding, narrower
    // when the page is.
    qreal columnWidth() const;
    qreal columnLeft() const;
    // Blocks laid out by the last change (what an edit cost).
    int lastLaidOutBlocks() const { return m_lastLaidOut; }
    // Blocks whose height is still an estimate.
    int estimatedBlocks() const { return m_estimated; }
    // How far below the top a whole layout lays out at once, and how many
    // blocks (for how many milliseconds at most) each later chunk lays out.
    static constexpr qreal kEagerHeight = 3000;
    static constexpr int kChunkBlocks = 200;
    static constexpr int kChunkMs = 4;

    void draw(QPainter *painter, const PaintContext &context) override;
    int hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame *frame) const override;
    QRectF blockBoundingRect(const QTextBlock &block) const override;

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    qreal layoutBlock(const QTextBlock &block);
    void placeBlocks(int fromIndex);
    int blockIndexAt(qreal y) const;
    void drawCaret(QPainter *painter, QTextLayout &layout, int position) const;
    qreal estimateBlock(const QTextBlock &block);
    void ensureExact(int index, const QTextBlock &block);
    void layOutNextChunk();
    void postChunk();
    void sizeChangedLater();

    QList<qreal> m_heights; // by block number
    QList<qreal> m_tops;
    QList<bool> m_exact; // laid out, not estimated
    int m_estimated = 0;
    bool m_chunkPosted = false;
    bool m_sizePosted = false;
    qreal m_insetTop = 0;
    qreal m_insetBottom = 0;
    qreal m_laidOutWidth = -1;
    int m_lastLaidOut = 0;
    QColor m_cursorColour;
};

} // namespace editor
