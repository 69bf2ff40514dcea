#include "model/postswatcher.h"

#include "foundation/threadpools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace model {

namespace {

// The background walks that place a new stream's watches, as many at once as
// the machine has cores.
QThreadPool *walkPool()
{
    static QThreadPool *const pool = foundation::namedPool("watch walks", {.maxThreads = QThread::idealThreadCount()});
    return pool;
}

// Every change to a folder's entries and to the files in it; IN_ONLYDIR so a
// file swapped in for a folder is never watched.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM
                                   | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// How deep a walk goes below a watched folder; each level holds a descriptor.
constexpr int kMaxDepth = 64;

// One walk that places watches on an inotify descriptor and tells found of
// each. It touches nothing else, so it may run on any thread; a stop flag
// that is set ends it early.
class TreeWalk {
public:
    using Found = std::function<void(int wd, const QByteArray &path)>;

    TreeWalk(int fd, bool recursive, Found found, const std::atomic<bool> *stopped = nullptr)
        : m_fd(fd), m_recursive(recursive), m_found(std::move(found)), m_stopped(stopped)
    {}

    // Watches path and, when recursive, every folder below it. A folder seen
    // again (a move, a walk after an overflow) keeps its watch under its new
    // path. The given roots may be links; nothing below them is followed.
    void addTree(const QByteArray &path, bool isRoot)
    {
        QSet<int> seen;
        if (!watch(path, isRoot, seen) || !m_recursive)
            return;
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
        struct stat st {};
        if (fd < 0)
            return;
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return;
        }
        walk(fd, path, st.st_nlink, seen, 0);
    }

private:
    bool stopped() const { return m_stopped && m_stopped->load(std::memory_order_relaxed); }

    // True when path is watched now and was not yet reached in this walk.
    // Unwatchable folders (gone, not a folder, no permission, out of
    // watches) are skipped.
    bool watch(const QByteArray &path, bool followLink, QSet<int> &seen)
    {
        const int wd = ::inotify_add_watch(m_fd, path.constData(), kFolderEvents | (followLink ? 0 : IN_DONT_FOLLOW));
        if (wd < 0 || seen.contains(wd))
            return false;
        seen.insert(wd);
        m_found(wd, path);
        return true;
    }

    // Watches the folders below the watched folder path, open as fd (taken
    // over). Its link count, read after its watch was placed, is 2 plus its
    // sub-folders where the file system counts them (1 where it does not):
    // leaves are never opened and a listing stops at the last sub-folder.
    // A folder made meanwhile is announced by an event instead, and the
    // event that led to a new folder opens the batch that scans its files.
    void walk(int fd, const QByteArray &path, nlink_t links, QSet<int> &seen, int depth)
    {
        if (links == 2 || depth >= kMaxDepth || stopped()) {
            ::close(fd);
            return;
        }
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return;
        }
        qint64 left = links > 2 ? qint64(links) - 2 : -1;
        while (left != 0 && !stopped()) {
            const dirent *entry = ::readdir(dir);
            if (!entry)
                break;
            if ((entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) || std::strcmp(entry->d_name, ".") == 0
                || std::strcmp(entry->d_name, "..") == 0)
                continue;
            if (entry->d_type == DT_DIR && left > 0)
                --left;
            const QByteArray child = path + '/' + entry->d_name;
            if (!watch(child, false, seen))
                continue;
            if (entry->d_type == DT_UNKNOWN && left > 0)
                --left;
            struct stat st {};
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) || st.st_nlink == 2)
                continue;
            const int childFd = ::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (childFd >= 0)
                walk(childFd, child, st.st_nlink, seen, depth + 1);
        }
        ::closedir(dir);
    }

    const int m_fd;
    const bool m_recursive;
    const Found m_found;
    const std::atomic<bool> *const m_stopped;
};

// What handling an event needs of it, kept while a walk runs.
struct FolderEvent {
    int wd = -1;
    uint32_t mask = 0;
    QByteArray name;
};

// Only these can change which folders are watched; the rest just open a batch.
bool movesWatches(uint32_t mask)
{
    return mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_MOVE_SELF | IN_ISDIR);
}

using Watches = QList<std::pair<int, QByteArray>>;

} // namespace

