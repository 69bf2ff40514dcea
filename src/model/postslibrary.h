#pragma once
// The listing of the library: the scanned pieces of the Home, the watches on
// its folders, and the rescans they start. Scans run off the main thread and
// come back numbered: a result older than one already applied is dropped, so
// a slow scan never publishes stale state. A missing Home is reported and
// looked for now and then. Owned by PostsModel, which publishes its state.

#include "library/post.h"
#include "library/postscan.h"
#include "model/postswatcher.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

namespace model {

class PostsModel;

class PostsLibrary {
public:
    explicit PostsLibrary(PostsModel &model);
    PostsLibrary(const PostsLibrary &) = delete;
    PostsLibrary &operator=(const PostsLibrary &) = delete;

    const QList<library::Post> &posts() const { return m_posts; }
    qint64 contentRevision() const { return m_contentRevision; }
    const std::optional<QString> &watchedHome() const { return m_watchedHome; }
    const std::shared_ptr<library::PostScanCache> &scanCache() const { return m_scanCache; }
    PostsWatcher &watcher() { return m_watcher; }
    const PostsWatcher &watcher() const { return m_watcher; }
    std::optional<library::Post> postWithID(const QString &id) const;
    // The piece's title, or the id itself when it is not listed.
    QString displayTitle(const QString &id) const;
    QStringList projectNames() const;

    static QString missingHomeMessage(const QString &home);
    void startWatching(const QString &home);
    // Stops the watches and the looking for a missing Home.
    void stop();
    QCoro::Task<void> rescan();
    void rescanLater();
    void settleBackgroundWork();

private:
    void setPosts(const QList<library::Post> &posts);
    void bumpContentRevision();
    // Puts the missing-Home message for home into lastError, or with none
    // withdraws an earlier one.
    void reportMissingHome(const std::optional<QString> &home);

    PostsModel &m_model;
    QList<library::Post> m_posts;
    qint64 m_contentRevision = 0;
    std::optional<QString> m_watchedHome;
    std::shared_ptr<library::PostScanCache> m_scanCache;
    PostsWatcher m_watcher;
    std::optional<QString> m_missingHomeReport;
    // Looks for a missing Home now and then: watches do not outlive the drive
    // they were on, so nothing else would announce its return.
    QTimer m_homeReturnPoll;
    // Numbers of the rescans started and last applied.
    quint64 m_rescansStarted = 0;
    quint64 m_rescanApplied = 0;
};

} // namespace model
