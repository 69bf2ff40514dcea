#pragma once
// What the library's lists share: the list view of piece rows (the library
// column's grouped list and results, the archive pane's groups) with its look
// and its batched layout, and the centred message of an empty list.

#include "library/post.h"

#include <QListView>
#include <QPoint>
#include <functional>

class QAbstractItemDelegate;
class QAbstractItemModel;
class QLabel;
class QMenu;

namespace panes {

class LibraryListView : public QListView {
    Q_OBJECT
public:
    LibraryListView(QAbstractItemModel *model, QAbstractItemDelegate *delegate, QWidget *parent = nullptr);

    // Where the last mouse button was released, in viewport coordinates: the
    // clicked signal carries the item only.
    QPoint lastReleasePos() const { return m_lastRelease; }
    // Pops up the menu made for the piece of the row at pos (viewport
    // coordinates), deleted once closed; nothing over anything but a row.
    void popupRowMenu(const QPoint &pos, const std::function<QMenu *(const library::Post &post)> &make);

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPoint m_lastRelease;
};

// A centred title and grey sentence, padded 38 around: the empty and
// no-match states. messageLabel, when given, receives the sentence's label.
QWidget *libraryMessageState(const QString &title, const QString &message, QLabel **messageLabel = nullptr);

} // namespace panes
