#include "chrome/busyindicator.h"

#include "chrome/palette.h"

#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>

namespace app {

BusyIndicator::BusyIndicator(int size, QWidget *parent) : QWidget(parent), m_spin(new QVariantAnimation(this))
{
    setFixedSize(size, size);
    m_spin->setStartValue(0.0);
    m_spin->setEndValue(360.0);
    m_spin->setDuration(900);
    m_spin->setLoopCount(-1);
    connect(m_spin, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

bool BusyIndicator::isSpinning() const
{
    return m_spin->state() == QAbstractAnimation::Running;
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = std::max(1.5, width() / 8.0);
    painter.setPen(QPen(Palette::inkMuted(), pen, Qt::SolidLine, Qt::RoundCap));
    const QRectF ring = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    const int start = int(-m_spin->currentValue().toDouble() * 16);
    painter.drawArc(ring, start, 270 * 16);
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_spin->start();
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_spin->stop();
}

} // namespace app
