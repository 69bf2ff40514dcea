#include "libraryitemdelegate.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "panes/library/librarycolumnitems.h"
#include "panes/library/librarypostrow.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/libraryglyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace panes {

using app::Palette;
using app::Typeface;
using Kind = LibraryColumnItem::Kind;

namespace {

constexpr int headerTop = 16;
constexpr int headerBottom = 6;
constexpr int chevronFrame = 14;
constexpr int captionBottom = 1;
constexpr int captionLeading = 28;
constexpr int rowVertical = 10;
constexpr int rowHorizontal = 12;
constexpr int rowLineGap = 5;
constexpr qreal rowCorner = 8;

QColor inkAt(double opacity)
{
    QColor colour = Palette::ink();
    colour.setAlphaF(opacity);
    return colour;
}

} // namespace

LibraryItemDelegate::LibraryItemDelegate(int captionTop, QObject *parent)
    : QStyledItemDelegate(parent), m_captionTop(captionTop),
      m_headerFont(Typeface::font(Typeface::serif(), 15, QFont::DemiBold)),
      m_countFont(Typeface::font(Typeface::mono(), 11)),
      m_captionFont(Typeface::font(Typeface::mono(), 11, QFont::Medium)),
      m_titleFont(Typeface::font(Typeface::serif(), 13, QFont::DemiBold)),
      m_originFont(Typeface::font(Typeface::mono(), 11)), m_strip(std::make_unique<app::SelectedRowStrip>())
{
    m_captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
}

const LibraryItemDelegate::Heights &LibraryItemDelegate::heights() const
{
    if (!m_heights) {
        m_heights = Heights{headerTop + QFontMetrics(m_headerFont).height() + headerBottom,
                            m_captionTop + QFontMetrics(m_captionFont).height() + captionBottom,
                            2 * rowVertical + QFontMetrics(m_titleFont).height() + rowLineGap
                                + QFontMetrics(m_originFont).height()};
    }
    return *m_heights;
}

LibraryItemDelegate::~LibraryItemDelegate() = default;

QSize LibraryItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const Heights &measured = heights();
    int height = measured.row;
    switch (Kind(index.data(LibraryColumnModel::KindRole).toInt())) {
    case Kind::groupHeader: height = measured.header; break;
    case Kind::caption: height = measured.caption; break;
    case Kind::row: break;
    }
    height += roomBelow(index);
    return QSize(option.rect.width() > 0 ? option.rect.width() : 232, height);
}

bool LibraryItemDelegate::isLast(const QModelIndex &index)
{
    return index.row() == index.model()->rowCount() - 1;
}

int LibraryItemDelegate::roomBelow(const QModelIndex &index)
{
    return isLast(index) ? bottomPadding : spacing;
}

QRect LibraryItemDelegate::rowShape(const QRect &itemRect, bool last)
{
    return itemRect.adjusted(rowInset, 0, -rowInset, -(last ? bottomPadding : spacing));
}

void LibraryItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    const QRect rect = option.rect.adjusted(0, 0, 0, -roomBelow(index));
    switch (Kind(index.data(LibraryColumnModel::KindRole).toInt())) {
    case Kind::groupHeader: paintHeader(*painter, rect, index); break;
    case Kind::caption: paintCaption(*painter, rect, index); break;
    case Kind::row:
        paintRow(*painter, rowShape(option.rect, isLast(index)), index, option.state & QStyle::State_MouseOver);
        break;
    }
    painter->restore();
}

void LibraryItemDelegate::paintHeader(QPainter &painter, const QRect &rect, const QModelIndex &index) const
{
    const QRect content = rect.adjusted(14, headerTop, -14, -headerBottom);
    const bool collapsed = index.data(LibraryColumnModel::CollapsedRole).toBool();
    const QFontMetrics nameMetrics(m_headerFont);
    const QFontMetrics countMetrics(m_countFont);
    const int baseline = content.top() + nameMetrics.ascent();
    // The chevron sits at the frame's leading edge, on the middle of the
    // lower-case letters, turned to point right while the group is folded.
    const QRectF chevron(content.left() - 1, baseline - nameMetrics.xHeight() / 2.0 - 6, 12, 12);
    painter.save();
    painter.translate(chevron.center());
    if (collapsed)
        painter.rotate(-90);
    paintLibraryGlyph(painter, LibraryGlyph::chevronDown, chevron.translated(-chevron.center()), Palette::inkMuted());
    painter.restore();

    const auto *model = qobject_cast<const LibraryColumnModel *>(index.model());
    const QString count = LibraryGroups::countText(model ? model->item(index.row()).count : 0);
    const int countWidth = countMetrics.horizontalAdvance(count);
    const int nameLeft = content.left() + chevronFrame;
    const int nameRoom = std::max(0, content.right() - nameLeft - countWidth);
    const QString name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, nameRoom);
    painter.setFont(m_headerFont);
    painter.setPen(Palette::ink());
    painter.drawText(QPoint(nameLeft, baseline), name);
    painter.setFont(m_countFont);
    painter.setPen(Palette::inkMuted());
    painter.drawText(QPoint(nameLeft + nameMetrics.horizontalAdvance(name), baseline), count);
}

