#include "review/sidefiles.h"

#include "foundation/fs.h"
#include "foundation/text.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cmath>
#include <sys/stat.h>

namespace review::detail {

std::optional<QByteArray> readSideFile(const QString &path, qint64 maxBytes)
{
    try {
        return foundation::fs::readRegularFile(path, maxBytes);
    } catch (const foundation::fs::FileError &) {
        return std::nullopt;
    }
}

std::optional<QString> readSideText(const QString &path, qint64 maxBytes)
{
    const auto bytes = readSideFile(path, maxBytes);
    if (!bytes)
        return std::nullopt;
    return foundation::text::decodeUtf8(*bytes);
}

std::optional<qint64> jsonInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d)
        return std::nullopt;
    // toInteger answers the default for values outside qint64.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

QStringList listFolder(const QString &folder)
{
    try {
        return foundation::fs::listFolder(folder);
    } catch (const foundation::fs::FileError &) {
        return {};
    }
}

} // namespace review::detail
