#pragma once
// The named symbols of the rail and the status views, drawn as strokes so
// they need no icon theme (the offscreen platform has none) and follow the
// palette at any size.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRectF>
#include <QString>

class QPainter;

namespace app::Symbols {

// Draws the symbol called name ("doc.text", "gearshape", …) centred in rect,
// its strokes thicker for heavier weights. Unknown names draw nothing.
void paint(QPainter &painter, const QString &name, const QRectF &rect, const QColor &colour,
           QFont::Weight weight = QFont::Normal);
// The symbol as an icon of pixelSize.
QIcon icon(const QString &name, int pixelSize, const QColor &colour, QFont::Weight weight = QFont::Normal);
// Whether name is one of the symbols drawn here.
bool isKnown(const QString &name);

} // namespace app::Symbols
