#pragma once
// The grouping of the library's pieces by project for the library column
// (live pieces, with pass-state sections) and the archive pane (archived
// pieces), the folded groups, the list area's state and the texts of the
// headers and context menus. Worked out anew from the model's list each time;
// no copy of the library is kept.

#include "library/post.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace panes {

// One pass state's pieces inside an open group, with its caption.
struct PassSection {
    library::Post::PassState state = library::Post::PassState::firstDraft;
    QList<library::Post> pieces;
    bool operator==(const PassSection &) const = default;
};

// One project's pieces, in the model's order.
struct ProjectGroup {
    QString project;
    QList<library::Post> pieces;
    bool operator==(const ProjectGroup &) const = default;
};

// One item of a row's context menu.
struct RowMenuItem {
    enum class Action { rename, convertToPost, moveToProject, archive, trash, restore };
    Action action = Action::rename;
    QString title;
    bool destructive = false;
    bool operator==(const RowMenuItem &) const = default;
};

// The names of folded groups. Never pruned: a name outlives its group and
// folds a later group of the same name.
class CollapsedProjects {
public:
    void toggle(const QString &project);
    bool contains(const QString &project) const { return m_names.contains(project); }
    qsizetype size() const { return m_names.size(); }

private:
    QSet<QString> m_names;
};

namespace LibraryGroups {

// The pieces not archived / archived, in the model's order.
QList<library::Post> livePieces(const QList<library::Post> &posts);
QList<library::Post> archivedPieces(const QList<library::Post> &posts);
// The pieces grouped by project, the groups in natural order of their names
// (case ignored, digit runs by value); each group keeps the pieces' order.
// The pieces are moved into their groups.
QList<ProjectGroup> byProject(QList<library::Post> pieces);
// The same grouping as positions in posts, of the pieces whose isArchived is
// archived: for a long list that only reads its groups, no copy of a piece.
struct ProjectPositions {
    QString project;
    QList<qsizetype> positions;
};
QList<ProjectPositions> positionsByProject(const QList<library::Post> &posts, bool archived);
// The sections of a group in the order First Draft, Pass-1 Done, Pass-2 Done;
// a state without pieces has no section.
QList<PassSection> passSections(const QList<library::Post> &pieces);
// "FIRST DRAFT", "PASS 1 DONE", "PASS 2 DONE".
QString passCaption(library::Post::PassState state);
// "· 3".
QString countText(qsizetype count);
// "Collapsed" or "Expanded".
QString collapsedHint(bool collapsed);

} // namespace LibraryGroups

// The logic of the library column: its live groups, folds and what its list
// area shows.
class LibraryColumnState {
public:
    enum class ListArea { groupedList, empty, searching };

    CollapsedProjects collapsed;
    QString query;

    static QList<ProjectGroup> piecesByProject(const QList<library::Post> &posts);
    void toggleCollapsed(const QString &project) { collapsed.toggle(project); }
    // The trimmed query is not empty.
    bool isSearching() const;
    ListArea listArea(const QList<library::Post> &posts) const;

    // The group header: the name as shown (lower case) and its accessibility
    // label ("essays, 3 pieces", "pieces" even for one).
    static QString headerName(const QString &project);
    static QString headerAccessibilityLabel(const ProjectGroup &group);
    // The sections an open group shows; none while it is folded.
    QList<PassSection> visibleSections(const ProjectGroup &group) const;
    // "Rename…", "Convert to Post…" (outlines only), "Move to Project…",
    // "Move to Archive", "Move to Trash" (destructive).
    static QList<RowMenuItem> rowMenu(const library::Post &post);
};

// The logic of the archive pane: archived pieces grouped by project.
class ArchivePaneState {
public:
    CollapsedProjects collapsed;

    static QList<ProjectGroup> archivedGroups(const QList<library::Post> &posts);
    void toggleCollapsed(const QString &project) { collapsed.toggle(project); }
    bool showsEmptyState(const QList<library::Post> &posts) const;
    // The rows an open group shows; none while it is folded.
    QList<library::Post> visibleRows(const ProjectGroup &group) const;

    // The group header: the name as shown (upper case), "Toggle <name>" and
    // "Unarchive <name>".
    static QString headerName(const QString &project);
    static QString toggleAccessibilityLabel(const QString &project);
    static QString unarchiveAccessibilityLabel(const QString &project);
    // "Move Back to <project>", "Rename…", "Convert to Post…" (outlines only).
    static QList<RowMenuItem> rowMenu(const library::Post &post);
};

} // namespace panes
