#include "archiveitemdelegate.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "panes/library/librarycolumnitems.h"
#include "panes/library/librarygroups.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/libraryglyphs.h"
#include "panes/library/views/libraryitemdelegate.h"

#include <QPainter>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace panes {

using app::Palette;
using app::Typeface;
using Kind = LibraryColumnItem::Kind;

namespace {

constexpr int chevronFrame = 14;
constexpr int chevronSize = 10;
constexpr int countGap = 8;
constexpr int minSpacer = 8;

Kind kindOf(const QModelIndex &index)
{
    return Kind(index.data(LibraryColumnModel::KindRole).toInt());
}

QRect inColumn(const QRect &rect)
{
    return QRect(rect.left(), rect.top(), std::min(rect.width(), ArchiveItemDelegate::maxWidth), rect.height());
}

} // namespace

ArchiveItemDelegate::ArchiveItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_rows(new LibraryItemDelegate(10, this)),
      m_nameFont(Typeface::font(Typeface::mono(), 11, QFont::Medium)), m_countFont(Typeface::font(Typeface::mono(), 11))
{
    m_nameFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
}

ArchiveItemDelegate::~ArchiveItemDelegate() = default;

QPushButton *ArchiveItemDelegate::makeUnarchiveButton(const QString &project)
{
    auto *button = new QPushButton(u"Unarchive Group"_s);
    button->setToolTip(u"Move the whole project back to projects/"_s);
    button->setAccessibleName(ArchivePaneState::unarchiveAccessibilityLabel(project));
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::ArrowCursor);
    app::BorderedSecondaryButtonStyle::apply(button, buttonMinHeight);
    return button;
}

int ArchiveItemDelegate::buttonWidth() const
{
    // Measured once from a button like the ones the pane places.
    if (m_buttonWidth < 0) {
        const std::unique_ptr<QPushButton> probe(makeUnarchiveButton(QString()));
        m_buttonWidth = probe->width();
    }
    return m_buttonWidth;
}

QSize ArchiveItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (kindOf(index) != Kind::groupHeader)
        return m_rows->sizeHint(option, index);
    const int line = std::max(buttonMinHeight, QFontMetrics(m_nameFont).height());
    return QSize(option.rect.width() > 0 ? option.rect.width() : maxWidth,
                 headerTop + line + headerBottom + LibraryItemDelegate::roomBelow(index));
}

QRect ArchiveItemDelegate::headerContent(const QRect &itemRect)
{
    const QRect column = inColumn(itemRect);
    const int line = itemRect.height() - headerTop - headerBottom;
    return QRect(column.left() + headerInset, column.top() + headerTop, column.width() - 2 * headerInset,
                 std::max(0, line));
}

ArchiveItemDelegate::HeaderLine ArchiveItemDelegate::headerLine(const QRect &itemRect, const QModelIndex &index) const
{
    const int lineHeight = std::max(buttonMinHeight, QFontMetrics(m_nameFont).height());
    QRect content = headerContent(itemRect);
    content.setHeight(lineHeight);
    const QFontMetrics nameMetrics(m_nameFont);
    const QFontMetrics countMetrics(m_countFont);
    const auto *model = qobject_cast<const LibraryColumnModel *>(index.model());
    const LibraryColumnItem *item = model ? &model->item(index.row()) : nullptr;

    HeaderLine line;
    // On the baseline of the button's centred label.
    line.baseline = content.top() + (content.height() - nameMetrics.height()) / 2 + nameMetrics.ascent();
    line.chevron = QRect(content.left(), content.top(), chevronFrame, content.height());
    const QString count = LibraryGroups::countText(item ? item->count : 0);
    const int countWidth = countMetrics.horizontalAdvance(count);
    const int nameLeft = content.left() + chevronFrame;
    const int nameRoom =
        std::max(0, content.right() + 1 - buttonWidth() - minSpacer - countWidth - countGap - nameLeft);
    line.nameText = nameMetrics.elidedText(ArchivePaneState::headerName(item ? item->project : QString()),
                                           Qt::ElideRight, nameRoom);
    const int nameWidth = nameMetrics.horizontalAdvance(line.nameText);
    line.name = QRect(nameLeft, content.top(), nameWidth, content.height());
    line.count = QRect(nameLeft + nameWidth + countGap, content.top(), countWidth, content.height());
    return line;
}

QRect ArchiveItemDelegate::toggleArea(const QRect &itemRect, const QModelIndex &index) const
{
    if (!index.isValid() || kindOf(index) != Kind::groupHeader)
        return {};
    const HeaderLine line = headerLine(itemRect, index);
    return line.chevron.united(line.name);
}

void ArchiveItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem column = option;
    column.rect = inColumn(option.rect);
    if (kindOf(index) != Kind::groupHeader) {
        m_rows->paint(painter, column, index);
        // The hairline along the row's bottom edge, as wide as its shape.
        const QRect shape = LibraryItemDelegate::rowShape(column.rect, LibraryItemDelegate::isLast(index));
        painter->fillRect(QRect(shape.left(), shape.bottom(), shape.width(), 1), Palette::rule());
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    paintHeader(*painter, column.rect.adjusted(0, 0, 0, -LibraryItemDelegate::roomBelow(index)), index);
    painter->restore();
}

void ArchiveItemDelegate::paintHeader(QPainter &painter, const QRect &rect, const QModelIndex &index) const
{
    const HeaderLine line = headerLine(rect, index);
    const bool collapsed = index.data(LibraryColumnModel::CollapsedRole).toBool();
    const QFontMetrics nameMetrics(m_nameFont);
    // At the frame's leading edge, on the middle of the capitals, turned to
    // point right while the group is folded.
    const QRectF chevron(line.chevron.left(), line.baseline - nameMetrics.capHeight() / 2.0 - chevronSize / 2.0,
                         chevronSize, chevronSize);
    painter.save();
    painter.translate(chevron.center());
    if (collapsed)
        painter.rotate(-90);
    paintLibraryGlyph(painter, LibraryGlyph::chevronDown, chevron.translated(-chevron.center()), Palette::inkMuted());
    painter.restore();

    const auto *model = qobject_cast<const LibraryColumnModel *>(index.model());
    painter.setPen(Palette::inkMuted());
    painter.setFont(m_nameFont);
    painter.drawText(QPoint(line.name.left(), line.baseline), line.nameText);
    painter.setFont(m_countFont);
    painter.drawText(QPoint(line.count.left(), line.baseline),
                     LibraryGroups::countText(model ? model->item(index.row()).count : 0));
}

void ArchiveItemDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                               const QModelIndex &index) const
{
    const QRect content = headerContent(option.rect.adjusted(0, 0, 0, -LibraryItemDelegate::roomBelow(index)));
    const QSize size = editor->size();
    editor->setGeometry(QRect(QPoint(content.right() + 1 - size.width(), content.top()), size));
}

} // namespace panes
