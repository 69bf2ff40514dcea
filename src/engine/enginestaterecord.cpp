#include "engine/engineprobe.h"

#include "foundation/dates.h"
#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace engine::EngineProbe {

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kExcerptCharacters = 500;

std::optional<QString> optionalText(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

} // namespace

StateRecord StateRecord::forResult(const EngineCheckResult &result)
{
    StateRecord record;
    record.checkedAt = foundation::dates::utcStamp(QDateTime::currentDateTimeUtc());
    if (const auto *pass = std::get_if<EngineCheckResult::Pass>(&result.value)) {
        record.status = u"pass"_s;
        record.engineVersion = pass->version;
        record.binaryPath = pass->binaryPath;
    } else {
        const auto &fail = std::get<EngineCheckResult::Fail>(result.value);
        record.status = u"fail"_s;
        record.firstProbePath = fail.firstProbePath;
        record.stderrExcerpt = foundation::text::graphemePrefix(fail.stderrExcerpt, kExcerptCharacters);
    }
    return record;
}

QByteArray StateRecord::encode() const
{
    QJsonObject object{{u"schemaVersion"_s, schemaVersion}, {u"status"_s, status}, {u"checkedAt"_s, checkedAt}};
    const auto put = [&object](const QString &key, const std::optional<QString> &value) {
        if (value)
            object.insert(key, *value);
    };
    put(u"engineVersion"_s, engineVersion);
    put(u"binaryPath"_s, binaryPath);
    put(u"firstProbePath"_s, firstProbePath);
    put(u"stderrExcerpt"_s, stderrExcerpt);
    return foundation::json::compact(object);
}

std::optional<StateRecord> StateRecord::decode(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = foundation::json::parseObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    const auto schema = foundation::json::wholeInteger(object.value(u"schemaVersion"_s));
    const auto status = optionalText(object, u"status"_s);
    const auto checkedAt = optionalText(object, u"checkedAt"_s);
    if (!schema || !status || !checkedAt)
        return std::nullopt;
    StateRecord record;
    record.schemaVersion = *schema;
    record.status = *status;
    record.checkedAt = *checkedAt;
    record.engineVersion = optionalText(object, u"engineVersion"_s);
    record.binaryPath = optionalText(object, u"binaryPath"_s);
    record.firstProbePath = optionalText(object, u"firstProbePath"_s);
    record.stderrExcerpt = optionalText(object, u"stderrExcerpt"_s);
    return record;
}

std::optional<StateRecord> readStateRecord(const std::optional<QString> &folder)
{
    const QString path = folder.value_or(foundation::paths::appDataDir()) + u'/' + QLatin1String(kStateFileName);
    try {
        return StateRecord::decode(foundation::fs::readRegularFile(path));
    } catch (const foundation::fs::FileError &) {
        return std::nullopt;
    }
}

} // namespace engine::EngineProbe
