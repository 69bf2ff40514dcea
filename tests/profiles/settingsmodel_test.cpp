// The settings model against a recording writer whose calls can be held open:
// edits, debounced and chained writes, the load's precedence and the
// connection test's refusals and guard.
#include "profiles/settingsmodel.h"

#include "profiles/latch.h"

#include "probetesting.h"
#include "recordingwriter.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using profiles::Latch;
using profiles::ModelProvider;
using profiles::ModelRegistry;
using profiles::ProfileSurface;
using profiles::ProviderKeyConfig;
using profiles::ReasoningEffort;
using profiles::SettingsModel;
using profiles::SettingsWriting;
using profiles::SurfaceModelConfig;
using profiles::ZaiKeyType;
using Outcome = profiles::ProviderProbe::Outcome;
using StoredModel = SettingsWriting::StoredModel;
using TestState = SettingsModel::TestState;
using testsupport::RecordingWriter;
using testsupport::ScriptedProbeTransport;
using testsupport::spinUntil;

namespace profiles {
void PrintTo(const SurfaceModelConfig &config, std::ostream *os)
{
    *os << "{" << config.provider.rawValue().toStdString() << ", \"" << config.model.toStdString() << "\", "
        << (config.effort ? config.effort->rawValue().toStdString() : "no effort") << "}";
}
void PrintTo(const SettingsModel::TestState &state, std::ostream *os)
{
    *os << (state.which == SettingsModel::TestState::Case::running
                ? "running"
                : "done " + state.outcome.description().toStdString());
}
} // namespace profiles

namespace {

// Written out: the endpoints' texts are built in another file, whose statics
// may not be ready while these are made.
const QString kZaiStandard = "https://api.z.ai/api/paas/v4";
const QString kZaiCoding = "https://api.z.ai/api/coding/paas/v4";
const QString kNousEndpoint = "https://inference-api.nousresearch.com/v1";

class SettingsModelTest : public testsupport::SettingsModelFixture {
protected:
    std::shared_ptr<SettingsModel> make(std::optional<SettingsModel::Surfaces> surfaces = std::nullopt,
                                        std::chrono::milliseconds debounce = std::chrono::milliseconds(50))
    {
        return SettingsModelFixture::make(ModelRegistry(), std::move(surfaces), debounce);
    }
};

TEST_F(SettingsModelTest, SurfaceEditsChangeAtOnceAndScheduleOnlyRealChanges)
{
    const auto model = make();
    const SurfaceModelConfig defaults = SurfaceModelConfig::defaultConfig();

    // Unchanged, padded or blank models and the same provider change nothing.
    model->setModel("  claude-sonnet-5-5\n", ProfileSurface::chat);
    model->setModel(" \t\n", ProfileSurface::chat);
    model->setProvider(ModelProvider::anthropic, ProfileSurface::chat);
    model->setEffort(std::nullopt, ProfileSurface::chat);
    model->restoreDefaults(ProfileSurface::chat);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat), defaults);
    EXPECT_FALSE(model->hasSurfaceTask(ProfileSurface::chat));

    model->setEffort(ReasoningEffort::high, ProfileSurface::pass2);
    model->setProvider(ModelProvider::zai, ProfileSurface::pass2);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2),
              (SurfaceModelConfig{ModelProvider::zai, "glm-5.3", std::nullopt}));
    EXPECT_TRUE(model->hasSurfaceTask(ProfileSurface::pass2));
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 1; }));
    EXPECT_EQ(writer->calls[0].baseURL, kZaiStandard);

    model->setProvider(ModelProvider::openaiAPI, ProfileSurface::pass2);
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 2; }));
    EXPECT_EQ(writer->calls[1].config, (SurfaceModelConfig{ModelProvider::openaiAPI, "gpt-6.1-sol", std::nullopt}));
    EXPECT_EQ(writer->calls[1].baseURL, std::nullopt);

    model->setModel(" my-model ", ProfileSurface::pass2);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2).model, "my-model");
    model->restoreDefaults(ProfileSurface::pass2);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2), defaults);
    settle();
    EXPECT_EQ(writer->calls.size(), 3);
    EXPECT_EQ(writer->calls.last().config, defaults);
}

