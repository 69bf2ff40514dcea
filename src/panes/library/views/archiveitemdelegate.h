#pragma once
// Paints the archive pane's items: a project's header (the chevron, the name
// in upper case, the count; its "Unarchive Group" button is a widget the
// pane places on it) and the piece rows, drawn by the library column's row
// delegate with a hairline along their bottom edge. The items stand in a
// column at most 720 wide at the leading edge, however wide the list.

#include <QFont>
#include <QStyledItemDelegate>

class QPushButton;

namespace panes {

class LibraryItemDelegate;

class ArchiveItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int maxWidth = 720;
    static constexpr int headerTop = 12;
    static constexpr int headerBottom = 2;
    static constexpr int headerInset = 14;
    static constexpr int buttonMinHeight = 24;

    explicit ArchiveItemDelegate(QObject *parent = nullptr);
    ~ArchiveItemDelegate() override;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // Places a header's "Unarchive Group" button at the header's trailing end.
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

    // The "Unarchive Group" button of a header, in its bordered look.
    static QPushButton *makeUnarchiveButton(const QString &project);
    // The part of a header that folds its group on a click: the chevron and
    // the name. Nothing for a row.
    QRect toggleArea(const QRect &itemRect, const QModelIndex &index) const;
    // The header's content: the item less its padding, in the 720 column.
    static QRect headerContent(const QRect &itemRect);

private:
    struct HeaderLine {
        QRect chevron;
        QRect name;
        QString nameText;
        QRect count;
        int baseline = 0;
    };
    HeaderLine headerLine(const QRect &itemRect, const QModelIndex &index) const;
    void paintHeader(QPainter &painter, const QRect &rect, const QModelIndex &index) const;
    int buttonWidth() const;

    LibraryItemDelegate *m_rows;
    QFont m_nameFont;
    QFont m_countFont;
    mutable int m_buttonWidth = -1;
};

} // namespace panes
