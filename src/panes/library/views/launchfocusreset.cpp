#include "launchfocusreset.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace panes {

namespace {

bool g_didReset = false;

void clearFocus(QWidget *window)
{
    if (QWidget *focused = window->focusWidget())
        focused->clearFocus();
}

} // namespace

LaunchFocusReset::LaunchFocusReset(QWidget *host) : QObject(host), m_host(host)
{
    host->installEventFilter(this);
    observe(host->window());
}

bool LaunchFocusReset::didReset()
{
    return g_didReset;
}

void LaunchFocusReset::clearFocusOnce(QWidget *window)
{
    if (g_didReset || !window)
        return;
    g_didReset = true;
    clearFocus(window);
    QTimer::singleShot(0, window, [window] { clearFocus(window); });
}

void LaunchFocusReset::observe(QWidget *window)
{
    if (window == m_window)
        return;
    if (m_window && m_window != m_host)
        m_window->removeEventFilter(this);
    m_window = window;
    if (m_window && m_window != m_host)
        m_window->installEventFilter(this);
}

bool LaunchFocusReset::eventFilter(QObject *watched, QEvent *event)
{
    // An ancestor's move to another window shows up as a new show.
    if (watched == m_host && (event->type() == QEvent::ParentChange || event->type() == QEvent::Show))
        observe(m_host->window());
    if (watched == m_window && event->type() == QEvent::WindowActivate)
        clearFocusOnce(m_window);
    return QObject::eventFilter(watched, event);
}

} // namespace panes
