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
    // The texts the engine's configuration stores, written out literally.
    struct Row {
        ModelProvider provider;
        const char *raw;
        const char *label;
        const char *model;
        const char *endpoint;
        int efforts;
    };
    const Row rows[] = {
        {ModelProvider::zai, "zai", "z.ai", "glm-5.3", "https://api.z.ai/api/paas/v4", 3},
        {ModelProvider::anthropic, "anthropic", "Anthropic", "claude-sonnet-5", "https://api.anthropic.com", 5},
        {ModelProvider::openaiAPI, "openai-api", "OpenAI", "gpt-6.1-sol", "https://api.openai.com/v1", 5},
        {ModelProvider::nous, "nous", "Nous Portal", "anthropic/claude-sonnet-5",
         "https://inference-api.nousresearch.com/v1", 5},
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
        EXPECT_EQ(row.provider.defaultEndpoint(), row.endpoint);
        EXPECT_TRUE(QUrl(row.provider.defaultEndpoint(), QUrl::StrictMode).isValid());
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
    EXPECT_EQ(standard.endpoint(), "https://api.z.ai/api/paas/v4");
    EXPECT_EQ(coding.endpoint(), "https://api.z.ai/api/coding/paas/v4");
    EXPECT_EQ(standard.endpoint(), ModelProvider(ModelProvider::zai).defaultEndpoint());
    EXPECT_EQ(ZaiKeyType::fromRawValue("standard"), ZaiKeyType::standard);
    EXPECT_EQ(ZaiKeyType::fromRawValue("coding"), ZaiKeyType::coding);
    EXPECT_FALSE(ZaiKeyType::fromRawValue("Coding"));
}

namespace {

// What a type makes of its raw values: each case's, in walk order; those that
// do not read back as their case; near misses of them that read as anything.
struct RawValueReport {
    QStringList raws;
    QStringList notReadBack;
    QStringList nearMissesRead;
};

template<typename T>
RawValueReport rawValueReport()
{
    RawValueReport report;
    for (const T value : T::allCases()) {
        const QString raw = value.rawValue();
        report.raws.append(raw);
        if (T::fromRawValue(raw) != value)
            report.notReadBack.append(raw);
        for (const QString &near : {raw.toUpper(), u' ' + raw, raw + u'\n', raw.chopped(1), raw + u's', QString()}) {
            if (T::fromRawValue(near))
                report.nearMissesRead.append(near);
        }
    }
    return report;
}

} // namespace

TEST(RawValues, EveryCaseRoundTripsAndNearMissesAreRefused)
{
    const struct {
        const char *type;
        RawValueReport report;
        QStringList expected;
    } cases[] = {
        {"ModelProvider", rawValueReport<ModelProvider>(), {"zai", "anthropic", "openai-api", "nous"}},
        {"ReasoningEffort", rawValueReport<ReasoningEffort>(), {"low", "medium", "high", "xhigh", "max"}},
        {"ZaiKeyType", rawValueReport<ZaiKeyType>(), {"standard", "coding"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(c.report.raws, c.expected);
        EXPECT_EQ(c.report.notReadBack, QStringList());
        EXPECT_EQ(c.report.nearMissesRead, QStringList());
    }
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

TEST(ProviderKeyConfig, DefaultIsTheProviderEndpointWithoutAKey)
{
    for (const ModelProvider provider : ModelProvider::allCases()) {
        SCOPED_TRACE(provider.rawValue().toStdString());
        const ProviderKeyConfig config = ProviderKeyConfig::defaultFor(provider);
        EXPECT_EQ(config.endpoint, provider.defaultEndpoint());
        EXPECT_EQ(config.apiKey, QString());
        EXPECT_NE(config, (ProviderKeyConfig{config.endpoint, " "}));
        EXPECT_NE(config, (ProviderKeyConfig{config.endpoint + "/", QString()}));
    }
}

TEST(SettingsRecords, KeysTellEveryFieldApart)
{
    // An absent effort must not hash or compare like any present one.
    const SurfaceModelConfig absent = SurfaceModelConfig::defaultConfig();
    for (const ReasoningEffort effort : ReasoningEffort::allCases()) {
        SCOPED_TRACE(effort.rawValue().toStdString());
        const SurfaceModelConfig present{absent.provider, absent.model, effort};
        EXPECT_NE(present, absent);
        EXPECT_NE(qHash(present, 0), qHash(absent, 0));
    }

    QSet<SurfaceModelConfig> configs;
    for (const ModelProvider provider : ModelProvider::allCases()) {
        configs.insert({provider, "m", std::nullopt});
        configs.insert({provider, "m ", std::nullopt});
        for (const ReasoningEffort effort : ReasoningEffort::allCases())
            configs.insert({provider, "m", effort});
    }
    EXPECT_EQ(configs.size(), 4 * (2 + 5));
    EXPECT_TRUE(configs.contains({ModelProvider::nous, "m", ReasoningEffort::xhigh}));
    EXPECT_FALSE(configs.contains({ModelProvider::nous, "n", ReasoningEffort::xhigh}));

    const ProviderKeyConfig nous = ProviderKeyConfig::defaultFor(ModelProvider::nous);
    QHash<ProviderKeyConfig, int> keyed{{nous, 1}, {ProviderKeyConfig{nous.endpoint, " "}, 2}};
    EXPECT_EQ(keyed.value(ProviderKeyConfig::defaultFor(ModelProvider::nous)), 1);
    EXPECT_EQ(keyed.size(), 2);
}
