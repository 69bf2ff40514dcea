#pragma once
// The observable outcome of the engine check: whether a working engine was
// found, which one and in which version. Lives on the main thread; the check
// itself runs on the engine's command pool and only its result comes back.

#include "engine/engineprobe.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

namespace engine {

class EngineGateModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(engine::EngineGateModel::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(bool hasStarted READ hasStarted WRITE setHasStarted NOTIFY hasStartedChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(std::optional<QString> currentBinaryPath READ currentBinaryPath NOTIFY currentBinaryPathChanged)

public:
    // Where the check stands. Two phases are equal when they are the same
    // case with equal texts.
    class Phase {
    public:
        enum class Case { pass, fail, idle, checking };

        Phase() = default; // idle
        static Phase pass(const QString &engineVersion, const QString &binaryPath)
        {
            return Phase(Case::pass, engineVersion, binaryPath, {}, {});
        }
        static Phase fail(const QString &firstProbePath, const QString &stderrExcerpt)
        {
            return Phase(Case::fail, {}, {}, firstProbePath, stderrExcerpt);
        }
        static Phase idle() { return Phase(); }
        static Phase checking() { return Phase(Case::checking, {}, {}, {}, {}); }

        Case which() const { return m_case; }
        // Each empty unless its case.
        const QString &engineVersion() const { return m_engineVersion; }
        const QString &binaryPath() const { return m_binaryPath; }
        const QString &firstProbePath() const { return m_firstProbePath; }
        const QString &stderrExcerpt() const { return m_stderrExcerpt; }

        bool operator==(const Phase &) const = default;

    private:
        Phase(Case c, QString engineVersion, QString binaryPath, QString firstProbePath, QString stderrExcerpt)
            : m_case(c), m_engineVersion(std::move(engineVersion)), m_binaryPath(std::move(binaryPath)),
              m_firstProbePath(std::move(firstProbePath)), m_stderrExcerpt(std::move(stderrExcerpt))
        {}

        Case m_case = Case::idle;
        QString m_engineVersion;
        QString m_binaryPath;
        QString m_firstProbePath;
        QString m_stderrExcerpt;
    };

    using PassCallback = std::function<void()>;

    explicit EngineGateModel(QObject *parent = nullptr);

    const Phase &phase() const { return m_phase; }
    const PassCallback &onPass() const { return m_onPass; }
    bool hasStarted() const { return m_hasStarted; }
    bool running() const { return m_running; }
    const std::optional<QString> &currentBinaryPath() const { return m_currentBinaryPath; }

    // Always notifies, even for the same callback.
    void setOnPass(PassCallback onPass);
    void setHasStarted(bool hasStarted);

    // Runs EngineProbe::probe with these arguments on the command pool and
    // shows its outcome; onPass follows a passing check. A call while a check
    // runs returns at once and leaves that check alone. Call on the main
    // thread.
    QCoro::Task<void> check(QStringList candidates, bool useLoginShell, std::optional<QString> stateFolder,
                            std::chrono::milliseconds checkTimeout);

signals:
    void phaseChanged();
    void onPassChanged();
    void hasStartedChanged();
    void runningChanged();
    void currentBinaryPathChanged();

private:
    void setPhase(const Phase &phase);
    void setRunning(bool running);
    void setCurrentBinaryPath(const std::optional<QString> &path);
    Phase m_phase;
    PassCallback m_onPass;
    bool m_hasStarted = false;
    bool m_running = false;
    std::optional<QString> m_currentBinaryPath;
};

} // namespace engine
