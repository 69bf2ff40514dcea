#include "engine/mentorengine.h"

#include "engine/mentorroster.h"
#include "engine/mentorsessionmodel.h"
#include "engine/mentorturns.h"
#include "foundation/notify.h"

#include <QPointer>

namespace engine {

using namespace Qt::StringLiterals;

MentorEngine::MentorEngine(MentorSessionModel &model, MentorRoster &roster, MentorTurns &turns,
                           std::unique_ptr<EngineHost> host, std::optional<QString> binaryPath)
    : m_model(model), m_roster(roster), m_turns(turns), m_host(std::move(host)), m_binaryPath(std::move(binaryPath))
{
    m_host->binaryPath = m_binaryPath;
}

void MentorEngine::setPhase(const Phase &phase)
{
    foundation::storeAndNotify(m_model, m_phase, phase, &MentorSessionModel::phaseChanged);
}

void MentorEngine::setStderrTail(const QStringList &tail)
{
    foundation::storeAndNotify(m_model, m_stderrTail, tail, &MentorSessionModel::stderrTailChanged);
}

void MentorEngine::setPendingRestart(bool pending)
{
    foundation::storeAndNotify(m_model, m_pendingRestart, pending, &MentorSessionModel::pendingRestartChanged);
}

void MentorEngine::setBinaryPath(const std::optional<QString> &path)
{
    foundation::storeAndNotify(m_model, m_binaryPath, path, &MentorSessionModel::binaryPathChanged);
    m_host->binaryPath = path;
}

bool MentorEngine::applyStartResult(const EngineHost::ChatStart &result)
{
    if (const auto *failed = std::get_if<EngineHost::ChatStart::Failed>(&result.value)) {
        setPhase(Phase::crashed(m_turns.lastPrompt()));
        setStderrTail({failed->reason});
        return false;
    }
    const auto &up = std::get<EngineHost::ChatStart::Up>(result.value);
    foundation::storeAndNotify(m_model, m_engineVersion, up.version, &MentorSessionModel::engineVersionChanged);
    foundation::storeAndNotify(m_model, m_versionNote, up.note, &MentorSessionModel::versionNoteChanged);
    return true;
}

QCoro::Task<void> MentorEngine::start()
{
    if (m_phase.which() != Phase::Case::idle)
        co_return;
    const QPointer<MentorSessionModel> self(&m_model);
    const quint64 attempt = ++m_startAttempt;
    setPhase(Phase::starting());
    const EngineHost::ChatStart result = co_await m_host->startChat();
    // A restart begun meanwhile has stopped this engine and owns the phase.
    if (!self || attempt != m_startAttempt || !applyStartResult(result))
        co_return;
    if (m_phase.which() == Phase::Case::starting)
        co_await restoreActiveSession();
}

void MentorEngine::shutdown()
{
    m_host->shutdown();
    setPhase(Phase::idle());
}

QCoro::Task<void> MentorEngine::restoreActiveSession()
{
    if (m_turns.isStreaming()) {
        setPhase(Phase::ready());
        co_return;
    }
    if (!m_roster.entries().isEmpty()) {
        const SessionEntry newest = m_roster.entries().first();
        m_turns.activate(newest);
        co_await m_turns.resume(newest);
        co_return;
    }
    const QPointer<MentorSessionModel> self(&m_model);
    const std::optional<SessionEntry> entry = co_await m_turns.createSession(u"Mentor"_s, std::nullopt);
    if (self && !entry) {
        setPhase(Phase::crashed(std::nullopt));
        setStderrTail({u"no session — the engine refused session/new"_s});
    }
}

void MentorEngine::engineDidCrash()
{
    const Phase::Case now = m_phase.which();
    if (now == Phase::Case::starting || now == Phase::Case::ready)
        setPhase(Phase::crashed(m_turns.lastPrompt()));
}

void MentorEngine::appendStderrLine(const QString &line)
{
    QStringList tail = m_stderrTail;
    tail.append(line);
    if (tail.size() > MentorSessionModel::stderrTailLines)
        tail.remove(0, tail.size() - MentorSessionModel::stderrTailLines);
    setStderrTail(tail);
}

QCoro::Task<void> MentorEngine::restart()
{
    const QPointer<MentorSessionModel> self(&m_model);
    m_host->stopChat();
    m_turns.dropStreaming();
    const quint64 attempt = ++m_startAttempt;
    setPhase(Phase::starting());
    const EngineHost::ChatStart result = co_await m_host->startChat();
    if (!self || attempt != m_startAttempt || !applyStartResult(result) || m_phase.which() != Phase::Case::starting)
        co_return;
    if (m_turns.activeEntry() && m_roster.entries().contains(*m_turns.activeEntry())) {
        setPhase(Phase::ready());
        co_await m_turns.resume(*m_turns.activeEntry());
    } else {
        co_await restoreActiveSession();
    }
}

void MentorEngine::restartWhenIdle()
{
    const Phase::Case now = m_phase.which();
    if (now == Phase::Case::idle || now == Phase::Case::starting)
        return;
    if (m_turns.isStreaming()) {
        setPendingRestart(true);
        return;
    }
    m_model.later([](MentorSessionModel &model) { QCoro::Task<void> detached = model.restart(); });
}

void MentorEngine::runPendingRestart()
{
    if (!m_pendingRestart)
        return;
    setPendingRestart(false);
    m_model.later([](MentorSessionModel &model) { QCoro::Task<void> detached = model.restart(); });
}

} // namespace engine
