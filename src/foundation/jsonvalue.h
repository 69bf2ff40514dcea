#pragma once
// The value type of every message exchanged with the engine, of the tool
// server's arguments and of the provider probe's streamed chunks: six kinds,
// booleans kept apart from numbers, every number held as a 64-bit float,
// object keys unordered.

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>
#include <variant>

namespace foundation {

class JSONValue {
public:
    enum class Kind { object, array, string, number, boolean, null };
    using Object = QMap<QString, JSONValue>;
    using Array = QList<JSONValue>;

    // null
    JSONValue() = default;
    JSONValue(std::nullptr_t) {}
    JSONValue(bool value) : m_value(value) {}
    JSONValue(double value) : m_value(value) {}
    JSONValue(int value) : JSONValue(double(value)) {}
    JSONValue(qint64 value) : JSONValue(double(value)) {}
    JSONValue(const QString &value) : m_value(value) {}
    // Without this a string literal would convert to bool.
    JSONValue(const char *utf8) : JSONValue(QString::fromUtf8(utf8)) {}
    JSONValue(const Object &value) : m_value(value) {}
    JSONValue(const Array &value) : m_value(value) {}

    Kind kind() const;
    bool isObject() const { return std::holds_alternative<Object>(m_value); }
    bool isArray() const { return std::holds_alternative<Array>(m_value); }
    bool isString() const { return std::holds_alternative<QString>(m_value); }
    bool isNumber() const { return std::holds_alternative<double>(m_value); }
    bool isBool() const { return std::holds_alternative<bool>(m_value); }
    bool isNull() const { return std::holds_alternative<std::monostate>(m_value); }

    // The content; an empty or zero value when the kind differs.
    const Object &toObject() const;
    const Array &toArray() const;
    QString toString() const;
    double toDouble() const;
    bool toBool() const;
    // A number with a whole value inside the 64-bit range; none otherwise.
    std::optional<qint64> wholeInteger() const;

    // An object's member, none when this is not an object or has no such key.
    std::optional<JSONValue> member(const QString &key) const;
    // The member when it is a text, or an object; none otherwise.
    std::optional<QString> stringMember(const QString &key) const;
    std::optional<JSONValue> objectMember(const QString &key) const;

    // Same kind and equal contents; numbers compare as floats.
    friend bool operator==(const JSONValue &a, const JSONValue &b) { return a.m_value == b.m_value; }

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
    // The alternatives in the order of Kind's cases would not hold null
    // first, and a default value must be null.
    std::variant<std::monostate, bool, double, QString, Object, Array> m_value;
};

} // namespace foundation
