#include "profiles/provisioningmodel.h"

#include "foundation/threadpools.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace profiles {

ProvisioningModel::ProvisioningModel(QObject *parent) : QObject(parent) {}

QCoro::Task<void> ProvisioningModel::run(std::optional<QString> hermesBinary, std::optional<QString> profileRoot,
                                         std::optional<QString> payloadRoot, std::optional<QString> masterRoot)
{
    if (m_running)
        co_return;
    m_running = true;
    emit runningChanged();

    const QPointer<ProvisioningModel> self(this);
    // A named future, not a temporary inside co_await (GCC 12 mishandles those).
    QFuture<ProfileProvisioner::Outcome> provisioning =
        QtConcurrent::run(foundation::commandPool(), [hermesBinary, profileRoot, payloadRoot, masterRoot] {
            return ProfileProvisioner::run(hermesBinary, profileRoot, payloadRoot, masterRoot);
        });
    const ProfileProvisioner::Outcome outcome = co_await provisioning;
    // A run never ends inside the call that started it, however fast its
    // work was: callers see it running until the event loop has turned.
    QCoro::Task<> turn = QCoro::sleepFor(std::chrono::milliseconds(0));
    co_await std::move(turn);
    if (!self)
        co_return;

    const std::optional<ProfileProvisioner::Outcome> failure =
        outcome.isFailed() ? std::optional(outcome) : std::nullopt;
    if (failure != m_lastFailure) {
        m_lastFailure = failure;
        emit lastFailureChanged();
    }
    m_running = false;
    emit runningChanged();
}

} // namespace profiles
