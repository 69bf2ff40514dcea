#pragma once
// Compact JSON output as files and peers expect it: keys sorted at every
// depth, "/" unescaped, integers written as integers.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <optional>

namespace foundation::json {

// Compact bytes of any JSON value, a bare scalar included (QJsonDocument
// cannot hold one).
QByteArray compact(const QJsonValue &value);
QByteArray compact(const QJsonObject &object);
QByteArray compact(const QJsonArray &array);

// Compact JSON with every "/" written as "\/", the default form of the
// encoder whose card files we share. "/" can only occur inside strings.
QByteArray withEscapedSlashes(const QByteArray &compactJson);

// The object a JSON text holds; none when the text does not parse or holds
// anything else.
std::optional<QJsonObject> parseObject(const QByteArray &json);

// A number with a whole value inside the 64-bit range ([-2^63, 2^63));
// none for fractions, NaN, infinities and anything larger.
std::optional<qint64> wholeInteger(double number);
// The same for a JSON value; integers Qt read as such keep their exact value
// beyond 2^53. None for any other kind.
std::optional<qint64> wholeInteger(const QJsonValue &value);

// A JSON string literal, quotes included.
QByteArray quoted(const QString &text);

} // namespace foundation::json
