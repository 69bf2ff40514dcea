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

namespace Backup = profiles::ProfileBackup;

namespace {

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
        {"/bin/sh", "-c", QString::fromUtf8(Backup::kProcessListCommand)}, std::nullopt, Backup::kProcessListTimeout);
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

} // namespace
