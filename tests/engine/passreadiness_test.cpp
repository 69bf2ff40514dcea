#include "engine/passreadiness.h"

#include "testutil.h"

#include <QCoro/QCoroTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <stdexcept>

using engine::PassReadiness;
using library::PassKind;
using profiles::ModelProvider;
using profiles::ProfileSurface;
using profiles::SettingsWriting;
using profiles::SurfaceModelConfig;

namespace {

const QString kNousDefault = ModelProvider(ModelProvider::nous).defaultEndpoint();

// A reader with canned answers that logs every call. Model reads really
// suspend, so the log shows whether they overlap.
class FakeReader : public SettingsWriting {
public:
    std::map<ProfileSurface, std::optional<StoredModel>> models;
    std::map<ModelProvider, std::optional<QString>> keys;
    QList<ProfileSurface> modelThrows;
    QList<ModelProvider> keyThrows;
    QStringList log;

    QCoro::Task<void> writeModel(ProfileSurface, SurfaceModelConfig, std::optional<QString>) override
    {
        throw std::logic_error("readiness never writes");
        co_return;
    }
    QCoro::Task<void> writeProviderKey(ModelProvider, profiles::ProviderKeyConfig, QList<ProfileSurface>) override
    {
        throw std::logic_error("readiness never writes");
        co_return;
    }
    QCoro::Task<std::optional<StoredModel>> readModel(ProfileSurface surface) override
    {
        log << "begin " + surface.profileName();
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        log << "end " + surface.profileName();
        if (modelThrows.contains(surface))
            throw std::runtime_error("config get failed");
        const auto it = models.find(surface);
        co_return it == models.end() ? std::nullopt : it->second;
    }
    QCoro::Task<std::optional<QString>> readProviderKey(ModelProvider provider) override
    {
        log << "key " + provider.rawValue();
        if (keyThrows.contains(provider))
            throw std::runtime_error("key file unreadable");
        const auto it = keys.find(provider);
        co_return it == keys.end() ? std::nullopt : it->second;
    }

    void set(ProfileSurface surface, ModelProvider provider, std::optional<QString> baseURL = std::nullopt)
    {
        models[surface] = StoredModel{SurfaceModelConfig{provider, provider.defaultModel(), std::nullopt}, baseURL};
    }
    int keyReads() const { return int(log.filter("key ").size()); }
};

class PassReadinessTest : public ::testing::Test {
protected:
    engine::PassReadinessMap evaluate(const QString &portalPath = QString())
    {
        return QCoro::waitFor(
            PassReadiness::evaluate(reader, portalPath.isNull() ? dir.filePath("auth.json") : portalPath));
    }
    QString writePortal(const QByteArray &json) { return testsupport::writeFile(dir.filePath("auth.json"), json); }

    QTemporaryDir dir;
    std::shared_ptr<FakeReader> reader = std::make_shared<FakeReader>();
};

} // namespace

TEST_F(PassReadinessTest, DefaultValueIsUnknown)
{
    EXPECT_EQ(PassReadiness(), PassReadiness::unknown());
    EXPECT_EQ(PassReadiness().which(), PassReadiness::Case::unknown);
    EXPECT_NE(PassReadiness::missingKey("z.ai"), PassReadiness::missingKey("OpenAI"));
    EXPECT_EQ(PassReadiness::missingKey("z.ai").providerLabel(), "z.ai");
}

TEST_F(PassReadinessTest, ModelReadsOverlapAndKeysAreReadAfterThem)
{
    reader->set(ProfileSurface::pass1, ModelProvider::zai);
    reader->set(ProfileSurface::pass2, ModelProvider::openaiAPI);
    reader->keys[ModelProvider::zai] = "glm-key";
    const auto result = evaluate();
    EXPECT_EQ(reader->log, (QStringList{"begin pennora-pass1", "begin pennora-pass2", "end pennora-pass1",
                                        "end pennora-pass2", "key zai", "key openai-api"}));
    EXPECT_EQ(result.at(PassKind::pass1), PassReadiness::ready());
    EXPECT_EQ(result.at(PassKind::pass2), PassReadiness::missingKey("OpenAI"));
}

TEST_F(PassReadinessTest, TwoAnthropicPassesReadOneKey)
{
    reader->set(ProfileSurface::pass1, ModelProvider::anthropic);
    reader->set(ProfileSurface::pass2, ModelProvider::anthropic);
    auto result = evaluate();
    EXPECT_EQ(reader->keyReads(), 1);
    EXPECT_EQ(result.at(PassKind::pass1), PassReadiness::missingKey("Anthropic"));
    EXPECT_EQ(result.at(PassKind::pass2), PassReadiness::missingKey("Anthropic"));

    reader->log.clear();
    reader->keys[ModelProvider::anthropic] = "sk-ant";
    result = evaluate();
    EXPECT_EQ(reader->keyReads(), 1);
    EXPECT_EQ(result.at(PassKind::pass1), PassReadiness::ready());
    EXPECT_EQ(result.at(PassKind::pass2), PassReadiness::ready());
}

