#include "profiles/backupmodel.h"

#include "foundation/threadpools.h"
#include "profiles/profileprovisioner.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace profiles {

BackupModel::BackupModel(QObject *parent) : QObject(parent) {}

QCoro::Task<void> BackupModel::run(std::optional<QString> profileRoot, std::optional<QString> backupsRoot,
                                   std::optional<QString> masterRoot)
{
    if (m_running)
        co_return;
    m_running = true;
    emit runningChanged();

    const QString profiles = profileRoot.value_or(hermesProfilesRoot());
    const QString backups = backupsRoot ? *backupsRoot : ProfileBackup::defaultBackupsRoot();
    const QString master = masterRoot ? *masterRoot : ProfileProvisioner::defaultMasterRoot();
    const QPointer<BackupModel> self(this);
    // A named future, not a temporary inside co_await (GCC 12 mishandles those).
    QFuture<ProfileBackup::Outcome> backingUp =
        QtConcurrent::run(foundation::commandPool(), [profiles, backups, master] {
            return ProfileBackup::snapshot(profiles, backups, QDateTime::currentDateTime(),
                                           ProfileBackup::engineProcessRunning, master);
        });
    const ProfileBackup::Outcome outcome = co_await backingUp;
    // A run never ends inside the call that started it, however fast its
    // work was: callers see it running until the event loop has turned.
    QCoro::Task<> turn = QCoro::sleepFor(std::chrono::milliseconds(0));
    co_await std::move(turn);
    if (!self)
        co_return;

    if (m_lastOutcome != outcome) {
        m_lastOutcome = outcome;
        emit lastOutcomeChanged();
    }
    m_running = false;
    emit runningChanged();
}

} // namespace profiles
