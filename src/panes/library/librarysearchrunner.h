#pragma once
// The library column's search task: 0.25 s after the last change of the
// search key it runs LibrarySearch on a worker thread over the live pieces
// and keeps the result as the memo, valid while its key is the current one.
// A search overtaken by a new key is cancelled: its body reads answer none
// from then on and its result is never kept.

#include "panes/library/librarysearch.h"

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

// Piece bodies as PostStore reads them, kept by piece with the path of the
// post.md read and its modification time and size: a file that changed is
// read again, so the answers are those of a fresh read. A known piece costs
// one stat rather than a walk of the Home's projects. Safe to share between
// threads.
class LibraryBodyCache {
public:
    std::optional<QString> body(const library::Post &post, const QString &home);
    qint64 readCount() const { return m_reads.load(); }
    void clear();

private:
    struct Entry {
        QString path;
        qint64 modifiedNs = 0;
        qint64 size = 0;
        std::optional<QString> body;
    };
    static constexpr qsizetype maxCachedChars = 64 * 1024 * 1024;

    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
    qsizetype m_chars = 0;
    std::atomic<qint64> m_reads{0};
};

class LibrarySearchRunner : public QObject {
    Q_OBJECT
public:
    enum class ListState { notSearching, waiting, results, noMatch };
    // Reads one piece's body; called on the worker thread.
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

    // Injectable for tests; set before the first query.
    BodyReader bodyReader;
    void setDebounce(std::chrono::milliseconds wait) { m_debounce.setInterval(wait); }
    const std::shared_ptr<LibraryBodyCache> &bodyCache() const { return m_cache; }

    // "1 match", "3 matches".
    static QString matchCaption(qsizetype count);
    // "No piece’s title or body contains “<query>”."
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
    void setSnapshot(std::optional<LibrarySearch::Snapshot> snapshot);

    QPointer<model::PostsModel> m_model;
    QString m_homePath;
    QString m_query;
    LibrarySearch::SearchKey m_key;
    std::optional<LibrarySearch::Snapshot> m_snapshot;
    QTimer m_debounce;
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
    std::shared_ptr<LibraryBodyCache> m_cache = std::make_shared<LibraryBodyCache>();
};

} // namespace panes
