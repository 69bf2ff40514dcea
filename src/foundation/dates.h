#pragma once
// Dates in files: local stamps with explicit patterns in the C locale, UTC
// stamps with whole seconds, strict readers.

#include <QDateTime>
#include <QString>
#include <optional>

namespace foundation::dates {

// A local-time stamp of when with an explicit QDateTime pattern, C locale
// (for example "yyyy-MM-dd-HHmmss").
QString localStamp(const QDateTime &when, const QString &pattern);

// "yyyy-MM-ddTHH:mm:ssZ" in UTC, fractions of a second dropped.
QString utcStamp(const QDateTime &when);

// Reads exactly "yyyy-MM-ddTHH:mm:ssZ" (no fractions, no offsets, a real
// calendar date); none otherwise.
std::optional<QDateTime> parseUtcStamp(const QString &text);

// Reads a local stamp written with pattern; the whole text must match the
// pattern's shape and name a real local time. none otherwise.
std::optional<QDateTime> parseLocalStamp(const QString &text, const QString &pattern);

// Seconds since 2001-01-01T00:00:00Z (the reference date of stored numbers).
double secondsSinceReferenceDate(const QDateTime &when);
QDateTime fromSecondsSinceReferenceDate(double seconds);

} // namespace foundation::dates
