#pragma once
// The value type of every message exchanged with the engine and of the tool
// server's arguments: six kinds, booleans kept apart from numbers, every
// number held as a 64-bit float, object keys unordered.

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

namespace engine {

class JSONValue {
public:
    enum class Kind { object, array, string, number, boolean, null };
    using Object = QMap<QString, JSONValue>;
    using Array = QList<JSONValue>;

    // null
    JSONValue() = default;
    JSONValue(std::nullptr_t) {}
    JSONValue(bool value) : m_kind(Kind::boolean), m_bool(value) {}
    JSONValue(double value) : m_kind(Kind::number), m_number(value) {}
    JSONValue(int value) : JSONValue(double(value)) {}
    JSONValue(qint64 value) : JSONValue(double(value)) {}
    JSONValue(const QString &value) : m_kind(Kind::string), m_string(value) {}
    // Without this a string literal would convert to bool.
    JSONValue(const char *utf8) : JSONValue(QString::fromUtf8(utf8)) {}
    JSONValue(const Object &value) : m_kind(Kind::object), m_object(value) {}
    JSONValue(const Array &value) : m_kind(Kind::array), m_array(value) {}

    Kind kind() const { return m_kind; }
    bool isObject() const { return m_kind == Kind::object; }
    bool isArray() const { return m_kind == Kind::array; }
    bool isString() const { return m_kind == Kind::string; }
    bool isNumber() const { return m_kind == Kind::number; }
    bool isBool() const { return m_kind == Kind::boolean; }
    bool isNull() const { return m_kind == Kind::null; }

    // The content; an empty or zero value when the kind differs.
    const Object &toObject() const;
    const Array &toArray() const;
    QString toString() const { return m_string; }
    double toDouble() const { return m_number; }
    bool toBool() const { return m_bool; }

    // An object's member, none when this is not an object or has no such key.
    std::optional<JSONValue> member(const QString &key) const;

    // Same kind and equal contents; numbers compare as floats.
    friend bool operator==(const JSONValue &a, const JSONValue &b);

    // From Qt's JSON reader: Bool stays bool, Double becomes number,
    // Undefined becomes null like Null.
    static JSONValue fromFoundation(const QJsonValue &value);
    // For Qt's JSON writer; whole numbers are written without a fraction.
    QJsonValue foundationObject() const;

    // False when a number anywhere inside is NaN or infinite: JSON has no
    // spelling for those.
    bool isEncodable() const;
    // Compact JSON text, keys sorted, any kind at the top (a bare scalar too).
    QByteArray toCompactJson() const;
    // One JSON text of any kind; none when it does not parse.
    static std::optional<JSONValue> parse(const QByteArray &json);

private:
    Kind m_kind = Kind::null;
    bool m_bool = false;
    double m_number = 0;
    QString m_string;
    Object m_object;
    Array m_array;
};

} // namespace engine