void LibraryItemDelegate::paintCaption(QPainter &painter, const QRect &rect, const QModelIndex &index) const
{
    const QFontMetrics metrics(m_captionFont);
    painter.setFont(m_captionFont);
    painter.setPen(Palette::inkMuted());
    const QRect text = rect.adjusted(captionLeading, m_captionTop, -14, -captionBottom);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, text.width()));
}

const QPixmap &LibraryItemDelegate::stripPixmap(int height, qreal ratio) const
{
    // The shared strip widget drawn once per row height, then reused.
    const QSize size = QSize(m_strip->width(), height) * ratio;
    if (size.isEmpty()) {
        // Nothing to draw on; rendering into an empty pixmap only complains.
        m_stripPixmap = QPixmap();
        return m_stripPixmap;
    }
    if (m_stripPixmap.size() != size || m_stripPixmap.devicePixelRatio() != ratio) {
        m_strip->resize(m_strip->width(), height);
        m_stripPixmap = QPixmap(size);
        m_stripPixmap.setDevicePixelRatio(ratio);
        m_stripPixmap.fill(Qt::transparent);
        m_strip->render(&m_stripPixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    }
    return m_stripPixmap;
}

void LibraryItemDelegate::paintRow(QPainter &painter, const QRect &shape, const QModelIndex &index, bool hovered) const
{
    const auto *model = qobject_cast<const LibraryColumnModel *>(index.model());
    // A list mid-way through a layout can hand a row no room at all.
    if (!model || shape.isEmpty())
        return;
    const LibraryPostRow row{model->item(index.row()).post, index.data(LibraryColumnModel::SelectedRole).toBool(),
                             hovered};
    // Square on the left, rounded on the right.
    QPainterPath path;
    const QRectF r(shape);
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - rowCorner, r.top());
    path.quadTo(r.topRight(), QPointF(r.right(), r.top() + rowCorner));
    path.lineTo(r.right(), r.bottom() - rowCorner);
    path.quadTo(r.bottomRight(), QPointF(r.right() - rowCorner, r.bottom()));
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    if (const std::optional<double> tint = row.rowTint())
        painter.fillPath(path, inkAt(*tint));
    if (row.stripOpacity() > 0) {
        painter.save();
        painter.setOpacity(row.stripOpacity());
        painter.drawPixmap(shape.topLeft(), stripPixmap(shape.height(), painter.device()->devicePixelRatioF()));
        painter.restore();
    }
    const int left = shape.left() + m_strip->width() + rowHorizontal;
    const int width = std::max(0, shape.right() - rowHorizontal - left);
    const QFontMetrics titleMetrics(m_titleFont);
    const QFontMetrics originMetrics(m_originFont);
    const int titleBaseline = shape.top() + rowVertical + titleMetrics.ascent();
    const bool outline = row.post.type == library::Post::ContentType::outline;
    const int markWidth = outline ? titleMetrics.horizontalAdvance(LibraryPostRow::outlineMark) : 0;
    const QString title = titleMetrics.elidedText(row.post.title, Qt::ElideRight, std::max(0, width - markWidth));
    painter.setFont(m_titleFont);
    painter.setPen(Palette::ink());
    painter.drawText(QPoint(left, titleBaseline), title);
    if (outline) {
        painter.setPen(Palette::inkMuted());
        painter.drawText(QPoint(left + titleMetrics.horizontalAdvance(title), titleBaseline),
                         LibraryPostRow::outlineMark);
    }
    painter.setFont(m_originFont);
    painter.setPen(Palette::inkMuted());
    const int originBaseline = shape.top() + rowVertical + titleMetrics.height() + rowLineGap + originMetrics.ascent();
    painter.drawText(QPoint(left, originBaseline), originMetrics.elidedText(row.originText(), Qt::ElideRight, width));
}

} // namespace panes
