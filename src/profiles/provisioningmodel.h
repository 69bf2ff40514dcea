#pragma once
// The observable state of profile provisioning: whether a run is going and how
// the last one failed. Lives on the main thread; the run itself works on the
// command pool.

#include "profiles/profileprovisioner.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <optional>

namespace profiles {

class ProvisioningModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)

public:
    explicit ProvisioningModel(QObject *parent = nullptr);

    // The failure of the last run that failed; none after a run that
    // succeeded, or before any run ended.
    const std::optional<ProfileProvisioner::Outcome> &lastFailure() const { return m_lastFailure; }
    bool running() const { return m_running; }

    // Runs ProfileProvisioner::run in the background and publishes its
    // outcome. A call while a run is going returns at once and changes
    // nothing. Call on the main thread.
    QCoro::Task<void> run(std::optional<QString> hermesBinary, std::optional<QString> profileRoot = std::nullopt,
                          std::optional<QString> payloadRoot = std::nullopt,
                          std::optional<QString> masterRoot = std::nullopt);

signals:
    void lastFailureChanged();
    void runningChanged();

private:
    std::optional<ProfileProvisioner::Outcome> m_lastFailure;
    bool m_running = false;
};

} // namespace profiles
