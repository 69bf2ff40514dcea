#pragma once
// The library scan: the Home's piece folders read into the list of Post
// summaries sorted by title, with a cache that lets a rescan take unchanged
// post.md files from memory.

#include "foundation/fs.h"
#include "library/post.h"

#include <QCollatorSortKey>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>
#include <mutex>
#include <optional>

namespace library {

// Parsed summaries by post.md path, shared between scans and safe to use
// from any thread (one lock guards the entries and both counters; no file is
// read while it is held). Entries are never removed.
class PostScanCache {
public:
    // What the file system reports for a post.md at scan time. It holds the
    // inode as well as the modification time (in nanoseconds) and the size,
    // so a same-size rewrite within one clock tick is not served stale.
    using Stamp = foundation::fs::FileStamp;

    // The cached Post when stamp is present and equals the stored one
    // (counted as a hit); none otherwise (not counted).
    std::optional<Post> lookup(const QString &postPath, const std::optional<Stamp> &stamp);
    // Counts a miss (a file read and parsed); keeps post only with a stamp.
    void store(const Post &post, const QString &postPath, const std::optional<Stamp> &stamp);

    qint64 hitCount() const;
    qint64 missCount() const;

    // The scan's side: it takes the entries once (a shared copy, so a scan
    // of thousands of pieces takes the lock twice, not per piece) and hands
    // back at the end what it read, hit and keyed.
    struct Entry {
        Stamp stamp;
        Post post;
        std::optional<QCollatorSortKey> titleKey;
    };
    using Entries = QHash<QString, Entry>;
    struct Snapshot {
        Entries entries;
        bool keysFit = false; // the title keys are of the collation asked for
    };
    Snapshot snapshot(const QString &collation) const;
    struct Read {
        QString postPath;
        Post post;
        std::optional<Stamp> stamp;
    };
    struct TitleKey {
        QString postPath;
        QString title;
        QCollatorSortKey key;
    };
    // Counts hits and reads (misses), keeps the reads that have a stamp, and
    // keeps each key with its entry while the entry's title is still the one
    // keyed (keys of another collation are dropped first).
    void record(qint64 hits, QList<Read> reads, const QString &collation, const QList<TitleKey> &keys);

private:
private:
    mutable std::mutex m_lock;
    Entries m_entries;
    QString m_keyCollation;
    qint64 m_hits = 0;
    qint64 m_misses = 0;
};

namespace PostScan {

// Every piece with a readable UTF-8 post.md under <home>/projects/ and then
// <home>/archive/, sorted by title for the writer (locale's collation,
// numeric, case ignored but ties fixed by case, stable). Projects and pieces
// are walked in code-point order of their NFC names; hidden entries,
// symbolic links and plain files at the project and piece level are skipped,
// and of the piece folders sharing a name only the first in walking order is
// listed. Never fails: anything unreadable is left out. Each piece folder
// whose post.md is read (not taken from the cache) is swept of what
// interrupted saves left there (PostStore::removeSaveLeftovers).
QList<Post> scanLibrary(const QString &home, PostScanCache *cache = nullptr, const QLocale &locale = QLocale());

} // namespace PostScan
} // namespace library
