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
#include <vector>

namespace model {

namespace {

// Every change to a folder's entries and to the files in it; IN_ONLYDIR so a
// file swapped in for a folder is never watched.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM
                                   | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The sub-folders of path, symbolic links left out.
std::vector<QByteArray> subFolders(const QByteArray &path)
{
    std::vector<QByteArray> folders;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return folders;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return folders;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (isFolder)
            folders.push_back(path + '/' + entry->d_name);
    }
    ::closedir(dir);
    return folders;
}

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

private:
    // Watches path and, when recursive, every folder below it. A folder seen
    // again (a move, a walk after an overflow) keeps its watch under its new
    // path. The given roots may be links; nothing below them is followed.
    void addTree(const QByteArray &path, bool isRoot)
    {
        QSet<int> seen;
        std::vector<QByteArray> pending{path};
        while (!pending.empty()) {
            const QByteArray folder = std::move(pending.back());
            pending.pop_back();
            const bool followLink = isRoot && folder == path;
            const int wd =
                ::inotify_add_watch(m_fd, folder.constData(), kFolderEvents | (followLink ? 0 : IN_DONT_FOLLOW));
            // Unwatchable folders (gone, no permission, out of watches) are skipped.
            if (wd < 0 || seen.contains(wd))
                continue;
            seen.insert(wd);
            m_paths.insert(wd, folder);
            if (!m_recursive)
                continue;
            // Files and folders made before the watch was placed are found
            // here; the event that led here opens the batch that scans them.
            std::vector<QByteArray> below = subFolders(folder);
            pending.insert(pending.end(), std::make_move_iterator(below.begin()), std::make_move_iterator(below.end()));
        }
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

} // namespace model
