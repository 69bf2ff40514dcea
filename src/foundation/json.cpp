#include "json.h"

#include <cmath>

#include <QJsonDocument>

namespace foundation::json {

// QJsonObject keeps its keys sorted and QJsonDocument does not escape "/", so
// the document's compact form is already what we need for containers.
QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray compact(const QJsonArray &array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QByteArray withEscapedSlashes(const QByteArray &compactJson)
{
    QByteArray out = compactJson;
    return out.replace("/", "\\/");
}

namespace {

// A scalar serialised through a one-element array, brackets stripped: this
// keeps its escaping and number form identical to the containers'.
QByteArray bareScalar(const QJsonValue &value)
{
    const QByteArray a = compact(QJsonArray{value});
    return a.mid(1, a.size() - 2);
}

} // namespace

QByteArray quoted(const QString &text)
{
    return bareScalar(text);
}

QByteArray compact(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Object: return compact(value.toObject());
    case QJsonValue::Array: return compact(value.toArray());
    case QJsonValue::Null:
    case QJsonValue::Undefined: return QByteArrayLiteral("null");
    case QJsonValue::Bool: return value.toBool() ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
    case QJsonValue::String:
    case QJsonValue::Double: return bareScalar(value);
    }
    return QByteArrayLiteral("null");
}

std::optional<QJsonObject> parseObject(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

std::optional<qint64> wholeInteger(double number)
{
    // 2^63 is exact as a double; anything from it up does not fit.
    if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0
        || number >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<qint64> wholeInteger(const QJsonValue &value)
{
    // toInteger answers the default for anything that is not a whole qint64;
    // two defaults tell that apart from a real value, exact beyond 2^53.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

} // namespace foundation::json
