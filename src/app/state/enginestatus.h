#pragma once
// Where the engine stands, as plain rules: the rail pill's look, what the
// status card explains with its texts, and the mentor panes' one-line status.
// The engine status widgets only draw these.

#include "engine/enginegatemodel.h"
#include "engine/mentorsessionmodel.h"
#include "profiles/profileprovisioner.h"

#include <QString>
#include <QUrl>
#include <optional>

namespace app {

class AppGateState;

namespace EngineStatusSurface {

enum class Visibility { hidden, pulsing, failed };

// The pill's look from the engine check and, after a passing check, the
// last provisioning failure.
Visibility visibility(const engine::EngineGateModel::Phase &phase,
                      const std::optional<profiles::ProfileProvisioner::Outcome> &lastFailure);
Visibility visibility(const AppGateState &gate);
// The pill's tooltip and accessibility label; empty when hidden.
QString pillTooltip(Visibility visibility);

} // namespace EngineStatusSurface

// The status card's rules.
namespace EngineStatusCardRules {

// What the card explains now.
enum class Body { none, engineMissing, setupFailed };
Body body(const engine::EngineGateModel::Phase &phase,
          const std::optional<profiles::ProfileProvisioner::Outcome> &lastFailure);
QString title(const engine::EngineGateModel::Phase &phase);
// The headline of a failed set-up step.
QString setupHeadline(profiles::ProfileProvisioner::Phase phase);
extern const QString missingText;
extern const QString reassuranceText;
// The engine's installation guide, opened by "Installation guide".
extern const QUrl installationGuide;

} // namespace EngineStatusCardRules

// The mentor panes' one-line status.
namespace MentorEngineStatusRules {

enum class State { checking, engineMissing, setupFailed, ready };
// The engine check and provisioning as the line sees them, when a gate is
// given.
struct GateView {
    engine::EngineGateModel::Phase phase;
    std::optional<profiles::ProfileProvisioner::Outcome> lastFailure;
};
std::optional<GateView> viewOf(const AppGateState *gate);
State state(const std::optional<GateView> &gate, const engine::MentorSessionModel::Phase &mentorPhase);
// The running engine's version, else a passed check's up to its first "+",
// else empty.
QString displayVersion(const std::optional<QString> &mentorVersion, const std::optional<GateView> &gate);
QString text(State state);
QString tooltip(State state, const QString &displayVersion);

} // namespace MentorEngineStatusRules

} // namespace app
