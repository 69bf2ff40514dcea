#include "postslibrarycolumn.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "model/postsmodel.h"
#include "panes/library/librarycolumnitems.h"
#include "panes/library/views/launchfocusreset.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/libraryglyphs.h"
#include "panes/library/views/libraryitemdelegate.h"
#include "panes/library/views/librarylistview.h"
#include "panes/library/views/librarysearchrow.h"
#include "panes/library/views/librarysheets.h"

#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace panes {

using app::Palette;
using library::Post;
using Kind = LibraryColumnItem::Kind;

PostsLibraryColumn::PostsLibraryColumn(const QString &home, model::PostsModel *model, QWidget *parent)
    : QWidget(parent), m_home(home), m_model(model), m_search(model, home),
      m_newPost(new GlyphButton(LibraryGlyph::plus, 12, Palette::inkMuted())), m_searchRow(new LibrarySearchRow),
      m_listArea(new QStackedWidget), m_groupedModel(new LibraryColumnModel(this)),
      m_resultsModel(new LibraryColumnModel(this))
{
    setFixedWidth(columnWidth);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Palette::canvas());
    palette.setColor(QPalette::Base, Palette::canvas());
    setPalette(palette);

    m_newPost->setToolTip(u"New Post"_s);
    m_newPost->setAccessibleName(u"New Post"_s);
    connect(m_newPost, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->newPostDraft();
    });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new app::PaneHeader(u"Posts"_s, 14, std::nullopt, m_newPost));
    layout->addWidget(m_searchRow);
    layout->addWidget(m_listArea, 1);

    m_groupedView = makeListView(m_groupedModel, new LibraryItemDelegate(10, this));
    m_resultsView = makeListView(m_resultsModel, new LibraryItemDelegate(12, this));
    m_emptyState = libraryMessageState(u"No posts yet"_s, u"Posts in this Home's projects/ folders appear here."_s);
    m_waiting = new QWidget;
    auto *waitingLayout = new QVBoxLayout(m_waiting);
    waitingLayout->addWidget(new BusySpinner, 0, Qt::AlignCenter);
    m_noMatch = libraryMessageState(u"No matches"_s, QString(), &m_noMatchMessage);
    for (QWidget *page : {static_cast<QWidget *>(m_groupedView), m_emptyState, m_waiting,
                          static_cast<QWidget *>(m_resultsView), m_noMatch})
        m_listArea->addWidget(page);

    connect(m_searchRow, &LibrarySearchRow::queryChanged, this, [this](const QString &query) {
        m_state.query = query;
        m_search.setQuery(query);
        refreshListArea();
    });
    connect(&m_search, &LibrarySearchRunner::snapshotChanged, this, &PostsLibraryColumn::refreshSearch);
    connect(&m_search, &LibrarySearchRunner::currentKeyChanged, this, &PostsLibraryColumn::refreshListArea);
    if (m_model) {
        connect(m_model, &model::PostsModel::postsChanged, this, &PostsLibraryColumn::refreshGrouped);
        connect(m_model, &model::PostsModel::selectedPostIDChanged, this, [this] {
            m_groupedModel->setSelectedID(m_model->selectedPostID());
            m_resultsModel->setSelectedID(m_model->selectedPostID());
        });
        m_groupedModel->setSelectedID(m_model->selectedPostID());
        m_resultsModel->setSelectedID(m_model->selectedPostID());
    }
    new LaunchFocusReset(this);
    refreshGrouped();
}

PostsLibraryColumn::~PostsLibraryColumn() = default;

QListView *PostsLibraryColumn::makeListView(LibraryColumnModel *model, LibraryItemDelegate *delegate)
{
    auto *view = new LibraryListView(model, delegate);
    connect(view, &QListView::clicked, this,
            [this, model](const QModelIndex &index) { itemClicked(model, index.row()); });
    connect(view, &QListView::customContextMenuRequested, this, [this, view](const QPoint &pos) {
        view->popupRowMenu(pos, [this](const Post &post) { return rowMenu(post, this); });
    });
    return view;
}

