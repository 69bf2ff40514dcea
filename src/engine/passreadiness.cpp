#include "passreadiness.h"

#include "profiles/settingsmodel.h"

#include <optional>
#include <utility>
#include <vector>

namespace engine {

namespace {

using profiles::ModelProvider;
using profiles::ProfileSurface;
using profiles::SettingsWriting;

// A throwing read counts as no settings.
QCoro::Task<std::optional<SettingsWriting::StoredModel>> readModelQuietly(std::shared_ptr<SettingsWriting> reader,
                                                                          ProfileSurface surface)
{
    try {
        co_return co_await reader->readModel(surface);
    } catch (...) {
        co_return std::nullopt;
    }
}

// A throwing read, or none, counts as the empty key.
QCoro::Task<QString> readKeyQuietly(std::shared_ptr<SettingsWriting> reader, ModelProvider provider)
{
    try {
        const std::optional<QString> key = co_await reader->readProviderKey(provider);
        co_return key.value_or(QString());
    } catch (...) {
        co_return QString();
    }
}

// The portal login only stands in for a key on Nous's own endpoint.
bool onNousDefaultEndpoint(const std::optional<QString> &baseURL)
{
    const QString defaultEndpoint = ModelProvider(ModelProvider::nous).defaultEndpoint();
    QString endpoint = baseURL && !baseURL->isEmpty() ? *baseURL : defaultEndpoint;
    if (endpoint.endsWith(u'/'))
        endpoint.chop(1);
    return endpoint == defaultEndpoint;
}

} // namespace

QCoro::Task<PassReadinessMap> PassReadiness::evaluate(std::shared_ptr<profiles::SettingsWriting> reader,
                                                      QString portalLoginPath)
{
    // Both model reads start before either is awaited, so they run together.
    std::vector<std::pair<PassKind, QCoro::Task<std::optional<SettingsWriting::StoredModel>>>> reads;
    for (const PassKind kind : PassKind::allCases())
        reads.emplace_back(kind, readModelQuietly(reader, surface(kind)));

    std::map<PassKind, std::optional<SettingsWriting::StoredModel>> settings;
    for (auto &[kind, read] : reads)
        settings.emplace(kind, co_await read);

    // One key read per distinct provider, one after another.
    std::map<ModelProvider, QString> keys;
    for (const auto &[kind, stored] : settings) {
        if (stored && !keys.contains(stored->config.provider))
            keys.emplace(stored->config.provider, co_await readKeyQuietly(reader, stored->config.provider));
    }

    PassReadinessMap result;
    for (const auto &[kind, stored] : settings) {
        if (!stored) {
            result.emplace(kind, unknown());
            continue;
        }
        const ModelProvider provider = stored->config.provider;
        if (!keys.at(provider).isEmpty()) {
            result.emplace(kind, ready());
        } else if (provider == ModelProvider::nous) {
            const bool portal = onNousDefaultEndpoint(stored->baseURL)
                                && profiles::SettingsModel::portalAgentKey(portalLoginPath).has_value();
            result.emplace(kind, portal ? ready() : missingKey(provider.label()));
        } else {
            result.emplace(kind, missingKey(provider.label()));
        }
    }
    co_return result;
}

} // namespace engine
