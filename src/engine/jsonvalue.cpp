#include "jsonvalue.h"

#include "foundation/json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace engine {

const JSONValue::Object &JSONValue::toObject() const
{
    static const Object empty;
    return m_kind == Kind::object ? m_object : empty;
}

const JSONValue::Array &JSONValue::toArray() const
{
    static const Array empty;
    return m_kind == Kind::array ? m_array : empty;
}

std::optional<JSONValue> JSONValue::member(const QString &key) const
{
    if (m_kind != Kind::object)
        return std::nullopt;
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd())
        return std::nullopt;
    return *it;
}

bool operator==(const JSONValue &a, const JSONValue &b)
{
    if (a.m_kind != b.m_kind)
        return false;
    switch (a.m_kind) {
    case JSONValue::Kind::object: return a.m_object == b.m_object;
    case JSONValue::Kind::array: return a.m_array == b.m_array;
    case JSONValue::Kind::string: return a.m_string == b.m_string;
    case JSONValue::Kind::number: return a.m_number == b.m_number;
    case JSONValue::Kind::boolean: return a.m_bool == b.m_bool;
    case JSONValue::Kind::null: return true;
    }
    return false;
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
    switch (m_kind) {
    case Kind::object: {
        QJsonObject out;
        for (auto it = m_object.constBegin(); it != m_object.constEnd(); ++it)
            out.insert(it.key(), it.value().foundationObject());
        return out;
    }
    case Kind::array: {
        QJsonArray out;
        for (const JSONValue &element : m_array)
            out.append(element.foundationObject());
        return out;
    }
    case Kind::string: return m_string;
    case Kind::number: return m_number;
    case Kind::boolean: return m_bool;
    case Kind::null: break;
    }
    return QJsonValue(QJsonValue::Null);
}

bool JSONValue::isEncodable() const
{
    switch (m_kind) {
    case Kind::object:
        for (const JSONValue &value : m_object)
            if (!value.isEncodable())
                return false;
        return true;
    case Kind::array:
        for (const JSONValue &value : m_array)
            if (!value.isEncodable())
                return false;
        return true;
    case Kind::number: return std::isfinite(m_number);
    default: return true;
    }
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

} // namespace engine
