#include "profiles/modelregistry.h"

#include "foundation/json.h"
#include "profiles/enginefiles.h"

#include <QDir>
#include <QJsonArray>

namespace profiles {

namespace {
// The engine's cache lists a few hundred names; anything near this is not it.
constexpr qint64 kCacheFileCap = 16 * 1024 * 1024;

// An entry's "models": absent or null is an empty list; anything but an array
// of strings is no list at all.
std::optional<QStringList> entryModels(const QJsonValue &entry)
{
    if (!entry.isObject())
        return std::nullopt;
    const QJsonValue models = entry.toObject().value(QLatin1String("models"));
    if (models.isUndefined() || models.isNull())
        return QStringList();
    if (!models.isArray())
        return std::nullopt;
    QStringList names;
    for (const QJsonValue &name : models.toArray()) {
        if (!name.isString())
            return std::nullopt;
        names << name.toString();
    }
    return names;
}
} // namespace

ModelRegistry::Models ModelRegistry::load(const QString &path)
{
    const std::optional<QByteArray> bytes = readEngineFile(path, kCacheFileCap);
    if (!bytes)
        return {};
    const std::optional<QJsonObject> cache = foundation::json::parseObject(*bytes);
    if (!cache)
        return {};
    Models models;
    for (auto member = cache->constBegin(); member != cache->constEnd(); ++member) {
        // Checked before the name: a malformed entry of an unknown provider
        // still makes the file unreadable.
        const std::optional<QStringList> names = entryModels(member.value());
        if (!names)
            return {};
        if (const std::optional<ModelProvider> provider = ModelProvider::fromRawValue(member.key()))
            models.insert(*provider, *names);
    }
    return models;
}

QString ModelRegistry::cachePath()
{
    return QDir::homePath() + QStringLiteral("/.hermes/provider_models_cache.json");
}

const ModelRegistry &ModelRegistry::shared()
{
    static const ModelRegistry snapshot(load(cachePath()));
    return snapshot;
}

} // namespace profiles
