#include "model/openpiece.h"

#include "foundation/error.h"
#include "foundation/fs.h"
#include "foundation/notify.h"
#include "library/frontmatter.h"
#include "library/outlinenode.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "model/postsmodel.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

namespace model {

using namespace Qt::StringLiterals;
using library::Post;
namespace PostStore = library::PostStore;

namespace {

// The file a path names with every symbolic link on the way resolved; a path
// that does not resolve stays as given, and its read then fails.
QString resolvedFilePath(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

} // namespace

QString PostDraft::initialText(Post::ContentType type)
{
    return type == Post::ContentType::outline ? u"- "_s : u"# Untitled\n\n"_s;
}

void OpenPiece::setSelectedPostID(const std::optional<QString> &id)
{
    foundation::storeAndNotify(m_model, m_selectedPostID, id, &PostsModel::selectedPostIDChanged);
}

void OpenPiece::setPendingImportURLs(const std::optional<QList<QUrl>> &urls)
{
    foundation::storeAndNotify(m_model, m_pendingImportURLs, urls, &PostsModel::pendingImportURLsChanged);
}

void OpenPiece::setPendingProject(const std::optional<QString> &project)
{
    foundation::storeAndNotify(m_model, m_pendingProject, project, &PostsModel::pendingProjectChanged);
}

void OpenPiece::setAskNewProject(bool ask)
{
    foundation::storeAndNotify(m_model, m_askNewProject, ask, &PostsModel::askNewProjectChanged);
}

void OpenPiece::setLastDraftWasOutline(bool value)
{
    foundation::storeAndNotify(m_model, m_lastDraftWasOutline, value, &PostsModel::lastDraftWasOutlineChanged);
}

void OpenPiece::setOutlineGuardPieceID(const std::optional<QString> &id)
{
    foundation::storeAndNotify(m_model, m_outlineGuardPieceID, id, &PostsModel::outlineGuardPieceIDChanged);
}

void OpenPiece::setProseOverridePostID(const std::optional<QString> &id)
{
    foundation::storeAndNotify(m_model, m_proseOverridePostID, id, &PostsModel::proseOverridePostIDChanged);
}

void OpenPiece::setDraft(const std::optional<PostDraft> &draft)
{
    m_draft = draft;
    emit m_model.draftChanged();
}

void OpenPiece::setDraftText(const QString &text)
{
    if (!m_draft)
        return;
    m_draft->text = text;
    emit m_model.draftChanged();
}

void OpenPiece::setSession(std::shared_ptr<EditorSession> session)
{
    m_session = std::move(session);
    emit m_model.sessionChanged();
}

void OpenPiece::setExternalSession(std::shared_ptr<EditorSession> session)
{
    m_externalSession = std::move(session);
    emit m_model.externalSessionChanged();
}

std::optional<std::pair<QString, QString>> OpenPiece::openPiece() const
{
    if (!m_session || !(m_session->target().kind() == SessionTarget::Kind::post))
        return std::nullopt;
    return std::make_pair(m_session->target().id(), m_session->target().home());
}

bool OpenPiece::isSessionOpen(const QString &id) const
{
    const auto open = openPiece();
    return open && m_model.watchedHome() && open->first == id && open->second == *m_model.watchedHome();
}

bool OpenPiece::outlineWouldDropLines(const QString &id) const
{
    if (!m_model.watchedHome())
        return false;
    const std::optional<QString> folder = PostStore::folderPath(id, *m_model.watchedHome());
    if (!folder)
        return false;
    QString text;
    try {
        text = foundation::fs::readUtf8File(QDir(*folder).filePath(PostStore::kPostFileName));
    } catch (const foundation::Error &) {
        return false;
    }
    const std::optional<Post> post = m_model.postWithID(id);
    const Post::ContentType type =
        post ? post->type
             : library::PostFrontmatter::frontmatterFlags(library::PostFrontmatter::parseFrontmatter(text)).type;
    if (type != Post::ContentType::outline)
        return false;
    return library::OutlineNode::wouldDropLines(library::PostFrontmatter::splitFrontmatter(text).body);
}

bool OpenPiece::showsProse() const
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
    const std::optional<Post> post = m_model.postWithID(*m_selectedPostID);
    return !post || post->type != Post::ContentType::outline;
}

std::optional<QString> OpenPiece::currentText() const
{
    if (m_draft)
        return m_draft->text;
    if (m_externalSession)
        return m_externalSession->text();
    if (m_session && m_selectedPostID && isSessionOpen(*m_selectedPostID))
        return m_session->text();
    return std::nullopt;
}

QString OpenPiece::projectForNewPiece() const
{
    if (m_pendingProject)
        return *m_pendingProject;
    if (m_selectedPostID) {
        for (const Post &post : m_model.posts()) {
            if (post.id == *m_selectedPostID && !post.isArchived)
                return post.project;
        }
    }
    return u"posts"_s;
}

void OpenPiece::wireSessionErrors()
{
    const QPointer<PostsModel> self(&m_model);
    const auto report = [self](const std::optional<QString> &message) {
        if (self)
            self->setLastError(message);
    };
    if (m_session)
        m_session->setOnError(report);
    if (m_externalSession)
        m_externalSession->setOnError(report);
}

bool OpenPiece::settleEditedDraft()
{
    if (!m_draft || !m_draft->isEdited())
        return true;
    if (!m_model.watchedHome()) {
        m_model.setLastError(PostsModel::noLibraryMessage);
        return false;
    }
    m_model.setLastError(std::nullopt);
    try {
        createAndOpenDraft(*m_draft, *m_model.watchedHome());
    } catch (const std::exception &error) {
        m_model.setLastError(foundation::describe(error));
        return false;
    }
    m_model.rescanLater();
    return true;
}

void OpenPiece::selectPiece(const QString &id)
{
    if (!m_model.watchedHome() || !closeExternalFile() || !settleEditedDraft())
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
        m_model.refreshOpenPieceCards();
        return;
    }
    openPiece(id);
    setProseOverridePostID(std::nullopt);
}