TEST_F(SettingsModelTest, AnEffortTheProviderLacksReadsAsNone)
{
    const auto model = make(
        SettingsModel::Surfaces{{ProfileSurface::pass1, {ModelProvider::zai, "m", ReasoningEffort::medium}},
                                {ProfileSurface::pass2, {ModelProvider::anthropic, "m", ReasoningEffort::medium}}});
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass1).effort, std::nullopt);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2).effort, ReasoningEffort::medium);
    // The stored value stays, and choosing no effort is no change.
    EXPECT_EQ(model->surfaces().value(ProfileSurface::pass1).effort, ReasoningEffort::medium);
    model->setEffort(std::nullopt, ProfileSurface::pass1);
    EXPECT_FALSE(model->hasSurfaceTask(ProfileSurface::pass1));
    // A surface without settings reads as the default.
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat), SurfaceModelConfig::defaultConfig());
}

TEST_F(SettingsModelTest, EditsInsideTheDebounceGiveOneWriteOfTheLastValue)
{
    const auto model = make(std::nullopt, std::chrono::milliseconds(200));
    model->setModel("one", ProfileSurface::pass1);
    model->setModel("two", ProfileSurface::pass1);
    model->setModel("three", ProfileSurface::pass1);
    model->setAPIKey("s", ModelProvider::openaiAPI);
    model->setAPIKey("sk", ModelProvider::openaiAPI);
    settle();
    settle();
    ASSERT_EQ(writer->chains(), (QStringList{"pass1", "openai-api"}));
    EXPECT_EQ(writer->calls[0].config.model, "three");
    EXPECT_EQ(writer->calls[1].key, (ProviderKeyConfig{"https://api.openai.com/v1", "sk"}));
}

TEST_F(SettingsModelTest, WritesOfOneChainNeverOverlapAndOtherChainsRunOn)
{
    const auto model = make();
    writer->holdWrites = true;
    model->setModel("first", ProfileSurface::chat);
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 1; }));

    // While chat's write runs: another chat edit waits, pass1 and a key go ahead.
    model->setModel("second", ProfileSurface::chat);
    model->setModel("third", ProfileSurface::chat);
    model->setModel("own", ProfileSurface::pass1);
    model->setEndpoint("https://a.b", ModelProvider::nous);
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 3; }, 3000))
        << writer->chains().join(",").toStdString();
    settle();
    EXPECT_EQ(writer->chains(), (QStringList{"chat", "pass1", "nous"}));
    EXPECT_EQ(writer->activeWrites, 3);

    writer->holdWrites = false;
    writer->release();
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 4; }));
    settle();
    EXPECT_EQ(writer->chains(), (QStringList{"chat", "pass1", "nous", "chat"}));
    EXPECT_EQ(writer->calls[3].config.model, "third");
    EXPECT_EQ(writer->overlaps, 0);
}

TEST_F(SettingsModelTest, WriteOutcomesReachTheErrorAndOnlyChatRestartsTheEngine)
{
    const auto model = make();
    int restarts = 0;
    model->onChatSurfaceWrite = [&restarts] { ++restarts; };
    QStringList errors;
    QObject::connect(model.get(), &SettingsModel::lastWriteErrorChanged,
                     [&] { errors << model->lastWriteError().value_or("<none>"); });

    writer->failures.insert("zai", "GLM_API_KEY value contains a line break — not written");
    model->setAPIKey("a\nb", ModelProvider::zai);
    ASSERT_TRUE(spinUntil([&] { return model->lastWriteError().has_value(); }));
    EXPECT_EQ(model->lastWriteError(), "GLM_API_KEY value contains a line break — not written");
    EXPECT_EQ(model->keyConfig(ModelProvider::zai).apiKey, "a\nb");

    model->setModel("p1", ProfileSurface::pass1);
    ASSERT_TRUE(spinUntil([&] { return !model->lastWriteError().has_value(); }));
    EXPECT_EQ(restarts, 0);

    writer->failures.insert("chat", "couldn't set model.default on pennora: no");
    model->setModel("c1", ProfileSurface::chat);
    ASSERT_TRUE(spinUntil([&] { return model->lastWriteError().has_value(); }));
    EXPECT_EQ(restarts, 0);
    writer->failures.clear();
    model->setModel("c2", ProfileSurface::chat);
    ASSERT_TRUE(spinUntil([&] { return restarts == 1; }));
    EXPECT_EQ(model->lastWriteError(), std::nullopt);
    EXPECT_EQ(errors, (QStringList{"GLM_API_KEY value contains a line break — not written", "<none>",
                                   "couldn't set model.default on pennora: no", "<none>"}));
}

