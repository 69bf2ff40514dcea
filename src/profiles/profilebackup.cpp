#include "profiles/profilebackup.h"

#include "foundation/dates.h"
#include "foundation/error.h"
#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/paths.h"
#include "foundation/processrunner.h"
#include "foundation/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

Q_LOGGING_CATEGORY(backupLog, "com.quendalstudio.Pennora.backup")

namespace profiles::ProfileBackup {

namespace {

namespace fs = foundation::fs;

const QString kStampPattern = QStringLiteral("yyyyMMdd-HHmmss");
const QString kEngineRunning = QStringLiteral("skipped — engine running (liveness gate)");

QString join(const QString &folder, const QString &name)
{
    return folder + u'/' + name;
}

// The real path of a folder, or the path itself when it cannot be resolved.
QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
}

bool within(const QString &path, const QString &root)
{
    return path == root || path.startsWith(root == u"/" ? root : root + u'/');
}

// One profile's copy: the folders it has entered, by device and inode, so a
// link cycle or a second way into the same folder copies it once.
class TreeCopier {
public:
    TreeCopier(const QString &source, const QString &masterRoot) : m_roots{canonical(source), canonical(masterRoot)} {}

    void copyFolder(const QString &source, const QString &destination)
    {
        const std::optional<QList<fs::FolderEntry>> entries = fs::tryListFolderEntries(source);
        if (!entries)
            throw fs::FileError(ENOENT, source, QStringLiteral("list"));
        for (const fs::FolderEntry &entry : *entries) {
            if (isExcluded(entry.name))
                continue;
            const QString from = join(source, entry.name);
            const QString to = join(destination, entry.name);
            struct stat st {};
            // A broken link, or an entry gone since the listing.
            if (::stat(QFile::encodeName(from).constData(), &st) != 0)
                continue;
            const bool isLink = entry.kind == fs::FolderEntry::Kind::symLink;
            if (S_ISDIR(st.st_mode)) {
                if (isLink && !leadsInside(from))
                    continue;
                if (!enter(st))
                    continue;
                fs::makePath(to, fs::Privacy::Private);
                copyFolder(from, to);
            } else if (isLink) {
                copyLink(from, to);
            } else if (S_ISREG(st.st_mode)) {
                copyFile(from, to);
            }
            // FIFOs, sockets and devices have no place in a snapshot.
        }
        // Its entries (and so its subfolders, links and files) survive a
        // power cut before the snapshot is renamed into place.
        fs::flushFolder(destination);
    }

    // Marks a folder entered; false when it was entered before.
    bool enter(const struct stat &st)
    {
        const std::pair<quint64, quint64> key{quint64(st.st_dev), quint64(st.st_ino)};
        if (m_entered.contains(key))
            return false;
        m_entered.insert(key);
        return true;
    }

private:
    bool leadsInside(const QString &link)
    {
        const QString target = canonical(link);
        for (const QString &root : m_roots)
            if (within(target, root))
                return true;
        qCInfo(backupLog).noquote() << "skipped folder link outside the profile: " + link;
        return false;
    }

    static void copyLink(const QString &from, const QString &to)
    {
        char raw[4096];
        const ssize_t n = ::readlink(QFile::encodeName(from).constData(), raw, sizeof raw - 1);
        if (n < 0)
            return; // gone since the listing
        if (::symlink(QByteArray(raw, n).constData(), QFile::encodeName(to).constData()) != 0)
            throw fs::FileError(errno, to, QStringLiteral("symlink"));
    }

    static void copyFile(const QString &from, const QString &to)
    {
        try {
            fs::copyFileKeepingMode(from, to);
        } catch (const fs::FileError &error) {
            // A file the engine removed while we copied is simply not there.
            if (error.code() != ENOENT)
                throw;
            return;
        }
        // A snapshot whose files are cut short by a power cut would still
        // look complete.
        fs::flushFile(to);
    }

    QStringList m_roots;
    QSet<std::pair<quint64, quint64>> m_entered;
};

const QRegularExpression &temporaryPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\.\\d{8}-\\d{6}-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return pattern;
}

// The existing profile folders, in the surfaces' order.
QStringList existingProfiles(const QString &profileRoot)
{
    QStringList found;
    for (const char *name : {"pennora", "pennora-pass1", "pennora-pass2"}) {
        const QString folder = join(profileRoot, QString::fromLatin1(name));
        if (QFileInfo(folder).isDir())
            found << folder;
    }
    return found;
}

