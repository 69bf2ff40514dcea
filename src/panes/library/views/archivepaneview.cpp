#include "archivepaneview.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "panes/library/librarycolumnitems.h"
#include "panes/library/views/archiveitemdelegate.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/librarylistview.h"

#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace panes {

using app::Palette;
using library::Post;
using Kind = LibraryColumnItem::Kind;

namespace {

void runKept(const ArchivePaneView::KeepInFront &keepInFront, const std::function<void()> &call)
{
    if (keepInFront)
        keepInFront(call);
    else
        call();
}

} // namespace

ArchivePaneView::ArchivePaneView(model::PostsModel *model, std::function<void()> onOpenPiece, KeepInFront keepInFront,
                                 QWidget *parent)
    : QWidget(parent), m_model(model), m_onOpenPiece(std::move(onOpenPiece)), m_keepInFront(std::move(keepInFront)),
      m_listArea(new QStackedWidget), m_items(new LibraryColumnModel(this)), m_delegate(new ArchiveItemDelegate(this))
{
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Palette::canvas());
    palette.setColor(QPalette::Base, Palette::canvas());
    setPalette(palette);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new app::PaneHeader(u"Archive"_s, 14, ArchiveItemDelegate::maxWidth, nullptr));
    layout->addWidget(m_listArea, 1);

    m_list = new LibraryListView(m_items, m_delegate);
    m_emptyState = libraryMessageState(u"Nothing archived"_s,
                                       u"Finished projects and pieces fold away here. Move things here from their "
                                       "context menu; they stay openable and editable."_s);
    m_listArea->addWidget(m_list);
    m_listArea->addWidget(m_emptyState);

    connect(m_list, &QListView::clicked, this, &ArchivePaneView::itemClicked);
    connect(m_list, &QListView::customContextMenuRequested, this, [this](const QPoint &pos) {
        m_list->popupRowMenu(pos, [this](const Post &post) { return rowMenu(post, this); });
    });
    if (m_model) {
        connect(m_model, &model::PostsModel::postsChanged, this, &ArchivePaneView::refresh);
        connect(m_model, &model::PostsModel::selectedPostIDChanged, this,
                [this] { m_items->setSelectedID(m_model->selectedPostID()); });
        m_items->setSelectedID(m_model->selectedPostID());
    }
    refresh();
}

ArchivePaneView::~ArchivePaneView() = default;

bool ArchivePaneView::showsEmptyState() const
{
    return m_state.showsEmptyState(m_model ? m_model->posts() : QList<Post>());
}

void ArchivePaneView::toggleCollapsed(const QString &project)
{
    m_state.toggleCollapsed(project);
    refresh();
}

void ArchivePaneView::refresh()
{
    m_items->setItems(LibraryColumnItems::archived(m_model ? m_model->posts() : QList<Post>(), m_state.collapsed));
    placeButtons();
    m_listArea->setCurrentWidget(showsEmptyState() ? m_emptyState : static_cast<QWidget *>(m_list));
}

void ArchivePaneView::placeButtons()
{
    // A button follows its header through inserts and removals; one whose
    // place now holds something else, or whose group has gone, is dropped.
    for (auto it = m_buttons.begin(); it != m_buttons.end();) {
        const QPersistentModelIndex &index = it->index;
        const bool stays = it->button && index.isValid() && m_items->item(index.row()).kind == Kind::groupHeader
                           && m_items->item(index.row()).project == it.key();
        if (stays) {
            ++it;
            continue;
        }
        // The view lets go of a removed row's widget itself.
        if (index.isValid() && m_list->indexWidget(index) == it->button)
            m_list->setIndexWidget(index, nullptr);
        it = m_buttons.erase(it);
    }
    const QList<LibraryColumnItem> &items = m_items->items();
    for (int row = 0; row < items.size(); ++row) {
        if (items[row].kind != Kind::groupHeader || m_buttons.contains(items[row].project))
            continue;
        const QString project = items[row].project;
        QPushButton *button = ArchiveItemDelegate::makeUnarchiveButton(project);
        connect(button, &QPushButton::clicked, this, [this, project] { unarchiveGroup(project); });
        const QModelIndex index = m_items->index(row);
        m_list->setIndexWidget(index, button);
        m_buttons.insert(project, GroupButton{index, button});
    }
}

QPushButton *ArchivePaneView::unarchiveButton(const QString &project) const
{
    const auto it = m_buttons.constFind(project);
    return it == m_buttons.cend() ? nullptr : it->button.data();
}

void ArchivePaneView::itemClicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const LibraryColumnItem &item = m_items->item(index.row());
    if (item.kind == Kind::row) {
        openPiece(item.post.id);
        return;
    }
    // Only the chevron and the name fold; the count and the space do not.
    if (m_delegate->toggleArea(m_list->visualRect(index), index).contains(m_list->lastReleasePos()))
        toggleCollapsed(item.project);
}

void ArchivePaneView::openPiece(const QString &id)
{
    // Opening brings the posts pane forward, which drops this pane: not
    // from inside the list's own click.
    QTimer::singleShot(0, this, [model = m_model, id, open = m_onOpenPiece] {
        if (model)
            model->selectPiece(id);
        if (open)
            open();
    });
}

void ArchivePaneView::keep(const std::function<void()> &call)
{
    runKept(m_keepInFront, call);
}

void ArchivePaneView::unarchiveGroup(const QString &project)
{
    keep([model = m_model, project] {
        if (model)
            model->unarchiveProject(project);
    });
}

void ArchivePaneView::moveBack(const Post &post)
{
    // The model opens the piece where it lands; the pane stays in front.
    keep([model = m_model, post] {
        if (model)
            model->restorePiece(post);
    });
}

void ArchivePaneView::requestConvert(const Post &post)
{
    keep([model = m_model, post] {
        if (model)
            model->requestConvertToPost(post);
    });
}

void ArchivePaneView::openRenameSheet(const Post &post)
{
    // The sheet holds the piece as it was when the menu item was chosen.
    presentSheet(this,
                 new RenamePostSheet(
                     post.title,
                     [model = m_model, keepInFront = m_keepInFront, post](const QString &title) {
                         runKept(keepInFront, [&] {
                             if (model)
                                 model->renamePiece(post, title);
                         });
                     },
                     this),
                 m_renameSheet, m_renamingPost, post);
}

QMenu *ArchivePaneView::rowMenu(const Post &post, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    for (const RowMenuItem &item : ArchivePaneState::rowMenu(post)) {
        QAction *action = menu->addAction(item.title);
        connect(action, &QAction::triggered, this, [this, post, which = item.action] {
            switch (which) {
            case RowMenuItem::Action::restore: moveBack(post); break;
            case RowMenuItem::Action::rename: openRenameSheet(post); break;
            case RowMenuItem::Action::convertToPost: requestConvert(post); break;
            default: break;
            }
        });
    }
    return menu;
}

} // namespace panes
