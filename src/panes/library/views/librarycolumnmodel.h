#pragma once
// The item model behind the library column's list views. New items are laid
// over the old ones by their differences: an unchanged prefix and suffix stay,
// changed items in between report dataChanged, and only a change of length
// inserts or removes rows, so a rescan or a keystroke never resets the view.
// The selected piece is a role, so a new selection repaints two rows. A change
// names its roles: the kind (and with it the item's height) only when an
// item's kind changed, so the view need not lay the list out again.

#include "panes/library/librarycolumnitems.h"

#include <QAbstractListModel>
#include <QHash>
#include <optional>

namespace panes {

class LibraryColumnModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { KindRole = Qt::UserRole + 1, SelectedRole, CollapsedRole };

    explicit LibraryColumnModel(QObject *parent = nullptr);

    void setItems(const QList<LibraryColumnItem> &items);
    const QList<LibraryColumnItem> &items() const { return m_items; }
    const LibraryColumnItem &item(int row) const { return m_items.at(row); }
    void setSelectedID(const std::optional<QString> &id);
    // The row of the piece id, -1 when it has none.
    int rowOfPiece(const QString &id) const { return m_rowOfPiece.value(id, -1); }
    // The row of the project's header, -1 when it has none.
    int rowOfHeader(const QString &project) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    void reindex();
    void changed(int first, int last, bool kindChanged);

    QList<LibraryColumnItem> m_items;
    QHash<QString, int> m_rowOfPiece;
    std::optional<QString> m_selectedID;
};

} // namespace panes
