// Turning an outline piece into a prose post, behind the convert-to-post
// sheet. The sheet shows whether the ladder of headings would lose lines; by
// the time the writer answers, the outline may have changed, so Headings
// re-checks the disk when the sheet promised no loss.

#include "model/postsmodel.h"

#include "library/outlinenode.h"
#include "library/piececontents.h"

namespace model {

using namespace Qt::StringLiterals;
using library::Post;
namespace PostStore = library::PostStore;

void PostsModel::requestConvertToPost(const Post &post)
{
    if (post.type != Post::ContentType::outline)
        return;
    // Unsaved typing counts: it is what the conversion will see after the flush.
    QString text;
    if (m_session && isSessionOpen(post.id))
        text = m_session->text();
    else if (m_watchedHome)
        text = PostStore::readText(post.id, *m_watchedHome).value_or(QString());
    setPendingConversion(PendingConversion{post.id, library::OutlineNode::wouldDropLines(text)});
}

void PostsModel::convertToPost(bool headings)
{
    if (!m_pendingConversion)
        return;
    // A refused conversion needs a new request.
    const PendingConversion pending = *m_pendingConversion;
    setPendingConversion(std::nullopt);

    if (m_session && isSessionOpen(pending.id) && !flushSession(*m_session))
        return;
    if (conversionNowDropsLines(pending.id, pending.lossy, headings)) {
        setLastError(u"The outline changed since the sheet opened — nothing was converted."_s);
        return;
    }
    if (!m_watchedHome) {
        setLastError(noLibraryMessage);
        return;
    }
    setLastError(std::nullopt);
    if (performConversion(*m_watchedHome, pending.id, headings))
        rescanLater();
}

bool PostsModel::conversionNowDropsLines(const QString &id, bool lossy, bool headings) const
{
    // Verbatim keeps every line, and a sheet that showed the loss was answered knowingly.
    if (!headings || lossy || !m_watchedHome)
        return false;
    const std::optional<QString> body = PostStore::readText(id, *m_watchedHome);
    return body && library::OutlineNode::wouldDropLines(*body);
}

bool PostsModel::performConversion(const QString &home, const QString &id, bool headings)
{
    if (!attempt([&] { PostStore::rewriteAsPost(id, headings, home); }))
        return false;
    if (m_session && isSessionOpen(id)) {
        // The old session holds the outline text; its autosave must not
        // write it back over the post.
        m_session->cancelAutosave();
        setSession(nullptr);
        setProseOverridePostID(id);
        openPiece(id);
    }
    if (m_outlineGuardPieceID == id) {
        setOutlineGuardPieceID(std::nullopt);
        // The guarded piece was selected without being opened.
        if (!m_session)
            setSelectedPostID(std::nullopt);
    }
    return true;
}

} // namespace model
