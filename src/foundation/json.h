#pragma once
// Compact JSON output as files and peers expect it: keys sorted at every
// depth, "/" unescaped, integers written as integers.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

namespace foundation::json {

// Compact bytes of any JSON value, a bare scalar included (QJsonDocument
// cannot hold one).
QByteArray compact(const QJsonValue &value);
QByteArray compact(const QJsonObject &object);
QByteArray compact(const QJsonArray &array);

// Compact JSON with every "/" written as "\/", the default form of the
// encoder whose card files we share. "/" can only occur inside strings.
QByteArray withEscapedSlashes(const QByteArray &compactJson);

// A JSON string literal, quotes included.
QByteArray quoted(const QString &text);

} // namespace foundation::json
