#pragma once
// Learnings beside the cards: the pass clock that hides a dismissed learning
// for a number of Passes (doubling with each dismissal), and the index of the
// Home's learnings as the learnings pane lists them.

#include "library/frontmatter.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

namespace review::LearningPassClock {

// Counts and waits are clamped to this when read.
inline constexpr qint64 kCountCeiling = 1000000000;
// The wait of a first dismissal when the learning sets no "resurface_after".
inline constexpr qint64 kDefaultWait = 10;

// The type folder ("posts" / "outlines") of a content type.
QString typeName(library::Post::ContentType type);

// <home>/learnings/pass-counts.json as a map of type to count; lenient.
QMap<QString, qint64> readPassCounts(const QString &home);

// Adds one Pass of the type. Throws FixCardStore::CardError or FileError.
void bumpPassCount(const QString &home, library::Post::ContentType type);

// True for "posts" and "outlines" only.
bool isPassClocked(const QString &type);

qint64 dismissCount(const library::Frontmatter &frontmatter);

// The Passes a dismissed learning still waits at the given count of its
// type; none when it is visible.
std::optional<qint64> resurfacesIn(const library::Frontmatter &frontmatter, qint64 passCount);

// Records a dismissal in the learning's front matter. Throws
// FixCardStore::CardError or FileError.
void dismissLearning(const QString &home, const QString &type, const QString &fileName, const QDateTime &date);

} // namespace review::LearningPassClock

namespace review::LearningsIndex {

struct Entry {
    QString id; // the file name
    QString pattern;
    std::optional<QString> problem;
    std::optional<QString> promoted;
    std::optional<qint64> resurfacesIn;
    bool operator==(const Entry &) const = default;
};

struct Group {
    QString type; // the folder name under learnings/
    QList<Entry> entries;
    bool operator==(const Group &) const = default;
};

// Every type folder of <home>/learnings with at least one learning.
QList<Group> scan(const QString &home);

// passCount: the type's count, none for a type that is not pass-clocked.
Entry makeEntry(const QString &fileName, const QString &text, std::optional<qint64> passCount);

// "yyyyMMdd-" at the start of the name without its extension.
bool hasDatePrefix(const QString &fileName);

// Dated first, then by id descending; stable.
void sortEntries(QList<Entry> &entries);

} // namespace review::LearningsIndex
