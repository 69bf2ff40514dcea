#include "model/postswatcher.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace model {

namespace {

// Every change to a folder's entries and to the files in it; IN_ONLYDIR so a
// file swapped in for a folder is never watched.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM
                                   | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// How deep a walk goes below a watched folder; each level holds a descriptor.
constexpr int kMaxDepth = 64;

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
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    void addRoot(const QByteArray &path)
    {
        m_roots.append(path);
        addTree(path, true);
    }
    int count() const { return int(m_paths.size()); }
    // Asked after every scan: one pass over the watches, nothing allocated.
    bool watchesEveryRoot() const
    {
        qsizetype found = 0;
        for (const QByteArray &path : m_paths)
            found += m_roots.contains(path) ? 1 : 0;
        return found >= m_roots.size();
    }

private:
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

    // True when path is watched now and was not yet reached in this walk.
    // Unwatchable folders (gone, not a folder, no permission, out of
    // watches) are skipped.
    bool watch(const QByteArray &path, bool followLink, QSet<int> &seen)
    {
        const int wd = ::inotify_add_watch(m_fd, path.constData(), kFolderEvents | (followLink ? 0 : IN_DONT_FOLLOW));
        if (wd < 0 || seen.contains(wd))
            return false;
        seen.insert(wd);
        m_paths.insert(wd, path);
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
        if (links == 2 || depth >= kMaxDepth) {
            ::close(fd);
            return;
        }
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return;
        }
        qint64 left = links > 2 ? qint64(links) - 2 : -1;
        while (left != 0) {
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

    void handle(const inotify_event &event)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            // Folders made while the queue overflowed were never announced.
            if (m_recursive) {
                for (const QByteArray &root : std::as_const(m_roots))
                    addTree(root, true);
            }
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
        if (!m_recursive || !(event.mask & IN_ISDIR) || event.len == 0)
            return;
        const auto parent = m_paths.constFind(event.wd);
        if (parent == m_paths.constEnd())
            return;
        const QByteArray path = *parent + '/' + QByteArray(event.name);
        if (event.mask & IN_MOVED_FROM)
            dropTree(path);
        if (event.mask & (IN_CREATE | IN_MOVED_TO))
            addTree(path, false);
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
                handle(*event);
                p += sizeof(inotify_event) + event->len;
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
    QHash<int, QByteArray> m_paths;
    bool m_batchOpen = false;
};

PostsWatcher::PostsWatcher() = default;

PostsWatcher::~PostsWatcher()
{
    stop();
}

void PostsWatcher::start(const QStringList &folders, bool recursive)
{
    stop();
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return;
    auto stream = std::make_unique<Stream>(*this, fd, recursive);
    for (const QString &folder : folders)
        stream->addRoot(QFile::encodeName(QDir::cleanPath(folder)));
    if (stream->count() == 0)
        return;
    m_stream = std::move(stream);
}

void PostsWatcher::stop()
{
    m_stream.reset();
}

bool PostsWatcher::isRunning() const
{
    return m_stream != nullptr;
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
