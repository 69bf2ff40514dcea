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
      })
{}

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
// --- Small answers -----------------------------------------------------------

std::optional<std::pair<QString, QString>> PostsModel::openPiece() const
{
    if (!m_session || !(m_session->target().kind() == SessionTarget::Kind::post))
        return std::nullopt;
    return std::make_pair(m_session->target().id(), m_session->target().home());
}

QString PostsModel::displayTitle(const QString &id) const
{
    const std::optional<Post> post = postWithID(id);
    return post ? post->title : id;
}

bool PostsModel::isSessionOpen(const QString &id) const
{
    const auto open = openPiece();
    return open && watchedHome() && open->first == id && open->second == *watchedHome();
}

bool PostsModel::outlineWouldDropLines(const QString &id) const
{
    if (!watchedHome())
        return false;
    const std::optional<QString> folder = PostStore::folderPath(id, *watchedHome());
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
        for (const Post &post : posts()) {
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
    if (!watchedHome()) {
        setLastError(noLibraryMessage);
        return false;
    }
    setLastError(std::nullopt);
    try {
        createAndOpenDraft(*m_draft, *watchedHome());
    } catch (const std::exception &error) {
        setLastError(foundation::describe(error));
        return false;
    }
    rescanLater();
    return true;
}

void PostsModel::selectPiece(const QString &id)
{
    if (!watchedHome() || !closeExternalFile() || !settleEditedDraft())
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
    if (!watchedHome() || !closeExternalFile() || !settleEditedDraft())
        return;
    const bool sameOpen = isSessionOpen(id);
    if (m_session && !sameOpen) {
        if (!flushSession(*m_session))
            return;
        m_session->cancelAutosave();
    }
    std::shared_ptr<EditorSession> next =
        sameOpen ? m_session
                 : std::make_shared<EditorSession>(SessionTarget::post(id, *watchedHome()), sessionDebounce);
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
    m_library.stop();
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
    if (!watchedHome()) {
        setLastError(noLibraryMessage);
        return;
    }
    setLastError(std::nullopt);
    try {
        createAndOpenDraft(*m_draft, *watchedHome());
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
    if (!watchedHome()) {
        setLastError(noLibraryMessage);
        return std::nullopt;
    }
    setLastError(std::nullopt);
    std::optional<Post> created;
    if (!attempt([&] {
            created =
                PostStore::createPiece(text, u"posts"_s, Post::ContentType::post, Post::Origin::ai, *watchedHome());
        }))
        return std::nullopt;
    selectPiece(created->id);
    rescanLater();
    return created;
}

// --- Watching and rescans ----------------------------------------------------

QString PostsModel::missingHomeMessage(const QString &home)
{
    return PostsLibrary::missingHomeMessage(home);
}
void PostsModel::startWatching(const QString &home)
{
    m_library.startWatching(home);
}
QCoro::Task<void> PostsModel::rescan()
{
    return m_library.rescan();
}
void PostsModel::rescanLater()
{
    m_library.rescanLater();
}
void PostsModel::settleBackgroundWork()
{
    m_library.settleBackgroundWork();
}
QStringList PostsModel::projectNames() const
{
    return m_library.projectNames();
}

bool PostsModel::setHome(const QString &home)
{
    if (watchedHome() == home)
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
    setSession(std::make_shared<EditorSession>(SessionTarget::post(id, *watchedHome()), sessionDebounce));
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
