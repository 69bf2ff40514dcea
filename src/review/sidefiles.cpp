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

} // namespace review::detail
