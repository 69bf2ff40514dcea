#include "model/postsmodel.h"

#include "foundation/error.h"
#include "foundation/fs.h"
#include "foundation/text.h"
#include "library/frontmatter.h"
#include "library/outlinenode.h"
#include "library/piececontents.h"
#include "library/poststore.h"

#include <QCoreApplication>
#include <QCoro/QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace model {

using namespace Qt::StringLiterals;
using library::Post;
namespace PostStore = library::PostStore;
namespace FixCardStore = review::FixCardStore;

const QString PostsModel::noLibraryMessage = u"No library is open yet — nothing was changed."_s;
const QString PostsModel::folderLeftMessage =
    u"This piece's folder left the library — what you typed since the last save stays here as a draft."_s;
const QString PostsModel::homeChangedDuringPassMessage =
    u"The library changed while the pass ran — its Pass State was not advanced."_s;
const QString PostsModel::pieceChangedDuringPassMessage =
    u"The piece was renamed, moved or replaced while the pass ran — its Pass State was not advanced."_s;

namespace {

QPointer<PostsModel> g_current;

// The library's background work: scans and card listings. Never the main
// thread, never Qt's global pool.
Q_GLOBAL_STATIC(QThreadPool, g_libraryPool)

} // namespace

QThreadPool *PostsModel::libraryPool()
{
    static QThreadPool *const pool = [] {
        QThreadPool *created = g_libraryPool();
        created->setMaxThreadCount(2);
        return created;
    }();
    return pool;
}

bool PostsModel::tossSystemCoin()
{
    return QRandomGenerator::system()->bounded(2) == 0;
}

QString PostDraft::initialText(Post::ContentType type)
{
    return type == Post::ContentType::outline ? u"- "_s : u"# Untitled\n\n"_s;
}

