#include "model/postslibrary.h"

#include "foundation/fs.h"
#include "foundation/notify.h"
#include "foundation/text.h"
#include "library/poststore.h"
#include "model/postsmodel.h"

#include <QCoreApplication>
#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace model {

using namespace Qt::StringLiterals;
using library::Post;
namespace PostStore = library::PostStore;

PostsLibrary::PostsLibrary(PostsModel &model) : m_model(model), m_scanCache(std::make_shared<library::PostScanCache>())
{
    m_homeReturnPoll.setInterval(PostsModel::homeReturnPollInterval);
    QObject::connect(&m_homeReturnPoll, &QTimer::timeout, &m_model, [this] {
        if (!m_watchedHome || !QFileInfo(*m_watchedHome).isDir())
            return;
        m_homeReturnPoll.stop();
        // Watches that outlived the Home's absence are on folders that moved
        // away with it (a renamed Home), not on the ones now at its path.
        m_watcher.stop();
        startWatching(*m_watchedHome);
        rescanLater();
    });
}

void PostsLibrary::stop()
{
    m_homeReturnPoll.stop();
    m_watcher.stop();
}

void PostsLibrary::setPosts(const QList<Post> &posts)
{
    foundation::storeAndNotify(m_model, m_posts, posts, &PostsModel::postsChanged);
}

void PostsLibrary::bumpContentRevision()
{
    ++m_contentRevision;
    emit m_model.contentRevisionChanged();
}

std::optional<Post> PostsLibrary::postWithID(const QString &id) const
{
    for (const Post &post : m_posts) {
        if (post.id == id)
            return post;
    }
    return std::nullopt;
}

QString PostsLibrary::displayTitle(const QString &id) const
{
    const std::optional<Post> post = postWithID(id);
    return post ? post->title : id;
}

QString PostsLibrary::missingHomeMessage(const QString &home)
{
    return u"The library folder %1 is missing — connect its drive or choose another Home."_s.arg(home);
}

void PostsLibrary::reportMissingHome(const std::optional<QString> &home)
{
    if (home) {
        m_missingHomeReport = missingHomeMessage(*home);
        m_model.setLastError(m_missingHomeReport);
        m_homeReturnPoll.start();
        return;
    }
    m_homeReturnPoll.stop();
    // Only the report itself is withdrawn, never another error.
    if (m_missingHomeReport && m_model.lastError() == m_missingHomeReport)
        m_model.setLastError(std::nullopt);
    m_missingHomeReport.reset();
}

void PostsLibrary::startWatching(const QString &home)
{
    // A Home whose watches went (its drive left, a root folder was deleted)
    // is started again.
    if (m_watchedHome == home && m_watcher.watchesEveryRoot())
        return;
    foundation::storeAndNotify(m_model, m_watchedHome, std::optional<QString>(home), &PostsModel::watchedHomeChanged);
    // Creating the Home itself would fill the empty mount point of an
    // unplugged drive with a new, empty library.
    if (!QFileInfo(home).isDir()) {
        m_watcher.stop();
        reportMissingHome(home);
        return;
    }
    reportMissingHome(std::nullopt);
    QStringList folders;
    for (const PostStore::Root root : {PostStore::Root::projects, PostStore::Root::archive}) {
        folders.append(PostStore::rootPath(home, root));
        QDir().mkpath(folders.last());
    }
    const QPointer<PostsModel> self(&m_model);
    m_watcher.onEvent = [self] {
        if (self)
            self->rescanLater();
    };
    // A large library's walk takes long enough to hold up the first window.
    m_watcher.startInBackground(folders);
}

void PostsLibrary::rescanLater()
{
    const QPointer<PostsModel> self(&m_model);
    QMetaObject::invokeMethod(
        &m_model,
        [self] {
            if (self)
                QCoro::Task<void> detached = self->rescan();
        },
        Qt::QueuedConnection);
}

void PostsLibrary::settleBackgroundWork()
{
    // A finished scan hands its result over through the event loop, and
    // applying it may start another: repeat until the pool stays idle.
    do {
        PostsModel::libraryPool()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    } while (PostsModel::libraryPool()->activeThreadCount() > 0);
}

