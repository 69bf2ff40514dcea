#include "settingstypes.h"

namespace profiles {

namespace {

const QString kZaiBase = QStringLiteral("https://api.z.ai");

template<typename T>
std::optional<T> matchRaw(const QString &raw)
{
    for (const T value : T::allCases()) {
        if (value.rawValue() == raw)
            return value;
    }
    return std::nullopt;
}

} // namespace

// ReasoningEffort

const QList<ReasoningEffort> &ReasoningEffort::allCases()
{
    static const QList<ReasoningEffort> all{low, medium, high, xhigh, max};
    return all;
}

std::optional<ReasoningEffort> ReasoningEffort::fromRawValue(const QString &raw)
{
    return matchRaw<ReasoningEffort>(raw);
}

QString ReasoningEffort::rawValue() const
{
    switch (m_value) {
    case low: return QStringLiteral("low");
    case medium: return QStringLiteral("medium");
    case high: return QStringLiteral("high");
    case xhigh: return QStringLiteral("xhigh");
    case max: return QStringLiteral("max");
    }
    Q_UNREACHABLE();
    return {};
}

// ProfileSurface

const QList<ProfileSurface> &ProfileSurface::allCases()
{
    static const QList<ProfileSurface> all{chat, pass1, pass2};
    return all;
}

QString ProfileSurface::profileName() const
{
    switch (m_value) {
    case chat: return QStringLiteral("pennora");
    case pass1: return QStringLiteral("pennora-pass1");
    case pass2: return QStringLiteral("pennora-pass2");
    }
    Q_UNREACHABLE();
    return {};
}

QString ProfileSurface::title() const
{
    switch (m_value) {
    case chat: return QStringLiteral("Chat");
    case pass1: return QStringLiteral("Pass 1");
    case pass2: return QStringLiteral("Pass 2");
    }
    Q_UNREACHABLE();
    return {};
}

// ModelProvider

const QList<ModelProvider> &ModelProvider::allCases()
{
    static const QList<ModelProvider> all{zai, anthropic, openaiAPI, nous};
    return all;
}

std::optional<ModelProvider> ModelProvider::fromRawValue(const QString &raw)
{
    return matchRaw<ModelProvider>(raw);
}

QString ModelProvider::rawValue() const
{
    switch (m_value) {
    case zai: return QStringLiteral("zai");
    case anthropic: return QStringLiteral("anthropic");
    case openaiAPI: return QStringLiteral("openai-api");
    case nous: return QStringLiteral("nous");
    }
    Q_UNREACHABLE();
    return {};
}

QString ModelProvider::label() const
{
    switch (m_value) {
    case zai: return QStringLiteral("z.ai");
    case anthropic: return QStringLiteral("Anthropic");
    case openaiAPI: return QStringLiteral("OpenAI");
    case nous: return QStringLiteral("Nous Portal");
    }
    Q_UNREACHABLE();
    return {};
}

QString ModelProvider::defaultEndpoint() const
{
    switch (m_value) {
    case zai: return ZaiKeyType(ZaiKeyType::standard).endpoint();
    case anthropic: return QStringLiteral("https://api.anthropic.com");
    case openaiAPI: return QStringLiteral("https://api.openai.com/v1");
    case nous: return QStringLiteral("https://inference-api.nousresearch.com/v1");
    }
    Q_UNREACHABLE();
    return {};
}

QString ModelProvider::defaultModel() const
{
    switch (m_value) {
    case zai: return QStringLiteral("glm-5.3");
    case anthropic: return QStringLiteral("claude-sonnet-5");
    case openaiAPI: return QStringLiteral("gpt-6.1-sol");
    case nous: return QStringLiteral("anthropic/claude-sonnet-5");
    }
    Q_UNREACHABLE();
    return {};
}

QList<ReasoningEffort> ModelProvider::efforts() const
{
    if (m_value == zai)
        return {ReasoningEffort::low, ReasoningEffort::high, ReasoningEffort::max};
    return ReasoningEffort::allCases();
}

// ZaiKeyType

const QList<ZaiKeyType> &ZaiKeyType::allCases()
{
    static const QList<ZaiKeyType> all{standard, coding};
    return all;
}

std::optional<ZaiKeyType> ZaiKeyType::fromRawValue(const QString &raw)
{
    return matchRaw<ZaiKeyType>(raw);
}

QString ZaiKeyType::rawValue() const
{
    switch (m_value) {
    case standard: return QStringLiteral("standard");
    case coding: return QStringLiteral("coding");
    }
    Q_UNREACHABLE();
    return {};
}

QString ZaiKeyType::endpoint() const
{
    switch (m_value) {
    case standard: return kZaiBase + QStringLiteral("/api/paas/v4");
    case coding: return kZaiBase + QStringLiteral("/api/coding/paas/v4");
    }
    Q_UNREACHABLE();
    return {};
}

} // namespace profiles