TEST_F(SettingsModelTest, TheZaiKeyTypeMovesAFamilyEndpointOnly)
{
    const auto model = make(SettingsModel::Surfaces{{ProfileSurface::chat, {ModelProvider::zai, "glm", {}}},
                                                    {ProfileSurface::pass2, {ModelProvider::zai, "glm", {}}},
                                                    {ProfileSurface::pass1, SurfaceModelConfig()}});
    model->setZaiKeyType(ZaiKeyType::standard);
    EXPECT_FALSE(model->hasKeyTask(ModelProvider::zai));

    model->setZaiKeyType(ZaiKeyType::coding);
    EXPECT_EQ(model->keyConfig(ModelProvider::zai).endpoint, kZaiCoding);
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 1; }));
    EXPECT_EQ(writer->calls[0].key.endpoint, kZaiCoding);
    EXPECT_EQ(writer->calls[0].surfaces, (QList<ProfileSurface>{ProfileSurface::chat, ProfileSurface::pass2}));

    model->setEndpoint("https://proxy.example/zai", ModelProvider::zai);
    model->setZaiKeyType(ZaiKeyType::standard);
    EXPECT_EQ(model->keyConfig(ModelProvider::zai).endpoint, "https://proxy.example/zai");
    EXPECT_EQ(model->zaiKeyType(), ZaiKeyType::standard);
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 2; }));
    EXPECT_EQ(writer->calls[1].key.endpoint, "https://proxy.example/zai");

    // An empty endpoint takes the family's.
    model->setEndpoint("", ModelProvider::zai);
    model->setZaiKeyType(ZaiKeyType::coding);
    EXPECT_EQ(model->keyConfig(ModelProvider::zai).endpoint, kZaiCoding);
}

// A surface's writes and z.ai's key writes both set a profile's base URL:
// each waits for the other chain's write made before it, whichever way round.
TEST_F(SettingsModelTest, BaseAddressWritesOfOneProfileRunInTheOrderTheyWereMade)
{
    const auto model = make(SettingsModel::Surfaces{{ProfileSurface::chat, {ModelProvider::zai, "glm", {}}}});
    writer->holdWrites = true;
    model->setEndpoint(kZaiCoding, ModelProvider::zai);
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 1; }));
    model->setProvider(ModelProvider::anthropic, ProfileSurface::chat);
    settle();
    EXPECT_EQ(writer->chains(), QStringList{"zai"}) << "the switch waits for the key write that names chat";
    writer->release();
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 2; }));
    EXPECT_EQ(writer->calls[1].config.provider, ModelProvider::anthropic);
    writer->release();
    ASSERT_TRUE(spinUntil([this] { return writer->activeWrites == 0; }));

    model->setProvider(ModelProvider::zai, ProfileSurface::chat);
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 3; }));
    model->setEndpoint("https://proxy.example/zai", ModelProvider::zai);
    settle();
    EXPECT_EQ(writer->chains(), (QStringList{"zai", "chat", "chat"})) << "the key write waits for chat's switch";
    writer->release();
    ASSERT_TRUE(spinUntil([this] { return writer->calls.size() == 4; }));
    EXPECT_EQ(writer->calls[3].key.endpoint, "https://proxy.example/zai");
    EXPECT_EQ(writer->calls[3].surfaces, QList<ProfileSurface>{ProfileSurface::chat});
    writer->holdWrites = false;
    writer->release();
}

TEST_F(SettingsModelTest, LoadTakesWhatTheProfilesHoldUnlessEditedAndWritesNothing)
{
    writer->storedModels = {
        {ProfileSurface::chat, {{ModelProvider::openaiAPI, "gpt", ReasoningEffort::low}, std::nullopt}},
        {ProfileSurface::pass1, {{ModelProvider::zai, "glm-5.3", {}}, kZaiCoding}},
    };
    writer->storedKeys = {{ModelProvider::zai, "zk"}, {ModelProvider::anthropic, ""}, {ModelProvider::nous, "nk"}};
    const auto model = make();
    QCoro::waitFor(model->load());
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat),
              (SurfaceModelConfig{ModelProvider::openaiAPI, "gpt", ReasoningEffort::low}));
    // pass2 could not be read and keeps its value.
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2), SurfaceModelConfig::defaultConfig());
    EXPECT_EQ(model->zaiKeyType(), ZaiKeyType::coding);
    EXPECT_EQ(model->keyConfig(ModelProvider::zai), (ProviderKeyConfig{kZaiCoding, "zk"}));
    EXPECT_EQ(model->keyConfig(ModelProvider::anthropic).apiKey, "");
    EXPECT_EQ(model->keyConfig(ModelProvider::nous).apiKey, "nk");
    settle();
    EXPECT_TRUE(writer->calls.isEmpty());
    for (const ProfileSurface surface : ProfileSurface::allCases())
        EXPECT_FALSE(model->hasSurfaceTask(surface));

    // The standard endpoint never sets the type back; a custom one is taken.
    writer->storedModels = {{ProfileSurface::pass2, {{ModelProvider::zai, "g", {}}, kZaiStandard}}};
    QCoro::waitFor(model->load());
    EXPECT_EQ(model->zaiKeyType(), ZaiKeyType::coding);
    EXPECT_EQ(model->keyConfig(ModelProvider::zai).endpoint, kZaiCoding);
    writer->storedModels = {{ProfileSurface::pass2, {{ModelProvider::zai, "g", {}}, "https://proxy.example/v4"}}};
    QCoro::waitFor(model->load());
    EXPECT_EQ(model->keyConfig(ModelProvider::zai).endpoint, "https://proxy.example/v4");
    EXPECT_EQ(model->zaiKeyType(), ZaiKeyType::coding);
}

