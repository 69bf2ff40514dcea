#pragma once
// The daily snapshot of the engine's three writing profiles into the
// application's data folder: at most one a day, the seven newest kept, a note
// on restoring by hand, and never while an engine works on the profiles.
// Snapshots hold the profiles' keys, so everything under Backups/ is private.
// Stateless; blocks its thread, so it runs in the background.

#include <QDateTime>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(backupLog)

namespace profiles::ProfileBackup {

class Outcome {
public:
    enum class Case { snapshotted, skippedEngineRunning, skippedFresh, skippedProfileMissing, failed };

    static Outcome snapshotted(const QString &stamp) { return Outcome(Case::snapshotted, stamp); }
    static Outcome skippedEngineRunning() { return Outcome(Case::skippedEngineRunning); }
    static Outcome skippedFresh() { return Outcome(Case::skippedFresh); }
    static Outcome skippedProfileMissing() { return Outcome(Case::skippedProfileMissing); }
    static Outcome failed() { return Outcome(Case::failed); }

    Case which() const { return m_case; }
    // The new snapshot's folder name; empty unless snapshotted.
    const QString &stamp() const { return m_stamp; }
    bool operator==(const Outcome &) const = default;

private:
    explicit Outcome(Case c, QString stamp = {}) : m_case(c), m_stamp(std::move(stamp)) {}
    Case m_case;
    QString m_stamp;
};

struct Snapshot {
    QString name;
    QDateTime date;
    bool operator==(const Snapshot &) const = default;
};

// Answers whether an engine process runs on one of the profiles.
using EngineCheck = std::function<bool()>;

inline constexpr int kKeptSnapshots = 7;
inline constexpr qint64 kFreshSeconds = 86400;
// A temporary snapshot this much older than the run is an interrupted one.
inline constexpr qint64 kAbandonedSeconds = 3600;
inline constexpr std::chrono::milliseconds kProcessListTimeout = std::chrono::seconds(5);
// The command line of every process of this user (by real user id: another
// user's engine works on their own profiles), kept when it names one of the
// profiles (the Pass profiles' names begin like the chat profile's).
QString processListCommand();

// The application data folder's "Backups".
QString defaultBackupsRoot();

// One run, its gates in order: no profile, an engine process, a live
// gateway.pid, a snapshot less than a day old; then the copy. masterRoot is
// the master skills folder, whose skill links are copied as content. Never
// throws.
Outcome snapshot(const QString &profileRoot, const QString &backupsRoot, const QDateTime &now,
                 const EngineCheck &engineRunning, const QString &masterRoot);

// The copy behind the gates: the profile folders into a private temporary
// folder, renamed to the stamp of now (never over an existing one), then the
// pruning.
Outcome makeSnapshot(const QStringList &profileFolders, const QString &backupsRoot, const QDateTime &now,
                     const QString &masterRoot);
// Removes every snapshot but the seven newest by the dates in their names;
// those named more than a day after now count as the oldest.
void prune(const QString &backupsRoot, const QDateTime &now);
// Writes "RESTORE.md" when it is missing; errors are passed over.
void writeRestoreNote(const QString &backupsRoot);
QByteArray restoreNote();
// The snapshots, newest first; empty when the folder cannot be listed.
QList<Snapshot> listSnapshots(const QString &backupsRoot);
// A name "yyyyMMdd-HHmmss" that reads as a local date, else none.
std::optional<QDateTime> parseStamp(const QString &name);
QString formatStamp(const QDateTime &date);
// Copies a profile folder without logs, caches, sockets, pid and lock files.
// A folder link is followed only into masterRoot or source itself, and each
// folder is copied once; other folder links are skipped and logged. Files
// keep their modes, folders are made 0700. Throws foundation::fs::FileError.
void copyTree(const QString &source, const QString &destination, const QString &masterRoot);
// Whether a name is left out of every snapshot, at any depth.
bool isExcluded(const QString &name);
// The process list holds an engine on one of the profiles.
bool engineProcessRunning();
// The "pid" of a gateway.pid file when it is a whole number in 1...2^31-1.
std::optional<qint32> readGatewayPid(const QString &path);
// Removes temporary snapshots an hour older than now (left by a run that was
// cut off).
void removeAbandonedTemporaries(const QString &backupsRoot, const QDateTime &now);

} // namespace profiles::ProfileBackup
