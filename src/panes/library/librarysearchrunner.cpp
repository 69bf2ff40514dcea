#include "librarysearchrunner.h"

#include "foundation/fs.h"
#include "foundation/threadpools.h"
#include "library/frontmatter.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "panes/library/librarygroups.h"

#include <QFutureWatcher>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace panes {

using library::Post;

namespace {

using library::PostStore::Root;
using LibrarySearch::Hit;
namespace PostStore = library::PostStore;
namespace fs = foundation::fs;

// Searches through an injected reader, one at a time: an overtaken search
// answers none for every body and ends quickly, and the next one waits for
// it rather than sharing the disk.
QThreadPool *searchPool()
{
    static QThreadPool *const pool = foundation::namedPool("library search", {.maxThreads = 1});
    return pool;
}

// The reading and testing of bodies: a cold search is bound by opening,
// reading and folding thousands of small files, which overlap well.
QThreadPool *bodyPool()
{
    static QThreadPool *const pool =
        foundation::namedPool("library search bodies", {.maxThreads = qBound(2, QThread::idealThreadCount(), 4)});
    return pool;
}

// The post.md of a piece in the folder the scan found it in; empty for names
// that could leave their folder.
QString scannedPostPath(const Post &post, const QString &home)
{
    if (!PostStore::isConfinedName(post.project) || !PostStore::isConfinedName(post.id))
        return {};
    return PostStore::rootPath(home, post.isArchived ? Root::archive : Root::projects) + u'/' + post.project + u'/'
           + post.id + u'/' + PostStore::kPostFileName;
}

} // namespace

std::shared_ptr<const LibraryBodyCache::Body> LibraryBodyCache::body(const Post &post, const QString &home)
{
    const QString key = home + u'\n' + post.id;
    const QString scanned = scannedPostPath(post, home);
    {
        std::unique_lock lock(m_mutex);
        const auto it = m_entries.constFind(key);
        if (it != m_entries.cend()) {
            const Entry known = *it;
            lock.unlock();
            // Kept while the file is the one read, and the scan has not
            // found the piece in another folder since.
            const bool unchanged = fs::regularFileStamp(known.path) == known.stamp;
            if (unchanged && (known.path == scanned || scanned.isEmpty() || !fs::regularFileStamp(scanned))) {
                lock.lock();
                const auto again = m_entries.find(key);
                if (again != m_entries.end() && again->body == known.body)
                    again->lastSearch = m_search;
                return known.body;
            }
        }
    }
    fs::FileStamp stamp;
    QString path = scanned;
    std::shared_ptr<const Body> found = path.isEmpty() ? nullptr : read(path, &stamp);
    if (!found) {
        // Moved since the scan, or never where the scan put it: looked for
        // by id, as PostStore reads it.
        const std::optional<QString> folder = PostStore::folderPath(post.id, home);
        if (!folder)
            return nullptr;
        const QString located = *folder + u'/' + PostStore::kPostFileName;
        if (located == path)
            return nullptr;
        path = located;
        found = read(path, &stamp);
        if (!found)
            return nullptr;
    }
    keep(key, Entry{path, stamp, found});
    return found;
}

std::shared_ptr<const LibraryBodyCache::Body> LibraryBodyCache::read(const QString &path, fs::FileStamp *stamp)
{
    try {
        // The stamp is of the file opened, so it always belongs to the text.
        QString text = fs::readUtf8File(path, fs::kDefaultReadCap, stamp);
        ++m_reads;
        return std::make_shared<const Body>(library::PostFrontmatter::splitFrontmatter(std::move(text)).body);
    } catch (const fs::FileError &) {
        return nullptr;
    }
}

void LibraryBodyCache::keep(const QString &key, Entry entry)
{
    const std::lock_guard lock(m_mutex);
    entry.lastSearch = m_search;
    const qsizetype size = entry.body->size();
    const auto old = m_entries.find(key);
    if (old != m_entries.end()) {
        m_chars -= old->body->size();
        m_entries.erase(old);
    }
    if (m_chars + size > m_maxChars)
        dropStale();
    if (m_chars + size > m_maxChars)
        return;
    m_chars += size;
    m_entries.insert(key, std::move(entry));
}

void LibraryBodyCache::dropStale()
{
    // Within one search no entry becomes stale, so one pass per search does.
    if (m_droppedAt == m_search)
        return;
    m_droppedAt = m_search;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->lastSearch + 1 < m_search) {
            m_chars -= it->body->size();
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}

void LibraryBodyCache::beginSearch()
{
    const std::lock_guard lock(m_mutex);
    ++m_search;
}

qsizetype LibraryBodyCache::cachedChars() const
{
    const std::lock_guard lock(m_mutex);
    return m_chars;
}

qsizetype LibraryBodyCache::cachedBodies() const
{
    const std::lock_guard lock(m_mutex);
    return m_entries.size();
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
    m_generation->fetch_add(1);
    m_running.cancel();
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
    m_generation->fetch_add(1);
    m_running.cancel();
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
    const QList<Post> pieces = LibraryGroups::livePieces(m_model->posts());
    if (bodyReader)
        startReaderSearch(m_key, pieces);
    else
        startCachedSearch(m_key, pieces);
    emit searchStarted();
}

void LibrarySearchRunner::startCachedSearch(const LibrarySearch::SearchKey &key, const QList<Post> &pieces)
{
    const quint64 generation = m_generation->load();
    m_cache->beginSearch();
    // Each piece is tested on its own, so they can be read in any order; the
    // filter's order is restored from the hits.
    const auto query = std::make_shared<const LibrarySearch::Query>(key.query);
    const auto test = [query, cache = m_cache, home = key.homePath, current = m_generation,
                       generation](const Post &post) -> Hit {
        if (current->load() != generation)
            return Hit::none;
        if (query->titleHit(post))
            return Hit::title;
        const std::shared_ptr<const LibraryBodyCache::Body> body = cache->body(post, home);
        return body && query->contains(*body) ? Hit::body : Hit::none;
    };
    // The watcher, a child of this runner, goes with it, and a late result
    // then reaches no one.
    auto *watcher = new QFutureWatcher<Hit>(this);
    connect(watcher, &QFutureWatcher<Hit>::finished, this, [this, watcher, key, pieces, generation] {
        watcher->deleteLater();
        if (isCurrent(generation))
            setSnapshot(LibrarySearch::Snapshot{key, LibrarySearch::ordered(pieces, watcher->future().results())});
    });
    m_running = QtConcurrent::mapped(bodyPool(), pieces, test);
    watcher->setFuture(m_running);
}

void LibrarySearchRunner::startReaderSearch(const LibrarySearch::SearchKey &key, const QList<Post> &pieces)
{
    const quint64 generation = m_generation->load();
    const LibrarySearch::BodyProvider provider = [reader = bodyReader, home = key.homePath, current = m_generation,
                                                  generation](const Post &post) -> std::optional<QString> {
        if (current->load() != generation)
            return std::nullopt;
        return reader(post, home);
    };
    auto *watcher = new QFutureWatcher<QList<Post>>(this);
    connect(watcher, &QFutureWatcher<QList<Post>>::finished, this, [this, watcher, key, generation] {
        watcher->deleteLater();
        if (isCurrent(generation))
            setSnapshot(LibrarySearch::Snapshot{key, watcher->result()});
    });
    watcher->setFuture(QtConcurrent::run(searchPool(), [query = key.query, pieces, provider] {
        return LibrarySearch::results(query, pieces, provider);
    }));
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
    return u"No piece's title or body contains \u201c"_s + trimmedQuery + u"\u201d."_s;
}

} // namespace panes
