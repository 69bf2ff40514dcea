#include "json.h"

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

} // namespace foundation::json
