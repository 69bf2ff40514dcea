#pragma once
// The library store's own file errors: the fixed kinds its operations refuse
// with. Raw OS failures pass through as foundation::fs::FileError.

#include "foundation/error.h"

#include <QString>

namespace library {

class StoreError : public foundation::Error {
public:
    enum class Code {
        fileReadNoSuchFile,       // no folder found for the piece or project
        fileWriteFileExists,      // the target name is taken
        fileWriteInvalidFileName, // a refused project name or piece id
        featureUnsupported,       // moving an archived piece between projects
    };

    explicit StoreError(Code code, const QString &path = QString());

    Code code() const { return m_code; }
    // The path the operation was about (may be empty).
    const QString &path() const { return m_path; }
    static QString description(Code code);

private:
    Code m_code;
    QString m_path;
};

} // namespace library
