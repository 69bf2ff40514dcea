#pragma once
// One inotify stream over a list of folders that runs an action on the main
// thread after each batch of file events. Qt's own watcher is not recursive,
// so this one walks the folders itself and follows folders as they appear.

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
    void stop();
    bool isRunning() const;
    int watchCount() const; // inotify watches held now
    // Whether each folder given to start still has its watch: a folder that
    // was deleted, or whose drive left, loses it for good.
    bool watchesEveryRoot() const;

    // The first event of a batch opens it; onEvent runs this long after.
    static constexpr std::chrono::milliseconds latency{500};

private:
    class Stream;
    std::unique_ptr<Stream> m_stream;
};

} // namespace model
