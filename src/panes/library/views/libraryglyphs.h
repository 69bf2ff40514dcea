#pragma once
// The library panes' small line glyphs, drawn with the painter (the offscreen
// platform has no icon theme and the build no SVG reader): plus, chevron,
// magnifying glass, a filled clear mark, the pencil on a page and a bullet
// list.

#include <QColor>
#include <QRectF>
#include <QToolButton>
#include <QWidget>

class QPainter;

namespace panes {

enum class LibraryGlyph { plus, chevronDown, magnifyingGlass, clearMark, squareAndPencil, listBullet };

// Draws glyph centred in box, its strokes in colour.
void paintLibraryGlyph(QPainter &painter, LibraryGlyph glyph, const QRectF &box, const QColor &colour);

// A fixed-size glyph, for labels and empty states.
class GlyphLabel : public QWidget {
    Q_OBJECT
public:
    GlyphLabel(LibraryGlyph glyph, int size, const QColor &colour, QWidget *parent = nullptr);
    LibraryGlyph glyph() const { return m_glyph; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryGlyph m_glyph;
    QColor m_colour;
};

// A plain, borderless button showing a glyph; it never takes the focus.
class GlyphButton : public QToolButton {
    Q_OBJECT
public:
    GlyphButton(LibraryGlyph glyph, int size, const QColor &colour, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryGlyph m_glyph;
    QColor m_colour;
};

} // namespace panes
