#pragma once
// Paints the library column's items: group headers, pass-state and match
// captions, and piece rows (the selection strip and tint, the hover tint, the
// title with the outline mark and the origin line). No widget per row.

#include <QFont>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <memory>
#include <optional>

namespace app {
class SelectedRowStrip;
}

namespace panes {

class LibraryItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int spacing = 4;        // between items
    static constexpr int bottomPadding = 12; // below the last item
    static constexpr int rowInset = 14;      // left and right of a row's tinted shape

    // captionTop: the room above a caption (10 in the grouped list, 12 above
    // the match count).
    explicit LibraryItemDelegate(int captionTop, QObject *parent = nullptr);
    ~LibraryItemDelegate() override;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The tinted shape of a row inside its item rectangle.
    static QRect rowShape(const QRect &itemRect, bool last);
    // The item is the list's last: the bottom padding follows it, not the
    // spacing.
    static bool isLast(const QModelIndex &index);
    // The room below an item: the spacing, or the padding after the last.
    static int roomBelow(const QModelIndex &index);

private:
    void paintHeader(QPainter &painter, const QRect &rect, const QModelIndex &index) const;
    void paintCaption(QPainter &painter, const QRect &rect, const QModelIndex &index) const;
    void paintRow(QPainter &painter, const QRect &rect, const QModelIndex &index, bool hovered) const;
    const QPixmap &stripPixmap(int height, qreal ratio) const;
    struct Heights {
        int header;
        int caption;
        int row;
    };
    // Measured on first use: the fonts' engines load only once there are
    // items to lay out, never for the empty list of the first frame.
    const Heights &heights() const;

    int m_captionTop;
    QFont m_headerFont;
    QFont m_countFont;
    QFont m_captionFont;
    QFont m_titleFont;
    QFont m_originFont;
    mutable std::optional<Heights> m_heights;
    std::unique_ptr<app::SelectedRowStrip> m_strip;
    mutable QPixmap m_stripPixmap;
};

} // namespace panes
