#include "librarysearchrow.h"

#include "chrome/palette.h"
#include "panes/library/librarysearch.h"
#include "panes/library/views/libraryglyphs.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace panes {

using app::Palette;
using app::Typeface;

namespace {

constexpr int outerH = 14;
constexpr int outerV = 8;
constexpr int innerH = 10;
constexpr int innerV = 8;

} // namespace

LibrarySearchRow::LibrarySearchRow(QWidget *parent)
    : QWidget(parent), m_field(new QLineEdit),
      m_clear(new GlyphButton(LibraryGlyph::clearMark, 12, Palette::inkMuted()))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(outerH + innerH, outerV + innerV, outerH + innerH, outerV + innerV);
    layout->setSpacing(6);
    layout->addWidget(new GlyphLabel(LibraryGlyph::magnifyingGlass, 11, Palette::inkMuted()), 0, Qt::AlignVCenter);

    m_field->setFrame(false);
    m_field->setPlaceholderText(u"Search posts"_s);
    m_field->setAccessibleName(u"Search posts"_s);
    m_field->setFont(Typeface::font(QFont().family(), 12));
    QPalette palette = m_field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Palette::ink());
    palette.setColor(QPalette::PlaceholderText, Palette::inkMuted());
    palette.setColor(QPalette::Highlight, Palette::accent());
    palette.setColor(QPalette::HighlightedText, Palette::page());
    m_field->setPalette(palette);
    m_field->setTextMargins(0, 0, 0, 0);
    m_field->installEventFilter(this);
    layout->addWidget(m_field, 1, Qt::AlignVCenter);

    m_clear->setAccessibleName(u"Clear search"_s);
    m_clear->setToolTip(QString());
    m_clear->setVisible(false);
    layout->addWidget(m_clear, 0, Qt::AlignVCenter);
    // The focus stays where it is: the button takes none.
    connect(m_clear, &GlyphButton::clicked, m_field, &QLineEdit::clear);
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_clear->setVisible(!LibrarySearch::trimmedQuery(text).isEmpty());
        emit queryChanged(text);
    });
}

bool LibrarySearchRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        m_focused = event->type() == QEvent::FocusIn;
        update();
    }
    return QWidget::eventFilter(watched, event);
}

QRect LibrarySearchRow::fieldShape() const
{
    return rect().adjusted(outerH, outerV, -outerH, -outerV);
}

void LibrarySearchRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape(fieldShape());
    QPainterPath outer;
    outer.addRoundedRect(shape, 8, 8);
    QPainterPath inner;
    inner.addRoundedRect(shape.adjusted(1, 1, -1, -1), 7, 7);
    QColor edge = m_focused ? Palette::accent() : Palette::rule();
    if (m_focused)
        edge.setAlphaF(0.6);
    painter.fillPath(inner, Palette::page());
    painter.fillPath(outer.subtracted(inner), edge);
}

BusySpinner::BusySpinner(QWidget *parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    m_tick.setInterval(50);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void BusySpinner::showEvent(QShowEvent *event)
{
    m_tick.start();
    QWidget::showEvent(event);
}

void BusySpinner::hideEvent(QHideEvent *event)
{
    m_tick.stop();
    QWidget::hideEvent(event);
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect().center());
    painter.rotate(m_angle);
    for (int i = 0; i < 12; ++i) {
        QColor colour = Palette::inkMuted();
        colour.setAlphaF(0.15 + 0.85 * i / 11.0);
        painter.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -6), QPointF(0, -11));
        painter.rotate(30);
    }
}

} // namespace panes
