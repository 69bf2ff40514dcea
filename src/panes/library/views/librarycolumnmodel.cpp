#include "librarycolumnmodel.h"

#include "panes/library/librarygroups.h"
#include "panes/library/librarypostrow.h"

#include <QTextDocument>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace panes {

using Kind = LibraryColumnItem::Kind;

LibraryColumnModel::LibraryColumnModel(QObject *parent) : QAbstractListModel(parent) {}

int LibraryColumnModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

int LibraryColumnModel::rowOfHeader(const QString &project) const
{
    for (int row = 0; row < m_items.size(); ++row) {
        if (m_items[row].kind == Kind::groupHeader && m_items[row].project == project)
            return row;
    }
    return -1;
}

QVariant LibraryColumnModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    const LibraryColumnItem &item = m_items[index.row()];
    switch (role) {
    case KindRole: return int(item.kind);
    case SelectedRole: return item.kind == Kind::row && m_selectedID == item.post.id;
    case CollapsedRole: return item.collapsed;
    default: break;
    }
    switch (item.kind) {
    case Kind::groupHeader:
        if (role == Qt::DisplayRole)
            return LibraryColumnState::headerName(item.project);
        if (role == Qt::AccessibleTextRole)
            return item.text;
        if (role == Qt::AccessibleDescriptionRole)
            return LibraryGroups::collapsedHint(item.collapsed);
        break;
    case Kind::caption:
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return item.text;
        break;
    case Kind::row: {
        const LibraryPostRow row{item.post, m_selectedID == item.post.id, false};
        if (role == Qt::DisplayRole)
            return row.titleText();
        if (role == Qt::ToolTipRole) {
            // A tool tip takes anything that looks like markup as rich text;
            // such a title is escaped so it shows as typed.
            const QString help = row.helpText();
            return Qt::mightBeRichText(help) ? u"<p style=\"white-space:pre\">"_s + help.toHtmlEscaped() + u"</p>"_s
                                             : help;
        }
        if (role == Qt::AccessibleTextRole)
            return row.accessibilityText();
        break;
    }
    }
    return {};
}

void LibraryColumnModel::changed(int first, int last, bool kindChanged)
{
    // Only a change of kind changes an item's height, so only then is the
    // kind named among the changed roles.
    static const QList<int> sameKind = {Qt::DisplayRole,        Qt::ToolTipRole,
                                        Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole,
                                        SelectedRole,           CollapsedRole};
    emit dataChanged(index(first), index(last), kindChanged ? QList<int>() : sameKind);
}

void LibraryColumnModel::setItems(const QList<LibraryColumnItem> &items)
{
    const int oldSize = int(m_items.size());
    const int newSize = int(items.size());
    int prefix = 0;
    while (prefix < oldSize && prefix < newSize && m_items[prefix] == items[prefix])
        ++prefix;
    if (prefix == oldSize && prefix == newSize)
        return;
    int suffix = 0;
    while (suffix < oldSize - prefix && suffix < newSize - prefix
           && m_items[oldSize - 1 - suffix] == items[newSize - 1 - suffix])
        ++suffix;
    const int oldMiddle = oldSize - prefix - suffix;
    const int newMiddle = newSize - prefix - suffix;
    const int common = std::min(oldMiddle, newMiddle);
    // The rows both lists have in the middle change in place, reported as
    // one range.
    bool kindChanged = false;
    for (int i = 0; i < common; ++i) {
        kindChanged = kindChanged || m_items[prefix + i].kind != items[prefix + i].kind;
        m_items[prefix + i] = items[prefix + i];
    }
    if (newMiddle < oldMiddle) {
        beginRemoveRows(QModelIndex(), prefix + common, prefix + oldMiddle - 1);
        m_items.remove(prefix + common, oldMiddle - newMiddle);
        reindex();
        endRemoveRows();
    } else if (newMiddle > oldMiddle) {
        beginInsertRows(QModelIndex(), prefix + common, prefix + newMiddle - 1);
        // One shift of the tail for the whole run, not one per item: opening
        // a group of thousands stays linear.
        m_items.insert(prefix + common, newMiddle - common, LibraryColumnItem());
        std::copy(items.cbegin() + prefix + common, items.cbegin() + prefix + newMiddle,
                  m_items.begin() + prefix + common);
        reindex();
        endInsertRows();
    } else {
        reindex();
    }
    if (common > 0)
        changed(prefix, prefix + common - 1, kindChanged);
}

void LibraryColumnModel::reindex()
{
    m_rowOfPiece.clear();
    m_rowOfPiece.reserve(m_items.size());
    for (int row = 0; row < m_items.size(); ++row) {
        if (m_items[row].kind == Kind::row)
            m_rowOfPiece.insert(m_items[row].post.id, row);
    }
}

void LibraryColumnModel::setSelectedID(const std::optional<QString> &id)
{
    if (id == m_selectedID)
        return;
    const int before = m_selectedID ? rowOfPiece(*m_selectedID) : -1;
    m_selectedID = id;
    const int after = id ? rowOfPiece(*id) : -1;
    if (before >= 0)
        changed(before, before, false);
    if (after >= 0)
        changed(after, after, false);
}

} // namespace panes
