// The daily profile backup: its gates in order, freshness by the newest
// snapshot's name, pruning, what a snapshot leaves out and how far it follows
// links, the restore note, private modes, and the model's one run at a time.
#include "profiles/backupmodel.h"
#include "profiles/profilebackup.h"

#include "capturedlog.h"
#include "standinprofiles.h"

#include "foundation/fs.h"

#include <gtest/gtest.h>

#include <QCoro/QCoroTask>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QUuid>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using profiles::BackupModel;
using testsupport::entries;
using testsupport::modeOf;
using testsupport::readFile;
using testsupport::writeFile;
namespace Backup = profiles::ProfileBackup;
using Outcome = Backup::Outcome;

namespace profiles::ProfileBackup {
void PrintTo(const Outcome &outcome, std::ostream *os)
{
    *os << "outcome " << int(outcome.which()) << " " << outcome.stamp().toStdString();
}
} // namespace profiles::ProfileBackup

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(15, 9, 26));

QString link(const QString &target, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    EXPECT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
    return path;
}

// The id of a process that has ended and been reaped.
pid_t deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

void setModified(const QString &path, const QDateTime &when)
{
    const struct timespec times[2] = {{when.toSecsSinceEpoch(), 0}, {when.toSecsSinceEpoch(), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

QStringList backupLines(const testsupport::CapturedLog &log)
{
    QStringList lines;
    for (const auto &line : log.linesOf("com.quendalstudio.Pennora.backup"))
        lines << line.text;
    return lines;
}

class ProfileBackupTest : public ::testing::Test {
protected:
    Outcome snapshot(const QDateTime &now = kNow, bool engine = false)
    {
        return Backup::snapshot(
            profiles, backups, now,
            [&, engine] {
                ++checks;
                return engine;
            },
            master);
    }
    void profile(const QString &name) { writeFile(profiles + u'/' + name + "/config.json", "{}"); }
    void snapshotAt(const QDateTime &date) { QDir().mkpath(backups + u'/' + Backup::formatStamp(date)); }

    QTemporaryDir dir;
    QString profiles = dir.path() + "/profiles";
    QString backups = dir.path() + "/data/Backups";
    QString master = dir.path() + "/data/skills";
    int checks = 0;
};

TEST_F(ProfileBackupTest, GatesRunInOrder)
{
    const testsupport::CapturedLog log;
    EXPECT_EQ(snapshot(kNow, true), Outcome::skippedProfileMissing());
    EXPECT_EQ(checks, 0);
    EXPECT_FALSE(QFileInfo::exists(backups));

    profile("pennora");
    profile("pennora-pass2");
    EXPECT_EQ(snapshot(kNow, true), Outcome::skippedEngineRunning());
    EXPECT_EQ(checks, 1);

    // A live gateway on the second profile found.
    writeFile(profiles + "/pennora-pass2/gateway.pid", QByteArray("{\"pid\": ") + QByteArray::number(::getpid()) + "}");
    EXPECT_EQ(snapshot(), Outcome::skippedEngineRunning());
    writeFile(profiles + "/pennora-pass2/gateway.pid", QByteArray("{\"pid\": ") + QByteArray::number(deadPid()) + "}");
    snapshotAt(kNow.addSecs(-3600));
    EXPECT_EQ(snapshot(), Outcome::skippedFresh());
    EXPECT_EQ(backupLines(log), (QStringList{"skipped — no profile found", "skipped — engine running (liveness gate)",
                                             "skipped — engine running (liveness gate)"}));
}

TEST(ProfileBackupPid, OnlyWholeNumbersInRangeArePids)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/gateway.pid";
    const struct {
        QByteArray text;
        std::optional<qint32> pid;
    } rows[] = {
        {R"({"pid": 4242, "port": 1})", 4242},
        {R"({"pid": 2147483647})", 2147483647},
        {R"({"pid": 0})", std::nullopt},
        {R"({"pid": -5})", std::nullopt},
        {R"({"pid": -1})", std::nullopt},
        {R"({"pid": 12.5})", std::nullopt},
        {R"({"pid": 1e12})", std::nullopt},
        {R"({"pid": 4294967295})", std::nullopt},
        {R"({"pid": 2147483648})", std::nullopt},
        {R"({"pid": "4242"})", std::nullopt},
        {R"([4242])", std::nullopt},
        {"4242", std::nullopt},
        {"not json", std::nullopt},
    };
    for (const auto &row : rows) {
        writeFile(path, row.text);
        EXPECT_EQ(Backup::readGatewayPid(path), row.pid) << row.text.toStdString();
    }
    EXPECT_EQ(Backup::readGatewayPid(dir.path() + "/missing.pid"), std::nullopt);
}

TEST_F(ProfileBackupTest, FreshnessComesFromTheNewestNameAndAWrongClockDoesNotStopBackups)
{
    profile("pennora");
    const struct {
        const char *what;
        qint64 newestOffset; // seconds from now
        bool fresh;
    } rows[] = {
        {"23 h ago", -23 * 3600, true},       {"25 h ago", -25 * 3600, false},      {"tomorrow", 20 * 3600, true},
        {"exactly a day ahead", 86400, true}, {"30 days ahead", 30 * 86400, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QDir(backups).removeRecursively();
        snapshotAt(kNow.addDays(-3));
        snapshotAt(kNow.addSecs(row.newestOffset));
        const testsupport::CapturedLog log;
        EXPECT_EQ(snapshot(), row.fresh ? Outcome::skippedFresh() : Outcome::snapshotted("20260314-150926"));
        if (row.newestOffset > 86400) {
            EXPECT_EQ(backupLines(log).first(),
                      "ignored snapshot dated in the future: " + Backup::formatStamp(kNow.addSecs(row.newestOffset)));
        }
    }
}

TEST_F(ProfileBackupTest, PruningKeepsTheSevenNewestByNameAndOnlySnapshots)
{
    profile("pennora");
    QStringList names;
    for (int day = 2; day <= 8; ++day) {
        const QString name = Backup::formatStamp(kNow.addDays(-day));
        QDir().mkpath(backups + u'/' + name);
        // Modification times the other way round: the oldest name is newest.
        setModified(backups + u'/' + name, kNow.addDays(-10 + day));
        names << name;
    }
    const QString recentTemp = ".20260314-140000-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString oldTemp = ".20260313-140000-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    for (const QString &other : {QString("20260101"), QString("x20260101-000000"), QString(".20260101-000000"),
                                 QString("2026010-1000000"), recentTemp, oldTemp})
        QDir().mkpath(backups + u'/' + other);
    setModified(backups + u'/' + oldTemp, kNow.addSecs(-3601));
    setModified(backups + u'/' + recentTemp, kNow.addSecs(-1800));

    EXPECT_EQ(Backup::listSnapshots(backups).size(), 7);
    EXPECT_EQ(snapshot(), Outcome::snapshotted("20260314-150926"));
    QStringList left = entries(backups);
    left.sort();
    QStringList expected{"20260101", "x20260101-000000", ".20260101-000000", "2026010-1000000",
                         recentTemp, "RESTORE.md",       "20260314-150926"};
    expected += names.mid(0, 6);
    expected.sort();
    EXPECT_EQ(left, expected);
}

TEST_F(ProfileBackupTest, SnapshotsFromAWrongClockArePrunedFirstNeverTheNewOne)
{
    profile("pennora");
    QStringList ahead;
    for (int day = 1; day <= 7; ++day) {
        ahead << Backup::formatStamp(kNow.addDays(365 + day));
        snapshotAt(kNow.addDays(365 + day));
    }
    EXPECT_EQ(snapshot(), Outcome::snapshotted("20260314-150926"));
    EXPECT_TRUE(QFileInfo(backups + "/20260314-150926/pennora").isDir());
    // Seven kept: the new one and six of the wrong clock's, the oldest of
    // those by name gone first.
    QStringList kept;
    for (const Backup::Snapshot &snapshot : Backup::listSnapshots(backups))
        kept << snapshot.name;
    EXPECT_EQ(kept.size(), 7);
    EXPECT_TRUE(kept.contains("20260314-150926"));
    EXPECT_FALSE(kept.contains(ahead.first()));
}

TEST_F(ProfileBackupTest, ASnapshotLeavesOutCachesAndFollowsOnlyItsOwnLinks)
{
    const QString pass2 = profiles + "/pennora-pass2";
    writeFile(pass2 + "/.env", "ANTHROPIC_API_KEY=k\n");
    ::chmod(QFile::encodeName(pass2 + "/.env").constData(), 0600);
    writeFile(pass2 + "/config.yaml", "model: x\n");
    for (const QString &at : {pass2, pass2 + "/sessions/deep"}) {
        for (const char *name :
             {"logs/a.log", "cache/a", "audio_cache/a", "image_cache/a", "gateway.pid", "x.lock", "x.sock", ".DS_Store",
              "provider_models_cache.json", "models_dev_cache.json", "models_dev_cache.json.etag",
              "ollama_cloud_models_cache.json", "context_length_cache.yaml"})
            writeFile(at + u'/' + name, "excluded");
        writeFile(at + "/kept.md", "kept");
    }
    // Names count whatever the entry's kind.
    writeFile(pass2 + "/notes/cache", "a file named like a cache folder");
    writeFile(pass2 + "/notes/x.pid/inside", "a folder named like a pid file");
    writeFile(pass2 + "/notes/kept.md", "kept");

    writeFile(master + "/deslop/SKILL.md", "skill");
    link(master + "/deslop", pass2 + "/skills/deslop");
    link(master + "/gone", pass2 + "/skills/broken");
    link(pass2 + "/sessions", pass2 + "/sessions/deep/loop");
    link("/", pass2 + "/root");
    link(QDir::homePath(), pass2 + "/home");
    link(dir.path(), pass2 + "/above");

    const testsupport::CapturedLog log;
    ASSERT_EQ(snapshot(), Outcome::snapshotted("20260314-150926"));
    const QString copy = backups + "/20260314-150926/pennora-pass2";
    QStringList top = entries(copy);
    top.sort();
    EXPECT_EQ(top, (QStringList{".env", "config.yaml", "kept.md", "notes", "sessions", "skills"}));
    EXPECT_EQ(entries(copy + "/notes"), QStringList{"kept.md"});
    EXPECT_EQ(entries(copy + "/sessions/deep"), QStringList{"kept.md"});
    EXPECT_EQ(entries(copy + "/skills"), QStringList{"deslop"});
    EXPECT_FALSE(QFileInfo(copy + "/skills/deslop").isSymLink());
    EXPECT_EQ(readFile(copy + "/skills/deslop/SKILL.md"), "skill");
    EXPECT_EQ(readFile(copy + "/.env"), "ANTHROPIC_API_KEY=k\n");

    EXPECT_EQ(modeOf(backups), 0700u);
    EXPECT_EQ(modeOf(backups + "/20260314-150926"), 0700u);
    EXPECT_EQ(modeOf(copy), 0700u);
    EXPECT_EQ(modeOf(copy + "/.env"), 0600u);
    EXPECT_EQ(backupLines(log).last(), "snapshot complete: 20260314-150926 (1 profiles)");
    EXPECT_EQ(readFile(backups + "/RESTORE.md"), Backup::restoreNote());
}

// The durable steps of the file layer, in the order they happened.
std::vector<std::pair<foundation::fs::detail::Step, QString>> g_steps;

void recordStep(foundation::fs::detail::Step step, const QString &path)
{
    g_steps.emplace_back(step, path);
}

// A power cut must never leave a snapshot that looks complete with files cut
// short or missing: every copied file and every folder of the copy reaches the
// disk before the copy is renamed into place.
TEST_F(ProfileBackupTest, ASnapshotIsOnDiskBeforeItIsRenamedIntoPlace)
{
    using Step = foundation::fs::detail::Step;
    writeFile(profiles + "/pennora/config.yaml", "model: x\n");
    writeFile(profiles + "/pennora/sessions/deep/s.json", "{}");
    writeFile(profiles + "/pennora-pass1/.env", "KEY=k\n");
    writeFile(master + "/deslop/SKILL.md", "skill");
    link(master + "/deslop", profiles + "/pennora/skills/deslop");
    link("config.yaml", profiles + "/pennora/config-link.yaml");

    g_steps.clear();
    foundation::fs::detail::setStepObserver(recordStep);
    const Outcome outcome = snapshot();
    foundation::fs::detail::setStepObserver(nullptr);
    ASSERT_EQ(outcome, Outcome::snapshotted("20260314-150926"));

    const QString final = backups + "/20260314-150926";
    const auto renamed = std::find(g_steps.begin(), g_steps.end(), std::pair{Step::rename, final});
    ASSERT_NE(renamed, g_steps.end());
    const auto temporary = std::find_if(g_steps.begin(), renamed, [&](const auto &step) {
        return step.first == Step::syncFolder && step.second.startsWith(backups + "/.20260314-150926-")
               && !step.second.mid(backups.size() + 1).contains(u'/');
    });
    ASSERT_NE(temporary, renamed) << "the temporary snapshot's own folder is flushed";
    const QString temp = temporary->second;
    auto flushedAt = [&](Step step, const QString &relative) {
        const QString path = relative.isEmpty() ? temp : temp + u'/' + relative;
        return std::find(g_steps.begin(), renamed, std::pair{step, path}) - g_steps.begin();
    };
    const qsizetype renameAt = renamed - g_steps.begin();

    QStringList files;
    QStringList folders{""};
    QDirIterator it(final, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString relative = info.filePath().mid(final.size() + 1);
        if (info.isSymLink())
            continue; // a link is an entry of its folder
        (info.isDir() ? folders : files) << relative;
    }
    EXPECT_EQ(files.size(), 4) << files.join(", ").toStdString(); // RESTORE.md lies outside
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        const qsizetype at = flushedAt(Step::syncFile, file);
        EXPECT_LT(at, renameAt) << "the file is flushed before the rename";
        const QString folder = file.contains(u'/') ? file.section(u'/', 0, -2) : QString();
        EXPECT_LT(at, flushedAt(Step::syncFolder, folder)) << "and before its folder";
    }
    for (const QString &folder : folders) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_LT(flushedAt(Step::syncFolder, folder), renameAt);
    }
}

TEST_F(ProfileBackupTest, TheRestoreNoteIsWrittenOnceAndReadsAsWritten)
{
    const QStringList lines{
        "# Restoring the writing profiles",
        "",
        "Each folder here is a full snapshot of Pennora's writing profiles (`~/.hermes/profiles/pennora`, "
        "`pennora-pass1`, and `pennora-pass2`), taken once a day when Pennora launches. The 7 most recent are kept.",
        "",
        "## Restore (manual, v1)",
        "",
        "1. Quit Pennora (and any running Hermes engine).",
        "2. Pick the newest healthy snapshot folder.",
        "3. Copy the profile folders inside it back to `~/.hermes/profiles/`, replacing the damaged ones (rename the "
        "old ones aside first if you want them kept).",
        "4. Relaunch Pennora.",
        "",
        "Note: logs, caches, and lock files are excluded from snapshots by design; credentials are included. A "
        "snapshot is not a substitute for backing up your writing itself — posts live in your Pennora Home, not "
        "here.",
        "",
        "[Pennora — generated]",
    };
    EXPECT_EQ(Backup::restoreNote(), lines.join(u'\n').toUtf8());

    profile("pennora");
    ASSERT_EQ(snapshot(kNow.addDays(-2)), Outcome::snapshotted("20260312-150926"));
    EXPECT_EQ(readFile(backups + "/RESTORE.md"), Backup::restoreNote());
    writeFile(backups + "/RESTORE.md", "my own notes");
    ASSERT_EQ(snapshot(), Outcome::snapshotted("20260314-150926"));
    EXPECT_EQ(readFile(backups + "/RESTORE.md"), "my own notes");
}

TEST_F(ProfileBackupTest, AFinalFolderThatExistsFailsTheRunAndTheCopyGoes)
{
    profile("pennora");
    profile("pennora-pass1");
    // Made by another process after the freshness gate.
    QDir().mkpath(backups + "/20260314-150926");
    const testsupport::CapturedLog log;
    EXPECT_EQ(
        Backup::makeSnapshot(QStringList{profiles + "/pennora", profiles + "/pennora-pass1"}, backups, kNow, master),
        Outcome::failed());
    const auto lines = log.linesOf("com.quendalstudio.Pennora.backup");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.back().type, QtCriticalMsg);
    EXPECT_TRUE(lines.back().text.contains("20260314-150926")) << lines.back().text.toStdString();
    QStringList left = entries(backups);
    left.sort();
    EXPECT_EQ(left, (QStringList{"20260314-150926", "RESTORE.md"}));
}

TEST_F(ProfileBackupTest, TheModelRunsOnceAtATime)
{
    profile("pennora");
    BackupModel model;
    QCoro::Task<void> first = model.run(profiles, backups, master);
    QCoro::Task<void> second = model.run(profiles, backups, master);
    EXPECT_TRUE(model.running());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !model.running(); }));
    ASSERT_TRUE(model.lastOutcome());
    // The real process list may show another test's engine; either way one run.
    const QList<Backup::Snapshot> made = Backup::listSnapshots(backups);
    if (model.lastOutcome()->which() == Outcome::Case::snapshotted)
        EXPECT_EQ(made.size(), 1);
    else
        EXPECT_EQ(*model.lastOutcome(), Outcome::skippedEngineRunning());
}

} // namespace
