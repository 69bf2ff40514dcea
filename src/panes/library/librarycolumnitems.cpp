#include "librarycolumnitems.h"

#include "panes/library/librarysearchrunner.h"

namespace panes::LibraryColumnItems {

using library::Post;

namespace {

LibraryColumnItem rowItem(Post post)
{
    LibraryColumnItem item;
    item.kind = LibraryColumnItem::Kind::row;
    item.post = std::move(post);
    return item;
}

LibraryColumnItem captionItem(const QString &text)
{
    LibraryColumnItem item;
    item.kind = LibraryColumnItem::Kind::caption;
    item.text = text;
    return item;
}

LibraryColumnItem headerItem(const QString &project, qsizetype count, const CollapsedProjects &collapsed,
                             const QString &text)
{
    LibraryColumnItem item;
    item.kind = LibraryColumnItem::Kind::groupHeader;
    item.project = project;
    item.count = count;
    item.collapsed = collapsed.contains(project);
    item.text = text;
    return item;
}

} // namespace

QList<LibraryColumnItem> grouped(const QList<Post> &posts, const CollapsedProjects &collapsed)
{
    QList<LibraryColumnItem> items;
    items.reserve(posts.size() + 64);
    for (const ProjectGroup &group : LibraryColumnState::piecesByProject(posts)) {
        const LibraryColumnItem header = headerItem(group.project, group.pieces.size(), collapsed,
                                                    LibraryColumnState::headerAccessibilityLabel(group));
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

QList<LibraryColumnItem> archived(const QList<Post> &posts, const CollapsedProjects &collapsed)
{
    QList<LibraryColumnItem> items;
    items.reserve(posts.size() + 64);
    // Positions, not copies: each shown piece is copied once, into its row.
    for (const LibraryGroups::ProjectPositions &group : LibraryGroups::positionsByProject(posts, true)) {
        const LibraryColumnItem header = headerItem(group.project, group.positions.size(), collapsed,
                                                    ArchivePaneState::toggleAccessibilityLabel(group.project));
        items.append(header);
        if (header.collapsed)
            continue;
        for (qsizetype i : group.positions)
            items.append(rowItem(posts[i]));
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