PostsModel::PostsModel(QObject *parent)
    : QObject(parent), scanPieceCards(&FixCardStore::cardsForPiece),
      scanLibrary([](const QString &home, const std::shared_ptr<library::PostScanCache> &cache) {
          return library::PostScan::scanLibrary(home, cache.get());
      }),
      m_scanCache(std::make_shared<library::PostScanCache>())
{
    m_homeReturnPoll.setInterval(homeReturnPollInterval);
    connect(&m_homeReturnPoll, &QTimer::timeout, this, [this] {
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

PostsModel::~PostsModel() = default;

PostsModel *PostsModel::current()
{
    return g_current.data();
}

void PostsModel::setCurrent(PostsModel *model)
{
    g_current = model;
}

// --- Setters ---------------------------------------------------------------

void PostsModel::setPosts(const QList<Post> &posts)
{
    store(m_posts, posts, &PostsModel::postsChanged);
}
void PostsModel::setSelectedPostID(const std::optional<QString> &id)
{
    store(m_selectedPostID, id, &PostsModel::selectedPostIDChanged);
}
void PostsModel::setPendingImportURLs(const std::optional<QList<QUrl>> &urls)
{
    store(m_pendingImportURLs, urls, &PostsModel::pendingImportURLsChanged);
}
void PostsModel::setPendingProject(const std::optional<QString> &project)
{
    store(m_pendingProject, project, &PostsModel::pendingProjectChanged);
}
void PostsModel::setAskNewProject(bool ask)
{
    store(m_askNewProject, ask, &PostsModel::askNewProjectChanged);
}
void PostsModel::setLastDraftWasOutline(bool value)
{
    store(m_lastDraftWasOutline, value, &PostsModel::lastDraftWasOutlineChanged);
}
void PostsModel::setOutlineGuardPieceID(const std::optional<QString> &id)
{
    store(m_outlineGuardPieceID, id, &PostsModel::outlineGuardPieceIDChanged);
}
void PostsModel::setProseOverridePostID(const std::optional<QString> &id)
{
    store(m_proseOverridePostID, id, &PostsModel::proseOverridePostIDChanged);
}
void PostsModel::setPendingConversion(const std::optional<PendingConversion> &conversion)
{
    m_writes.setPendingConversion(conversion);
}
void PostsModel::setLastError(const std::optional<QString> &message)
{
    store(m_lastError, message, &PostsModel::lastErrorChanged);
}
void PostsModel::setDraft(const std::optional<PostDraft> &draft)
{
    m_draft = draft;
    emit draftChanged();
}
void PostsModel::setDraftText(const QString &text)
{
    if (!m_draft)
        return;
    m_draft->text = text;
    emit draftChanged();
}
void PostsModel::setSession(std::shared_ptr<EditorSession> session)
{
    m_session = std::move(session);
    emit sessionChanged();
}
void PostsModel::setExternalSession(std::shared_ptr<EditorSession> session)
{
    m_externalSession = std::move(session);
    emit externalSessionChanged();
}
void PostsModel::bumpContentRevision()
{
    ++m_contentRevision;
    emit contentRevisionChanged();
}

// --- Small answers -----------------------------------------------------------

std::optional<std::pair<QString, QString>> PostsModel::openPiece() const
{
    if (!m_session || !(m_session->target().kind() == SessionTarget::Kind::post))
        return std::nullopt;
    return std::make_pair(m_session->target().id(), m_session->target().home());
}

std::optional<Post> PostsModel::postWithID(const QString &id) const
{
    for (const Post &post : m_posts) {
        if (post.id == id)
            return post;
    }
    return std::nullopt;
}

QString PostsModel::displayTitle(const QString &id) const
{
    const std::optional<Post> post = postWithID(id);
    return post ? post->title : id;
}

bool PostsModel::isSessionOpen(const QString &id) const
{
    const auto open = openPiece();
    return open && m_watchedHome && open->first == id && open->second == *m_watchedHome;
}

bool PostsModel::outlineWouldDropLines(const QString &id) const
{
    if (!m_watchedHome)
        return false;
    const std::optional<QString> folder = PostStore::folderPath(id, *m_watchedHome);
    if (!folder)
        return false;
    QString text;
    try {
        text = foundation::fs::readUtf8File(QDir(*folder).filePath(PostStore::kPostFileName));
    } catch (const foundation::Error &) {
        return false;
    }
    Post::ContentType type;
    if (const std::optional<Post> post = postWithID(id))
        type = post->type;
    else
        type = library::PostFrontmatter::frontmatterFlags(library::PostFrontmatter::parseFrontmatter(text)).type;
    if (type != Post::ContentType::outline)
        return false;
    return library::OutlineNode::wouldDropLines(library::PostFrontmatter::splitFrontmatter(text).body);
}

bool PostsModel::showsProse() const
{
    if (m_draft)
        return m_draft->type != Post::ContentType::outline;
    if (m_externalSession)
        return true;
    if (!m_session || !m_selectedPostID || !isSessionOpen(*m_selectedPostID))
        return false;
    if (m_proseOverridePostID == m_selectedPostID)
        return true;
    if (m_lastDraftWasOutline)
        return false;
    const std::optional<Post> post = postWithID(*m_selectedPostID);
    return !post || post->type != Post::ContentType::outline;
}

std::optional<QString> PostsModel::currentText() const
{
    if (m_draft)
        return m_draft->text;
    if (m_externalSession)
        return m_externalSession->text();
    if (m_session && m_selectedPostID && isSessionOpen(*m_selectedPostID))
        return m_session->text();
    return std::nullopt;
}

QString PostsModel::projectForNewPiece() const
{
    if (m_pendingProject)
        return *m_pendingProject;
    if (m_selectedPostID) {
        for (const Post &post : m_posts) {
            if (post.id == *m_selectedPostID && !post.isArchived)
                return post.project;
        }
    }
    return u"posts"_s;
}

// --- Selection and opening -------------------------------------------------

void PostsModel::wireSessionErrors()
{
    const QPointer<PostsModel> self(this);
    const auto report = [self](const std::optional<QString> &message) {
        if (self)
            self->setLastError(message);
    };
    if (m_session)
        m_session->setOnError(report);
    if (m_externalSession)
        m_externalSession->setOnError(report);
}

bool PostsModel::settleEditedDraft()
{
    if (!m_draft || !m_draft->isEdited())
        return true;
    if (!m_watchedHome) {
        setLastError(noLibraryMessage);
        return false;
    }
    setLastError(std::nullopt);
    try {
        createAndOpenDraft(*m_draft, *m_watchedHome);
    } catch (const std::exception &error) {
        setLastError(foundation::describe(error));
        return false;
    }
    rescanLater();
    return true;
}

void PostsModel::selectPiece(const QString &id)
{
    if (!m_watchedHome || !closeExternalFile() || !settleEditedDraft())
        return;
    if (isSessionOpen(id))
        return;
    if (m_session) {
        if (!flushSession(*m_session))
            return;
        m_session->cancelAutosave();
    }
    if (outlineWouldDropLines(id)) {
        setOutlineGuardPieceID(id);
        setProseOverridePostID(std::nullopt);
        setSession(nullptr);
        setDraft(std::nullopt);
        setPendingProject(std::nullopt);
        setLastDraftWasOutline(false);
        setSelectedPostID(id);
        refreshOpenPieceCards();
        return;
    }
    openPiece(id);
    setProseOverridePostID(std::nullopt);
}

void PostsModel::openPiece(const QString &id)
{
    if (!m_watchedHome || !closeExternalFile() || !settleEditedDraft())
        return;
    const bool sameOpen = isSessionOpen(id);
    if (m_session && !sameOpen) {
        if (!flushSession(*m_session))
            return;
        m_session->cancelAutosave();
    }
    std::shared_ptr<EditorSession> next =
        sameOpen ? m_session
                 : std::make_shared<EditorSession>(SessionTarget::post(id, *m_watchedHome), sessionDebounce);
    if (!sameOpen)
        PostStore::removeSaveLeftovers(next->folderPath());
    setSession(std::move(next));
    setDraft(std::nullopt);
    setPendingProject(std::nullopt);
    setLastDraftWasOutline(false);
    setOutlineGuardPieceID(std::nullopt);
    setSelectedPostID(id);
    wireSessionErrors();
    refreshOpenPieceCards();
}

void PostsModel::stopWatching()
{
    flushAll();
    m_homeReturnPoll.stop();
    m_watcher.stop();
    m_externalWatcher.stop();
}

void PostsModel::newDraft(Post::ContentType type)
{
    const QString project = projectForNewPiece();
    if (!settleEditedDraft() || !flushAndCloseSessions())
        return;
    setDraft(PostDraft{PostDraft::initialText(type), project, type, QUuid::createUuid()});
    setLastDraftWasOutline(false);
    setProseOverridePostID(std::nullopt);
    setOutlineGuardPieceID(std::nullopt);
    setSelectedPostID(std::nullopt);
    setOpenPieceCards({});
}

void PostsModel::newPostDraft()
{
    newDraft(Post::ContentType::post);
}

void PostsModel::newOutlineDraft()
{
    newDraft(Post::ContentType::outline);
}

void PostsModel::saveDraft()
{
    if (!m_draft)
        return;
    if (!m_watchedHome) {
        setLastError(noLibraryMessage);
        return;
    }
    setLastError(std::nullopt);
    try {
        createAndOpenDraft(*m_draft, *m_watchedHome);
    } catch (const std::exception &error) {
        setLastError(foundation::describe(error));
        return;
    }
    rescanLater();
}

void PostsModel::createAndOpenDraft(const PostDraft &draft, const QString &home)
{
    const Post created = PostStore::createPiece(draft.text, draft.project, draft.type, Post::Origin::writer, home);
    setLastDraftWasOutline(draft.type == Post::ContentType::outline);
    setDraft(std::nullopt);
    setPendingProject(std::nullopt);
    setSelectedPostID(created.id);
    setSession(std::make_shared<EditorSession>(SessionTarget::post(created.id, home), sessionDebounce));
    wireSessionErrors();
}

std::optional<Post> PostsModel::createAIPiece(const QString &text)
{
    if (!m_watchedHome) {
        setLastError(noLibraryMessage);
        return std::nullopt;
    }
    setLastError(std::nullopt);
    std::optional<Post> created;
    if (!attempt([&] {
            created =
                PostStore::createPiece(text, u"posts"_s, Post::ContentType::post, Post::Origin::ai, *m_watchedHome);
        }))
        return std::nullopt;
    selectPiece(created->id);
    rescanLater();
    return created;
}

// --- Watching and rescans ----------------------------------------------------

QString PostsModel::missingHomeMessage(const QString &home)
{
    return u"The library folder %1 is missing — connect its drive or choose another Home."_s.arg(home);
}

bool PostsModel::setHome(const QString &home)
{
    if (m_watchedHome == home)
        return true;
    if (!flushAndCloseSessions())
        return false;
    setSelectedPostID(std::nullopt);
    setOpenPieceCards({});
    setOpenPieceHasSnapshot(false);
    setOutlineGuardPieceID(std::nullopt);
    setProseOverridePostID(std::nullopt);
    setPendingConversion(std::nullopt);
    setLastDraftWasOutline(false);
    setPendingProject(std::nullopt);
    return true;
}

void PostsModel::reportMissingHome(const std::optional<QString> &home)
{
    if (home) {
        m_missingHomeReport = missingHomeMessage(*home);
        setLastError(m_missingHomeReport);
        m_homeReturnPoll.start();
        return;
    }
    m_homeReturnPoll.stop();
    // Only the report itself is withdrawn, never another error.
    if (m_missingHomeReport && m_lastError == m_missingHomeReport)
        setLastError(std::nullopt);
    m_missingHomeReport.reset();
}

void PostsModel::startWatching(const QString &home)
{
    // A Home whose watches went (its drive left, a root folder was deleted)
    // is started again.
    if (m_watchedHome == home && m_watcher.watchesEveryRoot())
        return;
    store(m_watchedHome, std::optional<QString>(home), &PostsModel::watchedHomeChanged);
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
    const QPointer<PostsModel> self(this);
    m_watcher.onEvent = [self] {
        if (self)
            self->rescanLater();
    };
    // A large library's walk takes long enough to hold up the first window.
    m_watcher.startInBackground(folders);
}

void PostsModel::rescanLater()
{
    const QPointer<PostsModel> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (self)
                QCoro::Task<void> detached = self->rescan();
        },
        Qt::QueuedConnection);
}

void PostsModel::settleBackgroundWork()
{
    // A finished scan hands its result over through the event loop, and
    // applying it may start another: repeat until the pool stays idle.
    do {
        libraryPool()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    } while (libraryPool()->activeThreadCount() > 0);
}

QCoro::Task<void> PostsModel::rescan()
{
    if (!m_watchedHome)
        co_return;
    const QString home = *m_watchedHome;
    std::optional<QString> openID;
    if (const auto open = openPiece(); open && open->second == home)
        openID = open->first;
    const std::shared_ptr<EditorSession> sessionAtStart = m_session;
    // The disk text is read after this point: a write or reload of the
    // session in the meantime makes it stale, and no evidence of a conflict.
    const quint64 syncsAtStart = m_session ? m_session->diskSyncCount() : 0;
    const quint64 serial = ++m_rescansStarted;
    const qint64 missesBefore = m_scanCache->missCount();

    struct Result {
        bool homeExists = false;
        QList<Post> posts;
        std::optional<QString> openFolder;
        std::optional<QString> diskText;
    };
    const QPointer<PostsModel> self(this);
    // A named future, not a temporary inside co_await (GCC 12 mishandles those).
    QFuture<Result> scanning =
        QtConcurrent::run(libraryPool(), [scan = scanLibrary, cache = m_scanCache, home, openID] {
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
    const bool openAsOutline = openID && m_selectedPostID == openID && !showsProse();
    const QString openProject = projectForNewPiece();
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
    if (openID && sessionAtStart == m_session && result.openFolder != m_session->folderPath())
        followOpenPiece(home, openType, openProject);
    if (m_selectedPostID && !postWithID(*m_selectedPostID) && !PostStore::folderPath(*m_selectedPostID, home)) {
        // The open piece's own way out keeps its unsaved words.
        if (const auto open = openPiece(); open && open->first == *m_selectedPostID && open->second == home)
            followOpenPiece(home, openType, openProject);
        else
            setSelectedPostID(std::nullopt);
    }
    if (sessionAtStart && sessionAtStart == m_session && m_session->diskSyncCount() == syncsAtStart && result.diskText)
        m_session->diskDidChange(*result.diskText);
    refreshOpenPieceCards();
}

// --- Flushes -----------------------------------------------------------------

bool PostsModel::flushSession(EditorSession &session)
{
    // An outside change since the last write or read is a conflict too, not
    // something to overwrite.
    if (session.diskChangedUnderneath()) {
        setLastError(u"This piece changed on disk underneath you — answer the reload question first."_s);
        return false;
    }
    if (session.loadFailed() && session.saveState() == SaveState::changed) {
        setLastError(u"This piece's file never loaded — the retyped text in the editor can't be saved. Copy it "
                     u"out first."_s);
        return false;
    }
    if (session.flush())
        return true;
    const QString reason = m_lastError.value_or(QString());
    setLastError(reason.isEmpty() ? u"— nothing was changed."_s : reason + u" — nothing was changed."_s);
    return false;
}

bool PostsModel::flushAll()
{
    // Quitting drops what is only in memory: an edited draft becomes a piece
    // first, as it does before anything else would replace it.
    bool all = settleEditedDraft();
    if (m_externalSession)
        all = flushSession(*m_externalSession) && all;
    if (m_session)
        all = flushSession(*m_session) && all;
    return all;
}

bool PostsModel::flushAndCloseSessions()
{
    if (!closeExternalFile())
        return false;
    if (m_session) {
        if (!flushSession(*m_session))
            return false;
        m_session->cancelAutosave();
        setSession(nullptr);
    }
    return true;
}

// --- Library writes ----------------------------------------------------------

void PostsModel::reopenSession(const QString &id)
{
    setSession(std::make_shared<EditorSession>(SessionTarget::post(id, *m_watchedHome), sessionDebounce));
    wireSessionErrors();
}

void PostsModel::followOpenPiece(const QString &home, Post::ContentType type, const QString &project)
{
    const QString id = m_session->target().id();
    const std::optional<QString> now = PostStore::folderPath(id, home);
    // Back in its place by now (a checkout that removed and wrote it again).
    if (now == m_session->folderPath())
        return;
    const bool unsaved = m_session->text() != m_session->lastFlushedText();
    if (now) {
        // The session writes by id, so the words land at the new place; the
        // session is then made anew there, so that cards and images go to the
        // folder the piece is in now. A conflict or a failed write keeps the
        // session and its words as they are.
        if (unsaved && !flushSession(*m_session))
            return;
        const EditorSession::CursorState cursor = m_session->cursor();
        m_session->cancelAutosave();
        reopenSession(id);
        m_session->setRestoreCursor(cursor);
        return;
    }
    // Gone from the Home: nothing is written anywhere, and what was typed
    // since the last save stays in the editor as a draft to save anew.
    const QString text = m_session->text();
    m_session->cancelAutosave();
    setSession(nullptr);
    setSelectedPostID(std::nullopt);
    if (!unsaved)
        return;
    setDraft(PostDraft{text, project, type, QUuid::createUuid()});
    setPendingProject(std::nullopt);
    setLastDraftWasOutline(false);
    setProseOverridePostID(std::nullopt);
    setOutlineGuardPieceID(std::nullopt);
    setOpenPieceCards({});
    setLastError(folderLeftMessage);
}

void PostsModel::closeSession()
{
    if (!m_session)
        return;
    m_session->cancelAutosave();
    setSession(nullptr);
}

QStringList PostsModel::projectNames() const
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

// --- Library writes ----------------------------------------------------------

std::optional<QString> PostsModel::openPieceInArchivedProject(const QString &project, const QString &home) const
{
    return m_writes.openPieceInArchivedProject(project, home);
}
void PostsModel::unarchiveProject(const QString &project)
{
    m_writes.unarchiveProject(project);
}
void PostsModel::restorePiece(const Post &post)
{
    m_writes.restorePiece(post);
}
void PostsModel::renamePiece(const Post &post, const QString &newTitle)
{
    m_writes.renamePiece(post, newTitle);
}
void PostsModel::movePiece(const Post &post, const QString &targetProject)
{
    m_writes.movePiece(post, targetProject);
}
void PostsModel::archivePiece(const Post &post)
{
    m_writes.archivePiece(post);
}
void PostsModel::trashPiece(const Post &post)
{
    m_writes.trashPiece(post);
}
std::optional<QString> PostsModel::createProject(const QString &name)
{
    return m_writes.createProject(name);
}

// --- Outline conversion --------------------------------------------------------

void PostsModel::requestConvertToPost(const Post &post)
{
    m_writes.requestConvertToPost(post);
}
void PostsModel::convertToPost(bool headings)
{
    m_writes.convertToPost(headings);
}
bool PostsModel::conversionNowDropsLines(const QString &id, bool lossy, bool headings) const
{
    return m_writes.conversionNowDropsLines(id, lossy, headings);
}
bool PostsModel::performConversion(const QString &home, const QString &id, bool headings)
{
    return m_writes.performConversion(home, id, headings);
}

// --- Cards of the open piece -------------------------------------------------

void PostsModel::refreshOpenPieceCards()
{
    m_cards.refresh();
}
PostsModel::ApplyOutcome PostsModel::applyCard(const Card &card)
{
    return m_cards.apply(card);
}
void PostsModel::closeCard(const Card &card, Card::Status status)
{
    m_cards.close(card, status);
}
std::optional<QString> PostsModel::promoteCard(const Card &card)
{
    return m_cards.promote(card);
}

// --- Passes and the Blind Read -------------------------------------------------

std::optional<PostsModel::PassTarget> PostsModel::passPreflight(const QString &action,
                                                                const engine::MentorSessionModel &mentor)
{
    return m_passes.preflight(action, mentor);
}
QCoro::Task<void> PostsModel::runPass(library::PassKind kind, engine::MentorSessionModel &mentor)
{
    return m_passes.runPass(kind, mentor);
}
QCoro::Task<void> PostsModel::runBlindRead(engine::MentorSessionModel &mentor)
{
    return m_passes.runBlindRead(mentor);
}

} // namespace model
