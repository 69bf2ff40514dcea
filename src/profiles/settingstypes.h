#pragma once
// The engine's profile surfaces, the model providers, reasoning efforts and
// z.ai key families, and the settings of one surface or one provider. Their
// constants (profile names, raw values, default models and endpoints) are
// written into the engine's configuration and compared elsewhere, so they live
// here once.
//
// The enumerations are small value classes: `ModelProvider::anthropic` is a
// case, `provider.label()` a property; switch, ==, < and qHash all work.

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <optional>

namespace profiles {

class ReasoningEffort {
public:
    enum Value { low, medium, high, xhigh, max };
    constexpr ReasoningEffort(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const QList<ReasoningEffort> &allCases();
    // Exact, case-sensitive match of a raw value.
    static std::optional<ReasoningEffort> fromRawValue(const QString &raw);
    QString rawValue() const;

    friend size_t qHash(ReasoningEffort effort, size_t seed = 0) noexcept { return ::qHash(int(effort.m_value), seed); }

private:
    Value m_value;
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

class ModelProvider {
public:
    enum Value { zai, anthropic, openaiAPI, nous };
    constexpr ModelProvider(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // zai, anthropic, openaiAPI, nous: the order of every walk over the providers.
    static const QList<ModelProvider> &allCases();
    // Exact, case-sensitive match of "zai", "anthropic", "openai-api" or "nous".
    static std::optional<ModelProvider> fromRawValue(const QString &raw);
    QString rawValue() const;
    QString label() const;
    // An https base URL without a trailing slash; compared as exact text.
    QString defaultEndpoint() const;
    QString defaultModel() const;
    // The efforts the provider accepts, in picker order.
    QList<ReasoningEffort> efforts() const;

    friend size_t qHash(ModelProvider provider, size_t seed = 0) noexcept
    {
        return ::qHash(int(provider.m_value), seed);
    }

private:
    Value m_value;
};

class ZaiKeyType {
public:
    enum Value { standard, coding };
    constexpr ZaiKeyType(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const QList<ZaiKeyType> &allCases();
    static std::optional<ZaiKeyType> fromRawValue(const QString &raw);
    QString rawValue() const;
    // The endpoint family; standard equals z.ai's default endpoint.
    QString endpoint() const;

    friend size_t qHash(ZaiKeyType type, size_t seed = 0) noexcept { return ::qHash(int(type.m_value), seed); }

private:
    Value m_value;
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