void PostsLibraryColumn::itemClicked(LibraryColumnModel *model, int row)
{
    if (row < 0 || row >= model->rowCount())
        return;
    const LibraryColumnItem item = model->item(row);
    if (item.kind == Kind::groupHeader)
        toggleCollapsed(item.project);
    else if (item.kind == Kind::row && m_model)
        m_model->selectPiece(item.post.id);
}

void PostsLibraryColumn::toggleCollapsed(const QString &project)
{
    m_state.toggleCollapsed(project);
    refreshGrouped();
}

QMenu *PostsLibraryColumn::rowMenu(const Post &post, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    for (const RowMenuItem &item : LibraryColumnState::rowMenu(post)) {
        QAction *action = menu->addAction(item.title);
        action->setProperty("destructive", item.destructive);
        connect(action, &QAction::triggered, this, [this, post, which = item.action] {
            switch (which) {
            case RowMenuItem::Action::rename: openRenameSheet(post); return;
            case RowMenuItem::Action::moveToProject: openMoveSheet(post); return;
            default: break;
            }
            if (!m_model)
                return;
            switch (which) {
            case RowMenuItem::Action::convertToPost: m_model->requestConvertToPost(post); break;
            case RowMenuItem::Action::archive: m_model->archivePiece(post); break;
            case RowMenuItem::Action::trash: m_model->trashPiece(post); break;
            default: break;
            }
        });
    }
    return menu;
}

void PostsLibraryColumn::openRenameSheet(const Post &post)
{
    // The sheet holds the piece as it was when the menu item was chosen.
    presentSheet(this,
                 new RenamePostSheet(
                     post.title,
                     [model = m_model, post](const QString &title) {
                         if (model)
                             model->renamePiece(post, title);
                     },
                     this),
                 m_renameSheet, m_renamingPost, post);
}

void PostsLibraryColumn::openMoveSheet(const Post &post)
{
    const QStringList projects = m_model ? m_model->projectNames() : QStringList();
    presentSheet(this,
                 new MoveToProjectSheet(
                     post, projects,
                     [model = m_model, post](const QString &project) {
                         if (model)
                             model->movePiece(post, project);
                     },
                     this),
                 m_moveSheet, m_movingPost, post);
}

PostsLibraryColumn::ListArea PostsLibraryColumn::listArea() const
{
    switch (m_search.listState()) {
    case LibrarySearchRunner::ListState::waiting: return ListArea::waiting;
    case LibrarySearchRunner::ListState::results: return ListArea::results;
    case LibrarySearchRunner::ListState::noMatch: return ListArea::noMatch;
    case LibrarySearchRunner::ListState::notSearching: break;
    }
    const QList<Post> none;
    return m_state.listArea(m_model ? m_model->posts() : none) == LibraryColumnState::ListArea::empty
               ? ListArea::empty
               : ListArea::groupedList;
}

void PostsLibraryColumn::refreshGrouped()
{
    m_groupedModel->setItems(
        LibraryColumnItems::grouped(m_model ? m_model->posts() : QList<Post>(), m_state.collapsed));
    refreshListArea();
}

void PostsLibraryColumn::refreshSearch()
{
    if (m_search.listState() == LibrarySearchRunner::ListState::results)
        m_resultsModel->setItems(LibraryColumnItems::results(m_search.snapshot()->results));
    refreshListArea();
}

void PostsLibraryColumn::refreshListArea()
{
    const ListArea area = listArea();
    if (area == ListArea::noMatch)
        m_noMatchMessage->setText(LibrarySearchRunner::noMatchText(m_search.currentKey().query));
    QWidget *page = nullptr;
    switch (area) {
    case ListArea::groupedList: page = m_groupedView; break;
    case ListArea::empty: page = m_emptyState; break;
    case ListArea::waiting: page = m_waiting; break;
    case ListArea::results: page = m_resultsView; break;
    case ListArea::noMatch: page = m_noMatch; break;
    }
    m_listArea->setCurrentWidget(page);
}

} // namespace panes
