#pragma once
// One inotify stream over a list of folders that runs an action on the main
// thread after each batch of file events. Qt's own watcher is not recursive,
// so this one walks the folders itself and follows folders as they appear.

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

namespace model {

class PostsWatcher {
public:
    PostsWatcher();
    ~PostsWatcher(); // stops (teardown)
    PostsWatcher(const PostsWatcher &) = delete;
    PostsWatcher &operator=(const PostsWatcher &) = delete;

    // Runs on the main thread once per batch.
    std::function<void()> onEvent;

    // Stops a running watch first. recursive: every folder below each path, and folders
    // created later are added as they appear; otherwise only the given folders themselves.
    // Folders that cannot be watched are skipped; with none at all the watcher stays stopped.
    void start(const QStringList &folders, bool recursive = true);
    // Like a recursive start, but only the given folders are watched before it
    // returns: the walk below them runs on a worker thread (a large library
    // takes a quarter of a second). Nothing made meanwhile is lost: folders
    // appearing during the walk are watched once it is done, and a batch then
    // opens for what changed where no watch was yet (onEvent runs once more).
    void startInBackground(const QStringList &folders);
    void stop();
    bool isRunning() const;
    // Whether the walk of startInBackground (or one after a lost queue) still runs.
    bool isSettingUp() const;
    int watchCount() const; // inotify watches held now
    // Whether each folder given to start still has its watch at its path: a
    // folder that was deleted, or whose drive left, loses it for good, and
    // one moved away along with its parent holds it elsewhere.
    bool watchesEveryRoot() const;

    // Runs on the walking thread before the walk below each given folder
    // (tests hold a walk there). Taken when a walk starts.
    std::function<void(const QString &folder)> beforeBackgroundWalk;

    // The first event of a batch opens it; onEvent runs this long after.
    static constexpr std::chrono::milliseconds latency{500};

private:
    class Stream;
    // Opens a stream on the folders; walkNow: the walk below them too. False
    // when nothing could be watched.
    bool open(const QStringList &folders, bool recursive, bool walkNow);
    std::unique_ptr<Stream> m_stream;
};

} // namespace model
