#pragma once
// Reads of the engine's own small files under ~/.hermes (its portal login,
// its model cache). They are the engine's, not the library's: a linked file
// (dotfiles kept elsewhere) is read where it points; FIFOs and devices are
// still refused.

#include <QByteArray>
#include <QString>
#include <optional>

namespace profiles {

// The file's bytes; nothing when it is missing, unreadable, not a regular
// file or larger than maxBytes.
std::optional<QByteArray> readEngineFile(const QString &path, qint64 maxBytes);

} // namespace profiles
