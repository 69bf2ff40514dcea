#include "profiles/enginefiles.h"

#include "foundation/fs.h"

#include <QFileInfo>

namespace profiles {

std::optional<QByteArray> readEngineFile(const QString &path, qint64 maxBytes)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty())
        return std::nullopt;
    try {
        return foundation::fs::readRegularFile(target, maxBytes);
    } catch (const foundation::fs::FileError &) {
        return std::nullopt;
    }
}

} // namespace profiles
