#include "settingspages.h"

#include "foundation/text.h"

namespace profiles {

// SettingsPage

QString SettingsPage::label() const
{
    switch (m_value) {
    case content: return QStringLiteral("Content");
    case pass1: return QStringLiteral("Pass 1");
    case pass2: return QStringLiteral("Pass 2");
    case chat: return QStringLiteral("Chat");
    case keys: return QStringLiteral("Provider Keys");
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<QString> SettingsPage::tag() const
{
    switch (m_value) {
    case pass1: return QStringLiteral("P1");
    case pass2: return QStringLiteral("P2");
    case chat: return QStringLiteral("SESSIONS");
    case content:
    case keys: return std::nullopt;
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<ProfileSurface> SettingsPage::surface() const
{
    switch (m_value) {
    case pass1: return ProfileSurface::pass1;
    case pass2: return ProfileSurface::pass2;
    case chat: return ProfileSurface::chat;
    case content:
    case keys: return std::nullopt;
    }
    Q_UNREACHABLE();
    return {};
}

// Surface pages

QString surfaceNote(ProfileSurface surface)
{
    if (surface == ProfileSurface::chat)
        return QStringLiteral("Sessions rides this engine · a model change restarts it (after any streaming turn)");
    return QStringLiteral("applies on the next pass");
}

QString profileLine(ProfileSurface surface)
{
    return QStringLiteral("profile · ") + surface.profileName() + QStringLiteral(" — ") + surfaceNote(surface);
}

bool isCustomModel(const SurfaceModelConfig &config, const ModelRegistry &registry)
{
    return !registry.contains(config.provider, config.model);
}

QString modelLine(const SurfaceModelConfig &config, const ModelRegistry &registry)
{
    if (!isCustomModel(config, registry))
        return config.model;
    return config.model + QStringLiteral(" · ") + QString::fromUtf16(settingstext::kCustomModel);
}

bool canRestoreDefaults(const SurfaceModelConfig &config)
{
    return config != SurfaceModelConfig::defaultConfig();
}

QList<EffortRow> effortRows(ModelProvider provider)
{
    QList<EffortRow> rows{{QString::fromUtf16(settingstext::kUnsetEffort), std::nullopt}};
    for (const ReasoningEffort effort : provider.efforts())
        rows.append({effort.rawValue(), effort});
    return rows;
}

qsizetype effortRowIndex(ModelProvider provider, std::optional<ReasoningEffort> effort)
{
    if (!effort)
        return 0;
    const qsizetype index = provider.efforts().indexOf(*effort);
    return index < 0 ? 0 : index + 1;
}

// Connection tests

QString testResultText(const ProviderProbe::Outcome &outcome)
{
    using Case = ProviderProbe::Outcome::Case;
    switch (outcome.which) {
    case Case::works:
        return QStringLiteral("✓ works · %1 ms · %2 models").arg(outcome.latencyMS).arg(outcome.modelCount);
    case Case::authFailed: return QStringLiteral("key rejected — ") + outcome.detail;
    case Case::wrongKeyType: return QStringLiteral("wrong key type — ") + outcome.detail;
    case Case::unreachable: return QStringLiteral("unreachable — ") + outcome.detail;
    case Case::starved: return QStringLiteral("token cap starved — ") + outcome.detail;
    case Case::requestFailed: return QStringLiteral("HTTP %1 — ").arg(outcome.status) + outcome.detail;
    }
    Q_UNREACHABLE();
    return {};
}

// The model field

std::optional<QString> ModelFieldRule::commit(const QString &text)
{
    const QString name = foundation::text::trimSpacesAndNewlines(text);
    if (name.isEmpty() || name == m_lastLocalValue)
        return std::nullopt;
    m_lastLocalValue = name;
    return name;
}

std::optional<QString> ModelFieldRule::push(const QString &value, bool editing)
{
    if (value == m_lastLocalValue || editing)
        return std::nullopt;
    m_lastLocalValue = value;
    return value;
}

bool ModelFieldRule::itemsDiffer(const QStringList &current, const QStringList &items)
{
    return current != items;
}

// The Home path

QStringList elidedpath::candidates(const QString &path)
{
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    QStringList forms{path};
    const qsizetype n = parts.size();
    if (n < 3)
        return forms;
    for (qsizetype k = n - 2; k >= 1; --k)
        forms << u'/' + parts.first(k).join(u'/') + QStringLiteral("/…/") + parts.last();
    return forms;
}

QString elidedpath::fit(const QString &path, qreal width, const std::function<qreal(const QString &)> &measure)
{
    const QStringList forms = candidates(path);
    for (const QString &form : forms) {
        if (measure(form) <= width)
            return form;
    }
    return forms.last();
}

} // namespace profiles
