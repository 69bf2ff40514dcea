#include "settingsmodel.h"

#include "foundation/json.h"
#include "foundation/text.h"
#include "profiles/enginefiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace profiles {

namespace {
// A login file is a few hundred bytes; anything near this is not one.
constexpr qint64 kAuthFileCap = 1024 * 1024;
} // namespace

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
