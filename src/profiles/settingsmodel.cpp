#include "settingsmodel.h"

#include "foundation/json.h"
#include "foundation/notify.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "profiles/enginefiles.h"
#include "profiles/latch.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <utility>

namespace profiles {

namespace {
// A login file is a few hundred bytes; anything near this is not one.
constexpr qint64 kAuthFileCap = 1024 * 1024;
} // namespace

// One write of a chain: it sleeps out the debounce, waits for the write
// before it, then writes, unless cancelled before the writing began. It
// counts as finished once it and every write before it have ended.
struct SettingsModel::WriteTask {
    bool cancelled = false;
    // The debounce is over or the task was cancelled.
    Latch wake;
    // The task has ended, written or not.
    Latch finished;

    void cancel()
    {
        cancelled = true;
        wake.set();
    }
};

SettingsModel::SettingsModel(ModelRegistry registry, std::shared_ptr<SettingsWriting> writer,
                             std::optional<Surfaces> surfaces, ProviderProbe::Transport probeTransport,
                             std::chrono::milliseconds writeDebounce, QString portalAuthPath, QObject *parent)
    : QObject(parent), m_registry(std::move(registry)), m_writer(std::move(writer)),
      m_probeTransport(std::move(probeTransport)), m_writeDebounce(writeDebounce),
      m_portalAuthPath(std::move(portalAuthPath))
{
    if (surfaces) {
        m_surfaces = *surfaces;
    } else {
        for (const ProfileSurface surface : ProfileSurface::allCases())
            m_surfaces.insert(surface, SurfaceModelConfig::defaultConfig());
    }
    for (const ModelProvider provider : ModelProvider::allCases())
        m_keys.insert(provider, ProviderKeyConfig::defaultFor(provider));
}

SettingsModel::~SettingsModel() = default;

QString SettingsModel::defaultPortalAuthPath()
{
    static const QString path = foundation::paths::expandTilde(QStringLiteral("~/.hermes/auth.json"));
    return path;
}

// --- State -------------------------------------------------------------------

SurfaceModelConfig SettingsModel::surfaceConfig(ProfileSurface surface) const
{
    SurfaceModelConfig config = m_surfaces.value(surface, SurfaceModelConfig::defaultConfig());
    if (config.effort && !config.provider.efforts().contains(*config.effort))
        config.effort.reset();
    return config;
}

ProviderKeyConfig SettingsModel::keyConfig(ModelProvider provider) const
{
    return m_keys.value(provider, ProviderKeyConfig::defaultFor(provider));
}

void SettingsModel::setSurface(ProfileSurface surface, const SurfaceModelConfig &config)
{
    Surfaces surfaces = m_surfaces;
    surfaces.insert(surface, config);
    foundation::storeAndNotify(*this, m_surfaces, surfaces, &SettingsModel::surfacesChanged);
}

void SettingsModel::setKey(ModelProvider provider, const ProviderKeyConfig &config)
{
    Keys keys = m_keys;
    keys.insert(provider, config);
    foundation::storeAndNotify(*this, m_keys, keys, &SettingsModel::keysChanged);
}

void SettingsModel::setZaiKeyTypeValue(ZaiKeyType type)
{
    foundation::storeAndNotify(*this, m_zaiKeyType, type, &SettingsModel::zaiKeyTypeChanged);
}

void SettingsModel::setLastWriteError(const std::optional<QString> &error)
{
    foundation::storeAndNotify(*this, m_lastWriteError, error, &SettingsModel::lastWriteErrorChanged);
}

void SettingsModel::setTestState(ModelProvider provider, const TestState &state)
{
    TestStates states = m_testStates;
    states.insert(provider, state);
    foundation::storeAndNotify(*this, m_testStates, states, &SettingsModel::testStatesChanged);
}

// --- Edits -------------------------------------------------------------------

void SettingsModel::setProvider(ModelProvider provider, ProfileSurface surface)
{
    if (provider == surfaceConfig(surface).provider)
        return;
    const SurfaceModelConfig config{provider, provider.defaultModel(), std::nullopt};
    setSurface(surface, config);
    scheduleSurfaceWrite(surface, config);
}

void SettingsModel::setModel(const QString &model, ProfileSurface surface)
{
    const SurfaceModelConfig current = surfaceConfig(surface);
    const QString trimmed = foundation::text::trimSpacesAndNewlines(model);
    if (trimmed.isEmpty() || trimmed == current.model)
        return;
    const SurfaceModelConfig config{current.provider, trimmed, current.effort};
    setSurface(surface, config);
    scheduleSurfaceWrite(surface, config);
}

void SettingsModel::setEffort(std::optional<ReasoningEffort> effort, ProfileSurface surface)
{
    const SurfaceModelConfig current = surfaceConfig(surface);
    if (effort == current.effort)
        return;
    const SurfaceModelConfig config{current.provider, current.model, effort};
    setSurface(surface, config);
    scheduleSurfaceWrite(surface, config);
}

void SettingsModel::restoreDefaults(ProfileSurface surface)
{
    const SurfaceModelConfig config = SurfaceModelConfig::defaultConfig();
    if (surfaceConfig(surface) == config)
        return;
    setSurface(surface, config);
    scheduleSurfaceWrite(surface, config);
}

void SettingsModel::setZaiKeyType(ZaiKeyType type)
{
    if (type == m_zaiKeyType)
        return;
    setZaiKeyTypeValue(type);
    ProviderKeyConfig zai = keyConfig(ModelProvider::zai);
    // A family endpoint follows the type; a custom one stays.
    if (zai.endpoint.isEmpty() || zai.endpoint == ZaiKeyType(ZaiKeyType::standard).endpoint()
        || zai.endpoint == ZaiKeyType(ZaiKeyType::coding).endpoint()) {
        zai.endpoint = type.endpoint();
        setKey(ModelProvider::zai, zai);
    }
    scheduleKeyWrite(ModelProvider::zai);
}

void SettingsModel::setEndpoint(const QString &endpoint, ModelProvider provider)
{
    ProviderKeyConfig config = keyConfig(provider);
    if (config.endpoint == endpoint)
        return;
    config.endpoint = endpoint;
    setKey(provider, config);
    scheduleKeyWrite(provider);
}

void SettingsModel::setAPIKey(const QString &apiKey, ModelProvider provider)
{
    ProviderKeyConfig config = keyConfig(provider);
    if (config.apiKey == apiKey)
        return;
    config.apiKey = apiKey;
    setKey(provider, config);
    scheduleKeyWrite(provider);
}

// --- Writes ------------------------------------------------------------------

void SettingsModel::scheduleSurfaceWrite(ProfileSurface surface, const SurfaceModelConfig &config)
{
    const std::optional<QString> baseURL = config.provider == ModelProvider::zai
                                               ? std::optional<QString>(keyConfig(ModelProvider::zai).endpoint)
                                               : std::nullopt;
    Write write = [writer = m_writer, surface, config, baseURL] {
        return writer->writeModel(surface, config, baseURL);
    };
    // z.ai's key write may be setting "model.base_url" on this profile: this
    // write comes after it, so a switch away from z.ai is never undone by it.
    QList<std::shared_ptr<WriteTask>> after;
    if (const std::shared_ptr<WriteTask> zai = m_keyTasks.value(ModelProvider::zai))
        after << zai;
    m_surfaceTasks.insert(surface, startWrite(m_surfaceTasks.value(surface), std::move(after), std::move(write),
                                              surface == ProfileSurface::chat));
    emit surfaceTasksChanged();
}

void SettingsModel::scheduleKeyWrite(ModelProvider provider)
{
    const ProviderKeyConfig config = keyConfig(provider);
    QList<ProfileSurface> onProvider;
    // The base URL this write sets comes after every surface write of those
    // profiles edited before it.
    QList<std::shared_ptr<WriteTask>> after;
    for (const ProfileSurface surface : ProfileSurface::allCases()) {
        if (m_surfaces.contains(surface) && m_surfaces.value(surface).provider == provider) {
            onProvider << surface;
            if (const std::shared_ptr<WriteTask> task = m_surfaceTasks.value(surface);
                task && provider == ModelProvider::zai)
                after << task;
        }
    }
    Write write = [writer = m_writer, provider, config, onProvider] {
        return writer->writeProviderKey(provider, config, onProvider);
    };
    m_keyTasks.insert(provider, startWrite(m_keyTasks.value(provider), std::move(after), std::move(write), false));
    emit keyTasksChanged();
}

std::shared_ptr<SettingsModel::WriteTask> SettingsModel::startWrite(const std::shared_ptr<WriteTask> &previous,
                                                                    QList<std::shared_ptr<WriteTask>> after,
                                                                    Write write, bool chat)
{
    if (previous)
        previous->cancel();
    auto task = std::make_shared<WriteTask>();
    const auto debounce = std::max(m_writeDebounce, std::chrono::milliseconds(0));
    // Even without a debounce the write starts from the event loop, never
    // inside the edit.
    QTimer::singleShot(debounce, QCoreApplication::instance(), [task] { task->wake.set(); });
    QCoro::Task<void> detached = runWrite(task, previous, std::move(after), std::move(write), chat);
    return task;
}

QCoro::Task<void> SettingsModel::runWrite(std::shared_ptr<WriteTask> task, std::shared_ptr<WriteTask> previous,
                                          QList<std::shared_ptr<WriteTask>> after, Write write, bool chat)
{
    // The task keeps the model while it runs; a model owned otherwise is
    // only looked at while it lives.
    const std::shared_ptr<SettingsModel> keep = weak_from_this().lock();
    const QPointer<SettingsModel> self(this);

    QCoro::Task<void> sleeping = await(task->wake);
    co_await sleeping;
    // Even a cancelled task ends only after the one before it: its successor
    // waits for it alone and must find the chain idle.
    if (previous) {
        QCoro::Task<void> waiting = await(previous->finished);
        co_await waiting;
    }
    // Writes of other chains that touch the same setting: every one was
    // started before this one, so no two tasks ever wait for each other.
    for (const std::shared_ptr<WriteTask> &earlier : std::as_const(after)) {
        QCoro::Task<void> waiting = await(earlier->finished);
        co_await waiting;
    }
    after.clear();
    if (task->cancelled || !self) {
        task->finished.set();
        co_return;
    }
    std::optional<QString> failure;
    try {
        QCoro::Task<void> writing = write();
        co_await writing;
    } catch (const std::exception &error) {
        failure = foundation::describe(error);
    }
    if (self) {
        setLastWriteError(failure);
        if (!failure && chat && onChatSurfaceWrite)
            onChatSurfaceWrite();
    }
    task->finished.set();
}

// --- Load --------------------------------------------------------------------

void SettingsModel::applyStoredModel(ProfileSurface surface, const SettingsWriting::StoredModel &stored)
{
    // An edit made in this model's life wins over what the profile held.
    if (m_surfaceTasks.contains(surface))
        return;
    setSurface(surface, stored.config);
    // An endpoint or key type chosen meanwhile wins like any other edit.
    if (stored.config.provider != ModelProvider::zai || !stored.baseURL || m_keyTasks.contains(ModelProvider::zai))
        return;
    const QString coding = ZaiKeyType(ZaiKeyType::coding).endpoint();
    ProviderKeyConfig zai = keyConfig(ModelProvider::zai);
    if (*stored.baseURL == coding) {
        setZaiKeyTypeValue(ZaiKeyType::coding);
        zai.endpoint = coding;
    } else if (!stored.baseURL->isEmpty() && *stored.baseURL != ZaiKeyType(ZaiKeyType::standard).endpoint()) {
        zai.endpoint = *stored.baseURL;
    }
    // The key type is never set back to standard by a load.
    setKey(ModelProvider::zai, zai);
}

QCoro::Task<void> SettingsModel::load()
{
    const std::shared_ptr<SettingsModel> keep = weak_from_this().lock();
    const QPointer<SettingsModel> self(this);

    // The three reads run at once; each answer is applied as it comes.
    struct Join {
        int remaining = 0;
        Latch done;
    };
    const auto join = std::make_shared<Join>();
    join->remaining = int(ProfileSurface::allCases().size());
    for (const ProfileSurface surface : ProfileSurface::allCases()) {
        QCoro::Task<void> detached = [](QPointer<SettingsModel> self, std::shared_ptr<SettingsWriting> writer,
                                        ProfileSurface surface, std::shared_ptr<Join> join) -> QCoro::Task<void> {
            std::optional<SettingsWriting::StoredModel> stored;
            try {
                QCoro::Task<std::optional<SettingsWriting::StoredModel>> reading = writer->readModel(surface);
                stored = co_await reading;
            } catch (const std::exception &) {
                // A failed read is no answer.
            }
            if (self && stored)
                self->applyStoredModel(surface, *stored);
            if (--join->remaining == 0)
                join->done.set();
        }(self, m_writer, surface, join);
    }
    QCoro::Task<void> joining = await(join->done);
    co_await joining;

    for (const ModelProvider provider : ModelProvider::allCases()) {
        if (!self)
            co_return;
        if (m_keyTasks.contains(provider))
            continue;
        std::optional<QString> key;
        try {
            QCoro::Task<std::optional<QString>> reading = m_writer->readProviderKey(provider);
            key = co_await reading;
        } catch (const std::exception &) {
            continue;
        }
        // A key typed while it was read stays too.
        if (!self || m_keyTasks.contains(provider) || !key || key->isEmpty())
            continue;
        ProviderKeyConfig config = keyConfig(provider);
        config.apiKey = *key;
        setKey(provider, config);
    }
}

// --- Connection tests -------------------------------------------------------

QString SettingsModel::probeModel(ModelProvider provider) const
{
    for (const ProfileSurface surface : ProfileSurface::allCases()) {
        const bool stored = m_surfaces.contains(surface);
        if ((stored && m_surfaces.value(surface).provider == provider)
            || (!stored && provider == ModelProvider::anthropic))
            return surfaceConfig(surface).model;
    }
    return provider.defaultModel();
}

QCoro::Task<void> SettingsModel::testConnection(ModelProvider provider)
{
    const auto current = m_testStates.constFind(provider);
    if (current != m_testStates.constEnd() && current->which == TestState::Case::running)
        co_return;
    setTestState(provider, TestState::running());

    const ProviderKeyConfig config = keyConfig(provider);
    QString apiKey = config.apiKey;
    if (apiKey.isEmpty()) {
        if (provider != ModelProvider::nous) {
            setTestState(provider, TestState::done(Outcome::authFailed(ProviderProbe::kNoKeyMessage)));
            co_return;
        }
        QString endpoint = config.endpoint;
        if (endpoint.endsWith(u'/'))
            endpoint.chop(1);
        // The portal's session key is only for the official endpoint.
        if (endpoint != provider.defaultEndpoint()) {
            setTestState(provider, TestState::done(Outcome::authFailed(kCustomNousEndpointMessage)));
            co_return;
        }
        const std::optional<QString> agentKey = portalAgentKey(m_portalAuthPath);
        if (!agentKey) {
            setTestState(provider, TestState::done(Outcome::authFailed(kNoPortalLoginMessage)));
            co_return;
        }
        apiKey = *agentKey;
    }

    const std::shared_ptr<SettingsModel> keep = weak_from_this().lock();
    const QPointer<SettingsModel> self(this);
    QCoro::Task<Outcome> probing =
        ProviderProbe::probe(provider, config.endpoint, apiKey, probeModel(provider), m_probeTransport);
    const Outcome outcome = co_await probing;
    if (self)
        setTestState(provider, TestState::done(outcome));
}

// --- The portal login --------------------------------------------------------

std::optional<QString> SettingsModel::portalAgentKey(const QString &path)
{
    const std::optional<QByteArray> bytes = readEngineFile(path, kAuthFileCap);
    if (!bytes)
        return std::nullopt;

    const std::optional<QJsonObject> parsed = foundation::json::parseObject(*bytes);
    if (!parsed)
        return std::nullopt;

    const QJsonValue providers = parsed->value(QLatin1String("providers"));
    if (!providers.isObject())
        return std::nullopt;
    const QJsonValue nous = providers.toObject().value(QLatin1String("nous"));
    if (!nous.isObject())
        return std::nullopt;
    const QJsonValue key = nous.toObject().value(QLatin1String("agent_key"));
    if (!key.isString())
        return std::nullopt;

    const QString trimmed = foundation::text::trimSpacesAndNewlines(key.toString());
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

} // namespace profiles