namespace {

// A load that may be held open by the writer; loaded turns true when it ends.
QCoro::Task<void> loadThenMark(std::shared_ptr<SettingsModel> model, bool &loaded)
{
    QCoro::Task<void> load = model->load();
    co_await load;
    loaded = true;
}

} // namespace

TEST_F(SettingsModelTest, ValuesEditedBeforeTheirAnswerArrivesWin)
{
    writer->storedModels = {{ProfileSurface::chat, {{ModelProvider::nous, "stored", {}}, std::nullopt}},
                            {ProfileSurface::pass1, {{ModelProvider::nous, "stored", {}}, std::nullopt}}};
    writer->storedKeys = {{ModelProvider::anthropic, "stored-key"}, {ModelProvider::nous, "stored-nous"}};
    const auto model = make();
    writer->holdReads = true;
    bool loaded = false;
    QCoro::Task<void> loading = loadThenMark(model, loaded);
    model->setModel("typed", ProfileSurface::chat);
    model->setAPIKey("typed-key", ModelProvider::anthropic);
    writer->holdReads = false;
    writer->release();
    ASSERT_TRUE(spinUntil([&loaded] { return loaded; }));
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat).model, "typed");
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass1).model, "stored");
    EXPECT_EQ(model->keyConfig(ModelProvider::anthropic).apiKey, "typed-key");
    EXPECT_EQ(model->keyConfig(ModelProvider::nous).apiKey, "stored-nous");
}

// A z.ai surface's answer carries z.ai's endpoint; it must not undo an
// endpoint or key type the user chose while the profiles were being read.
TEST_F(SettingsModelTest, AZaiEndpointChosenBeforeTheAnswerArrivesStays)
{
    const struct {
        const char *name;
        QString storedBaseURL;
        std::function<void(SettingsModel &)> edit;
        QString endpoint;
        ZaiKeyType keyType;
    } cases[] = {
        {"typed over a stored custom endpoint", "https://proxy.example/v4",
         [](SettingsModel &m) { m.setEndpoint("https://typed.example/v4", ModelProvider::zai); },
         "https://typed.example/v4", ZaiKeyType::standard},
        {"typed over the stored coding endpoint", kZaiCoding,
         [](SettingsModel &m) { m.setEndpoint("https://typed.example/v4", ModelProvider::zai); },
         "https://typed.example/v4", ZaiKeyType::standard},
        {"coding chosen over a stored custom endpoint", "https://proxy.example/v4",
         [](SettingsModel &m) { m.setZaiKeyType(ZaiKeyType::coding); }, kZaiCoding, ZaiKeyType::coding},
    };
    for (const auto &c : cases) {
        writer->storedModels = {{ProfileSurface::chat, {{ModelProvider::zai, "glm-5.3", {}}, c.storedBaseURL}}};
        const auto model = make();
        writer->holdReads = true;
        bool loaded = false;
        QCoro::Task<void> loading = loadThenMark(model, loaded);
        c.edit(*model);
        writer->holdReads = false;
        writer->release();
        ASSERT_TRUE(spinUntil([&loaded] { return loaded; })) << c.name;
        // The surface itself was not edited and takes its answer.
        EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat).provider, ModelProvider::zai) << c.name;
        EXPECT_EQ(model->keyConfig(ModelProvider::zai).endpoint, c.endpoint) << c.name;
        EXPECT_EQ(model->zaiKeyType(), c.keyType) << c.name;
    }
}

