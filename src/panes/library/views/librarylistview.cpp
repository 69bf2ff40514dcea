#include "librarylistview.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "panes/library/views/librarycolumnmodel.h"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace panes {

using app::Palette;
using app::Typeface;

LibraryListView::LibraryListView(QAbstractItemModel *model, QAbstractItemDelegate *delegate, QWidget *parent)
    : QListView(parent)
{
    setModel(model);
    setItemDelegate(delegate);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(16);
    // A slim bar in the palette's ink rather than the style's bevelled one.
    const QColor ink = Palette::ink();
    verticalScrollBar()->setStyleSheet(
        u"QScrollBar:vertical { width: 8px; background: transparent; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgba(%1, %2, %3, 46); border-radius: 3px; min-height: 28px;"
        " margin: 2px 2px 2px 0; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"_s.arg(ink.red())
            .arg(ink.green())
            .arg(ink.blue()));
    // Items are laid out in batches as they scroll in.
    setLayoutMode(QListView::Batched);
    setBatchSize(200);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

// QListView lays every item out again on any change of data, and a batched
// layout restarts from the top, so the list would snap back to its first
// batch. A change that names the roles it touched and leaves the kind (and
// so every height) alone only repaints the rows.
void LibraryListView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    if (!roles.isEmpty() && !roles.contains(LibraryColumnModel::KindRole))
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    else
        QListView::dataChanged(topLeft, bottomRight, roles);
}

void LibraryListView::mouseReleaseEvent(QMouseEvent *event)
{
    m_lastRelease = event->position().toPoint();
    QListView::mouseReleaseEvent(event);
}

void LibraryListView::popupRowMenu(const QPoint &pos, const std::function<QMenu *(const library::Post &post)> &make)
{
    const auto *items = qobject_cast<LibraryColumnModel *>(model());
    const QModelIndex index = indexAt(pos);
    if (!items || !index.isValid() || items->item(index.row()).kind != LibraryColumnItem::Kind::row)
        return;
    QMenu *menu = make(items->item(index.row()).post);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(viewport()->mapToGlobal(pos));
}

QWidget *libraryMessageState(const QString &title, const QString &message, QLabel **messageLabel)
{
    auto *state = new QWidget;
    auto *layout = new QVBoxLayout(state);
    layout->setContentsMargins(38, 38, 38, 38);
    layout->setSpacing(8);
    layout->addStretch(1);
    auto *heading = new QLabel(title);
    heading->setFont(Typeface::font(Typeface::serif(), 16, QFont::DemiBold));
    heading->setAlignment(Qt::AlignHCenter);
    layout->addWidget(heading);
    QLabel *sentence = app::plainLabel(message, Typeface::font(QFont().family(), 13), Palette::inkMuted());
    sentence->setWordWrap(true);
    sentence->setAlignment(Qt::AlignHCenter);
    layout->addWidget(sentence);
    layout->addStretch(1);
    if (messageLabel)
        *messageLabel = sentence;
    return state;
}

} // namespace panes
