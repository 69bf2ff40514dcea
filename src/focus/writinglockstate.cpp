#include "focus/writinglockstate.h"

#include "foundation/paths.h"

#include <QPointer>

namespace focus {
namespace {
QPointer<WritingLockState> g_current;
}

WritingLockState::WritingLockState(QObject *parent) : QObject(parent)
{
    m_ticker.setInterval(1000);
    connect(&m_ticker, &QTimer::timeout, this, &WritingLockState::tick);
    g_current = this;
}

WritingLockState::~WritingLockState() = default;

WritingLockState *WritingLockState::current()
{
    return g_current;
}

void WritingLockState::setShowsArmBar(bool shows)
{
    if (m_showsArmBar == shows)
        return;
    m_showsArmBar = shows;
    emit showsArmBarChanged();
}

void WritingLockState::arm(const WritingGoal &goal, const QString &baselineText, const QDateTime &start,
                           bool startTicker)
{
    if (m_isLocked)
        return;
    m_run = WritingGoalRun{goal, start, baselineText};
    emit runChanged();
    m_isLocked = true;
    emit isLockedChanged();
    setShowsArmBar(false);
    if (startTicker)
        m_ticker.start();
    if (!foundation::paths::isTestRun())
        emit kioskRequested();
}

} // namespace focus
