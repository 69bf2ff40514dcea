#include "libraryglyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace panes {

void paintLibraryGlyph(QPainter &painter, LibraryGlyph glyph, const QRectF &box, const QColor &colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    QPen pen(colour, std::max<qreal>(1.2, side / 9), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const auto at = [&](qreal x, qreal y) { return QPointF(r.left() + x * side, r.top() + y * side); };
    switch (glyph) {
    case LibraryGlyph::plus:
        painter.drawLine(at(0.5, 0.15), at(0.5, 0.85));
        painter.drawLine(at(0.15, 0.5), at(0.85, 0.5));
        break;
    case LibraryGlyph::chevronDown: {
        QPainterPath path(at(0.2, 0.35));
        path.lineTo(at(0.5, 0.65));
        path.lineTo(at(0.8, 0.35));
        painter.drawPath(path);
        break;
    }
    case LibraryGlyph::magnifyingGlass:
        painter.drawEllipse(QRectF(at(0.12, 0.12), at(0.68, 0.68)));
        painter.drawLine(at(0.62, 0.62), at(0.88, 0.88));
        break;
    case LibraryGlyph::clearMark: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(r.adjusted(side * 0.05, side * 0.05, -side * 0.05, -side * 0.05));
        QPen cross(Qt::white, std::max<qreal>(1.2, side / 9), Qt::SolidLine, Qt::RoundCap);
        painter.setPen(cross);
        painter.drawLine(at(0.35, 0.35), at(0.65, 0.65));
        painter.drawLine(at(0.65, 0.35), at(0.35, 0.65));
        break;
    }
    case LibraryGlyph::squareAndPencil: {
        QPainterPath page(at(0.55, 0.2));
        page.lineTo(at(0.15, 0.2));
        page.lineTo(at(0.15, 0.85));
        page.lineTo(at(0.8, 0.85));
        page.lineTo(at(0.8, 0.45));
        painter.drawPath(page);
        painter.drawLine(at(0.42, 0.58), at(0.85, 0.15));
        painter.drawLine(at(0.42, 0.58), at(0.38, 0.62));
        break;
    }
    case LibraryGlyph::listBullet:
        for (const qreal y : {0.25, 0.5, 0.75}) {
            painter.save();
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            const qreal dot = side * 0.11;
            painter.drawEllipse(at(0.18, y), dot, dot);
            painter.restore();
            painter.drawLine(at(0.38, y), at(0.88, y));
        }
        break;
    }
    painter.restore();
}

GlyphLabel::GlyphLabel(LibraryGlyph glyph, int size, const QColor &colour, QWidget *parent)
    : QWidget(parent), m_glyph(glyph), m_colour(colour)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GlyphLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintLibraryGlyph(painter, m_glyph, rect(), m_colour);
}

GlyphButton::GlyphButton(LibraryGlyph glyph, int size, const QColor &colour, QWidget *parent)
    : QToolButton(parent), m_glyph(glyph), m_colour(colour)
{
    setFixedSize(size + 8, size + 8);
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(true);
    setCursor(Qt::ArrowCursor);
}

void GlyphButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (isDown())
        painter.setOpacity(0.6);
    paintLibraryGlyph(painter, m_glyph, QRectF(rect()).adjusted(4, 4, -4, -4), m_colour);
}

} // namespace panes