TEST_F(PassReadinessTest, KeyTable)
{
    struct Row {
        ModelProvider provider;
        std::optional<QString> key;
        bool keyThrows;
        PassReadiness expected;
    };
    const Row rows[] = {
        {ModelProvider::zai, std::nullopt, false, PassReadiness::missingKey("z.ai")},
        {ModelProvider::zai, QString(""), false, PassReadiness::missingKey("z.ai")},
        {ModelProvider::openaiAPI, std::nullopt, false, PassReadiness::missingKey("OpenAI")},
        {ModelProvider::anthropic, std::nullopt, true, PassReadiness::missingKey("Anthropic")},
        {ModelProvider::openaiAPI, QString("sk"), true, PassReadiness::missingKey("OpenAI")},
        // A key is counted as given, untrimmed.
        {ModelProvider::zai, QString(" "), false, PassReadiness::ready()},
        {ModelProvider::nous, QString("nous-key"), false, PassReadiness::ready()},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.provider.rawValue().toStdString());
        reader = std::make_shared<FakeReader>();
        reader->set(ProfileSurface::pass1, row.provider);
        reader->keys[row.provider] = row.key;
        if (row.keyThrows)
            reader->keyThrows << row.provider;
        const auto result = evaluate();
        EXPECT_EQ(result.at(PassKind::pass1), row.expected);
        EXPECT_EQ(result.at(PassKind::pass2), PassReadiness::unknown());
        EXPECT_EQ(reader->keyReads(), 1);
    }
}

TEST_F(PassReadinessTest, UnreadableSettingsAreUnknown)
{
    reader->set(ProfileSurface::pass1, ModelProvider::anthropic);
    reader->set(ProfileSurface::pass2, ModelProvider::zai);
    reader->keys[ModelProvider::anthropic] = "sk-ant";
    reader->modelThrows << ProfileSurface::pass2;
    auto result = evaluate();
    EXPECT_EQ(result.at(PassKind::pass1), PassReadiness::ready());
    EXPECT_EQ(result.at(PassKind::pass2), PassReadiness::unknown());
    EXPECT_EQ(reader->log.filter("key "), QStringList{"key anthropic"});

    // Neither profile readable: no key is asked for at all.
    reader = std::make_shared<FakeReader>();
    reader->modelThrows << ProfileSurface::pass1;
    result = evaluate();
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result.at(PassKind::pass1), PassReadiness::unknown());
    EXPECT_EQ(result.at(PassKind::pass2), PassReadiness::unknown());
    EXPECT_EQ(reader->keyReads(), 0);
}

TEST_F(PassReadinessTest, NousPortalFallback)
{
    const QByteArray goodPortal = R"({"providers":{"nous":{"agent_key":"  portal-key \n"}}})";
    const QByteArray blankPortal = R"({"providers":{"nous":{"agent_key":" \n "}}})";
    struct Row {
        const char *name;
        std::optional<QString> baseURL;
        std::optional<QByteArray> portal;
        PassReadiness expected;
    };
    const Row rows[] = {
        {"no base URL", std::nullopt, goodPortal, PassReadiness::ready()},
        {"empty base URL", QString(""), goodPortal, PassReadiness::ready()},
        {"default endpoint", kNousDefault, goodPortal, PassReadiness::ready()},
        {"default endpoint with slash", kNousDefault + "/", goodPortal, PassReadiness::ready()},
        {"default endpoint with two slashes", kNousDefault + "//", goodPortal,
         PassReadiness::missingKey("Nous Portal")},
        {"other endpoint", QString("https://nous.example/v1"), goodPortal, PassReadiness::missingKey("Nous Portal")},
        {"no portal file", std::nullopt, std::nullopt, PassReadiness::missingKey("Nous Portal")},
        {"blank portal key", std::nullopt, blankPortal, PassReadiness::missingKey("Nous Portal")},
        {"malformed portal file", std::nullopt, QByteArray("{\"providers\":"),
         PassReadiness::missingKey("Nous Portal")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(dir.filePath("auth.json"));
        if (row.portal)
            writePortal(*row.portal);
        reader = std::make_shared<FakeReader>();
        reader->set(ProfileSurface::pass1, ModelProvider::nous, row.baseURL);
        reader->set(ProfileSurface::pass2, ModelProvider::nous, row.baseURL);
        const auto result = evaluate();
        EXPECT_EQ(result.at(PassKind::pass1), row.expected);
        EXPECT_EQ(result.at(PassKind::pass2), row.expected);
        EXPECT_EQ(reader->keyReads(), 1);
    }
}

TEST_F(PassReadinessTest, PortalLoginNeverStandsInForOtherProviders)
{
    writePortal(R"({"providers":{"nous":{"agent_key":"portal-key"}}})");
    reader->set(ProfileSurface::pass1, ModelProvider::anthropic);
    reader->set(ProfileSurface::pass2, ModelProvider::nous, QString("https://nous.example/v1"));
    const auto result = evaluate();
    EXPECT_EQ(result.at(PassKind::pass1), PassReadiness::missingKey("Anthropic"));
    EXPECT_EQ(result.at(PassKind::pass2), PassReadiness::missingKey("Nous Portal"));
    EXPECT_EQ(reader->log.filter("key "), (QStringList{"key anthropic", "key nous"}));
}
