#include "librarysearchrunner.h"

#include "foundation/fs.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "panes/library/librarygroups.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace panes {

using library::Post;

namespace {

Q_GLOBAL_STATIC(QThreadPool, g_searchPool)

// One search at a time: an overtaken search answers none for every body and
// ends quickly, and the next one waits for it rather than sharing the disk.
QThreadPool *searchPool()
{
    static QThreadPool *const pool = [] {
        QThreadPool *created = g_searchPool();
        created->setMaxThreadCount(1);
        return created;
    }();
    return pool;
}

} // namespace

std::optional<QString> LibraryBodyCache::body(const Post &post, const QString &home)
{
    const QString key = home + u'\n' + post.id;
    {
        std::unique_lock lock(m_mutex);
        const auto it = m_entries.constFind(key);
        if (it != m_entries.cend()) {
            const Entry known = *it;
            lock.unlock();
            const auto stamp = foundation::fs::regularFileStamp(known.path);
            if (stamp && stamp->modifiedNs == known.modifiedNs && stamp->size == known.size)
                return known.body;
        }
    }
    const std::optional<QString> folder = library::PostStore::folderPath(post.id, home);
    if (!folder)
        return std::nullopt;
    const QString path = *folder + u'/' + library::PostStore::kPostFileName;
    const std::optional<foundation::fs::FileStamp> stamp = foundation::fs::regularFileStamp(path);
    if (!stamp)
        return std::nullopt;
    // Read after the stamp: a change in between leaves a newer body under an
    // older stamp, which the next search reads again.
    std::optional<QString> text = library::PostStore::readText(post.id, home);
    ++m_reads;
    const std::lock_guard lock(m_mutex);
    if (m_chars > maxCachedChars) {
        m_entries.clear();
        m_chars = 0;
    }
    const auto old = m_entries.constFind(key);
    if (old != m_entries.cend() && old->body)
        m_chars -= old->body->size();
    m_entries.insert(key, Entry{path, stamp->modifiedNs, stamp->size, text});
    if (text)
        m_chars += text->size();
    return text;
}

void LibraryBodyCache::clear()
{
    const std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_chars = 0;
}

LibrarySearchRunner::LibrarySearchRunner(model::PostsModel *model, const QString &homePath, QObject *parent)
    : QObject(parent), m_model(model), m_homePath(homePath)
{
    bodyReader = [cache = m_cache](const Post &post, const QString &home) { return cache->body(post, home); };
    m_debounce.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the wait is a floor.
    m_debounce.setTimerType(Qt::PreciseTimer);
    m_debounce.setInterval(defaultDebounce);
    connect(&m_debounce, &QTimer::timeout, this, &LibrarySearchRunner::startSearch);
    m_key.homePath = homePath;
    if (m_model) {
        m_key.revision = m_model->contentRevision();
        connect(m_model, &model::PostsModel::contentRevisionChanged, this, &LibrarySearchRunner::refreshKey);
    }
}

LibrarySearchRunner::~LibrarySearchRunner()
{
    m_cancelled->store(true);
}

void LibrarySearchRunner::setQuery(const QString &query)
{
    m_query = query;
    refreshKey();
}

void LibrarySearchRunner::refreshKey()
{
    LibrarySearch::SearchKey key{LibrarySearch::trimmedQuery(m_query), m_homePath,
                                 m_model ? m_model->contentRevision() : 0};
    if (key == m_key)
        return;
    m_key = std::move(key);
    emit currentKeyChanged();
    restart();
}

void LibrarySearchRunner::restart()
{
    // The task of the old key ends here: its wait, or its reads.
    m_cancelled->store(true);
    m_cancelled = std::make_shared<std::atomic_bool>(false);
    m_debounce.stop();
    if (m_key.query.isEmpty())
        setSnapshot(std::nullopt);
    else
        m_debounce.start();
}

void LibrarySearchRunner::startSearch()
{
    if (!m_model)
        return;
    const LibrarySearch::SearchKey key = m_key;
    const std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
    const QList<Post> pieces = LibraryGroups::livePieces(m_model->posts());
    const LibrarySearch::BodyProvider provider = [reader = bodyReader, home = key.homePath,
                                                  cancelled](const Post &post) -> std::optional<QString> {
        if (cancelled->load())
            return std::nullopt;
        return reader(post, home);
    };
    // Bodies are read off the main thread; the watcher, a child of this
    // runner, goes with it, and a late result then reaches no one.
    auto *watcher = new QFutureWatcher<QList<Post>>(this);
    connect(watcher, &QFutureWatcher<QList<Post>>::finished, this, [this, watcher, key, cancelled] {
        watcher->deleteLater();
        if (!cancelled->load())
            setSnapshot(LibrarySearch::Snapshot{key, watcher->result()});
    });
    watcher->setFuture(QtConcurrent::run(searchPool(), [query = key.query, pieces, provider] {
        return LibrarySearch::results(query, pieces, provider);
    }));
    emit searchStarted();
}

void LibrarySearchRunner::setSnapshot(std::optional<LibrarySearch::Snapshot> snapshot)
{
    if (snapshot == m_snapshot)
        return;
    m_snapshot = std::move(snapshot);
    emit snapshotChanged();
}

LibrarySearchRunner::ListState LibrarySearchRunner::listState() const
{
    if (!isSearching())
        return ListState::notSearching;
    if (!m_snapshot || !(m_snapshot->key == m_key))
        return ListState::waiting;
    return m_snapshot->results.isEmpty() ? ListState::noMatch : ListState::results;
}

QString LibrarySearchRunner::matchCaption(qsizetype count)
{
    return QString::number(count) + (count == 1 ? u" match"_s : u" matches"_s);
}

QString LibrarySearchRunner::noMatchText(const QString &trimmedQuery)
{
    return u"No piece\u2019s title or body contains \u201c"_s + trimmedQuery + u"\u201d."_s;
}

} // namespace panes
