#pragma once
// Whether each Pass's engine profile has a provider key it can use, checked
// before a Pass starts so a missing key is named instead of failing mid-run.

#include "engine/passinstructions.h"
#include "profiles/settingswriting.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <map>
#include <memory>

namespace engine {

class PassReadiness;
using PassReadinessMap = std::map<PassKind, PassReadiness>;

class PassReadiness {
public:
    enum class Case { missingKey, ready, unknown };

    // Not evaluated yet.
    PassReadiness() = default;

    // The profile's provider has no usable key; label names it for the user.
    static PassReadiness missingKey(const QString &providerLabel)
    {
        return PassReadiness(Case::missingKey, providerLabel);
    }
    static PassReadiness ready() { return PassReadiness(Case::ready, QString()); }
    // The profile's model settings could not be read.
    static PassReadiness unknown() { return PassReadiness(); }

    Case which() const { return m_case; }
    // Empty unless missingKey.
    const QString &providerLabel() const { return m_providerLabel; }

    bool operator==(const PassReadiness &) const = default;

    // Reads both Pass profiles' settings through reader (concurrently), then
    // each distinct provider's key once, and falls back to the Nous portal
    // login at portalLoginPath for a Nous profile on the default endpoint.
    // Answers an entry for every PassKind; never throws.
    static QCoro::Task<PassReadinessMap> evaluate(std::shared_ptr<profiles::SettingsWriting> reader,
                                                  QString portalLoginPath);

private:
    PassReadiness(Case c, QString label) : m_case(c), m_providerLabel(std::move(label)) {}

    Case m_case = Case::unknown;
    QString m_providerLabel;
};

} // namespace engine