bool gatewayLives(const QString &profileFolder)
{
    const std::optional<qint32> pid = readGatewayPid(join(profileFolder, QStringLiteral("gateway.pid")));
    return pid && ::kill(*pid, 0) == 0;
}

// Whether the newest believable snapshot is less than a day old. One dated
// more than a day ahead comes from a wrong clock and is passed by.
bool hasFreshSnapshot(const QString &backupsRoot, const QDateTime &now)
{
    for (const Snapshot &snapshot : listSnapshots(backupsRoot)) {
        const qint64 age = snapshot.date.secsTo(now);
        if (age < -kFreshSeconds) {
            qCInfo(backupLog).noquote() << "ignored snapshot dated in the future: " + snapshot.name;
            continue;
        }
        return age < kFreshSeconds;
    }
    return false;
}

} // namespace

QString defaultBackupsRoot()
{
    return foundation::paths::appDataDir() + QStringLiteral("/Backups");
}

bool isExcluded(const QString &name)
{
    static const QSet<QString> folders{"logs", "cache", "audio_cache", "image_cache"};
    static const QSet<QString> files{".DS_Store",
                                     "models_dev_cache.json",
                                     "models_dev_cache.json.etag",
                                     "provider_models_cache.json",
                                     "ollama_cloud_models_cache.json",
                                     "context_length_cache.yaml"};
    return folders.contains(name) || files.contains(name) || name.endsWith(u".pid") || name.endsWith(u".sock")
           || name.endsWith(u".lock");
}

std::optional<QDateTime> parseStamp(const QString &name)
{
    if (name.size() != 15 || name.at(8) != u'-')
        return std::nullopt;
    return foundation::dates::parseLocalStamp(name, kStampPattern);
}

QString formatStamp(const QDateTime &date)
{
    return foundation::dates::localStamp(date, kStampPattern);
}

QList<Snapshot> listSnapshots(const QString &backupsRoot)
{
    QList<Snapshot> snapshots;
    const std::optional<QStringList> names = fs::tryListFolder(backupsRoot);
    if (!names)
        return snapshots;
    for (const QString &name : *names)
        if (!name.startsWith(u'.'))
            if (const std::optional<QDateTime> date = parseStamp(name))
                snapshots << Snapshot{name, *date};
    std::stable_sort(snapshots.begin(), snapshots.end(),
                     [](const Snapshot &a, const Snapshot &b) { return a.date > b.date; });
    return snapshots;
}

void prune(const QString &backupsRoot, const QDateTime &now)
{
    // Snapshots named more than a day ahead come from a wrong clock. They
    // count as the oldest, so that the snapshot just made is never the one
    // removed, and they go first, one per new snapshot.
    QList<Snapshot> snapshots = listSnapshots(backupsRoot);
    std::stable_partition(snapshots.begin(), snapshots.end(),
                          [&now](const Snapshot &snapshot) { return snapshot.date.secsTo(now) >= -kFreshSeconds; });
    for (qsizetype i = kKeptSnapshots; i < snapshots.size(); ++i)
        fs::removeTree(join(backupsRoot, snapshots.at(i).name));
}

QByteArray restoreNote()
{
    return QByteArrayLiteral(
        "# Restoring the writing profiles\n"
        "\n"
        "Each folder here is a full snapshot of Pennora's writing profiles (`~/.hermes/profiles/pennora`, "
        "`pennora-pass1`, and `pennora-pass2`), taken once a day when Pennora launches. The 7 most recent are kept.\n"
        "\n"
        "## Restore (manual, v1)\n"
        "\n"
        "1. Quit Pennora (and any running Hermes engine).\n"
        "2. Pick the newest healthy snapshot folder.\n"
        "3. Copy the profile folders inside it back to `~/.hermes/profiles/`, replacing the damaged ones (rename the "
        "old ones aside first if you want them kept).\n"
        "4. Relaunch Pennora.\n"
        "\n"
        "Note: logs, caches, and lock files are excluded from snapshots by design; credentials are included. A "
        "snapshot is not a substitute for backing up your writing itself \xe2\x80\x94 posts live in your Pennora "
        "Home, not here.\n"
        "\n"
        "[Pennora \xe2\x80\x94 generated]");
}

