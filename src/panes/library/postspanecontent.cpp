#include "postspanecontent.h"

#include "model/postsmodel.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace panes {

using library::Post;
using model::SessionTarget;

namespace PostsPaneLayout {

PostsPaneColumns regular(double availableWidth)
{
    return {availableWidth >= libraryColumnThreshold, availableWidth >= mentorThreshold};
}

PostsPaneColumns focused(double availableWidth, bool writingLocked)
{
    return {false, availableWidth >= mentorThreshold && !writingLocked};
}

} // namespace PostsPaneLayout

bool PostsEditorContent::openPieceIsOutline(const model::PostsModel &model, const std::optional<QString> &id)
{
    // Two absent ids count as equal.
    if (model.proseOverridePostID() == id)
        return false;
    if (model.lastDraftWasOutline())
        return true;
    for (const Post &post : model.posts()) {
        if (id && post.id == *id)
            return post.type == Post::ContentType::outline;
    }
    return false;
}

PostsEditorContent PostsEditorContent::of(const model::PostsModel &model)
{
    PostsEditorContent content;
    if (const auto &draft = model.draft()) {
        content.which = Case::draft;
        content.identityKey = u"draft-"_s + draft->mountID.toString(QUuid::WithoutBraces).toUpper();
        content.outline = draft->type == Post::ContentType::outline;
        return content;
    }
    if (const model::EditorSession *outside = model.externalSession()) {
        content.which = Case::outsideFile;
        const SessionTarget &target = outside->target();
        content.identityKey = target.kind() == SessionTarget::Kind::externalFile
                                  ? QUrl::fromLocalFile(target.filePath()).toString()
                                  : u"external"_s;
        return content;
    }
    if (const model::EditorSession *session = model.session()) {
        const SessionTarget &target = session->target();
        // An outside file has no piece id; two absent ids count as equal.
        const std::optional<QString> pieceID =
            target.kind() == SessionTarget::Kind::post ? std::optional<QString>(target.id()) : std::nullopt;
        if (pieceID == model.selectedPostID()) {
            content.which = Case::openPiece;
            content.identityKey = pieceID.value_or(u"post"_s);
            content.outline = openPieceIsOutline(model, pieceID);
            content.publish = true;
            return content;
        }
    }
    content.which = model.outlineGuardPieceID() ? Case::heldOutline : Case::nothingOpen;
    return content;
}

QString PostsEditorContent::emptySymbol(Case which)
{
    return which == Case::heldOutline ? u"list.bullet"_s : u"square.and.pencil"_s;
}

QString PostsEditorContent::emptyMessage(Case which)
{
    return which == Case::heldOutline ? u"This outline has lines the outliner can't show."_s
                                      : u"Select a post, or start a new one."_s;
}

} // namespace panes