void OpenPiece::openPiece(const QString &id)
{
    if (!m_model.watchedHome() || !closeExternalFile() || !settleEditedDraft())
        return;
    const bool sameOpen = isSessionOpen(id);
    if (m_session && !sameOpen) {
        if (!flushSession(*m_session))
            return;
        m_session->cancelAutosave();
    }
    std::shared_ptr<EditorSession> next =
        sameOpen ? m_session
                 : std::make_shared<EditorSession>(SessionTarget::post(id, *m_model.watchedHome()),
                                                   PostsModel::sessionDebounce);
    if (!sameOpen)
        PostStore::removeSaveLeftovers(next->folderPath());
    setSession(std::move(next));
    setDraft(std::nullopt);
    setPendingProject(std::nullopt);
    setLastDraftWasOutline(false);
    setOutlineGuardPieceID(std::nullopt);
    setSelectedPostID(id);
    wireSessionErrors();
    m_model.refreshOpenPieceCards();
}

void OpenPiece::newDraft(Post::ContentType type)
{
    const QString project = projectForNewPiece();
    if (!settleEditedDraft() || !flushAndCloseSessions())
        return;
    setDraft(PostDraft{PostDraft::initialText(type), project, type, QUuid::createUuid()});
    setLastDraftWasOutline(false);
    setProseOverridePostID(std::nullopt);
    setOutlineGuardPieceID(std::nullopt);
    setSelectedPostID(std::nullopt);
    m_model.setOpenPieceCards({});
}

void OpenPiece::newPostDraft()
{
    newDraft(Post::ContentType::post);
}

void OpenPiece::newOutlineDraft()
{
    newDraft(Post::ContentType::outline);
}

std::optional<QString> OpenPiece::createProjectForNewDraft(const QString &name)
{
    if (std::optional<QString> failure = m_model.createProject(name))
        return failure;
    setPendingProject(name);
    newPostDraft();
    return std::nullopt;
}

