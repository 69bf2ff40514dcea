#pragma once
// Reading and folder helpers shared by the card store, the learnings and the
// lint: side files read safely, JSON integers, folder listings, card ids.

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <optional>

namespace review::detail {

// A side file (card, learning, configuration): a regular file of at most
// maxBytes. None for links, FIFOs, devices, missing or oversized files.
std::optional<QByteArray> readSideFile(const QString &path, qint64 maxBytes);
std::optional<QString> readSideText(const QString &path, qint64 maxBytes);

// An id as files and tools spell it: upper case with hyphens, no braces.
inline QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace review::detail