void writeRestoreNote(const QString &backupsRoot)
{
    const QString path = join(backupsRoot, QStringLiteral("RESTORE.md"));
    if (fs::existsNoFollow(path))
        return;
    try {
        fs::atomicWrite(path, restoreNote());
    } catch (const fs::FileError &) {}
}

void copyTree(const QString &source, const QString &destination, const QString &masterRoot)
{
    TreeCopier copier(source, masterRoot);
    struct stat st {};
    if (::stat(QFile::encodeName(source).constData(), &st) == 0)
        copier.enter(st);
    copier.copyFolder(source, destination);
}

QString processListCommand()
{
    return QStringLiteral("ps -U %1 -o command= | grep -F -e 'profiles/pennora' -e '-p pennora' | grep -v grep")
        .arg(::getuid());
}

bool engineProcessRunning()
{
    const foundation::process::RunResult listed = foundation::process::run(
        {QStringLiteral("/bin/sh"), QStringLiteral("-c"), processListCommand()}, std::nullopt, kProcessListTimeout);
    return !foundation::text::trimSpacesAndNewlines(listed.standardOutput).isEmpty();
}

std::optional<qint32> readGatewayPid(const QString &path)
{
    std::optional<QJsonObject> object;
    try {
        object = foundation::json::parseObject(fs::readRegularFile(path, 64 * 1024));
    } catch (const fs::FileError &) {
        return std::nullopt;
    }
    if (!object)
        return std::nullopt;
    const QJsonValue value = object->value(QStringLiteral("pid"));
    if (!value.isDouble())
        return std::nullopt;
    const std::optional<qint64> pid = foundation::json::wholeInteger(value);
    // 0 and negative ids address process groups, and kill(-1, 0) everyone.
    if (!pid || *pid < 1 || *pid > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(*pid);
}

void removeAbandonedTemporaries(const QString &backupsRoot, const QDateTime &now)
{
    const std::optional<QStringList> names = fs::tryListFolder(backupsRoot);
    if (!names)
        return;
    for (const QString &name : *names) {
        if (!temporaryPattern().match(name).hasMatch())
            continue;
        const QString path = join(backupsRoot, name);
        const QDateTime modified = QFileInfo(path).lastModified();
        if (modified.isValid() && modified.secsTo(now) > kAbandonedSeconds)
            fs::removeTree(path);
    }
}

Outcome snapshot(const QString &profileRoot, const QString &backupsRoot, const QDateTime &now,
                 const EngineCheck &engineRunning, const QString &masterRoot)
{
    const QStringList profiles = existingProfiles(profileRoot);
    if (profiles.isEmpty()) {
        qCInfo(backupLog) << "skipped — no profile found";
        return Outcome::skippedProfileMissing();
    }
    if (engineRunning() || std::any_of(profiles.begin(), profiles.end(), gatewayLives)) {
        qCInfo(backupLog).noquote() << kEngineRunning;
        return Outcome::skippedEngineRunning();
    }
    if (hasFreshSnapshot(backupsRoot, now))
        return Outcome::skippedFresh();
    return makeSnapshot(profiles, backupsRoot, now, masterRoot);
}

Outcome makeSnapshot(const QStringList &profiles, const QString &backupsRoot, const QDateTime &now,
                     const QString &masterRoot)
{
    const QString stamp = formatStamp(now);
    const QString final = join(backupsRoot, stamp);
    const QString temporary =
        join(backupsRoot, u'.' + stamp + u'-' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    try {
        fs::makePath(backupsRoot, fs::Privacy::Private);
        removeAbandonedTemporaries(backupsRoot, now);
        writeRestoreNote(backupsRoot);
        fs::makePath(temporary, fs::Privacy::Private);
        for (const QString &profile : profiles) {
            const QString copy = join(temporary, QFileInfo(profile).fileName());
            fs::makePath(copy, fs::Privacy::Private);
            copyTree(profile, copy, masterRoot);
        }
        fs::flushFolder(temporary);
        fs::moveNoReplace(temporary, final);
    } catch (const std::exception &error) {
        fs::removeTree(temporary);
        qCCritical(backupLog).noquote() << foundation::text::graphemePrefix(foundation::describe(error), 300);
        return Outcome::failed();
    }
    prune(backupsRoot, now);
    qCInfo(backupLog).noquote() << QStringLiteral("snapshot complete: %1 (%2 profiles)").arg(stamp).arg(profiles.size());
    return Outcome::snapshotted(stamp);
}

} // namespace profiles::ProfileBackup