void OpenPiece::answerOutlineGuard(bool asProse)
{
    const std::optional<QString> id = m_outlineGuardPieceID;
    if (!id)
        return;
    setOutlineGuardPieceID(std::nullopt);
    if (asProse)
        setProseOverridePostID(id);
    openPiece(*id);
}

void OpenPiece::dismissOutlineGuard()
{
    setOutlineGuardPieceID(std::nullopt);
    if (!m_session)
        setSelectedPostID(std::nullopt);
}

void OpenPiece::saveDraft()
{
    if (!m_draft)
        return;
    if (!m_model.watchedHome()) {
        m_model.setLastError(PostsModel::noLibraryMessage);
        return;
    }
    m_model.setLastError(std::nullopt);
    try {
        createAndOpenDraft(*m_draft, *m_model.watchedHome());
    } catch (const std::exception &error) {
        m_model.setLastError(foundation::describe(error));
        return;
    }
    m_model.rescanLater();
}

void OpenPiece::createAndOpenDraft(const PostDraft &draft, const QString &home)
{
    const Post created = PostStore::createPiece(draft.text, draft.project, draft.type, Post::Origin::writer, home);
    setLastDraftWasOutline(draft.type == Post::ContentType::outline);
    setDraft(std::nullopt);
    setPendingProject(std::nullopt);
    setSelectedPostID(created.id);
    setSession(std::make_shared<EditorSession>(SessionTarget::post(created.id, home), PostsModel::sessionDebounce));
    wireSessionErrors();
}

std::optional<Post> OpenPiece::createAIPiece(const QString &text)
{
    if (!m_model.watchedHome()) {
        m_model.setLastError(PostsModel::noLibraryMessage);
        return std::nullopt;
    }
    m_model.setLastError(std::nullopt);
    std::optional<Post> created;
    if (!m_model.attempt([&] {
            created = PostStore::createPiece(text, u"posts"_s, Post::ContentType::post, Post::Origin::ai,
                                             *m_model.watchedHome());
        }))
        return std::nullopt;
    selectPiece(created->id);
    m_model.rescanLater();
    return created;
}

bool OpenPiece::setHome(const QString &home)
{
    if (m_model.watchedHome() == home)
        return true;
    if (!flushAndCloseSessions())
        return false;
    setSelectedPostID(std::nullopt);
    m_model.setOpenPieceCards({});
    m_model.setOpenPieceHasSnapshot(false);
    setOutlineGuardPieceID(std::nullopt);
    setProseOverridePostID(std::nullopt);
    m_model.setPendingConversion(std::nullopt);
    setLastDraftWasOutline(false);
    setPendingProject(std::nullopt);
    return true;
}

bool OpenPiece::flushSession(EditorSession &session)
{
    // An outside change since the last write or read is a conflict too, not
    // something to overwrite.
    if (session.diskChangedUnderneath()) {
        m_model.setLastError(u"This piece changed on disk underneath you — answer the reload question first."_s);
        return false;
    }
    if (session.loadFailed() && session.saveState() == SaveState::changed) {
        m_model.setLastError(u"This piece's file never loaded — the retyped text in the editor can't be saved. Copy it "
                             u"out first."_s);
        return false;
    }
    if (session.flush())
        return true;
    const QString reason = m_model.lastError().value_or(QString());
    m_model.setLastError(reason.isEmpty() ? u"— nothing was changed."_s : reason + u" — nothing was changed."_s);
    return false;
}

bool OpenPiece::flushAll()
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

bool OpenPiece::flushAndCloseSessions()
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

void OpenPiece::reopenSession(const QString &id)
{
    setSession(
        std::make_shared<EditorSession>(SessionTarget::post(id, *m_model.watchedHome()), PostsModel::sessionDebounce));
    wireSessionErrors();
}

