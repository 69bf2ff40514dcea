#pragma once
// The observable state of the daily profile backup: whether a run is going and
// how the last one ended. Lives on the main thread; the copy itself works on
// the command pool.

#include "profiles/profilebackup.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <optional>

namespace profiles {

class BackupModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)

public:
    explicit BackupModel(QObject *parent = nullptr);

    bool running() const { return m_running; }
    // The outcome of the last finished run, skipped runs included.
    const std::optional<ProfileBackup::Outcome> &lastOutcome() const { return m_lastOutcome; }

    // Takes a snapshot in the background with the real process-list check.
    // Folders left out take their defaults: hermesProfilesRoot(), the data
    // folder's Backups and skills. A call while a run is going returns at
    // once. Call on the main thread.
    QCoro::Task<void> run(std::optional<QString> profileRoot = std::nullopt,
                          std::optional<QString> backupsRoot = std::nullopt,
                          std::optional<QString> masterRoot = std::nullopt);

signals:
    void runningChanged();
    void lastOutcomeChanged();

private:
    bool m_running = false;
    std::optional<ProfileBackup::Outcome> m_lastOutcome;
};

} // namespace profiles
