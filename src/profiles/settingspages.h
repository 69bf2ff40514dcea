#pragma once
// What the settings pane shows, decided without a window: the pages of its
// sidebar, the texts and rows of a surface page, the result line of a
// connection test, the model field's commit rule and the shortened forms of
// the Home path. The views only lay these out.

#include "foundation/enumtext.h"
#include "profiles/modelregistry.h"
#include "profiles/providerprobe.h"
#include "profiles/settingstypes.h"

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace profiles {

// The sidebar's pages, in sidebar order.
struct SettingsPageCases {
    enum Value { content, pass1, pass2, chat, keys };
    static constexpr auto texts = foundation::enumTexts<Value>(
        {{content, u"content"}, {pass1, u"pass1"}, {pass2, u"pass2"}, {chat, u"chat"}, {keys, u"keys"}});
};

class SettingsPage : public foundation::TextEnum<SettingsPage, SettingsPageCases> {
public:
    using TextEnum::TextEnum;

    QString label() const;
    // "P1", "P2", "SESSIONS"; none for content and keys.
    std::optional<QString> tag() const;
    // The surface a surface page edits.
    std::optional<ProfileSurface> surface() const;
};

namespace settingstext {
inline constexpr const char16_t *kCustomModel = u"custom (not in registry)";
inline constexpr const char16_t *kUnsetEffort = u"unset · provider default";
inline constexpr const char16_t *kOutputBudget = u"Output budget fixed at 24k tokens — not a setting.";
inline constexpr const char16_t *kKeysNote = u"One key per provider, fanned out to every profile on it. No Keychain.";
inline constexpr const char16_t *kZaiKeyTypeNote =
    u"Key type picks the endpoint family — coding-plan keys are distribution-restricted; shipped Pennora uses "
    u"standard keys.";
inline constexpr const char16_t *kNousNote =
    u"Chats ride your Hermes Portal login — no key needed once hermes is signed in (hermes auth add nous). A "
    u"pasted key bills the same account credits (API or subscription).";
// The writer keeps a stored key when the field is cleared; say so, so that
// an empty field is not read as a removed key.
inline constexpr const char16_t *kEmptyKeyNote = u"An empty field keeps any key already stored in the profiles.";
inline constexpr const char16_t *kTesting = u"testing…";
} // namespace settingstext

// The note of a surface's profile line.
QString surfaceNote(ProfileSurface surface);
// "profile · pennora-pass1 — applies on the next pass".
QString profileLine(ProfileSurface surface);
// The model is not listed for the configuration's provider.
bool isCustomModel(const SurfaceModelConfig &config, const ModelRegistry &registry);
// The model, with " · custom (not in registry)" when it is custom.
QString modelLine(const SurfaceModelConfig &config, const ModelRegistry &registry);
// "Restore Defaults" is enabled unless the surface is at its defaults.
bool canRestoreDefaults(const SurfaceModelConfig &config);

// One row of the reasoning-effort picker; the first stands for no effort.
struct EffortRow {
    QString label;
    std::optional<ReasoningEffort> effort;
    bool operator==(const EffortRow &) const = default;
};
QList<EffortRow> effortRows(ModelProvider provider);
// The row showing the effort: its own, or the first when there is none or
// the provider does not offer it.
qsizetype effortRowIndex(ModelProvider provider, std::optional<ReasoningEffort> effort);

// The line a finished connection test shows.
QString testResultText(const ProviderProbe::Outcome &outcome);

// The model field's bookkeeping: it reports each distinct committed name
// once and never overwrites text that is being edited.
class ModelFieldRule {
public:
    // The value last shown from the owner or last reported to it.
    const QString &lastLocalValue() const { return m_lastLocalValue; }

    // The field was built showing value.
    void shown(const QString &value) { m_lastLocalValue = value; }
    // The trimmed text to report, none when it is blank or already reported.
    std::optional<QString> commit(const QString &text);
    // The owner's value to show now, none when it is already shown or the
    // field is being edited.
    std::optional<QString> push(const QString &value, bool editing);
    // The field's list must be replaced (it differs in length or any element).
    static bool itemsDiffer(const QStringList &current, const QStringList &items);

private:
    QString m_lastLocalValue;
};

// A path shortened by dropping middle folders until it fits.
namespace elidedpath {
// The path itself, then "/first…/…/last" forms keeping ever fewer leading
// components (only for three or more components).
QStringList candidates(const QString &path);
// The first candidate whose width is at most width, else the last one.
QString fit(const QString &path, qreal width, const std::function<qreal(const QString &)> &measure);
} // namespace elidedpath

} // namespace profiles
