#pragma once
// The library store's own file errors: the fixed kinds its operations refuse
// with. Raw OS failures pass through as foundation::fs::FileError.

#include <QString>
#include <stdexcept>

namespace library {

class StoreError : public std::runtime_error {
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
    // The user-readable description shown in the library's error field.
    QString message() const { return QString::fromUtf8(what()); }

    static QString description(Code code);

private:
    Code m_code;
    QString m_path;
};

} // namespace library
