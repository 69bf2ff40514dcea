#include "profiles/settingstypes.h"
#include "testutil.h"

#include <QHash>
#include <QSet>
#include <QUrl>
#include <gtest/gtest.h>

using namespace profiles;

TEST(ProfileSurface, NamesAndTitlesInWalkOrder)
{
    const QList<ProfileSurface> all = ProfileSurface::allCases();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0], ProfileSurface::chat);
    EXPECT_EQ(all[1], ProfileSurface::pass1);
    EXPECT_EQ(all[2], ProfileSurface::pass2);
    EXPECT_EQ(all[0].profileName(), "pennora");
    EXPECT_EQ(all[1].profileName(), "pennora-pass1");
    EXPECT_EQ(all[2].profileName(), "pennora-pass2");
    EXPECT_EQ(all[0].title(), "Chat");
    EXPECT_EQ(all[1].title(), "Pass 1");
    EXPECT_EQ(all[2].title(), "Pass 2");
}

TEST(ModelProvider, TableOfConstants)
{
    struct Row {
        ModelProvider provider;
        const char *raw;
        const char *label;
        const char *model;
        const char *endpointPath;
        int efforts;
    };
    const Row rows[] = {
        {ModelProvider::zai, "zai", "z.ai", "glm-5.3", "/api/paas/v4", 3},
        {ModelProvider::anthropic, "anthropic", "Anthropic", "claude-sonnet-5", "", 5},
        {ModelProvider::openaiAPI, "openai-api", "OpenAI", "gpt-6.1-sol", "/v1", 5},
        {ModelProvider::nous, "nous", "Nous Portal", "anthropic/claude-sonnet-5", "/v1", 5},
    };
    ASSERT_EQ(ModelProvider::allCases().size(), 4);
    for (int i = 0; i < 4; ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE(row.raw);
        EXPECT_EQ(ModelProvider::allCases()[i], row.provider);
        EXPECT_EQ(row.provider.rawValue(), row.raw);
        EXPECT_EQ(row.provider.label(), QString::fromUtf8(row.label));
        EXPECT_EQ(row.provider.defaultModel(), row.model);
        EXPECT_EQ(row.provider.efforts().size(), row.efforts);
        EXPECT_EQ(ModelProvider::fromRawValue(row.raw), row.provider);

        const QUrl endpoint(row.provider.defaultEndpoint(), QUrl::StrictMode);
        EXPECT_EQ(endpoint.scheme(), "https");
        EXPECT_FALSE(endpoint.host().isEmpty());
        EXPECT_EQ(endpoint.path(), row.endpointPath);
        EXPECT_FALSE(row.provider.defaultEndpoint().endsWith('/'));
    }
    EXPECT_EQ(ModelProvider(ModelProvider::zai).efforts(),
              (QList<ReasoningEffort>{ReasoningEffort::low, ReasoningEffort::high, ReasoningEffort::max}));
    EXPECT_EQ(ModelProvider(ModelProvider::nous).efforts(), ReasoningEffort::allCases());
}

TEST(ModelProvider, RawValuesMatchExactly)
{
    EXPECT_FALSE(ModelProvider::fromRawValue("openai"));
    EXPECT_FALSE(ModelProvider::fromRawValue("Anthropic"));
    EXPECT_FALSE(ModelProvider::fromRawValue(" zai"));
    EXPECT_FALSE(ModelProvider::fromRawValue(""));
    EXPECT_EQ(ModelProvider::fromRawValue("openai-api"), ModelProvider::openaiAPI);
}

TEST(ReasoningEffort, RawValuesMatchExactly)
{
    const char *raws[] = {"low", "medium", "high", "xhigh", "max"};
    ASSERT_EQ(ReasoningEffort::allCases().size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ReasoningEffort::allCases()[i].rawValue(), raws[i]);
        EXPECT_EQ(ReasoningEffort::fromRawValue(raws[i]), ReasoningEffort::allCases()[i]);
    }
    EXPECT_FALSE(ReasoningEffort::fromRawValue("XHIGH"));
    EXPECT_FALSE(ReasoningEffort::fromRawValue("none"));
}