TEST_F(SettingsModelTest, TestConnectionRefusesWithoutAKey)
{
    const auto model = make();
    const auto test = [&model](ModelProvider provider) {
        QCoro::waitFor(model->testConnection(provider));
        return model->testStates().value(provider);
    };
    EXPECT_EQ(test(ModelProvider::anthropic),
              TestState::done(Outcome::authFailed("no API key set — paste the key first")));

    // Nous without a key: the portal login only on the official endpoint.
    EXPECT_EQ(test(ModelProvider::nous), TestState::done(Outcome::authFailed(SettingsModel::kNoPortalLoginMessage)));
    testsupport::writeFile(dir.filePath("auth.json"), R"({"providers":{"nous":{"agent_key":"  sk-portal \n"}}})");
    model->setEndpoint("https://proxy.example/v1", ModelProvider::nous);
    EXPECT_EQ(test(ModelProvider::nous),
              TestState::done(Outcome::authFailed(SettingsModel::kCustomNousEndpointMessage)));
    EXPECT_TRUE(probe.sent().isEmpty());

    model->setEndpoint(kNousEndpoint + "/", ModelProvider::nous);
    probe.setAnswers({ScriptedProbeTransport::reply(401, R"({"error":{"message":"expired"}})")});
    EXPECT_EQ(test(ModelProvider::nous), TestState::done(Outcome::authFailed("expired")));
    ASSERT_EQ(probe.sent().size(), 1);
    EXPECT_EQ(probe.sent()[0].header("Authorization"), QByteArray("Bearer sk-portal"));
    EXPECT_EQ(probe.sent()[0].url.toString(), kNousEndpoint + "/models");

    // A key of spaces is a key: sent as it is.
    model->setAPIKey(" ", ModelProvider::openaiAPI);
    probe.setAnswers({ScriptedProbeTransport::reply(401, "{}")});
    EXPECT_EQ(test(ModelProvider::openaiAPI), TestState::done(Outcome::authFailed("HTTP 401")));
    EXPECT_EQ(probe.sent().last().header("Authorization"), QByteArray("Bearer  "));
}

TEST_F(SettingsModelTest, APressWhileATestRunsDoesNothing)
{
    // A transport that answers only when let go.
    Latch answer;
    int sent = 0;
    const auto transport = [&answer,
                            &sent](profiles::ProviderProbe::Request) -> QCoro::Task<profiles::ProviderProbe::Response> {
        ++sent;
        QCoro::Task<void> waiting = profiles::await(answer);
        co_await waiting;
        co_return profiles::ProviderProbe::Response{500, {}};
    };
    const auto held = std::make_shared<SettingsModel>(ModelRegistry(), writer, std::nullopt, transport,
                                                      std::chrono::milliseconds(50), dir.filePath("auth.json"));
    held->setAPIKey("k", ModelProvider::zai);
    QCoro::Task<void> first = held->testConnection(ModelProvider::zai);
    QCoro::Task<void> second = held->testConnection(ModelProvider::zai);
    EXPECT_EQ(held->testStates().value(ModelProvider::zai), TestState::running());
    answer.set();
    ASSERT_TRUE(spinUntil([&] { return held->testStates().value(ModelProvider::zai) != TestState::running(); }));
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(held->testStates().value(ModelProvider::zai), TestState::done(Outcome::requestFailed(500, "HTTP 500")));
}

TEST_F(SettingsModelTest, TheTestModelIsTheFirstSurfaceOnTheProvider)
{
    const auto onZai = make(SettingsModel::Surfaces{{ProfileSurface::chat, {ModelProvider::zai, "z1", {}}},
                                                    {ProfileSurface::pass1, {ModelProvider::zai, "z2", {}}},
                                                    {ProfileSurface::pass2, {ModelProvider::zai, "z3", {}}}});
    EXPECT_EQ(onZai->probeModel(ModelProvider::zai), "z1");
    EXPECT_EQ(onZai->probeModel(ModelProvider::anthropic), "claude-sonnet-5");
    EXPECT_EQ(onZai->probeModel(ModelProvider::nous), "anthropic/claude-sonnet-5");

    const auto mixed = make(SettingsModel::Surfaces{{ProfileSurface::chat, {ModelProvider::zai, "z1", {}}},
                                                    {ProfileSurface::pass1, {ModelProvider::anthropic, "mine", {}}}});
    EXPECT_EQ(mixed->probeModel(ModelProvider::anthropic), "mine");
    // A surface without settings stands for the default, on Anthropic.
    const auto partial = make(SettingsModel::Surfaces{{ProfileSurface::chat, {ModelProvider::zai, "z1", {}}}});
    EXPECT_EQ(partial->probeModel(ModelProvider::anthropic), "claude-sonnet-5-5");
}

} // namespace
