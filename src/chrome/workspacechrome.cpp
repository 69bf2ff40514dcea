#include "chrome/workspacechrome.h"

#include "chrome/palette.h"

#include <QAbstractButton>
#include <QDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

void fillBackground(QWidget *widget, const QColor &colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

QLabel *plainLabel(const QString &text, const QFont &font, const QColor &colour)
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QVBoxLayout *sheetColumn(QDialog &sheet)
{
    sheet.setWindowModality(Qt::WindowModal);
    auto *column = new QVBoxLayout(&sheet);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->setSizeConstraint(QLayout::SetFixedSize);
    return column;
}

QFont sheetTitleFont()
{
    return Typeface::font(Typeface::serif(), 15, QFont::DemiBold);
}

void tintProminent(QPushButton *button)
{
    const auto withAlpha = [](QColor colour, qreal alpha) {
        colour.setAlphaF(alpha);
        return colour;
    };
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, Palette::accent());
    palette.setColor(QPalette::ButtonText, Palette::page());
    palette.setColor(QPalette::Disabled, QPalette::Button, withAlpha(Palette::accent(), 0.5));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, withAlpha(Palette::page(), 0.8));
    button->setPalette(palette);
    button->setAutoDefault(false);
}

QPushButton *borderedButton(const QString &title)
{
    auto *button = new QPushButton(title);
    button->setAutoDefault(false);
    BorderedSecondaryButtonStyle::apply(button, 24);
    return button;
}

QPushButton *prominentButton(const QString &title)
{
    auto *button = new QPushButton(title);
    tintProminent(button);
    return button;
}

QWidget *hairline(Qt::Orientation orientation)
{
    auto *line = new QWidget;
    if (orientation == Qt::Horizontal)
        line->setFixedHeight(1);
    else
        line->setFixedWidth(1);
    fillBackground(line, Palette::rule());
    return line;
}

PaneHeader::PaneHeader(const QString &title, int titleInset, std::optional<int> hairlineMaxWidth, QWidget *trailing,
                       QWidget *parent)
    : QWidget(parent), m_title(new QLabel(title)), m_hairlineMaxWidth(hairlineMaxWidth)
{
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(Typeface::font(Typeface::serif(), 15, QFont::DemiBold));
    auto *row = new QWidget;
    row->setMinimumHeight(minRowHeight);
    auto *rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(titleInset, 0, titleInset, 0);
    rowLayout->addWidget(m_title, 0, Qt::AlignVCenter);
    rowLayout->addStretch(1);
    if (trailing)
        rowLayout->addWidget(trailing, 0, Qt::AlignVCenter);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 1); // the hairline's row, painted below
    column->setSpacing(0);
    column->addWidget(row);
}

QRect PaneHeader::hairlineRect() const
{
    const int width = m_hairlineMaxWidth ? std::min(*m_hairlineMaxWidth, this->width()) : this->width();
    return QRect((this->width() - width) / 2, height() - 1, width, 1);
}

void PaneHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(hairlineRect(), Palette::rule());
}

SelectedRowStrip::SelectedRowStrip(QWidget *parent) : QWidget(parent)
{
    setFixedWidth(2);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SelectedRowStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::accent());
    painter.drawRoundedRect(QRectF(0, 6, width(), std::max(0, height() - 12)), 1, 1);
}

BorderedSecondaryButtonStyle *BorderedSecondaryButtonStyle::apply(QAbstractButton *button, int minHeight)
{
    return new BorderedSecondaryButtonStyle(button, minHeight);
}

BorderedSecondaryButtonStyle::BorderedSecondaryButtonStyle(QAbstractButton *button, int minHeight)
    : QObject(button), m_button(button), m_minHeight(minHeight)
{
    // A label that sets its own font keeps it.
    if (!button->testAttribute(Qt::WA_SetFont))
        button->setFont(Typeface::font(Typeface::mono(), 11));
    button->installEventFilter(this);
    updateSize();
}

void BorderedSecondaryButtonStyle::updateSize()
{
    const QFontMetrics metrics(m_button->font());
    const QSize label(metrics.horizontalAdvance(m_button->text()), metrics.height());
    const QSize size(label.width() + 24, std::max(m_minHeight, label.height()));
    if (m_button->minimumSize() != size || m_button->maximumSize() != size)
        m_button->setFixedSize(size);
}

bool BorderedSecondaryButtonStyle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_button)
        return false;
    switch (event->type()) {
    case QEvent::Paint: paint(); return true;
    case QEvent::FontChange: updateSize(); return false;
    default: return false;
    }
}

void BorderedSecondaryButtonStyle::paint()
{
    QPainter painter(m_button);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_button->isDown() ? pressedOpacity : 1.0);
    // Fill and border share one rounded shape; the border lies inside it.
    const QRectF shape = QRectF(m_button->rect());
    QPainterPath outer;
    outer.addRoundedRect(shape, 8, 8);
    QPainterPath inner;
    inner.addRoundedRect(shape.adjusted(1, 1, -1, -1), 7, 7);
    // Border and fill never overlap, so a pressed button is 0.7 all through.
    painter.fillPath(outer.subtracted(inner), Palette::rule());
    painter.fillPath(inner, Palette::page());
    const QColor text =
        m_button->testAttribute(Qt::WA_SetPalette) ? m_button->palette().color(QPalette::ButtonText) : Palette::ink();
    painter.setPen(text);
    painter.setFont(m_button->font());
    painter.drawText(m_button->rect().adjusted(12, 0, -12, 0), Qt::AlignCenter | Qt::TextSingleLine, m_button->text());
}

} // namespace app
