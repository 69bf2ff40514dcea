#pragma once
// The Home's Archive pane: the archived pieces grouped by project in natural
// order, each group foldable with its count and "Unarchive Group" button, the
// pieces as library rows with their menu (move back, rename, convert an
// outline) and the rename sheet, or the empty state. It keeps only view
// state (the folds, the piece being renamed); the list comes from the library
// model and every change goes through it, which reports its own refusals.

#include "library/post.h"
#include "model/postsmodel.h"
#include "panes/library/librarygroups.h"
#include "panes/library/views/librarysheets.h"

#include <QHash>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class QMenu;
class QPushButton;
class QStackedWidget;

namespace panes {

class ArchiveItemDelegate;
class LibraryColumnModel;
class LibraryListView;

class ArchivePaneView : public QWidget {
    Q_OBJECT
public:
    // Runs a model call of the pane so that what it opens stays behind the
    // pane; the default runs it as it is.
    using KeepInFront = std::function<void(const std::function<void()> &call)>;

    ArchivePaneView(model::PostsModel *model, std::function<void()> onOpenPiece, KeepInFront keepInFront = {},
                    QWidget *parent = nullptr);
    ~ArchivePaneView() override;

    // --- View state ----------------------------------------------------------
    const CollapsedProjects &collapsed() const { return m_state.collapsed; }
    void toggleCollapsed(const QString &project);
    bool showsEmptyState() const;
    const std::optional<library::Post> &renamingPost() const { return m_renamingPost; }

    // --- Actions -------------------------------------------------------------
    // A click on a row: opens the piece, then the posts pane. Runs on the
    // next turn of the event loop, since the workspace may drop this pane.
    void openPiece(const QString &id);
    void unarchiveGroup(const QString &project);
    void moveBack(const library::Post &post);
    void requestConvert(const library::Post &post);
    void openRenameSheet(const library::Post &post);
    // The row's context menu with its actions wired, owned by parent.
    QMenu *rowMenu(const library::Post &post, QWidget *parent);

    // --- Parts, for tests --------------------------------------------------------
    LibraryListView *listView() const { return m_list; }
    LibraryColumnModel *itemModel() const { return m_items; }
    ArchiveItemDelegate *delegate() const { return m_delegate; }
    QWidget *emptyState() const { return m_emptyState; }
    // The "Unarchive Group" button on the project's header; null while it
    // has none.
    QPushButton *unarchiveButton(const QString &project) const;
    RenamePostSheet *renameSheet() const { return m_renameSheet; }

private:
    struct GroupButton {
        QPersistentModelIndex index;
        QPointer<QPushButton> button;
    };

    void refresh();
    void placeButtons();
    void itemClicked(const QModelIndex &index);
    void keep(const std::function<void()> &call);

    QPointer<model::PostsModel> m_model;
    std::function<void()> m_onOpenPiece;
    KeepInFront m_keepInFront;
    ArchivePaneState m_state;
    std::optional<library::Post> m_renamingPost;
    QPointer<RenamePostSheet> m_renameSheet;
    QHash<QString, GroupButton> m_buttons;

    QStackedWidget *m_listArea;
    LibraryColumnModel *m_items;
    ArchiveItemDelegate *m_delegate;
    LibraryListView *m_list;
    QWidget *m_emptyState;
};

} // namespace panes
