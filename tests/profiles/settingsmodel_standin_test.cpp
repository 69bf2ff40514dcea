// The settings model end to end: its writes reach the stand-in engine's
// profiles and key files, and a new model loads them back.
#include "profiles/hermessettingswriter.h"
#include "profiles/settingsmodel.h"

#include "probetesting.h"
#include "standinprofiles.h"

#include <gtest/gtest.h>

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
        std::nullopt, testsupport::ScriptedProbeTransport().transport(), 0.05,
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

} // namespace
