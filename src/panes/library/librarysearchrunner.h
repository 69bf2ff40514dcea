#pragma once
// The library column's search task: 0.25 s after the last change of the
// search key it runs LibrarySearch over the live pieces off the main thread
// and keeps the result as the memo, valid while its key is the current one.
// Bodies come from the body cache, read and tested on several threads at
// once; the result is put together on the main thread in the filter's order.
// A search overtaken by a new key is cancelled: its body reads answer none
// from then on and its result is never kept.

#include "foundation/fs.h"
#include "panes/library/librarysearch.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace model {
class PostsModel;
}

namespace panes {

// Piece bodies as PostStore reads them, case folded once and kept by piece
// with the path of the post.md read and its file stamp (device, inode,
// modification time and size): a file that changed, even rewritten to the
// same size with its time kept, is read again, so the answers are those of a
// fresh read. A known piece costs one stat. The piece's folder is the one
// the library scan found it in; a piece no longer there is looked for as
// PostStore does. Safe to share between threads.
//
// The bodies held stay under maxChars characters: room is made by dropping
// pieces no search has asked for since the one before last, and a body that
// still does not fit is answered without being kept.
class LibraryBodyCache {
public:
    using Body = LibrarySearch::FoldedText;
    static constexpr qsizetype defaultMaxChars = 64 * 1024 * 1024;

    explicit LibraryBodyCache(qsizetype maxChars = defaultMaxChars) : m_maxChars(maxChars) {}

    // The body of post (the text of post.md after its front matter) in home,
    // folded; none when it cannot be found or read.
    std::shared_ptr<const Body> body(const library::Post &post, const QString &home);
    // Marks the start of a search, which the keeping of bodies counts by.
    void beginSearch();
    qint64 readCount() const { return m_reads.load(); }
    qsizetype cachedChars() const;
    qsizetype cachedBodies() const;
    void clear();

private:
    struct Entry {
        QString path;
        foundation::fs::FileStamp stamp;
        std::shared_ptr<const Body> body;
        quint64 lastSearch = 0;
    };
    std::shared_ptr<const Body> read(const QString &path, foundation::fs::FileStamp *stamp);
    void keep(const QString &key, Entry entry);
    void dropStale();

    const qsizetype m_maxChars;
    mutable std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
    qsizetype m_chars = 0;
    quint64 m_search = 0;
    quint64 m_droppedAt = 0; // the search whose stale entries were dropped last
    std::atomic<qint64> m_reads{0};
};

class LibrarySearchRunner : public QObject {
    Q_OBJECT
public:
    enum class ListState { notSearching, waiting, results, noMatch };
    // Reads one piece's body; called on a worker thread, in the filter's
    // order, one piece at a time.
    using BodyReader = std::function<std::optional<QString>(const library::Post &, const QString &home)>;

    static constexpr std::chrono::milliseconds defaultDebounce{250};

    LibrarySearchRunner(model::PostsModel *model, const QString &homePath, QObject *parent = nullptr);
    ~LibrarySearchRunner() override;

    // The search field's text; only a change of its trimmed form searches again.
    void setQuery(const QString &query);
    const QString &query() const { return m_query; }
    bool isSearching() const { return !m_key.query.isEmpty(); }
    const LibrarySearch::SearchKey &currentKey() const { return m_key; }
    const std::optional<LibrarySearch::Snapshot> &snapshot() const { return m_snapshot; }
    ListState listState() const;

    // Injectable for tests; set before the first query. When empty (the
    // default), bodies come from bodyCache().
    BodyReader bodyReader;
    void setDebounce(std::chrono::milliseconds wait) { m_debounce.setInterval(wait); }
    const std::shared_ptr<LibraryBodyCache> &bodyCache() const { return m_cache; }

    // "1 match", "3 matches".
    static QString matchCaption(qsizetype count);
    // "No piece's title or body contains “<query>”."
    static QString noMatchText(const QString &trimmedQuery);

signals:
    void snapshotChanged();
    void currentKeyChanged();
    // A search has been handed to the worker (for tests and benchmarks).
    void searchStarted();

private:
    void refreshKey();
    void restart();
    void startSearch();
    void startCachedSearch(const LibrarySearch::SearchKey &key, const QList<library::Post> &pieces);
    void startReaderSearch(const LibrarySearch::SearchKey &key, const QList<library::Post> &pieces);
    bool isCurrent(quint64 generation) const { return m_generation->load() == generation; }
    void setSnapshot(std::optional<LibrarySearch::Snapshot> snapshot);

    QPointer<model::PostsModel> m_model;
    QString m_homePath;
    QString m_query;
    LibrarySearch::SearchKey m_key;
    std::optional<LibrarySearch::Snapshot> m_snapshot;
    QTimer m_debounce;
    // Raised whenever the key changes (and when the runner goes): a search
    // started under another value has been overtaken.
    std::shared_ptr<std::atomic<quint64>> m_generation = std::make_shared<std::atomic<quint64>>(0);
    QFuture<LibrarySearch::Hit> m_running;
    std::shared_ptr<LibraryBodyCache> m_cache = std::make_shared<LibraryBodyCache>();
};

} // namespace panes
