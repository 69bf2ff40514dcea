// Markdown files from outside the library: one opened and edited in place,
// its folder watched so that edits made elsewhere raise the conflict; and
// chosen files copied in as new pieces.

#include "model/postsmodel.h"

#include "foundation/error.h"
#include "foundation/fs.h"
#include "library/poststore.h"

#include <QFileInfo>

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

void PostsModel::openExternalFile(const QUrl &url)
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
    setOpenPieceCards({});

    auto session = std::make_shared<EditorSession>(SessionTarget::externalFile(path), sessionDebounce);
    if (session->loadFailed()) {
        setLastError(u"Couldn't read "_s + QFileInfo(path).fileName()
                     + u" — not UTF-8 text or unreadable. Nothing was changed."_s);
        return;
    }
    setExternalSession(std::move(session));
    wireSessionErrors();
    watchExternalFolder(path);
}

void PostsModel::watchExternalFolder(const QString &path)
{
    const QPointer<PostsModel> self(this);
    m_externalWatcher.onEvent = [self, path] { reloadExternalFile(self, path); };
    // Events are not examined: any change in the folder, the session's own
    // autosaves included, is one reload, and an echo raises nothing.
    m_externalWatcher.start({QFileInfo(path).absolutePath()}, false);
}

void PostsModel::reloadExternalFile(const QPointer<PostsModel> &model, const QString &path)
{
    if (!model || !model->m_externalSession)
        return;
    // A batch from the folder of a file that has since been replaced by another.
    if (model->m_externalSession->target().filePath() != path)
        return;
    QString text;
    try {
        text = EditorSession::readOutsideFile(path);
    } catch (const foundation::Error &) {
        return;
    }
    model->m_externalSession->diskDidChange(text);
}

bool PostsModel::closeExternalFile()
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

void PostsModel::importPendingFiles(Post::Origin origin)
{
    if (!m_pendingImportURLs)
        return;
    const QList<QUrl> urls = *m_pendingImportURLs;
    setPendingImportURLs(std::nullopt);
    const QString project = projectForNewPiece();
    if (!watchedHome()) {
        setLastError(noLibraryMessage);
        return;
    }
    // Refused once for the whole list, as any new piece's project would be.
    if (!attempt([&] { PostStore::validateProjectName(project); }))
        return;
    setLastError(std::nullopt);

    std::optional<Post> last;
    for (const QUrl &url : urls) {
        try {
            if (!url.isLocalFile())
                throw library::StoreError(library::StoreError::Code::fileReadNoSuchFile, url.toString());
            const QString text = EditorSession::readOutsideFile(resolvedFilePath(url.toLocalFile()));
            last = PostStore::importPiece(text, project, origin, *watchedHome());
        } catch (const std::exception &error) {
            // The other files still come in; the last failure is the one shown.
            setLastError(u"Import failed — "_s + url.fileName() + u": "_s + foundation::describe(error));
        }
    }
    rescanLater();
    if (last)
        selectPiece(last->id);
}

void PostsModel::clearPendingImports()
{
    setPendingImportURLs(std::nullopt);
}

} // namespace model
