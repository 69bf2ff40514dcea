// The settings model end to end: its writes reach the stand-in engine's
// profiles and key files, and a new model loads them back.
#include "profiles/hermessettingswriter.h"
#include "profiles/settingsmodel.h"

#include "probetesting.h"
#include "standinprofiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

using profiles::HermesSettingsWriter;
using profiles::ModelProvider;
using profiles::ModelRegistry;
using profiles::ProfileSurface;
using profiles::SettingsModel;
using profiles::SurfaceModelConfig;
using profiles::ZaiKeyType;
using testsupport::FakeHermesScenario;
using testsupport::standInProfilesRoot;
using testsupport::standInRuns;

namespace {

const QStringList kProfiles{"pennora", "pennora-pass1", "pennora-pass2"};

std::shared_ptr<SettingsModel> makeModel()
{
    return std::make_shared<SettingsModel>(
        ModelRegistry(), std::make_shared<HermesSettingsWriter>(testsupport::fakeHermesBinary(), standInProfilesRoot()),
        std::nullopt, testsupport::ScriptedProbeTransport().transport(), std::chrono::milliseconds(50),
        testsupport::tempHome() + "/.hermes/auth.json");
}

TEST(SettingsModelStandIn, EditsReachTheProfilesAndLoadBack)
{
    testsupport::resetStandInProfiles(kProfiles);
    const FakeHermesScenario fake{{}};
    const QString zaiEndpoint = ZaiKeyType(ZaiKeyType::standard).endpoint();
    const QStringList pass1{"-p", "pennora-pass1", "config"};
    {
        const auto model = makeModel();
        model->setProvider(ModelProvider::zai, ProfileSurface::pass1);
        ASSERT_TRUE(testsupport::spinUntil([&] { return standInRuns(fake).size() == 4; }));
        EXPECT_EQ(standInRuns(fake), (QList<QStringList>{pass1 + QStringList{"set", "model.provider", "zai"},
                                                         pass1 + QStringList{"set", "model.default", "glm-5.3"},
                                                         pass1 + QStringList{"unset", "model.reasoning_effort"},
                                                         pass1 + QStringList{"set", "model.base_url", zaiEndpoint}}));

        // The key goes to every profile; the endpoint to the one surface on z.ai.
        model->setAPIKey("zk-1", ModelProvider::zai);
        ASSERT_TRUE(testsupport::spinUntil([&] { return standInRuns(fake).size() == 5; }));
        EXPECT_EQ(standInRuns(fake).last(), (pass1 + QStringList{"set", "model.base_url", zaiEndpoint}));
        // Let the write task end before the model goes.
        testsupport::spinUntil([] { return false; }, 300);
        EXPECT_EQ(model->lastWriteError(), std::nullopt);
    }
    for (const QString &profile : kProfiles) {
        const QString keyFile = standInProfilesRoot() + u'/' + profile + "/.env";
        EXPECT_EQ(testsupport::readFile(keyFile), "GLM_API_KEY=zk-1\n") << profile.toStdString();
        EXPECT_EQ(testsupport::modeOf(keyFile), 0600u) << profile.toStdString();
    }

    const auto fresh = makeModel();
    QCoro::waitFor(fresh->load());
    EXPECT_EQ(fresh->surfaceConfig(ProfileSurface::pass1), (SurfaceModelConfig{ModelProvider::zai, "glm-5.3", {}}));
    EXPECT_EQ(fresh->keyConfig(ModelProvider::zai).apiKey, "zk-1");
    EXPECT_EQ(fresh->keyConfig(ModelProvider::zai).endpoint, zaiEndpoint);
    EXPECT_EQ(fresh->zaiKeyType(), ZaiKeyType::standard);
    // Never set: the surfaces without settings keep the default.
    EXPECT_EQ(fresh->surfaceConfig(ProfileSurface::chat), SurfaceModelConfig::defaultConfig());
}

// The z.ai key write sets the endpoint on every profile on z.ai; a switch
// away from z.ai made while it runs removes the endpoint. Whatever the engine's
// speed, the switch comes last: the profile never keeps z.ai's address, which
// would receive the new provider's key.
TEST(SettingsModelStandIn, ASwitchAwayFromZaiNeverLeavesItsBaseAddressBehind)
{
    testsupport::resetStandInProfiles(kProfiles);
    const QString coding = ZaiKeyType(ZaiKeyType::coding).endpoint();
    // The engine is slow to set the endpoint.
    const FakeHermesScenario fake{
        {{"faults", QJsonArray{QJsonObject{
                        {"args", QJsonArray{"-p", "pennora", "config", "set", "model.base_url"}},
                        {"prefix", true},
                        {"sleepMs", 800},
                    }}}}};
    const auto model = makeModel();
    model->setProvider(ModelProvider::zai, ProfileSurface::chat);
    ASSERT_TRUE(testsupport::spinUntil([&] { return standInRuns(fake).size() == 4; }, 5000));
    ASSERT_TRUE(
        testsupport::spinUntil([&] { return testsupport::standInConfig("pennora").contains("model.base_url"); }, 5000));

    // Pasted with its line break; then, at once, another provider.
    model->setEndpoint(coding + "\n", ModelProvider::zai);
    model->setProvider(ModelProvider::anthropic, ProfileSurface::chat);
    ASSERT_TRUE(testsupport::spinUntil([&] { return standInRuns(fake).size() == 9; }, 10000));
    // Every command started; the slowest ends well within this.
    testsupport::spinUntil([] { return false; }, 2000);

    const QStringList chat{"-p", "pennora", "config"};
    const QList<QStringList> runs = standInRuns(fake).mid(4);
    EXPECT_EQ(runs.first(), (chat + QStringList{"set", "model.base_url", coding})) << "written trimmed";
    EXPECT_EQ(runs.last(), (chat + QStringList{"unset", "model.base_url"})) << "the switch ran after it";
    const QJsonObject config = testsupport::standInConfig("pennora");
    EXPECT_EQ(config.value("model.provider").toString(), "anthropic");
    EXPECT_FALSE(config.contains("model.base_url")) << testsupport::compactJson(config).toStdString();
    EXPECT_EQ(model->lastWriteError(), std::nullopt);
}

} // namespace
