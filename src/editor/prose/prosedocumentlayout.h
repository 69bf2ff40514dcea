#pragma once
// A document layout for the prose editor that reads each block's metrics
// (line height multiple, space before and after, first and hanging indents)
// from what the highlighter left on the block, and adds the column, its side
// padding and the typewriter insets. Nothing of the look is written into the
// document, so none of it reaches the undo stack. Hidden blocks (folds) take
// no room.
//
// Blocks are laid out again only where the document reports a change; the
// blocks below are moved, not laid out.

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

    QList<qreal> m_heights; // by block number
    QList<qreal> m_tops;
    qreal m_insetTop = 0;
    qreal m_insetBottom = 0;
    qreal m_laidOutWidth = -1;
    int m_lastLaidOut = 0;
    QColor m_cursorColour;
};

} // namespace editor
