#include "foundation/jsonvalue.h"

#include "foundation/json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace foundation {

JSONValue::Kind JSONValue::kind() const
{
    return std::visit(
        [](const auto &v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Object>)
                return Kind::object;
            else if constexpr (std::is_same_v<T, Array>)
                return Kind::array;
            else if constexpr (std::is_same_v<T, QString>)
                return Kind::string;
            else if constexpr (std::is_same_v<T, double>)
                return Kind::number;
            else if constexpr (std::is_same_v<T, bool>)
                return Kind::boolean;
            else
                return Kind::null;
        },
        m_value);
}

const JSONValue::Object &JSONValue::toObject() const
{
    static const Object empty;
    const Object *object = std::get_if<Object>(&m_value);
    return object ? *object : empty;
}

const JSONValue::Array &JSONValue::toArray() const
{
    static const Array empty;
    const Array *array = std::get_if<Array>(&m_value);
    return array ? *array : empty;
}

QString JSONValue::toString() const
{
    const QString *string = std::get_if<QString>(&m_value);
    return string ? *string : QString();
}

double JSONValue::toDouble() const
{
    const double *number = std::get_if<double>(&m_value);
    return number ? *number : 0;
}

bool JSONValue::toBool() const
{
    const bool *value = std::get_if<bool>(&m_value);
    return value && *value;
}

std::optional<qint64> JSONValue::wholeInteger() const
{
    const double *number = std::get_if<double>(&m_value);
    return number ? json::wholeInteger(*number) : std::nullopt;
}

std::optional<JSONValue> JSONValue::member(const QString &key) const
{
    const Object *object = std::get_if<Object>(&m_value);
    if (!object)
        return std::nullopt;
    const auto it = object->constFind(key);
    if (it == object->constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QString> JSONValue::stringMember(const QString &key) const
{
    const std::optional<JSONValue> found = member(key);
    if (!found || !found->isString())
        return std::nullopt;
    return found->toString();
}

std::optional<JSONValue> JSONValue::objectMember(const QString &key) const
{
    std::optional<JSONValue> found = member(key);
    if (!found || !found->isObject())
        return std::nullopt;
    return found;
}

JSONValue JSONValue::fromFoundation(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        Object out;
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            out.insert(it.key(), fromFoundation(it.value()));
        return out;
    }
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        Array out;
        out.reserve(array.size());
        for (const QJsonValue &element : array)
            out.append(fromFoundation(element));
        return out;
    }
    case QJsonValue::String: return value.toString();
    case QJsonValue::Bool: return value.toBool();
    case QJsonValue::Double: return value.toDouble();
    case QJsonValue::Null:
    case QJsonValue::Undefined: break;
    }
    return JSONValue();
}

QJsonValue JSONValue::foundationObject() const
{
    return std::visit(
        [](const auto &v) -> QJsonValue {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Object>) {
                QJsonObject out;
                for (auto it = v.constBegin(); it != v.constEnd(); ++it)
                    out.insert(it.key(), it.value().foundationObject());
                return out;
            } else if constexpr (std::is_same_v<T, Array>) {
                QJsonArray out;
                for (const JSONValue &element : v)
                    out.append(element.foundationObject());
                return out;
            } else if constexpr (std::is_same_v<T, std::monostate>) {
                return QJsonValue(QJsonValue::Null);
            } else {
                return QJsonValue(v);
            }
        },
        m_value);
}

bool JSONValue::isEncodable() const
{
    if (const Object *object = std::get_if<Object>(&m_value)) {
        for (const JSONValue &value : *object)
            if (!value.isEncodable())
                return false;
        return true;
    }
    if (const Array *array = std::get_if<Array>(&m_value)) {
        for (const JSONValue &value : *array)
            if (!value.isEncodable())
                return false;
        return true;
    }
    if (const double *number = std::get_if<double>(&m_value))
        return std::isfinite(*number);
    return true;
}

QByteArray JSONValue::toCompactJson() const
{
    return foundation::json::compact(foundationObject());
}

std::optional<JSONValue> JSONValue::parse(const QByteArray &json)
{
    // QJsonDocument reads containers only; a one-element array carries a
    // bare scalar through it.
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson("[" + json + "]", &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1)
        return std::nullopt;
    return fromFoundation(doc.array().first());
}

} // namespace foundation
