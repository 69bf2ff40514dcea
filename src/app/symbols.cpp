#include "app/symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStringList>
#include <cmath>

namespace app::Symbols {

namespace {

qreal strokeWidth(qreal size, QFont::Weight weight)
{
    const qreal base = size / 14.0;
    if (weight <= QFont::Light)
        return base * 0.8;
    if (weight >= QFont::Medium)
        return base * 1.35;
    return base * 1.05;
}

// Every symbol is drawn on a 16 × 16 grid, scaled into its square.
void draw(QPainter &p, const QString &name, const QColor &colour)
{
    if (name == u"doc.text") {
        QPainterPath page;
        page.moveTo(4, 1.5);
        page.lineTo(9.5, 1.5);
        page.lineTo(12.5, 4.5);
        page.lineTo(12.5, 14.5);
        page.lineTo(4, 14.5);
        page.closeSubpath();
        p.drawPath(page);
        p.drawLine(QPointF(6, 8), QPointF(10.5, 8));
        p.drawLine(QPointF(6, 10.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(6, 5.5), QPointF(8, 5.5));
    } else if (name == u"bubble.left") {
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(1.5, 2.5, 13, 9), 4, 4);
        p.drawPath(bubble);
        QPainterPath tail;
        tail.moveTo(4, 11);
        tail.lineTo(3, 14.5);
        tail.lineTo(7, 11.5);
        p.drawPath(tail);
    } else if (name == u"cube") {
        QPolygonF outline{{8, 1.5}, {14, 4.5}, {14, 11.5}, {8, 14.5}, {2, 11.5}, {2, 4.5}};
        p.drawPolygon(outline);
        p.drawPolyline(QPolygonF{{2, 4.5}, {8, 7.5}, {14, 4.5}});
        p.drawLine(QPointF(8, 7.5), QPointF(8, 14.5));
    } else if (name == u"chart.xyaxis.line") {
        p.drawPolyline(QPolygonF{{2, 1.5}, {2, 14}, {14.5, 14}});
        p.drawPolyline(QPolygonF{{4, 11}, {7, 6.5}, {9.5, 9}, {13.5, 3.5}});
    } else if (name == u"archivebox") {
        p.drawRect(QRectF(1.5, 2.5, 13, 3.5));
        QPainterPath box;
        box.moveTo(2.5, 6);
        box.lineTo(2.5, 14);
        box.lineTo(13.5, 14);
        box.lineTo(13.5, 6);
        p.drawPath(box);
        p.drawLine(QPointF(6, 9), QPointF(10, 9));
    } else if (name == u"gearshape") {
        const QPointF centre(8, 8);
        for (int i = 0; i < 8; ++i) {
            const qreal angle = i * M_PI / 4;
            p.drawLine(centre + QPointF(std::cos(angle) * 5, std::sin(angle) * 5),
                       centre + QPointF(std::cos(angle) * 7, std::sin(angle) * 7));
        }
        p.drawEllipse(centre, 5, 5);
        p.drawEllipse(centre, 2, 2);
    } else if (name == u"exclamationmark.triangle.fill") {
        QPainterPath triangle;
        triangle.moveTo(8, 1.5);
        triangle.lineTo(15, 14.5);
        triangle.lineTo(1, 14.5);
        triangle.closeSubpath();
        p.save();
        p.setPen(QPen(colour, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(colour);
        p.drawPath(triangle);
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 5.8), QPointF(8, 10));
        p.drawPoint(QPointF(8, 12.4));
        p.restore();
    } else if (name == u"chevron.down") {
        p.drawPolyline(QPolygonF{{3, 5.5}, {8, 10.5}, {13, 5.5}});
    } else if (name == u"chevron.right.2") {
        p.drawPolyline(QPolygonF{{3.5, 3.5}, {7.5, 8}, {3.5, 12.5}});
        p.drawPolyline(QPolygonF{{8.5, 3.5}, {12.5, 8}, {8.5, 12.5}});
    } else if (name == u"doc.on.doc") {
        p.drawRoundedRect(QRectF(5, 4.5, 9, 10.5), 1.5, 1.5);
        p.drawPolyline(QPolygonF{{2.5, 11}, {2.5, 1.5}, {10, 1.5}});
    }
}

} // namespace

bool isKnown(const QString &name)
{
    static const QStringList known{"doc.text",   "bubble.left",    "cube",         "chart.xyaxis.line",
                                   "archivebox", "gearshape",      "chevron.down", "exclamationmark.triangle.fill",
                                   "doc.on.doc", "chevron.right.2"};
    return known.contains(name);
}

void paint(QPainter &painter, const QString &name, const QRectF &rect, const QColor &colour, QFont::Weight weight)
{
    const qreal size = std::min(rect.width(), rect.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - size / 2, rect.center().y() - size / 2);
    painter.scale(size / 16.0, size / 16.0);
    painter.setPen(QPen(colour, strokeWidth(size, weight) * 16.0 / size, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    draw(painter, name, colour);
    painter.restore();
}

QIcon icon(const QString &name, int pixelSize, const QColor &colour, QFont::Weight weight)
{
    QIcon result;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(QSize(pixelSize, pixelSize) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(painter, name, QRectF(0, 0, pixelSize, pixelSize), colour, weight);
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

} // namespace app::Symbols