// The running stream: the inotify descriptor, its notifier and the folder of
// every watch. Destroying it closes the descriptor, which drops every watch.
class PostsWatcher::Stream : public QObject {
public:
    Stream(PostsWatcher &owner, int fd, bool recursive)
        : m_owner(owner), m_fd(fd), m_recursive(recursive), m_notifier(fd, QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
    }
    ~Stream() override
    {
        if (m_walk)
            m_walk->stopped = true;
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    // Watches path, and with walkBelow the folders below it, here and now.
    void addRoot(const QByteArray &path, bool walkBelow)
    {
        m_roots.append(path);
        TreeWalk(m_fd, m_recursive && walkBelow, recordWatch()).addTree(path, true);
        struct stat st {};
        m_rootIDs.append(::stat(path.constData(), &st) == 0 ? FolderID{st.st_dev, st.st_ino} : FolderID{});
    }
    int count() const { return int(m_paths.size()); }
    bool isWalking() const { return m_walk != nullptr; }
    // Asked after every scan: one pass over the watches and a look at each
    // root, nothing allocated. A root whose parent was renamed away (a Home
    // moved aside and made anew) keeps its watch on the folder that left,
    // which the path of the root no longer names.
    bool watchesEveryRoot() const
    {
        qsizetype found = 0;
        for (const QByteArray &path : m_paths)
            found += m_roots.contains(path) ? 1 : 0;
        if (found < m_roots.size())
            return false;
        for (qsizetype i = 0; i < m_roots.size(); ++i) {
            struct stat st {};
            if (::stat(m_roots[i].constData(), &st) != 0 || FolderID{st.st_dev, st.st_ino} != m_rootIDs[i])
                return false;
        }
        return true;
    }

    // Walks below every root on a worker thread, which hands back plain
    // (watch, path) pairs. Until they are in, the events that move folders
    // wait, since their folders may not be known yet; they are applied in
    // order afterwards, so a folder made or moved during the walk is followed.
    void walkInBackground()
    {
        if (m_walk)
            return;
        // The walk places its watches through a descriptor of its own for the
        // same inotify instance: after a stop closes ours, the walk can never
        // reach a later stream that was given the same number, and its watches
        // go when it closes its own.
        const int walkFd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
        if (walkFd < 0) {
            for (const QByteArray &root : std::as_const(m_roots))
                TreeWalk(m_fd, m_recursive, recordWatch()).addTree(root, true);
            return;
        }
        auto walk = std::make_shared<Walk>();
        walk->stream = this;
        m_walk = walk;
        walkPool()->start([walk, walkFd, roots = m_roots, hook = m_owner.beforeBackgroundWalk] {
            Watches found;
            TreeWalk tree(
                walkFd, true,
                [&found](int wd, const QByteArray &path) {
                    found.append({wd, path});
                },
                &walk->stopped);
            for (const QByteArray &root : roots) {
                if (hook)
                    hook(QFile::decodeName(root));
                if (walk->stopped)
                    break;
                tree.addTree(root, true);
            }
            ::close(walkFd);
            QCoreApplication *const app = QCoreApplication::instance();
            if (walk->stopped || !app)
                return;
            QMetaObject::invokeMethod(
                app,
                [walk, found = std::move(found)] {
                    if (!walk->stopped && walk->stream)
                        walk->stream->finishWalk(found);
                },
                Qt::QueuedConnection);
        });
    }

private:
    // Which folder a root was when its watch was placed.
    struct FolderID {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const FolderID &) const = default;
    };

    // One background walk, shared with its thread. stream is used on the main
    // thread only; stopped is set when the stream goes, which ends the walk
    // and drops its result: a later stream (another Home) never sees it.
    struct Walk {
        std::atomic<bool> stopped{false};
        Stream *stream = nullptr;
    };

    TreeWalk::Found recordWatch()
    {
        return [this](int wd, const QByteArray &path) { m_paths.insert(wd, path); };
    }

    void finishWalk(const Watches &found)
    {
        m_walk.reset();
        // No event was applied while the walk ran: what it saw is the latest.
        for (const auto &[wd, path] : found)
            m_paths.insert(wd, path);
        // Then what happened since, in order. A lost queue among it starts
        // another walk, and the rest waits for that one.
        const QList<FolderEvent> held = std::exchange(m_held, {});
        for (const FolderEvent &event : held) {
            if (m_walk)
                m_held.append(event);
            else
                handle(event);
        }
        // A file changed in a folder before its watch was placed told no one:
        // one more batch, and the owner looks at everything again.
        openBatch();
    }

