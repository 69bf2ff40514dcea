#include "app/state/enginestatus.h"

#include "app/state/appgatestate.h"
#include "profiles/provisioningmodel.h"

namespace app {

using GatePhase = engine::EngineGateModel::Phase;
using Outcome = profiles::ProfileProvisioner::Outcome;

namespace EngineStatusSurface {

Visibility visibility(const GatePhase &phase, const std::optional<Outcome> &lastFailure)
{
    switch (phase.which()) {
    case GatePhase::Case::idle: return Visibility::hidden;
    case GatePhase::Case::checking: return Visibility::pulsing;
    case GatePhase::Case::fail: return Visibility::failed;
    case GatePhase::Case::pass: return lastFailure && lastFailure->isFailed() ? Visibility::failed : Visibility::hidden;
    }
    return Visibility::hidden;
}

Visibility visibility(const AppGateState &gate)
{
    return visibility(gate.gateModel().phase(), gate.provisioning().lastFailure());
}

QString pillTooltip(Visibility visibility)
{
    switch (visibility) {
    case Visibility::pulsing: return QStringLiteral("Checking the engine");
    case Visibility::failed: return QStringLiteral("Engine problem — click for details");
    case Visibility::hidden: break;
    }
    return QString();
}

} // namespace EngineStatusSurface

namespace EngineStatusCardRules {

const QString missingText = QStringLiteral(
    "The Hermes engine wasn't found or didn't answer. Passes and Sessions need it — the editor keeps working.");
const QString reassuranceText = QStringLiteral(
    "Pennora couldn't finish setting up the writing profiles. Nothing is lost — the setup is safe to run again.");
const QUrl installationGuide(QStringLiteral("https://hermes-agent.nousresearch.com/docs/"));

Body body(const GatePhase &phase, const std::optional<Outcome> &lastFailure)
{
    if (phase.which() == GatePhase::Case::fail)
        return Body::engineMissing;
    if (lastFailure && lastFailure->isFailed())
        return Body::setupFailed;
    return Body::none;
}

QString title(const GatePhase &phase)
{
    return phase.which() == GatePhase::Case::fail ? QStringLiteral("Pennora needs its engine")
                                                  : QStringLiteral("Setup failed");
}

QString setupHeadline(profiles::ProfileProvisioner::Phase phase)
{
    return phase.rawValue();
}

} // namespace EngineStatusCardRules

namespace MentorEngineStatusRules {

std::optional<GateView> viewOf(const AppGateState *gate)
{
    if (!gate)
        return std::nullopt;
    return GateView{gate->gateModel().phase(), gate->provisioning().lastFailure()};
}

State state(const std::optional<GateView> &gate, const engine::MentorSessionModel::Phase &mentorPhase)
{
    if (!gate)
        return mentorPhase.which() == engine::MentorSessionModel::Phase::Case::idle ? State::checking : State::ready;
    switch (gate->phase.which()) {
    case GatePhase::Case::idle:
    case GatePhase::Case::checking: return State::checking;
    case GatePhase::Case::fail: return State::engineMissing;
    case GatePhase::Case::pass: break;
    }
    return gate->lastFailure && gate->lastFailure->isFailed() ? State::setupFailed : State::ready;
}

QString displayVersion(const std::optional<QString> &mentorVersion, const std::optional<GateView> &gate)
{
    if (mentorVersion)
        return *mentorVersion;
    if (gate && gate->phase.which() == GatePhase::Case::pass) {
        const QString &version = gate->phase.engineVersion();
        const qsizetype plus = version.indexOf(u'+');
        return plus < 0 ? version : version.left(plus);
    }
    return QString();
}

QString text(State state)
{
    switch (state) {
    case State::checking: return QStringLiteral("checking the engine…");
    case State::engineMissing: return QStringLiteral("engine missing");
    case State::setupFailed: return QStringLiteral("setup failed");
    case State::ready: return QStringLiteral("ready");
    }
    return QString();
}

QString tooltip(State state, const QString &displayVersion)
{
    switch (state) {
    case State::checking: return QString();
    case State::engineMissing: return QStringLiteral("Passes and Sessions need the Hermes engine");
    case State::setupFailed: return QStringLiteral("Profile setup didn't finish — retry from the rail's status card");
    case State::ready:
        return displayVersion.isEmpty() ? QStringLiteral("Engine ready") : QStringLiteral("hermes ") + displayVersion;
    }
    return QString();
}

} // namespace MentorEngineStatusRules

} // namespace app
