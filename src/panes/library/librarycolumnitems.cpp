#include "librarycolumnitems.h"

#include "panes/library/librarysearchrunner.h"

namespace panes::LibraryColumnItems {

using library::Post;

namespace {

LibraryColumnItem rowItem(const Post &post)
{
    LibraryColumnItem item;
    item.kind = LibraryColumnItem::Kind::row;
    item.post = post;
    return item;
}

LibraryColumnItem captionItem(const QString &text)
{
    LibraryColumnItem item;
    item.kind = LibraryColumnItem::Kind::caption;
    item.text = text;
    return item;
}

} // namespace

QList<LibraryColumnItem> grouped(const QList<Post> &posts, const CollapsedProjects &collapsed)
{
    QList<LibraryColumnItem> items;
    items.reserve(posts.size() + 64);
    for (const ProjectGroup &group : LibraryColumnState::piecesByProject(posts)) {
        LibraryColumnItem header;
        header.kind = LibraryColumnItem::Kind::groupHeader;
        header.project = group.project;
        header.count = group.pieces.size();
        header.collapsed = collapsed.contains(group.project);
        header.text = LibraryColumnState::headerAccessibilityLabel(group);
        items.append(header);
        if (header.collapsed)
            continue;
        for (const PassSection &section : LibraryGroups::passSections(group.pieces)) {
            items.append(captionItem(LibraryGroups::passCaption(section.state)));
            for (const Post &post : section.pieces)
                items.append(rowItem(post));
        }
    }
    return items;
}

QList<LibraryColumnItem> results(const QList<Post> &found)
{
    QList<LibraryColumnItem> items;
    items.reserve(found.size() + 1);
    items.append(captionItem(LibrarySearchRunner::matchCaption(found.size())));
    for (const Post &post : found)
        items.append(rowItem(post));
    return items;
}

} // namespace panes::LibraryColumnItems