    // A folder that left its place: its watches and those below it go; a
    // move within the watched folders adds them again under the new path.
    void dropTree(const QByteArray &path)
    {
        const QByteArray prefix = path + '/';
        for (auto it = m_paths.begin(); it != m_paths.end();) {
            if (it.value() == path || it.value().startsWith(prefix)) {
                ::inotify_rm_watch(m_fd, it.key());
                it = m_paths.erase(it);
            } else {
                ++it;
            }
        }
    }

    void handle(const FolderEvent &event)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            // Folders made while the queue overflowed were never announced.
            if (m_recursive)
                walkInBackground();
            return;
        }
        if (event.mask & IN_IGNORED) {
            m_paths.remove(event.wd);
            return;
        }
        if (event.mask & IN_MOVE_SELF) {
            // A root that was renamed away no longer stands at its path; its
            // watches go, so the owner sees the root lost and starts anew on
            // whatever takes its place. Other folders are followed through
            // their parent's move events.
            const auto moved = m_paths.constFind(event.wd);
            if (moved != m_paths.constEnd() && m_roots.contains(*moved))
                dropTree(QByteArray(*moved));
            return;
        }
        if (!m_recursive || !(event.mask & IN_ISDIR) || event.name.isEmpty())
            return;
        const auto parent = m_paths.constFind(event.wd);
        if (parent == m_paths.constEnd())
            return;
        const QByteArray path = *parent + '/' + event.name;
        if (event.mask & IN_MOVED_FROM)
            dropTree(path);
        if (event.mask & (IN_CREATE | IN_MOVED_TO))
            TreeWalk(m_fd, m_recursive, recordWatch()).addTree(path, false);
    }

    void readEvents()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        bool any = false;
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            any = true;
            for (const char *p = buffer; p < buffer + n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(p);
                p += sizeof(inotify_event) + event->len;
                if (!movesWatches(event->mask))
                    continue;
                FolderEvent folderEvent{event->wd, event->mask, event->len ? QByteArray(event->name) : QByteArray()};
                if (m_walk)
                    m_held.append(std::move(folderEvent));
                else
                    handle(folderEvent);
            }
        }
        if (any)
            openBatch();
    }

    // The first event of a batch starts the wait; the rest join it.
    void openBatch()
    {
        if (m_batchOpen)
            return;
        m_batchOpen = true;
        // A stopped stream takes its pending batch with it (the timer checks
        // its context). onEvent may stop or restart the watcher: nothing of
        // this stream is touched after it runs.
        QTimer::singleShot(latency, this, [this] {
            m_batchOpen = false;
            const std::function<void()> action = m_owner.onEvent;
            if (action)
                action();
        });
    }

    PostsWatcher &m_owner;
    const int m_fd;
    const bool m_recursive;
    QSocketNotifier m_notifier;
    QList<QByteArray> m_roots;
    QList<FolderID> m_rootIDs; // beside m_roots
    QHash<int, QByteArray> m_paths;
    bool m_batchOpen = false;
    std::shared_ptr<Walk> m_walk;
    QList<FolderEvent> m_held;
};

PostsWatcher::PostsWatcher() = default;

PostsWatcher::~PostsWatcher()
{
    stop();
}

void PostsWatcher::start(const QStringList &folders, bool recursive)
{
    open(folders, recursive, true);
}

void PostsWatcher::startInBackground(const QStringList &folders)
{
    if (open(folders, true, false))
        m_stream->walkInBackground();
}

bool PostsWatcher::open(const QStringList &folders, bool recursive, bool walkNow)
{
    stop();
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return false;
    auto stream = std::make_unique<Stream>(*this, fd, recursive);
    for (const QString &folder : folders)
        stream->addRoot(QFile::encodeName(QDir::cleanPath(folder)), walkNow);
    if (stream->count() == 0)
        return false;
    m_stream = std::move(stream);
    return true;
}

void PostsWatcher::stop()
{
    m_stream.reset();
}

bool PostsWatcher::isRunning() const
{
    return m_stream != nullptr;
}

bool PostsWatcher::isSettingUp() const
{
    return m_stream && m_stream->isWalking();
}

int PostsWatcher::watchCount() const
{
    return m_stream ? m_stream->count() : 0;
}

bool PostsWatcher::watchesEveryRoot() const
{
    return m_stream && m_stream->watchesEveryRoot();
}

} // namespace model
