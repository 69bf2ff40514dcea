#include "library/storeerror.h"

namespace library {

StoreError::StoreError(Code code, const QString &path) : Error(description(code)), m_code(code), m_path(path) {}

QString StoreError::description(Code code)
{
    switch (code) {
    case Code::fileReadNoSuchFile: return QStringLiteral("The file couldn’t be opened because there is no such file.");
    case Code::fileWriteFileExists:
        return QStringLiteral("The file couldn’t be saved because a file with the same name already exists.");
    case Code::fileWriteInvalidFileName:
        return QStringLiteral("The file couldn’t be saved because the file name is invalid.");
    case Code::featureUnsupported:
        return QStringLiteral("The requested operation couldn’t be completed because the feature is not supported.");
    }
    return {};
}

} // namespace library