TEST(ZaiKeyType, EndpointFamilies)
{
    const ZaiKeyType standard = ZaiKeyType::standard;
    const ZaiKeyType coding = ZaiKeyType::coding;
    EXPECT_EQ(standard.endpoint(), ModelProvider(ModelProvider::zai).defaultEndpoint());
    EXPECT_EQ(QUrl(coding.endpoint()).path(), "/api/coding/paas/v4");
    EXPECT_EQ(QUrl(coding.endpoint()).host(), QUrl(standard.endpoint()).host());
    EXPECT_EQ(ZaiKeyType::fromRawValue("standard"), ZaiKeyType::standard);
    EXPECT_EQ(ZaiKeyType::fromRawValue("coding"), ZaiKeyType::coding);
    EXPECT_FALSE(ZaiKeyType::fromRawValue("Coding"));
}

TEST(SurfaceModelConfig, DefaultAndExactEquality)
{
    const SurfaceModelConfig def = SurfaceModelConfig::defaultConfig();
    EXPECT_EQ(def.provider, ModelProvider::anthropic);
    EXPECT_EQ(def.model, "claude-sonnet-5-5");
    EXPECT_FALSE(def.effort);
    // The surface default and the provider's switch-to model differ on purpose.
    EXPECT_NE(def.model, ModelProvider(ModelProvider::anthropic).defaultModel());

    EXPECT_EQ((SurfaceModelConfig{ModelProvider::anthropic, "claude-sonnet-5-5", std::nullopt}), def);
    EXPECT_NE((SurfaceModelConfig{ModelProvider::anthropic, "claude-sonnet-5-5 ", std::nullopt}), def);
    EXPECT_NE((SurfaceModelConfig{ModelProvider::anthropic, "claude-sonnet-5-5", ReasoningEffort::low}), def);
    EXPECT_NE((SurfaceModelConfig{ModelProvider::nous, "claude-sonnet-5-5", std::nullopt}), def);
}

TEST(ProviderKeyConfig, DefaultsAndMapKeys)
{
    const ProviderKeyConfig nous = ProviderKeyConfig::defaultFor(ModelProvider::nous);
    EXPECT_EQ(nous.endpoint, ModelProvider(ModelProvider::nous).defaultEndpoint());
    EXPECT_TRUE(nous.apiKey.isEmpty());
    EXPECT_NE(nous, (ProviderKeyConfig{nous.endpoint, " "}));

    QHash<ModelProvider, int> hash;
    std::map<ProfileSurface, int> ordered;
    for (const ModelProvider p : ModelProvider::allCases())
        hash.insert(p, int(p));
    for (const ProfileSurface s : ProfileSurface::allCases())
        ordered.emplace(s, int(s));
    EXPECT_EQ(hash.value(ModelProvider::nous), int(ModelProvider::nous));
    EXPECT_EQ(ordered.begin()->first, ProfileSurface::chat);

    // The two records are keys too.
    QSet<SurfaceModelConfig> configs{SurfaceModelConfig::defaultConfig(),
                                     {ModelProvider::anthropic, "claude-sonnet-5-5", ReasoningEffort::low},
                                     SurfaceModelConfig::defaultConfig()};
    EXPECT_EQ(configs.size(), 2);
    EXPECT_TRUE(configs.contains({ModelProvider::anthropic, "claude-sonnet-5-5", std::nullopt}));
    EXPECT_FALSE(configs.contains({ModelProvider::anthropic, "claude-sonnet-5-5", ReasoningEffort::high}));
    QHash<ProviderKeyConfig, int> keyed{{nous, 1}, {ProviderKeyConfig{nous.endpoint, " "}, 2}};
    EXPECT_EQ(keyed.value(ProviderKeyConfig::defaultFor(ModelProvider::nous)), 1);
    EXPECT_EQ(keyed.size(), 2);
}
