#pragma once
// The engine's profile surfaces, the model providers, reasoning efforts and
// z.ai key families, and the settings of one surface or one provider. Their
// constants (profile names, raw values, default models and endpoints) are
// written into the engine's configuration and compared elsewhere, so they live
// here once.
//
// The enumerations are small value classes: `ModelProvider::anthropic` is a
// case, `provider.label()` a property; switch, ==, < and qHash all work.

#include "foundation/enumtext.h"

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <optional>

namespace profiles {

struct ReasoningEffortCases {
    enum Value { low, medium, high, xhigh, max };
    static constexpr auto texts = foundation::enumTexts<Value>(
        {{low, u"low"}, {medium, u"medium"}, {high, u"high"}, {xhigh, u"xhigh"}, {max, u"max"}});
};

class ReasoningEffort : public foundation::TextEnum<ReasoningEffort, ReasoningEffortCases> {
public:
    using TextEnum::TextEnum;
};

class ProfileSurface {
public:
    enum Value { chat, pass1, pass2 };
    constexpr ProfileSurface(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // chat, pass1, pass2: the order of every walk over the surfaces.
    static const QList<ProfileSurface> &allCases();
    // The engine profile: "pennora", "pennora-pass1", "pennora-pass2".
    QString profileName() const;
    QString title() const;

    friend size_t qHash(ProfileSurface surface, size_t seed = 0) noexcept
    {
        return ::qHash(int(surface.m_value), seed);
    }

private:
    Value m_value;
};

struct ModelProviderCases {
    enum Value { zai, anthropic, openaiAPI, nous };
    static constexpr auto texts = foundation::enumTexts<Value>(
        {{zai, u"zai"}, {anthropic, u"anthropic"}, {openaiAPI, u"openai-api"}, {nous, u"nous"}});
};

class ModelProvider : public foundation::TextEnum<ModelProvider, ModelProviderCases> {
public:
    using TextEnum::TextEnum;

    QString label() const;
    // An https base URL without a trailing slash; compared as exact text.
    QString defaultEndpoint() const;
    QString defaultModel() const;
    // The efforts the provider accepts, in picker order.
    QList<ReasoningEffort> efforts() const;
};

struct ZaiKeyTypeCases {
    enum Value { standard, coding };
    static constexpr auto texts = foundation::enumTexts<Value>({{standard, u"standard"}, {coding, u"coding"}});
};

class ZaiKeyType : public foundation::TextEnum<ZaiKeyType, ZaiKeyTypeCases> {
public:
    using TextEnum::TextEnum;

    // The endpoint family; standard equals z.ai's default endpoint.
    QString endpoint() const;
};

// The model settings of one surface. A default-built value is the default
// configuration.
struct SurfaceModelConfig {
    ModelProvider provider = ModelProvider::anthropic;
    QString model = QStringLiteral("claude-sonnet-5-5");
    // Absent: the provider's own default (the engine's effort key is unset).
    std::optional<ReasoningEffort> effort;

    // anthropic, "claude-sonnet-5-5", no effort: what a surface without
    // settings has and what new profiles get.
    static SurfaceModelConfig defaultConfig() { return {}; }

    bool operator==(const SurfaceModelConfig &) const = default;

    friend size_t qHash(const SurfaceModelConfig &config, size_t seed = 0) noexcept
    {
        // An absent effort hashes apart from every present one.
        return qHashMulti(seed, config.provider, config.model, config.effort ? int(*config.effort) + 1 : 0);
    }
};

// The connection settings of one provider; an empty key means no key.
struct ProviderKeyConfig {
    QString endpoint;
    QString apiKey;

    // A provider without stored settings: its default endpoint, no key.
    static ProviderKeyConfig defaultFor(ModelProvider provider) { return {provider.defaultEndpoint(), QString()}; }

    bool operator==(const ProviderKeyConfig &) const = default;

    friend size_t qHash(const ProviderKeyConfig &config, size_t seed = 0) noexcept
    {
        return qHashMulti(seed, config.endpoint, config.apiKey);
    }
};

} // namespace profiles
