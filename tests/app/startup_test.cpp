// The real executable started as a user starts it: offscreen, in a HOME of
// its own, without the test-run marker, with the stand-in engine installed
// (or none at all).

#include "engine/engineprobe.h"
#include "foundation/paths.h"

#include "fakehermesscenario.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class Startup : public ::testing::Test {
protected:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QString::fromLatin1(foundation::paths::kTestRunMarker));
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", dataHome());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    QString dataHome() const { return home.path() + "/.local/share"; }
    QString appData() const { return dataHome() + "/Pennora"; }
    QString profiles() const { return home.path() + "/.hermes/profiles"; }
    std::optional<engine::EngineProbe::StateRecord> record() const
    {
        return engine::EngineProbe::readStateRecord(appData());
    }
    QStringList snapshots() const
    {
        return QDir(appData() + "/Backups")
            .entryList({"????????"
                        "-??????"},
                       QDir::Dirs);
    }
    void launch()
    {
        app.setProcessEnvironment(environment());
        app.start(testsupport::pennoraBinary(), {});
        ASSERT_TRUE(app.waitForStarted());
    }
    void terminate()
    {
        ::kill(pid_t(app.processId()), SIGTERM);
        ASSERT_TRUE(app.waitForFinished(30000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().constData();
    }

    QTemporaryDir home;
    QProcess app;
};

TEST_F(Startup, APassingCheckProvisionsTheThreeProfilesThenBacksThemUpAndSigtermLeavesNoEngine)
{
    const testsupport::FakeHermesScenario fake{QJsonObject{}};
    const QString engine = testsupport::placeFakeHermes(home.path() + "/.local/bin/hermes", QJsonObject{});
    launch();
    ASSERT_TRUE(testsupport::spinUntil([&] { return QFileInfo::exists(appData() + "/Backups/RESTORE.md"); }, 120000))
        << app.readAllStandardError().constData();
    ASSERT_TRUE(testsupport::spinUntil([&] { return snapshots().size() == 1; }, 30000));

    const auto checked = record();
    ASSERT_TRUE(checked.has_value());
    EXPECT_EQ(checked->status, "pass");
    EXPECT_EQ(checked->binaryPath, engine);
    for (const char *profile : {"pennora", "pennora-pass1", "pennora-pass2"}) {
        EXPECT_TRUE(QFileInfo(profiles() + "/" + profile).isDir()) << profile;
        EXPECT_TRUE(QFileInfo::exists(profiles() + "/" + profile + "/.pennora-provisioned")) << profile;
        EXPECT_TRUE(QFileInfo(appData() + "/Backups/" + snapshots().value(0) + "/" + profile).isDir()) << profile;
    }

    terminate();
    const QList<QJsonObject> runs = fake.events("run");
    EXPECT_FALSE(runs.isEmpty());
    for (const QJsonObject &run : runs)
        EXPECT_TRUE(testsupport::processGone(run.value("pid").toInteger())) << run.value("pid").toInteger();
}

TEST_F(Startup, WithNoEngineTheFailureIsRecordedAndNothingIsProvisioned)
{
    launch();
    ASSERT_TRUE(testsupport::spinUntil([&] { return record().has_value(); }, 120000))
        << app.readAllStandardError().constData();
    EXPECT_EQ(record()->status, "fail");
    EXPECT_EQ(record()->firstProbePath, home.path() + "/.local/bin/hermes");
    // Give a wrongly started provisioning the time to show itself.
    testsupport::spinUntil([] { return false; }, 1000);
    EXPECT_FALSE(QFileInfo::exists(profiles()));
    EXPECT_FALSE(QFileInfo::exists(appData() + "/skills"));
    EXPECT_FALSE(QFileInfo::exists(appData() + "/Backups"));
    terminate();
}

} // namespace