void OpenPiece::followOpenPiece(const QString &home, Post::ContentType type, const QString &project)
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
    m_model.setOpenPieceCards({});
    m_model.setLastError(PostsModel::folderLeftMessage);
}

void OpenPiece::closeSession()
{
    if (!m_session)
        return;
    m_session->cancelAutosave();
    setSession(nullptr);
}

// --- The outside file and import ----------------------------------------------

void OpenPiece::openExternalFile(const QUrl &url)
{
    if (!url.isLocalFile())
        return;
    // The session edits the file itself: a link would be replaced by the
    // first atomic write instead of written through.
    const QString path = resolvedFilePath(url.toLocalFile());
    // An edited draft is saved as a piece before it would be dropped.
    if (!settleEditedDraft() || !flushAndCloseSessions())
        return;
    setDraft(std::nullopt);
    setPendingProject(std::nullopt);
    setLastDraftWasOutline(false);
    setProseOverridePostID(std::nullopt);
    setOutlineGuardPieceID(std::nullopt);
    m_model.setOpenPieceCards({});

    auto session = std::make_shared<EditorSession>(SessionTarget::externalFile(path), PostsModel::sessionDebounce);
    if (session->loadFailed()) {
        m_model.setLastError(u"Couldn't read "_s + QFileInfo(path).fileName()
                             + u" — not UTF-8 text or unreadable. Nothing was changed."_s);
        return;
    }
    setExternalSession(std::move(session));
    wireSessionErrors();
    watchExternalFolder(path);
}

void OpenPiece::watchExternalFolder(const QString &path)
{
    const QPointer<PostsModel> self(&m_model);
    m_externalWatcher.onEvent = [self, path] { PostsModel::reloadExternalFile(self, path); };
    // Events are not examined: any change in the folder, the session's own
    // autosaves included, is one reload, and an echo raises nothing.
    m_externalWatcher.start({QFileInfo(path).absolutePath()}, false);
}

void OpenPiece::reloadExternalFile(const QString &path)
{
    if (!m_externalSession)
        return;
    // A batch from the folder of a file that has since been replaced by another.
    if (m_externalSession->target().filePath() != path)
        return;
    QString text;
    try {
        text = EditorSession::readOutsideFile(path);
    } catch (const foundation::Error &) {
        return;
    }
    m_externalSession->diskDidChange(text);
}

bool OpenPiece::closeExternalFile()
{
    if (m_externalSession) {
        if (!flushSession(*m_externalSession))
            return false;
        m_externalSession->cancelAutosave();
        setExternalSession(nullptr);
    }
    m_externalWatcher.stop();
    return true;
}

void OpenPiece::importPendingFiles(Post::Origin origin)
{
    if (!m_pendingImportURLs)
        return;
    const QList<QUrl> urls = *m_pendingImportURLs;
    setPendingImportURLs(std::nullopt);
    const QString project = projectForNewPiece();
    if (!m_model.watchedHome()) {
        m_model.setLastError(PostsModel::noLibraryMessage);
        return;
    }
    // Refused once for the whole list, as any new piece's project would be.
    if (!m_model.attempt([&] { PostStore::validateProjectName(project); }))
        return;
    m_model.setLastError(std::nullopt);

    std::optional<Post> last;
    for (const QUrl &url : urls) {
        try {
            if (!url.isLocalFile())
                throw library::StoreError(library::StoreError::Code::fileReadNoSuchFile, url.toString());
            const QString text = EditorSession::readOutsideFile(resolvedFilePath(url.toLocalFile()));
            last = PostStore::importPiece(text, project, origin, *m_model.watchedHome());
        } catch (const std::exception &error) {
            // The other files still come in; the last failure is the one shown.
            m_model.setLastError(u"Import failed — "_s + url.fileName() + u": "_s + foundation::describe(error));
        }
    }
    m_model.rescanLater();
    if (last)
        selectPiece(last->id);
}

void OpenPiece::clearPendingImports()
{
    setPendingImportURLs(std::nullopt);
}

} // namespace model