QCoro::Task<void> PostsLibrary::rescan()
{
    if (!m_watchedHome)
        co_return;
    const QString home = *m_watchedHome;
    std::optional<QString> openID;
    if (const auto open = m_model.openPiece(); open && open->second == home)
        openID = open->first;
    const std::shared_ptr<EditorSession> sessionAtStart = m_model.sharedSession();
    // The disk text is read after this point: a write or reload of the
    // session in the meantime makes it stale, and no evidence of a conflict.
    const quint64 syncsAtStart = m_model.sharedSession() ? m_model.sharedSession()->diskSyncCount() : 0;
    const quint64 serial = ++m_rescansStarted;
    const qint64 missesBefore = m_scanCache->missCount();

    struct Result {
        bool homeExists = false;
        QList<Post> posts;
        std::optional<QString> openFolder;
        std::optional<QString> diskText;
    };
    const QPointer<PostsModel> self(&m_model);
    // A named future, not a temporary inside co_await (GCC 12 mishandles those).
    QFuture<Result> scanning =
        QtConcurrent::run(PostsModel::libraryPool(), [scan = m_model.scanLibrary, cache = m_scanCache, home, openID] {
            Result result;
            result.homeExists = QFileInfo(home).isDir();
            if (!result.homeExists)
                return result;
            result.posts = scan(home, cache);
            if (openID) {
                result.openFolder = PostStore::folderPath(*openID, home);
                result.diskText = PostStore::readText(*openID, home);
            }
            return result;
        });
    const Result result = co_await scanning;
    // Dropped when the model is gone, the Home changed, or a newer scan has
    // already published.
    if (!self || m_watchedHome != home || serial <= m_rescanApplied)
        co_return;
    m_rescanApplied = serial;

    // What a draft of the open piece's words would be, while the list still
    // has the piece.
    const bool openAsOutline = openID && m_model.selectedPostID() == openID && !m_model.showsProse();
    const QString openProject = m_model.projectForNewPiece();
    if (result.posts != m_posts) {
        setPosts(result.posts);
        bumpContentRevision();
    } else if (m_scanCache->missCount() > missesBefore) {
        bumpContentRevision();
    }
    // A Home that is gone as a whole (its drive unplugged) lists nothing, but
    // its open piece was not deleted: the session and its text stay.
    if (!result.homeExists) {
        reportMissingHome(home);
        co_return;
    }
    reportMissingHome(std::nullopt);
    // projects/ or archive/ deleted under a Home that stays: watch them anew,
    // and scan once more for what came before the new watches.
    if (m_watcher.isRunning() && !m_watcher.watchesEveryRoot()) {
        startWatching(home);
        if (m_watcher.watchesEveryRoot())
            rescanLater();
    }
    const Post::ContentType openType = openAsOutline ? Post::ContentType::outline : Post::ContentType::post;
    if (openID && sessionAtStart == m_model.sharedSession()
        && result.openFolder != m_model.sharedSession()->folderPath())
        m_model.followOpenPiece(home, openType, openProject);
    if (m_model.selectedPostID() && !postWithID(*m_model.selectedPostID())
        && !PostStore::folderPath(*m_model.selectedPostID(), home)) {
        // The open piece's own way out keeps its unsaved words.
        if (const auto open = m_model.openPiece();
            open && open->first == *m_model.selectedPostID() && open->second == home)
            m_model.followOpenPiece(home, openType, openProject);
        else
            m_model.setSelectedPostID(std::nullopt);
    }
    if (sessionAtStart && sessionAtStart == m_model.sharedSession()
        && m_model.sharedSession()->diskSyncCount() == syncsAtStart && result.diskText)
        m_model.sharedSession()->diskDidChange(*result.diskText);
    m_model.refreshOpenPieceCards();
}

QStringList PostsLibrary::projectNames() const
{
    if (!m_watchedHome)
        return {u"posts"_s};
    QStringList names;
    const std::optional<QStringList> entries =
        foundation::fs::tryListFolder(PostStore::rootPath(*m_watchedHome, PostStore::Root::projects));
    for (const QString &name : entries.value_or(QStringList())) {
        if (!name.startsWith(u'.') && !names.contains(name))
            names.append(name);
    }
    if (!names.contains(u"posts"_s))
        names.append(u"posts"_s);
    // Natural order in every locale, the C locale included.
    foundation::text::DisplayCollator().sort(names);
    return names;
}

} // namespace model
