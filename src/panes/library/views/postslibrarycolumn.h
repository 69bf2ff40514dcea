#pragma once
// The library column at the left of the posts pane: the "Posts" header with
// New Post, the search row, and the list area (the grouped library, the empty
// state, or the search's spinner, results and no-match state). Rows are items
// of a list view painted by a delegate; a click opens the piece and each row
// carries the context menu of the library actions. Everything it lists comes
// from the library model, and every change goes through the model.

#include "library/post.h"
#include "model/postsmodel.h"
#include "panes/library/librarygroups.h"
#include "panes/library/librarysearchrunner.h"
#include "panes/library/views/librarysheets.h"

#include <QPointer>
#include <QWidget>
#include <optional>

class QAbstractButton;
class QLabel;
class QListView;
class QMenu;
class QStackedWidget;

namespace panes {

class LibraryColumnModel;
class LibraryItemDelegate;
class LibrarySearchRow;

class PostsLibraryColumn : public QWidget {
    Q_OBJECT
public:
    static constexpr int columnWidth = 232;
    enum class ListArea { groupedList, empty, waiting, results, noMatch };

    PostsLibraryColumn(const QString &home, model::PostsModel *model, QWidget *parent = nullptr);
    ~PostsLibraryColumn() override;

    const QString &home() const { return m_home; }
    model::PostsModel *model() const { return m_model; }

    // --- View state ----------------------------------------------------------
    const CollapsedProjects &collapsed() const { return m_state.collapsed; }
    void toggleCollapsed(const QString &project);
    bool isSearching() const { return m_search.isSearching(); }
    LibrarySearchRunner &search() { return m_search; }
    ListArea listArea() const;
    const std::optional<library::Post> &renamingPost() const { return m_renamingPost; }
    const std::optional<library::Post> &movingPost() const { return m_movingPost; }

    // --- Actions -------------------------------------------------------------
    // The row's context menu with its actions wired, owned by parent.
    QMenu *rowMenu(const library::Post &post, QWidget *parent);
    void openRenameSheet(const library::Post &post);
    void openMoveSheet(const library::Post &post);

    // --- Parts, for the pane and for tests -------------------------------------
    QAbstractButton *newPostButton() const { return m_newPost; }
    LibrarySearchRow *searchRow() const { return m_searchRow; }
    QListView *groupedView() const { return m_groupedView; }
    QListView *resultsView() const { return m_resultsView; }
    LibraryColumnModel *groupedModel() const { return m_groupedModel; }
    LibraryColumnModel *resultsModel() const { return m_resultsModel; }
    QLabel *noMatchMessage() const { return m_noMatchMessage; }
    RenamePostSheet *renameSheet() const { return m_renameSheet; }
    MoveToProjectSheet *moveSheet() const { return m_moveSheet; }

private:
    QListView *makeListView(LibraryColumnModel *model, LibraryItemDelegate *delegate);
    void itemClicked(LibraryColumnModel *model, int row);
    void refreshGrouped();
    void refreshSearch();
    void refreshListArea();

    QString m_home;
    QPointer<model::PostsModel> m_model;
    LibraryColumnState m_state;
    LibrarySearchRunner m_search;
    std::optional<library::Post> m_renamingPost;
    std::optional<library::Post> m_movingPost;
    QPointer<RenamePostSheet> m_renameSheet;
    QPointer<MoveToProjectSheet> m_moveSheet;

    QAbstractButton *m_newPost;
    LibrarySearchRow *m_searchRow;
    QStackedWidget *m_listArea;
    LibraryColumnModel *m_groupedModel;
    LibraryColumnModel *m_resultsModel;
    QListView *m_groupedView;
    QListView *m_resultsView;
    QWidget *m_emptyState;
    QWidget *m_waiting;
    QWidget *m_noMatch;
    QLabel *m_noMatchMessage;
};

} // namespace panes
