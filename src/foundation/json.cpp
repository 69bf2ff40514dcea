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

QByteArray quoted(const QString &text)
{
    // Serialise through a one-element array and strip the brackets: this keeps
    // the escaping identical to the containers'.
    const QByteArray a = compact(QJsonArray{text});
    return a.mid(1, a.size() - 2);
}

QByteArray compact(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Object:
        return compact(value.toObject());
    case QJsonValue::Array:
        return compact(value.toArray());
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QByteArrayLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
    case QJsonValue::String:
        return quoted(value.toString());
    case QJsonValue::Double: {
        const QByteArray a = compact(QJsonArray{value});
        return a.mid(1, a.size() - 2);
    }
    }
    return QByteArrayLiteral("null");
}

} // namespace foundation::json
