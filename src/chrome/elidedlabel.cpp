#include "chrome/elidedlabel.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <algorithm>

namespace app {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget *parent) : QLabel(parent), m_mode(mode)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString &text)
{
    m_full = text;
    setToolTip(text);
    elide();
}

QSize ElidedLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_full) + 2, QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy) && isCut() && hasSelectedText()) {
        copyFullText();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ElidedLabel::contextMenuEvent(QContextMenuEvent *event)
{
    if (!isCut() || !(textInteractionFlags() & Qt::TextSelectableByMouse)) {
        QLabel::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    menu.addAction(QStringLiteral("Copy"), this, &ElidedLabel::copyFullText);
    menu.exec(event->globalPos());
}

void ElidedLabel::copyFullText() const
{
    QGuiApplication::clipboard()->setText(m_full);
}

void ElidedLabel::elide()
{
    setText(fontMetrics().elidedText(m_full, m_mode, std::max(0, width())));
}

} // namespace app
