#include "librarygroups.h"

#include "foundation/text.h"

#include <QHash>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace panes {

using library::Post;

void CollapsedProjects::toggle(const QString &project)
{
    if (!m_names.remove(project))
        m_names.insert(project);
}

namespace LibraryGroups {

namespace {

QList<Post> filtered(const QList<Post> &posts, bool archived)
{
    QList<Post> out;
    out.reserve(posts.size());
    for (const Post &post : posts) {
        if (post.isArchived == archived)
            out.append(post);
    }
    return out;
}

} // namespace

QList<Post> livePieces(const QList<Post> &posts)
{
    return filtered(posts, false);
}

QList<Post> archivedPieces(const QList<Post> &posts)
{
    return filtered(posts, true);
}

namespace {

// The positions of the pieces that keep takes, grouped by project in
// natural order of the names.
template<typename Keep>
QList<ProjectPositions> grouped(const QList<Post> &posts, Keep keep)
{
    QStringList names;
    QHash<QString, qsizetype> index;
    QList<ProjectPositions> groups;
    for (qsizetype i = 0; i < posts.size(); ++i) {
        const Post &post = posts[i];
        if (!keep(post))
            continue;
        auto it = index.constFind(post.project);
        if (it == index.cend()) {
            it = index.insert(post.project, groups.size());
            names.append(post.project);
            groups.append(ProjectPositions{post.project, {}});
        }
        groups[*it].positions.append(i);
    }
    QList<ProjectPositions> sorted;
    sorted.reserve(groups.size());
    for (qsizetype i : foundation::text::DisplayCollator().order(names))
        sorted.append(std::move(groups[i]));
    return sorted;
}

} // namespace

QList<ProjectGroup> byProject(QList<Post> pieces)
{
    QList<ProjectGroup> groups;
    for (const ProjectPositions &group : grouped(pieces, [](const Post &) { return true; })) {
        ProjectGroup moved{group.project, {}};
        moved.pieces.reserve(group.positions.size());
        for (qsizetype i : group.positions)
            moved.pieces.append(std::move(pieces[i]));
        groups.append(std::move(moved));
    }
    return groups;
}

QList<ProjectPositions> positionsByProject(const QList<Post> &posts, bool archived)
{
    return grouped(posts, [archived](const Post &post) { return post.isArchived == archived; });
}

QList<PassSection> passSections(const QList<Post> &pieces)
{
    QList<PassSection> sections;
    for (Post::PassState state : Post::PassState::allCases()) {
        PassSection section{state, {}};
        for (const Post &post : pieces) {
            if (post.passState == state)
                section.pieces.append(post);
        }
        if (!section.pieces.isEmpty())
            sections.append(std::move(section));
    }
    return sections;
}

QString passCaption(Post::PassState state)
{
    return state.rawValue().toUpper().replace(u'-', u' ');
}

QString countText(qsizetype count)
{
    return u"\u00b7 "_s + QString::number(count);
}

QString collapsedHint(bool collapsed)
{
    return collapsed ? u"Collapsed"_s : u"Expanded"_s;
}

} // namespace LibraryGroups

QList<ProjectGroup> LibraryColumnState::piecesByProject(const QList<Post> &posts)
{
    return LibraryGroups::byProject(LibraryGroups::livePieces(posts));
}

bool LibraryColumnState::isSearching() const
{
    return !foundation::text::trimSpacesAndNewlines(query).isEmpty();
}

LibraryColumnState::ListArea LibraryColumnState::listArea(const QList<Post> &posts) const
{
    if (isSearching())
        return ListArea::searching;
    const bool anyLive = std::any_of(posts.cbegin(), posts.cend(), [](const Post &p) { return !p.isArchived; });
    return anyLive ? ListArea::groupedList : ListArea::empty;
}

QString LibraryColumnState::headerName(const QString &project)
{
    return QLocale().toLower(project);
}

QString LibraryColumnState::headerAccessibilityLabel(const ProjectGroup &group)
{
    return group.project + u", "_s + QString::number(group.pieces.size()) + u" pieces"_s;
}

QList<PassSection> LibraryColumnState::visibleSections(const ProjectGroup &group) const
{
    if (collapsed.contains(group.project))
        return {};
    return LibraryGroups::passSections(group.pieces);
}

QList<RowMenuItem> LibraryColumnState::rowMenu(const Post &post)
{
    using A = RowMenuItem::Action;
    QList<RowMenuItem> items{{A::rename, u"Rename\u2026"_s, false}};
    if (post.type == Post::ContentType::outline)
        items.append({A::convertToPost, u"Convert to Post\u2026"_s, false});
    items.append({A::moveToProject, u"Move to Project\u2026"_s, false});
    items.append({A::archive, u"Move to Archive"_s, false});
    items.append({A::trash, u"Move to Trash"_s, true});
    return items;
}

QList<ProjectGroup> ArchivePaneState::archivedGroups(const QList<Post> &posts)
{
    return LibraryGroups::byProject(LibraryGroups::archivedPieces(posts));
}

bool ArchivePaneState::showsEmptyState(const QList<Post> &posts) const
{
    return std::none_of(posts.cbegin(), posts.cend(), [](const Post &p) { return p.isArchived; });
}

QList<Post> ArchivePaneState::visibleRows(const ProjectGroup &group) const
{
    return collapsed.contains(group.project) ? QList<Post>{} : group.pieces;
}

QString ArchivePaneState::headerName(const QString &project)
{
    return QLocale().toUpper(project);
}

QString ArchivePaneState::toggleAccessibilityLabel(const QString &project)
{
    return u"Toggle "_s + project;
}

QString ArchivePaneState::unarchiveAccessibilityLabel(const QString &project)
{
    return u"Unarchive "_s + project;
}

QList<RowMenuItem> ArchivePaneState::rowMenu(const Post &post)
{
    using A = RowMenuItem::Action;
    QList<RowMenuItem> items{{A::restore, u"Move Back to "_s + post.project, false},
                             {A::rename, u"Rename\u2026"_s, false}};
    if (post.type == Post::ContentType::outline)
        items.append({A::convertToPost, u"Convert to Post\u2026"_s, false});
    return items;
}

} // namespace panes
