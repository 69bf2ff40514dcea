#pragma once
// The mentor's chat engine lifecycle: the phase the mentor sees, the engine's
// start, restart (now or after the running turn) and end, its version and
// the tail of its standard error. Owned by MentorSessionModel, whose
// signals it notifies; the roster and the turns are reached through the
// references it is given.

#include "engine/enginehost.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace engine {

class MentorSessionModel;
class MentorRoster;
class MentorTurns;

// The chat engine as the mentor sees it. idle is only the first phase.
class MentorPhase {
public:
    enum class Case { crashed, idle, starting, ready };
    MentorPhase() = default;
    static MentorPhase crashed(std::optional<QString> lastPrompt)
    {
        return MentorPhase(Case::crashed, std::move(lastPrompt));
    }
    static MentorPhase idle() { return MentorPhase(); }
    static MentorPhase starting() { return MentorPhase(Case::starting, {}); }
    static MentorPhase ready() { return MentorPhase(Case::ready, {}); }
    Case which() const { return m_case; }
    // The prompt a crash interrupted; none in every other case.
    const std::optional<QString> &lastPrompt() const { return m_lastPrompt; }
    bool operator==(const MentorPhase &) const = default;

private:
    MentorPhase(Case c, std::optional<QString> prompt) : m_case(c), m_lastPrompt(std::move(prompt)) {}
    Case m_case = Case::idle;
    std::optional<QString> m_lastPrompt;
};

class MentorEngine {
public:
    using Phase = MentorPhase;

    // turns may not be constructed yet; it is used only once the model is.
    MentorEngine(MentorSessionModel &model, MentorRoster &roster, MentorTurns &turns, std::unique_ptr<EngineHost> host,
                 std::optional<QString> binaryPath);

    const Phase &phase() const { return m_phase; }
    EngineHost &host() const { return *m_host; }
    const std::optional<QString> &versionNote() const { return m_versionNote; }
    const std::optional<QString> &engineVersion() const { return m_engineVersion; }
    const QStringList &stderrTail() const { return m_stderrTail; }
    bool pendingRestart() const { return m_pendingRestart; }
    const std::optional<QString> &binaryPath() const { return m_binaryPath; }

    void setBinaryPath(const std::optional<QString> &path); // also sets the host's
    void setPhase(const Phase &phase);
    void setStderrTail(const QStringList &tail);
    void setPendingRestart(bool pending);

    QCoro::Task<void> start();
    QCoro::Task<void> restart();
    void restartWhenIdle();
    void runPendingRestart();
    void shutdown();
    void engineDidCrash();
    void appendStderrLine(const QString &line);
    // Whether the engine came up.
    bool applyStartResult(const EngineHost::ChatStart &result);
    QCoro::Task<void> restoreActiveSession();
    // Closes the engines; the model's last step.
    void releaseHost() { m_host.reset(); }

private:
    MentorSessionModel &m_model;
    MentorRoster &m_roster;
    MentorTurns &m_turns;
    std::unique_ptr<EngineHost> m_host;
    // Counts chat-engine starts, so only the latest one applies its outcome.
    quint64 m_startAttempt = 0;
    Phase m_phase;
    std::optional<QString> m_versionNote;
    std::optional<QString> m_engineVersion;
    QStringList m_stderrTail;
    bool m_pendingRestart = false;
    std::optional<QString> m_binaryPath;
};

} // namespace engine
