#pragma once
// The state behind the settings pages: each profile surface's provider, model
// and effort, each provider's endpoint and key, the z.ai key type, connection
// tests and the last write error. Every edit changes the model at once and
// schedules a write through the settings writer; writes wait out a debounce
// and run one after another per surface and per provider, so typing ends in
// one write of the final value and two writes of one thing never overlap.
// A surface's writes and z.ai's key writes (both set the profile's base URL)
// also run in the order they were made.
// Values that load() reads back are not edits and schedule nothing.
//
// Main thread only. Own it through a std::shared_ptr: a write still pending
// when the pane goes keeps the model until it has run.

#include "profiles/modelregistry.h"
#include "profiles/providerprobe.h"
#include "profiles/settingstypes.h"
#include "profiles/settingswriting.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace profiles {

class SettingsModel : public QObject, public std::enable_shared_from_this<SettingsModel> {
    Q_OBJECT
public:
    using Surfaces = QHash<ProfileSurface, SurfaceModelConfig>;
    using Keys = QHash<ModelProvider, ProviderKeyConfig>;
    using Outcome = ProviderProbe::Outcome;

    // A provider's connection test: running, or done with the probe's outcome.
    struct TestState {
        enum class Case { done, running };
        Case which = Case::running;
        Outcome outcome; // done only

        static TestState done(Outcome outcome) { return {Case::done, std::move(outcome)}; }
        static TestState running() { return {Case::running, {}}; }
        bool operator==(const TestState &other) const
        {
            return which == other.which && (which == Case::running || outcome == other.outcome);
        }
    };
    using TestStates = QHash<ModelProvider, TestState>;

    // The debounce the settings pane builds its model with.
    static constexpr std::chrono::milliseconds kWriteDebounce{350};
    static constexpr const char *kCustomNousEndpointMessage =
        "custom endpoint — paste an API key to test it (the Portal session key stays on the official endpoint)";
    static constexpr const char *kNoPortalLoginMessage =
        "no key set and no Hermes Portal login — paste a key or run `hermes auth add nous`";

    // surfaces: the starting settings; none gives every surface the default.
    SettingsModel(ModelRegistry registry, std::shared_ptr<SettingsWriting> writer, std::optional<Surfaces> surfaces,
                  ProviderProbe::Transport probeTransport, std::chrono::milliseconds writeDebounce,
                  QString portalAuthPath, QObject *parent = nullptr);
    ~SettingsModel() override;

    // ~/.hermes/auth.json of the user's home, computed once.
    static QString defaultPortalAuthPath();

    // The text at "providers" -> "nous" -> "agent_key" of the engine's portal
    // login file (JSON, normally ~/.hermes/auth.json), trimmed of white space
    // and line ends. Nothing when the file is missing, unreadable, not a
    // regular file (a link is followed), not such JSON, or the trimmed key is
    // empty. Never throws; reads on the caller's thread.
    static std::optional<QString> portalAgentKey(const QString &path);

    // --- State ---------------------------------------------------------------
    const Surfaces &surfaces() const { return m_surfaces; }
    const Keys &keys() const { return m_keys; }
    ZaiKeyType zaiKeyType() const { return m_zaiKeyType; }
    const ModelRegistry &registry() const { return m_registry; }
    const std::optional<QString> &lastWriteError() const { return m_lastWriteError; }
    const TestStates &testStates() const { return m_testStates; }
    // Whether the surface (the provider's key) was edited in this model's
    // life: its latest write task stays recorded after it ends.
    bool hasSurfaceTask(ProfileSurface surface) const { return m_surfaceTasks.contains(surface); }
    bool hasKeyTask(ModelProvider provider) const { return m_keyTasks.contains(provider); }

    // Called after each successful write of the chat profile (the workspace
    // restarts the chat engine).
    std::function<void()> onChatSurfaceWrite;

    // The stored settings or the default; an effort the provider does not
    // offer reads as none (the stored value stays).
    SurfaceModelConfig surfaceConfig(ProfileSurface surface) const;
    // The stored settings, or the default endpoint and no key.
    ProviderKeyConfig keyConfig(ModelProvider provider) const;

    // --- Edits -------------------------------------------------------------------
    void setProvider(ModelProvider provider, ProfileSurface surface);
    // Trimmed; an empty or unchanged model changes nothing.
    void setModel(const QString &model, ProfileSurface surface);
    void setEffort(std::optional<ReasoningEffort> effort, ProfileSurface surface);
    void restoreDefaults(ProfileSurface surface);
    // Moves z.ai's endpoint to the type's family unless it is a custom one.
    void setZaiKeyType(ZaiKeyType type);
    // Untrimmed.
    void setEndpoint(const QString &endpoint, ModelProvider provider);
    void setAPIKey(const QString &apiKey, ModelProvider provider);

    // Probes the provider with its endpoint, key and probeModel(); a test
    // already running makes this a no-op. Nous without a key falls back to
    // the portal login on the official endpoint.
    QCoro::Task<void> testConnection(ModelProvider provider);
    // Reads the surfaces (at once) and then the keys back through the writer;
    // whatever was edited meanwhile keeps its edited value.
    QCoro::Task<void> load();

    // --- Inner steps ---------------------------------------------------------------
    void scheduleSurfaceWrite(ProfileSurface surface, const SurfaceModelConfig &config);
    void scheduleKeyWrite(ModelProvider provider);
    // The model of the first surface on the provider (for Anthropic also the
    // first without settings), else the provider's default model.
    QString probeModel(ModelProvider provider) const;

signals:
    void surfacesChanged();
    void keysChanged();
    void zaiKeyTypeChanged();
    void lastWriteErrorChanged();
    void testStatesChanged();
    void surfaceTasksChanged();
    void keyTasksChanged();

private:
    struct WriteTask;
    using Write = std::function<QCoro::Task<void>()>;

    void setSurface(ProfileSurface surface, const SurfaceModelConfig &config);
    void setKey(ModelProvider provider, const ProviderKeyConfig &config);
    void setZaiKeyTypeValue(ZaiKeyType type);
    void setLastWriteError(const std::optional<QString> &error);
    void setTestState(ModelProvider provider, const TestState &state);
    // Cancels the waiting write before it and starts the next of the chain,
    // which also waits for the writes after names (of other chains).
    std::shared_ptr<WriteTask> startWrite(const std::shared_ptr<WriteTask> &previous,
                                          QList<std::shared_ptr<WriteTask>> after, Write write, bool chat);
    QCoro::Task<void> runWrite(std::shared_ptr<WriteTask> task, std::shared_ptr<WriteTask> previous,
                               QList<std::shared_ptr<WriteTask>> after, Write write, bool chat);
    void applyStoredModel(ProfileSurface surface, const SettingsWriting::StoredModel &stored);

    const ModelRegistry m_registry;
    const std::shared_ptr<SettingsWriting> m_writer;
    const ProviderProbe::Transport m_probeTransport;
    const std::chrono::milliseconds m_writeDebounce;
    const QString m_portalAuthPath;
    Surfaces m_surfaces;
    Keys m_keys;
    ZaiKeyType m_zaiKeyType = ZaiKeyType::standard;
    std::optional<QString> m_lastWriteError;
    TestStates m_testStates;
    QHash<ProfileSurface, std::shared_ptr<WriteTask>> m_surfaceTasks;
    QHash<ModelProvider, std::shared_ptr<WriteTask>> m_keyTasks;
};

} // namespace profiles
