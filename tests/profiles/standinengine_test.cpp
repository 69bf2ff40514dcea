// The stand-in engine's own command line, which the profile tests and
// provisioning rely on: profiles, tool-server registration and the gateway.
#include "foundation/processrunner.h"

#include "standinprofiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QProcess>

#include <csignal>

using foundation::process::RunResult;
using testsupport::FakeHermesScenario;

namespace {

RunResult hermes(const QStringList &args, const std::optional<QString> &input = std::nullopt)
{
    return foundation::process::run(QStringList{testsupport::fakeHermesBinary()} + args, input,
                                    std::chrono::seconds(30));
}

class StandInEngine : public ::testing::Test {
protected:
    void SetUp() override { testsupport::resetStandInProfiles({}); }

    FakeHermesScenario fake{{}};
};

TEST_F(StandInEngine, CreatesAProfileOnce)
{
    const QStringList create{"profile", "create", "pennora", "--no-alias", "--no-skills"};
    EXPECT_EQ(hermes(create), (RunResult{0, "Profile 'pennora' created.\n", ""}));
    EXPECT_TRUE(QFileInfo(testsupport::standInProfilesRoot() + "/pennora").isDir());
    EXPECT_EQ(hermes(create), (RunResult{1, "Profile 'pennora' already exists.\n", ""}));
    EXPECT_EQ(hermes({"-p", "pennora-pass1", "config", "get", "model.default"}),
              (RunResult{1, "", "Profile 'pennora-pass1' does not exist.\n"}));
}

TEST_F(StandInEngine, RegistersAToolServerAfterItsConfirmations)
{
    testsupport::resetStandInProfiles({"pennora"});
    const QStringList list{"-p", "pennora", "mcp", "list"};
    const QStringList add{"-p",        "pennora",      "mcp",    "add",        "pennora-tools",
                          "--command", "/opt/pennora", "--args", "--serve-mcp"};
    EXPECT_EQ(hermes(list).standardOutput, "No MCP servers configured.\n");

    // A "no" cancels; no answer at all is a no.
    EXPECT_EQ(hermes(add, QStringLiteral("n\n")).status, 1);
    EXPECT_EQ(hermes(add).standardOutput, "Add MCP server 'pennora-tools'? [y/N] \nCancelled.\n");
    EXPECT_EQ(hermes(list).standardOutput, "No MCP servers configured.\n");

    const RunResult added = hermes(add, QStringLiteral("y\ny\ny\ny\n"));
    EXPECT_EQ(added.status, 0);
    EXPECT_TRUE(added.standardOutput.contains("Saved 'pennora-tools'"));
    EXPECT_EQ(hermes(list).standardOutput, "MCP servers:\n  pennora-tools /opt/pennora --serve-mcp\n");

    // A name already registered asks a second time.
    EXPECT_EQ(hermes(add, QStringLiteral("y\n")).status, 1);
    EXPECT_EQ(hermes(add, QStringLiteral("y\nyes\n")).status, 0);

    QStringList inputs;
    for (const QJsonObject &event : fake.events("stdin"))
        inputs << event.value("data").toString();
    EXPECT_EQ(inputs, (QStringList{"n\n", "", "y\ny\ny\ny\n", "y\n", "y\nyes\n"}));
}

TEST_F(StandInEngine, FaultsChangeTheAnswerAndCanLeaveTheStateAlone)
{
    testsupport::resetStandInProfiles({"pennora"});
    const QStringList set{"-p", "pennora", "config", "set", "model.default", "m"};
    const FakeHermesScenario faulty{{{"faults", QJsonArray{QJsonObject{{"args", QJsonArray::fromStringList(set)},
                                                                       {"warning", "warning: slow disk\n"},
                                                                       {"stderr", "partial\n"},
                                                                       {"exit", 5},
                                                                       {"noEffect", true}}}}}};
    EXPECT_EQ(hermes(set), (RunResult{5, "warning: slow disk\n✓ Set model.default = m\n", "partial\n"}));
    EXPECT_EQ(hermes({"-p", "pennora", "config", "get", "model.default"}).status, 1);
}

TEST_F(StandInEngine, TheGatewayKeepsItsPidFileWhileItRuns)
{
    testsupport::resetStandInProfiles({"pennora"});
    const QString pidFile = testsupport::standInProfilesRoot() + "/pennora/gateway.pid";
    QProcess gateway;
    gateway.start(testsupport::fakeHermesBinary(), {"-p", "pennora", "gateway"});
    ASSERT_TRUE(gateway.waitForStarted());
    ASSERT_TRUE(testsupport::spinUntil([&] { return QFile::exists(pidFile); }));
    EXPECT_EQ(testsupport::readFile(pidFile), QJsonDocument(QJsonObject{{"pid", gateway.processId()}}).toJson());
    gateway.terminate();
    ASSERT_TRUE(gateway.waitForFinished(20000));
    EXPECT_EQ(gateway.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(pidFile));
}

} // namespace
