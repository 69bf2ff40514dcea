#include "model/librarywrites.h"

#include "foundation/error.h"
#include "library/outlinenode.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "model/postsmodel.h"

#include <QDir>
#include <QFileInfo>

namespace model {

using namespace Qt::StringLiterals;
using library::Post;
namespace PostStore = library::PostStore;

bool LibraryWrites::beginWrite(const std::optional<QString> &pieceID)
{
    if (pieceID && m_model.session() && m_model.isSessionOpen(*pieceID) && !m_model.flushSession(*m_model.session()))
        return false;
    if (!m_model.watchedHome()) {
        m_model.setLastError(PostsModel::noLibraryMessage);
        return false;
    }
    m_model.setLastError(std::nullopt);
    return true;
}

bool LibraryWrites::attempt(const std::function<void()> &op)
{
    try {
        op();
    } catch (const std::exception &error) {
        m_model.setLastError(foundation::describe(error));
        return false;
    }
    return true;
}

std::optional<QString> LibraryWrites::openPieceInArchivedProject(const QString &project, const QString &home) const
{
    const auto open = m_model.openPiece();
    if (!open || !m_model.watchedHome() || open->second != *m_model.watchedHome() || open->second != home)
        return std::nullopt;
    const std::optional<QString> folder = PostStore::folderPath(open->first, home);
    if (!folder)
        return std::nullopt;
    const QDir projectDir = QFileInfo(*folder).dir();
    if (projectDir.dirName() != project || QFileInfo(projectDir.absolutePath()).dir().dirName() != u"archive")
        return std::nullopt;
    return open->first;
}

void LibraryWrites::unarchiveProject(const QString &project)
{
    // With no Home open the write frame refuses with the library's message.
    const std::optional<QString> open =
        m_model.watchedHome() ? openPieceInArchivedProject(project, *m_model.watchedHome()) : std::nullopt;
    if (!beginWrite(open))
        return;
    if (!attempt([&] { PostStore::unarchiveProject(project, *m_model.watchedHome()); }))
        return;
    if (open)
        m_model.reopenSession(*open);
    m_model.rescanLater();
}

void LibraryWrites::restorePiece(const Post &post)
{
    if (!beginWrite(post.id))
        return;
    if (!attempt([&] { PostStore::unarchivePiece(post, *m_model.watchedHome()); }))
        return;
    if (m_model.isSessionOpen(post.id))
        m_model.reopenSession(post.id);
    else
        m_model.selectPiece(post.id);
    m_model.rescanLater();
}

void LibraryWrites::renamePiece(const Post &post, const QString &newTitle)
{
    if (!beginWrite(post.id))
        return;
    const bool wasOpen = m_model.isSessionOpen(post.id);
    std::optional<Post> renamed;
    if (!attempt([&] { renamed = PostStore::renamePiece(post, newTitle, *m_model.watchedHome()); }))
        return;
    if (m_model.selectedPostID() == post.id) {
        m_model.setSelectedPostID(renamed->id);
        if (wasOpen)
            m_model.reopenSession(renamed->id);
    }
    m_model.rescanLater();
}

void LibraryWrites::movePiece(const Post &post, const QString &targetProject)
{
    if (!beginWrite(post.id))
        return;
    if (!attempt([&] { PostStore::movePiece(post, targetProject, *m_model.watchedHome()); }))
        return;
    if (m_model.isSessionOpen(post.id))
        m_model.reopenSession(post.id);
    m_model.rescanLater();
}

void LibraryWrites::archivePiece(const Post &post)
{
    if (!beginWrite(post.id))
        return;
    if (attempt([&] { PostStore::archivePiece(post, *m_model.watchedHome()); }))
        forgetRemoved(post);
}

void LibraryWrites::trashPiece(const Post &post)
{
    // The open piece is flushed first, so the copy in the Trash has the last
    // words typed; a flush that fails stops the trash.
    if (!beginWrite(post.id))
        return;
    if (attempt([&] { PostStore::trashPiece(post, *m_model.watchedHome()); }))
        forgetRemoved(post);
}

void LibraryWrites::forgetRemoved(const Post &post)
{
    if (m_model.selectedPostID() == post.id)
        m_model.setSelectedPostID(std::nullopt);
    if (m_model.isSessionOpen(post.id))
        m_model.closeSession();
    m_model.rescanLater();
}

std::optional<QString> LibraryWrites::createProject(const QString &name)
{
    if (beginWrite(std::nullopt) && attempt([&] { PostStore::createProject(name, *m_model.watchedHome()); }))
        m_model.rescanLater();
    return m_model.lastError();
}

// --- Outline conversion ------------------------------------------------------
// The sheet shows whether the ladder of headings would lose lines; by the time
// the writer answers, the outline may have changed, so Headings re-checks the
// disk when the sheet promised no loss.

void LibraryWrites::requestConvertToPost(const Post &post)
{
    if (post.type != Post::ContentType::outline)
        return;
    // Unsaved typing counts: it is what the conversion will see after the flush.
    QString text;
    if (m_model.session() && m_model.isSessionOpen(post.id))
        text = m_model.session()->text();
    else if (m_model.watchedHome())
        text = PostStore::readText(post.id, *m_model.watchedHome()).value_or(QString());
    setPendingConversion(PendingConversion{post.id, library::OutlineNode::wouldDropLines(text)});
}

void LibraryWrites::convertToPost(bool headings)
{
    if (!m_pendingConversion)
        return;
    // A refused conversion needs a new request.
    const PendingConversion pending = *m_pendingConversion;
    setPendingConversion(std::nullopt);

    if (m_model.session() && m_model.isSessionOpen(pending.id) && !m_model.flushSession(*m_model.session()))
        return;
    if (conversionNowDropsLines(pending.id, pending.lossy, headings)) {
        m_model.setLastError(u"The outline changed since the sheet opened — nothing was converted."_s);
        return;
    }
    if (!m_model.watchedHome()) {
        m_model.setLastError(PostsModel::noLibraryMessage);
        return;
    }
    m_model.setLastError(std::nullopt);
    if (performConversion(*m_model.watchedHome(), pending.id, headings))
        m_model.rescanLater();
}

bool LibraryWrites::conversionNowDropsLines(const QString &id, bool lossy, bool headings) const
{
    // Verbatim keeps every line, and a sheet that showed the loss was answered knowingly.
    if (!headings || lossy || !m_model.watchedHome())
        return false;
    const std::optional<QString> body = PostStore::readText(id, *m_model.watchedHome());
    return body && library::OutlineNode::wouldDropLines(*body);
}

bool LibraryWrites::performConversion(const QString &home, const QString &id, bool headings)
{
    if (!attempt([&] { PostStore::rewriteAsPost(id, headings, home); }))
        return false;
    if (m_model.session() && m_model.isSessionOpen(id)) {
        // The old session holds the outline text; its autosave must not
        // write it back over the post.
        m_model.session()->cancelAutosave();
        m_model.setSession(nullptr);
        m_model.setProseOverridePostID(id);
        m_model.openPiece(id);
    }
    if (m_model.outlineGuardPieceID() == id) {
        m_model.setOutlineGuardPieceID(std::nullopt);
        // The guarded piece was selected without being opened.
        if (!m_model.session())
            m_model.setSelectedPostID(std::nullopt);
    }
    return true;
}

void LibraryWrites::setPendingConversion(const std::optional<PendingConversion> &conversion)
{
    m_pendingConversion = conversion;
    emit m_model.pendingConversionChanged();
}

} // namespace model
