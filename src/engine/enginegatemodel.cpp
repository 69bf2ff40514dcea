#include "engine/enginegatemodel.h"

#include "foundation/notify.h"
#include "foundation/threadpools.h"

#include <QCoro/QCoroFuture>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace engine {

EngineGateModel::EngineGateModel(QObject *parent) : QObject(parent) {}

void EngineGateModel::setOnPass(PassCallback onPass)
{
    m_onPass = std::move(onPass);
    emit onPassChanged();
}

void EngineGateModel::setHasStarted(bool hasStarted)
{
    foundation::storeAndNotify(*this, m_hasStarted, hasStarted, &EngineGateModel::hasStartedChanged);
}

void EngineGateModel::setPhase(const Phase &phase)
{
    foundation::storeAndNotify(*this, m_phase, phase, &EngineGateModel::phaseChanged);
}

void EngineGateModel::setRunning(bool running)
{
    foundation::storeAndNotify(*this, m_running, running, &EngineGateModel::runningChanged);
}

void EngineGateModel::setCurrentBinaryPath(const std::optional<QString> &path)
{
    foundation::storeAndNotify(*this, m_currentBinaryPath, path, &EngineGateModel::currentBinaryPathChanged);
}

QCoro::Task<void> EngineGateModel::check(QStringList candidates, bool useLoginShell, std::optional<QString> stateFolder,
                                         std::chrono::milliseconds checkTimeout)
{
    if (m_running)
        co_return;
    setRunning(true);
    setPhase(Phase::checking());

    const QPointer<EngineGateModel> self(this);
    // A named future, not a temporary inside co_await (GCC 12 mishandles those).
    QFuture<EngineCheckResult> probing =
        QtConcurrent::run(foundation::commandPool(), [candidates, useLoginShell, stateFolder, checkTimeout] {
            return EngineProbe::probe(candidates, useLoginShell, stateFolder, checkTimeout);
        });
    const EngineCheckResult result = co_await probing;
    if (!self)
        co_return;

    if (const auto *pass = std::get_if<EngineCheckResult::Pass>(&result.value)) {
        setPhase(Phase::pass(pass->version, pass->binaryPath));
        setCurrentBinaryPath(pass->binaryPath);
        if (const PassCallback onPass = m_onPass) {
            onPass();
            if (!self)
                co_return;
        }
    } else {
        const auto &fail = std::get<EngineCheckResult::Fail>(result.value);
        setPhase(Phase::fail(fail.firstProbePath, fail.stderrExcerpt));
    }
    setRunning(false);
}

} // namespace engine
