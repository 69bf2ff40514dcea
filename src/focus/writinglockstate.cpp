#include "focus/writinglockstate.h"

#include "foundation/notify.h"
#include "foundation/paths.h"
#include "library/draftstats.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <cmath>
#include <ctime>

namespace focus {
namespace {

QPointer<WritingLockState> g_current;

qint64 bootClockMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Halves away from zero; what is not a finite number is 0.
qint64 roundedSeconds(double seconds)
{
    return std::isfinite(seconds) ? std::llround(seconds) : 0;
}

} // namespace

int WritingGoal::clampedAmount(const QString &text, int fallback, int lowest, int highest)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    qint64 value = fallback;
    if (number.match(text).hasMatch()) {
        bool ok = false;
        const qint64 read = text.toLongLong(&ok);
        if (ok)
            value = read;
    }
    return int(std::clamp<qint64>(value, lowest, highest));
}

std::optional<qint64> WritingGoalRun::secondsLeft(qint64 clockMs) const
{
    if (goal.kind != WritingGoal::Kind::minutes)
        return std::nullopt;
    const double left = (armedClockMs + qint64(goal.count) * 60'000 - clockMs) / 1000.0;
    return std::max<qint64>(0, roundedSeconds(left));
}

std::pair<QString, QString> WritingGoalRun::progressLabel(qint64 clockMs) const
{
    if (goal.kind == WritingGoal::Kind::minutes)
        return {WritingLockState::clockText(secondsLeft(clockMs).value_or(0)), QStringLiteral("left")};
    return {QStringLiteral("%1 / %2").arg(wordsWritten()).arg(goal.count), QStringLiteral("words")};
}

WritingLockState::Clock WritingLockState::systemClock()
{
    return {&bootClockMs, [](int ms, QObject *context, std::function<void()> action) {
                QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(action));
            }};
}

WritingLockState::WritingLockState(QObject *parent) : WritingLockState(systemClock(), parent) {}

WritingLockState::WritingLockState(Clock clock, QObject *parent) : QObject(parent), m_clock(std::move(clock))
{
    m_nowMs = m_clock.elapsedMs();
    g_current = this;
}

WritingLockState::~WritingLockState() = default;

WritingLockState *WritingLockState::current()
{
    return g_current;
}

void WritingLockState::setShowsArmBar(bool shows)
{
    foundation::storeAndNotify(*this, m_showsArmBar, shows, &WritingLockState::showsArmBarChanged);
}

void WritingLockState::setLocked(bool locked)
{
    foundation::storeAndNotify(*this, m_isLocked, locked, &WritingLockState::isLockedChanged);
}

void WritingLockState::arm(const WritingGoal &goal, const QString &text, const QDateTime &armedAt, bool startTicker)
{
    if (m_isLocked)
        return;
    const qint64 words = library::DraftStats::wordCount(text);
    m_nowMs = m_clock.elapsedMs();
    m_run = WritingGoalRun{goal, armedAt, m_nowMs, words, words};
    emit runChanged();
    emit nowChanged();
    setLocked(true);
    setShowsArmBar(false);
    if (!foundation::paths::isTestRun()) {
        m_inKiosk = true;
        emit kioskRequested();
    }
    if (startTicker)
        this->startTicker();
}

void WritingLockState::updateGoalWords(const QString &text)
{
    if (!m_run || m_run->goal.kind != WritingGoal::Kind::words)
        return;
    m_run->currentWords = library::DraftStats::wordCount(text);
    emit runChanged();
}

void WritingLockState::startTicker()
{
    // A chain of one-second waits; a new generation ends the old chain.
    const quint64 generation = ++m_tickerGeneration;
    m_ticking = true;
    std::function<void()> step;
    step = [this, generation] {
        if (generation != m_tickerGeneration)
            return;
        if (!m_isLocked) {
            m_ticking = false;
            return;
        }
        tick();
        if (generation == m_tickerGeneration && m_isLocked)
            startTicker();
    };
    m_clock.after(tickMs, this, std::move(step));
}

void WritingLockState::tick()
{
    if (!m_isLocked || !m_run)
        return;
    m_nowMs = m_clock.elapsedMs();
    emit nowChanged();
    const WritingGoal &goal = m_run->goal;
    const bool met = goal.kind == WritingGoal::Kind::minutes
                         ? m_nowMs - m_run->armedClockMs >= qint64(goal.count) * 60'000
                         : m_run->wordsWritten() >= goal.count;
    if (met)
        complete();
}

void WritingLockState::complete()
{
    if (!m_run)
        return;
    const WritingGoalRun done = *m_run;
    ++m_tickerGeneration;
    m_ticking = false;
    if (std::exchange(m_inKiosk, false))
        emit kioskLeaveRequested(true);
    setLocked(false);
    m_run.reset();
    emit runChanged();
    setNote(noteText(done.goal, (m_nowMs - done.armedClockMs) / 1000.0));
    // A newer note has its full time: the earlier fade no longer clears.
    const quint64 generation = ++m_fadeGeneration;
    m_clock.after(noteFadeMs, this, [this, generation] {
        if (generation == m_fadeGeneration)
            setNote(std::nullopt);
    });
}

void WritingLockState::walkAway()
{
    if (std::exchange(m_inKiosk, false))
        emit kioskLeaveRequested(false);
}

void WritingLockState::setNote(const std::optional<QString> &note)
{
    foundation::storeAndNotify(*this, m_completionNote, note, &WritingLockState::completionNoteChanged);
}

bool WritingLockState::isBlockedShortcut(int key, const QString &text, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers held =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString c = text.toLower();
    if (held == (Qt::ControlModifier | Qt::MetaModifier))
        return key == Qt::Key_F || c == u"f";
    if (held == Qt::ControlModifier)
        return key == Qt::Key_W || c == u"w" || key == Qt::Key_N || c == u"n";
    return false;
}

bool WritingLockState::shouldSwallow(int key, const QString &text, Qt::KeyboardModifiers modifiers)
{
    const WritingLockState *lock = current();
    return lock && lock->isLocked() && isBlockedShortcut(key, text, modifiers);
}

QString WritingLockState::clockText(qint64 seconds)
{
    const qint64 s = std::max<qint64>(0, seconds);
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (s < 3600)
        return two(s / 60) + u':' + two(s % 60);
    return QString::number(s / 3600) + u':' + two(s % 3600 / 60) + u':' + two(s % 60);
}

QString WritingLockState::noteText(const WritingGoal &goal, double elapsedSeconds)
{
    const QString unit =
        goal.kind == WritingGoal::Kind::minutes ? QStringLiteral(" min · ") : QStringLiteral(" words · ");
    return QString::number(goal.count) + unit + clockText(roundedSeconds(elapsedSeconds));
}

} // namespace focus
