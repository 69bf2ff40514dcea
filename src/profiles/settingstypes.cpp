#include "settingstypes.h"

namespace profiles {

namespace {

const QString kZaiBase = QStringLiteral("https://api.z.ai");

} // namespace

// ReasoningEffort

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
