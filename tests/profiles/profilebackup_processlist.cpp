// The backup's engine gate with the real process list: a stand-in engine
// running its gateway on a Pass profile is seen, by the list and by its
// gateway.pid. Built apart from the other backup tests because it holds a
// CTest resource lock (see CMakeLists.txt).
#include "profiles/profilebackup.h"

#include "foundation/processrunner.h"

#include "standinprofiles.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QUuid>

#include <grp.h>
#include <unistd.h>

namespace Backup = profiles::ProfileBackup;

namespace {

// What a shell command line prints.
QString shellOutput(const QString &command)
{
    return foundation::process::run({"/bin/sh", "-c", command}, std::nullopt, Backup::kProcessListTimeout)
        .standardOutput;
}

TEST(ProfileBackupProcessList, AnEngineOnAPassProfileStopsTheBackup)
{
    testsupport::resetStandInProfiles({"pennora-pass1"});
    // A folder name no other process has, so the list shows this engine.
    const QString mark = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QTemporaryDir dir;
    const QString engine = testsupport::placeFakeHermes(dir.path() + u'/' + mark + "/hermes", {});
    const QString pidFile = testsupport::standInProfilesRoot() + "/pennora-pass1/gateway.pid";

    QProcess gateway;
    gateway.start(engine, {"-p", "pennora-pass1", "gateway"});
    ASSERT_TRUE(gateway.waitForStarted());
    ASSERT_TRUE(testsupport::spinUntil([&] { return Backup::readGatewayPid(pidFile).has_value(); }));
    EXPECT_EQ(Backup::readGatewayPid(pidFile), qint32(gateway.processId()));

    EXPECT_TRUE(Backup::engineProcessRunning());
    const foundation::process::RunResult listed = foundation::process::run(
        {"/bin/sh", "-c", Backup::processListCommand()}, std::nullopt, Backup::kProcessListTimeout);
    EXPECT_TRUE(listed.standardOutput.contains(mark + "/hermes -p pennora-pass1 gateway"))
        << listed.standardOutput.toStdString();

    // Its pid file alone keeps the backup away too.
    QTemporaryDir backups;
    EXPECT_EQ(Backup::snapshot(
                  testsupport::standInProfilesRoot(), backups.path(), QDateTime::currentDateTime(),
                  [] { return false; }, backups.path() + "/skills"),
              Backup::Outcome::skippedEngineRunning());

    gateway.terminate();
    ASSERT_TRUE(gateway.waitForFinished());
    EXPECT_FALSE(QFileInfo::exists(pidFile));
}

// On a shared machine another user's engine works on that user's own
// profiles; it must not keep this user's profiles from their backup.
TEST(ProfileBackupProcessList, AnotherUsersEngineDoesNotStopTheBackup)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "starting a process as another user needs root";
    constexpr uid_t kOther = 65534; // nobody
    const QString mark = QUuid::createUuid().toString(QUuid::WithoutBraces);

    // A shell waiting on its input, with an engine's arguments on its command
    // line, running as the other user (real and effective ids).
    QProcess other;
    other.setChildProcessModifier([] {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kOther, kOther, kOther) != 0
            || ::setresuid(kOther, kOther, kOther) != 0)
            ::_exit(127);
    });
    other.start("/bin/sh", {"-c", "read line", mark, "-p", "pennora-pass1", "gateway"});
    ASSERT_TRUE(other.waitForStarted());
    const QString needle = mark + " -p pennora-pass1 gateway";
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return shellOutput(QStringLiteral("ps -U %1 -o command=").arg(kOther)).contains(needle);
    })) << "the other user's engine runs";
    ASSERT_TRUE(shellOutput("ps ax -o command=").contains(needle)) << "and the whole machine's list shows it";

    // Only this process's mark is looked for: this user's own stand-in
    // engines of tests running beside this one may well be on the list.
    EXPECT_FALSE(shellOutput(Backup::processListCommand()).contains(mark));

    other.closeWriteChannel();
    EXPECT_TRUE(other.waitForFinished());
}

} // namespace
