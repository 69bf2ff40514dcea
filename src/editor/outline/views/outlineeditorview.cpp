#include "editor/outline/views/outlineeditorview.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "editor/outline/views/outlineinline.h"
#include "editor/outline/views/rowtextview.h"
#include "editor/prose/prosestyle.h"
#include "model/editorsession.h"

#include <QAbstractItemDelegate>
#include <QAbstractListModel>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextLayout>
#include <QToolTip>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace editor::outline {

using Row = OutlinePresenter::Row;
using namespace Qt::StringLiterals;

namespace {

QFont monoFont(int pixelSize)
{
    return app::Typeface::font(app::Typeface::mono(), pixelSize);
}

QFont systemFont(int pixelSize)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    return font;
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(float(alpha));
    return colour;
}

// Whether a text surely fits on one line of the body face at a width, from
// the advances of its characters (no shaping), with a tenth to spare for
// kerning and bold; anything outside the common scripts is left to layout.
bool surelyOneLine(const QString &text, int width)
{
    static const QFontMetrics metrics(ProsePresenter::bodyFont());
    static std::array<int, 0x3000> advances = [] {
        std::array<int, 0x3000> none;
        none.fill(-1);
        return none;
    }();
    qint64 sum = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit >= advances.size())
            return false;
        int &advance = advances[unit];
        if (advance < 0)
            advance = metrics.horizontalAdvance(c);
        sum += advance;
    }
    return sum * 10 <= qint64(width) * 9;
}

// The height of a text laid out in the body face at a width.
int laidOutHeight(const InlineText &text, int width)
{
    static const QFontMetrics metrics(ProsePresenter::bodyFont());
    if (text.formats.isEmpty() && metrics.horizontalAdvance(text.text) <= width)
        return metrics.height();
    QTextLayout layout(text.text, ProsePresenter::bodyFont());
    layout.setFormats(text.formats);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return std::max(metrics.height(), int(std::ceil(height)));
}

// A bullet-list symbol drawn in code: three dots, each with its line.
class ListSymbol : public QWidget {
public:
    explicit ListSymbol(QWidget *parent) : QWidget(parent) { setFixedSize(34, 30); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor grey = app::Palette::inkMuted();
        for (int i = 0; i < 3; ++i) {
            const qreal y = 5 + i * 10;
            painter.setPen(Qt::NoPen);
            painter.setBrush(grey);
            painter.drawEllipse(QPointF(4, y), 2.6, 2.6);
            painter.setPen(QPen(grey, 2.4, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(11, y), QPointF(32, y));
        }
    }
};

QLabel *greyLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, app::Palette::inkMuted());
    label->setPalette(palette);
    return label;
}

QPushButton *plainButton(const QString &text, const QColor &colour, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(monoFont(12));
    button->setStyleSheet(
        u"QPushButton { border: none; padding: 0; color: %1; background: transparent; }"_s.arg(colour.name()));
    return button;
}

} // namespace

// --- The rows -------------------------------------------------------------------

struct OutlineItem {
    enum class Kind { top, title, row, tail };
    Kind kind = Kind::top;
    Row row;
    int gap = 0;
    QString title;
    bool operator==(const OutlineItem &) const = default;
};

class OutlineRowModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : int(items.size()); }
    QVariant data(const QModelIndex &, int) const override { return {}; }

    void replaceAll(QList<OutlineItem> next)
    {
        beginResetModel();
        items = std::move(next);
        endResetModel();
    }
    void changed(int at) { emit dataChanged(index(at), index(at)); }

    QList<OutlineItem> items;
};

class OutlineRowDelegate : public QAbstractItemDelegate {
public:
    explicit OutlineRowDelegate(OutlineEditorView *view) : QAbstractItemDelegate(view), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        const int width = m_view->listView()->viewport()->width();
        return {width, heightOf(m_view->m_model->items.at(index.row()), width)};
    }

    int heightOf(const OutlineItem &item, int width) const
    {
        switch (item.kind) {
        case OutlineItem::Kind::top: return OutlineEditorView::kTopRoom;
        case OutlineItem::Kind::tail: return OutlineEditorView::kBottomRoom;
        case OutlineItem::Kind::title:
            return OutlineEditorView::kTopRoom + QFontMetrics(ProsePresenter::leadFont()).height()
                   + OutlineEditorView::kTitleGap;
        case OutlineItem::Kind::row: break;
        }
        const int textWidth = textWidthOf(item.row, width);
        int textHeight = 0;
        if (m_view->m_editor && m_view->m_editorID == item.row.id)
            textHeight = m_view->m_editor->heightForWidth(textWidth);
        else
            textHeight = memoHeight(item.row, textWidth);
        return item.gap + std::max(OutlineEditorView::kBulletHeight, textHeight + 2 * OutlineEditorView::kTextPad);
    }

    static int countWidth(const Row &row)
    {
        const QString count = OutlineEditorView::foldCountText(row);
        return count.isEmpty() ? 0 : OutlineEditorView::kCountGap + QFontMetrics(monoFont(11)).horizontalAdvance(count);
    }

    static int textLeft(const Row &row)
    {
        return OutlineEditorView::kGripWidth + row.depth * OutlineEditorView::kIndent + OutlineEditorView::kBulletWidth;
    }

    static int textWidthOf(const Row &row, int width)
    {
        return std::max(40, width - textLeft(row) - OutlineEditorView::kTrailing - countWidth(row));
    }

    static OutlineEditorView::RowParts partsOf(const OutlineItem &item, const QRect &rect)
    {
        OutlineEditorView::RowParts parts;
        parts.row = rect.adjusted(0, item.gap, 0, 0);
        const int left = rect.left();
        parts.grip = QRect(left, parts.row.top(), OutlineEditorView::kGripWidth, parts.row.height());
        const int bulletLeft = left + OutlineEditorView::kGripWidth + item.row.depth * OutlineEditorView::kIndent;
        parts.bullet =
            QRect(bulletLeft, parts.row.top(), OutlineEditorView::kBulletWidth, OutlineEditorView::kBulletHeight);
        const int textWidth = textWidthOf(item.row, rect.width());
        parts.text = QRect(left + textLeft(item.row), parts.row.top() + OutlineEditorView::kTextPad, textWidth,
                           parts.row.height() - 2 * OutlineEditorView::kTextPad);
        if (const int count = countWidth(item.row); count > 0)
            parts.count = QRect(parts.text.right() + 1 + OutlineEditorView::kCountGap, parts.row.top() + 5,
                                count - OutlineEditorView::kCountGap, QFontMetrics(monoFont(11)).height());
        return parts;
    }

    const InlineText &inlineOf(const Row &row) const
    {
        Memo &memo = m_memo[row.id];
        if (memo.source != row.text) {
            memo.source = row.text;
            memo.width = -1;
            memo.rendered = false;
        }
        if (!memo.rendered) {
            memo.inlineText = renderInline(row.text);
            memo.rendered = true;
        }
        return memo.inlineText;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const OutlineItem &item = m_view->m_model->items.at(index.row());
        if (item.kind == OutlineItem::Kind::title) {
            painter->setFont(ProsePresenter::leadFont());
            painter->setPen(app::Palette::ink());
            const QRect line = option.rect.adjusted(OutlineEditorView::kGripWidth, OutlineEditorView::kTopRoom,
                                                    -OutlineEditorView::kTrailing, -OutlineEditorView::kTitleGap);
            painter->drawText(line, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                              painter->fontMetrics().elidedText(item.title, Qt::ElideRight, line.width()));
            return;
        }
        if (item.kind != OutlineItem::Kind::row)
            return;
        const Row &row = item.row;
        const OutlineEditorView::RowParts parts = partsOf(item, option.rect);
        const OutlineEditorState &state = m_view->m_state;
        const std::optional<DragInfo> &drag = state.drag();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (drag && drag->moving.contains(row.id))
            painter->setOpacity(0.3);
        if (m_view->m_selected.contains(row.id))
            painter->fillRect(parts.row, withAlpha(app::Palette::accent(), 0.08));
        // The guides run down from each ancestor's bullet.
        for (int level = 0; level < row.depth; ++level) {
            const int x = parts.row.left() + OutlineEditorView::kGripWidth + level * OutlineEditorView::kIndent
                          + OutlineEditorView::kBulletWidth / 2;
            painter->fillRect(QRect(x, parts.row.top(), 1, parts.row.height()), app::Palette::rule());
        }
        if (state.hoverID() == row.id && !drag) {
            painter->setFont(monoFont(11));
            painter->setPen(withAlpha(app::Palette::inkMuted(), 0.85));
            painter->drawText(parts.grip.adjusted(0, 0, 0, -(parts.grip.height() - OutlineEditorView::kBulletHeight)),
                              Qt::AlignCenter, u"⋮⋮"_s);
        }
        painter->setFont(systemFont(row.depth == 0 ? 10 : 7));
        painter->setPen(row.isFolded ? app::Palette::accent() : withAlpha(app::Palette::ink(), 0.8));
        painter->drawText(parts.bullet, Qt::AlignCenter, u"●"_s);
        const bool editing = m_view->m_editor && m_view->m_editorID == row.id;
        if (!editing && !row.text.isEmpty()) {
            const InlineText &text = inlineOf(row);
            QTextLayout layout(text.text, ProsePresenter::bodyFont());
            layout.setFormats(text.formats);
            QTextOption textOption;
            textOption.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            layout.setTextOption(textOption);
            layout.beginLayout();
            qreal y = 0;
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                line.setLineWidth(parts.text.width());
                line.setPosition(QPointF(0, y));
                y += line.height();
            }
            layout.endLayout();
            painter->setPen(app::Palette::ink());
            layout.draw(painter, parts.text.topLeft());
        }
        if (!parts.count.isEmpty()) {
            painter->setFont(monoFont(11));
            painter->setPen(app::Palette::accent());
            painter->drawText(parts.count, Qt::AlignLeft | Qt::AlignTop, OutlineEditorView::foldCountText(row));
        }
        painter->restore();
        if (drag && drag->target && drag->target->id == row.id)
            paintIndicator(*painter, parts, row, *drag);
    }

    static void paintIndicator(QPainter &painter, const OutlineEditorView::RowParts &parts, const Row &row,
                               const DragInfo &drag)
    {
        using Kind = OutlinePresenter::DropTarget::Kind;
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(drag.valid ? app::Palette::accent() : app::Palette::inkMuted(), 2);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        if (!drag.valid)
            pen.setDashPattern({2.5, 1.5}); // 5 px drawn, 3 px gap at width 2
        const qreal left = parts.row.left() + OutlineEditorView::kGripWidth + row.depth * OutlineEditorView::kIndent
                           + OutlineEditorView::kBulletWidth / 2.0;
        const qreal right = parts.row.right() + 1;
        if (drag.target->kind == Kind::lastChild) {
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(parts.row).adjusted(1, 1, -1, -1), 4, 4);
        } else {
            const qreal y = drag.target->kind == Kind::before ? parts.row.top() : parts.row.bottom() + 1;
            if (drag.valid) {
                painter.fillRect(QRectF(left, y - 1, right - left, 2), app::Palette::accent());
            } else {
                painter.setPen(pen);
                painter.drawLine(QPointF(left, y), QPointF(right, y));
            }
        }
        painter.restore();
    }

    void forget(const QUuid &id) { m_memo.remove(id); }

private:
    struct Memo {
        QString source;
        InlineText inlineText;
        bool rendered = false;
        int width = -1;
        int height = 0;
    };

    int memoHeight(const Row &row, int width) const
    {
        Memo &memo = m_memo[row.id];
        if (memo.source != row.text)
            memo.rendered = false;
        if (memo.width == width && memo.source == row.text)
            return memo.height;
        memo.source = row.text;
        memo.width = width;
        // Markers only take room away, so a source that fits on one line is
        // one line shown; code, in its wider face, is laid out.
        static const QFontMetrics metrics(ProsePresenter::bodyFont());
        if (!row.text.contains(u'`') && surelyOneLine(row.text, width))
            memo.height = metrics.height();
        else
            memo.height = laidOutHeight(inlineOf(row), width);
        return memo.height;
    }

    OutlineEditorView *m_view;
    mutable QHash<QUuid, Memo> m_memo;
};

// The list's mouse events are the rows' catchers.
class OutlineListView : public QListView {
public:
    OutlineListView(OutlineEditorView *view, QWidget *parent) : QListView(parent), m_view(view)
    {
        setFrameShape(QFrame::NoFrame);
        setSelectionMode(QAbstractItemView::NoSelection);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        // A press on a row never takes the keyboard from the row editor.
        setFocusPolicy(Qt::NoFocus);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setResizeMode(QListView::Adjust);
        setUniformItemSizes(false);
        setMouseTracking(true);
        viewport()->setMouseTracking(true);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Base, Qt::transparent);
        setPalette(palette);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_view->pressAt(event->position().toPoint(), event->modifiers());
        event->accept();
    }
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_view->doubleClickAt(event->position().toPoint());
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        m_view->moveAt(event->position().toPoint());
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_view->releaseAt(event->position().toPoint());
        event->accept();
    }
    bool viewportEvent(QEvent *event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QListView::viewportEvent(event);
        const auto *help = static_cast<QHelpEvent *>(event);
        const QString tip = m_view->helpAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport());
        return true;
    }
    void leaveEvent(QEvent *event) override
    {
        m_view->hoverAt(std::nullopt);
        QListView::leaveEvent(event);
    }
    void updateGeometries() override
    {
        QListView::updateGeometries();
        m_view->placeEditor();
    }
    void scrollContentsBy(int dx, int dy) override
    {
        QListView::scrollContentsBy(dx, dy);
        m_view->placeEditor();
    }

private:
    OutlineEditorView *m_view;
};

// --- The editor -------------------------------------------------------------------

OutlineEditorView::OutlineEditorView(Inputs inputs, QWidget *parent)
    : QWidget(parent), m_inputs(std::move(inputs)), m_session(m_inputs.session)
{
    m_state.setCommitSink([this](const QString &text) { commitText(text); });

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_header = new QWidget(this);
    m_header->setToolTip(u"double-click a bullet zooms in · Esc zooms out one level"_s);
    m_headerRow = new QHBoxLayout(m_header);
    m_headerRow->setContentsMargins(20, 12, 20, 4);
    m_headerRow->setSpacing(4);
    m_header->hide();
    column->addWidget(m_header);

    m_stack = new QStackedWidget(this);
    column->addWidget(m_stack, 1);

    m_list = new OutlineListView(this, m_stack);
    m_model = new OutlineRowModel(this);
    m_delegate = new OutlineRowDelegate(this);
    m_list->setModel(m_model);
    m_list->setItemDelegate(m_delegate);
    m_stack->addWidget(m_list);

    m_empty = new QWidget(m_stack);
    {
        auto *layout = new QVBoxLayout(m_empty);
        layout->setSpacing(10);
        layout->addStretch(1);
        layout->addWidget(new ListSymbol(m_empty), 0, Qt::AlignHCenter);
        auto *text = greyLabel(emptyText, systemFont(15), m_empty);
        text->setAlignment(Qt::AlignHCenter);
        layout->addWidget(text, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }
    m_stack->addWidget(m_empty);

    m_held = new QWidget(m_stack);
    {
        auto *layout = new QVBoxLayout(m_held);
        layout->setContentsMargins(48, 48, 48, 48);
        layout->setSpacing(10);
        layout->addStretch(1);
        layout->addWidget(new ListSymbol(m_held), 0, Qt::AlignHCenter);
        auto *title = new QLabel(heldTitle, m_held);
        title->setTextFormat(Qt::PlainText);
        title->setFont(app::Typeface::font(app::Typeface::serif(), 17, QFont::DemiBold));
        title->setAlignment(Qt::AlignHCenter);
        title->setWordWrap(true);
        layout->addWidget(title);
        auto *text = greyLabel(heldText, app::Typeface::font(app::Typeface::serif(), 13), m_held);
        text->setAlignment(Qt::AlignHCenter);
        text->setWordWrap(true);
        layout->addWidget(text);
        auto *open = new QPushButton(openInProseLabel, m_held);
        open->setObjectName(u"openInProse"_s);
        // Never the keyboard's next stop when the rows go: a typed space
        // must not press it.
        open->setFocusPolicy(Qt::NoFocus);
        app::BorderedSecondaryButtonStyle::apply(open, 28);
        connect(open, &QPushButton::clicked, this, [this] {
            if (m_inputs.openInProse)
                m_inputs.openInProse();
        });
        open->setVisible(bool(m_inputs.openInProse));
        layout->addSpacing(6);
        layout->addWidget(open, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }
    m_stack->addWidget(m_held);

    if (m_session)
        connect(m_session, &model::EditorSession::loadGenerationChanged, this, &OutlineEditorView::reload);
    reload();
}

OutlineEditorView::~OutlineEditorView()
{
    if (m_filtering)
        qApp->removeEventFilter(this);
    // The editor's callbacks point here.
    if (m_editor) {
        m_editor->onEdit = {};
        m_editor->onStructure = {};
    }
}

QListView *OutlineEditorView::listView() const
{
    return m_list;
}

void OutlineEditorView::reload()
{
    if (m_session)
        m_state.reloadFromSession(m_session->loadGeneration(), m_session->text());
    else
        m_state.loadDraft(m_inputs.draftText.value_or(QString()));
    // Every row is new: the old editor goes.
    dropEditor();
    refresh();
}

void OutlineEditorView::commitText(const QString &text)
{
    if (m_session)
        m_session->textDidChange(text);
    else if (!m_inputs.session && m_inputs.onDraftEdit)
        m_inputs.onDraftEdit(text);
}

QString OutlineEditorView::foldCountText(const Row &row)
{
    if (!row.isFolded || row.foldedDescendantCount <= 0)
        return {};
    return u"⋯ "_s + QString::number(row.foldedDescendantCount);
}

int OutlineEditorView::indexOfRow(const QUuid &id) const
{
    const QList<OutlineItem> &items = m_model->items;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items.at(i).kind == OutlineItem::Kind::row && items.at(i).row.id == id)
            return int(i);
    }
    return -1;
}

std::optional<OutlineEditorView::RowParts> OutlineEditorView::partsOf(const QUuid &id) const
{
    const int at = indexOfRow(id);
    if (at < 0)
        return std::nullopt;
    return OutlineRowDelegate::partsOf(m_model->items.at(at), m_list->visualRect(m_model->index(at)));
}

void OutlineEditorView::refresh()
{
    const QList<Row> rows = m_state.visibleRows();
    QList<OutlineItem> items;
    items.reserve(rows.size() + 2);
    const std::optional<QString> title = m_state.outlineTitle();
    if (title)
        items.append({OutlineItem::Kind::title, {}, 0, *title});
    else
        items.append({OutlineItem::Kind::top, {}, 0, {}});
    const QHash<QUuid, qreal> gaps = OutlineEditorState::rowGaps(rows);
    for (const Row &row : rows)
        items.append({OutlineItem::Kind::row, row, int(gaps.value(row.id)), {}});
    items.append({OutlineItem::Kind::tail, {}, 0, {}});

    const QList<OutlineItem> &old = m_model->items;
    bool sameRows = old.size() == items.size();
    for (qsizetype i = 0; sameRows && i < items.size(); ++i)
        sameRows = old.at(i).kind == items.at(i).kind && old.at(i).row.id == items.at(i).row.id;
    if (sameRows) {
        // Same rows in the same order (an edit, an indent, a fold count):
        // only what changed is drawn again.
        bool relayout = false;
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (old.at(i) == items.at(i))
                continue;
            const OutlineItem before = old.at(i);
            m_model->items[i] = items.at(i);
            const int width = m_list->viewport()->width();
            relayout = relayout || m_delegate->heightOf(before, width) != m_delegate->heightOf(items.at(i), width);
            m_model->changed(int(i));
        }
        if (relayout)
            m_list->doItemsLayout();
    } else {
        m_model->replaceAll(std::move(items));
        m_list->doItemsLayout();
    }

    const std::optional<QList<QUuid>> selection =
        m_state.selectionAnchor() ? m_state.selectionRange(*m_state.selectionAnchor(),
                                                           m_state.focusedID().value_or(*m_state.selectionAnchor()))
                                  : std::nullopt;
    m_selected = selection ? QSet<QUuid>(selection->begin(), selection->end()) : QSet<QUuid>();

    rebuildHeader();
    QWidget *page = m_state.isHeld() ? m_held : rows.isEmpty() ? m_empty : static_cast<QWidget *>(m_list);
    if (m_stack->currentWidget() != page)
        m_stack->setCurrentWidget(page);
    syncEditor(m_editor && m_state.focusedID() != m_editorID);
    m_list->viewport()->update();
}

void OutlineEditorView::rebuildHeader()
{
    QStringList labels;
    const QList<QUuid> &stack = m_state.zoomStack();
    if (!stack.isEmpty()) {
        labels << zoomOutLabel << u"/"_s << u"outline"_s;
        for (qsizetype level = 0; level < stack.size(); ++level)
            labels << u"/"_s << m_state.crumbTitle(level);
    }
    if (labels == m_headerLabels)
        return;
    m_headerLabels = labels;
    while (QLayoutItem *item = m_headerRow->takeAt(0)) {
        if (item->widget())
            item->widget()->deleteLater();
        delete item;
    }
    m_header->setVisible(!stack.isEmpty());
    if (stack.isEmpty())
        return;
    const QColor grey = app::Palette::inkMuted();
    const QColor red = app::Palette::accent();
    auto slash = [&] { m_headerRow->addWidget(greyLabel(u"/"_s, monoFont(12), m_header)); };
    auto *zoomOut = plainButton(zoomOutLabel, red, m_header);
    connect(zoomOut, &QPushButton::clicked, this, [this] {
        m_state.zoomToTop();
        refresh();
    });
    m_headerRow->addWidget(zoomOut);
    slash();
    auto *top = plainButton(u"outline"_s, grey, m_header);
    connect(top, &QPushButton::clicked, this, [this] {
        m_state.zoomToTop();
        refresh();
    });
    m_headerRow->addWidget(top);
    for (qsizetype level = 0; level < stack.size(); ++level) {
        slash();
        const QString crumb = m_state.crumbTitle(level);
        if (level + 1 == stack.size()) {
            auto *last = greyLabel(crumb, monoFont(12), m_header);
            QPalette palette = last->palette();
            palette.setColor(QPalette::WindowText, red);
            last->setPalette(palette);
            m_headerRow->addWidget(last);
        } else {
            auto *button = plainButton(crumb, grey, m_header);
            connect(button, &QPushButton::clicked, this, [this, level] {
                m_state.zoomToLevel(level);
                refresh();
            });
            m_headerRow->addWidget(button);
        }
    }
    m_headerRow->addStretch(1);
}

QStringList OutlineEditorView::headerLabels() const
{
    return m_headerLabels;
}

// --- The focused row's editor -------------------------------------------------------

void OutlineEditorView::syncEditor(bool focusMoved)
{
    const std::optional<QUuid> focused = m_state.focusedID();
    const int at = focused ? indexOfRow(*focused) : -1;
    const bool hadKeyboard = m_editor && m_editor->hasFocus();
    if (m_editor && (at < 0 || m_editorID != *focused))
        dropEditor();
    if (at < 0)
        return;
    const Row &row = m_model->items.at(at).row;
    if (!m_editor) {
        auto *editor = new RowTextView(row.text, m_state.pendingCaret(), m_list->viewport());
        const QUuid id = row.id;
        editor->onEdit = [this, id](const QString &text) { rowEdited(id, text); };
        editor->onStructure = [this](const StructureOp &op) { structure(op); };
        m_editor = editor;
        m_editorID = id;
        placeEditor();
        editor->show();
        if (hadKeyboard || focusMoved)
            editor->setFocus(Qt::OtherFocusReason);
        // Its height may differ from the painted row's.
        m_list->doItemsLayout();
        if (m_list->isVisible())
            m_list->scrollTo(m_model->index(at));
    } else {
        m_editor->updateText(row.text);
    }
}

void OutlineEditorView::dropEditor()
{
    if (!m_editor)
        return;
    // The editor may be running its own key handler: it goes once that is
    // through, never inside it.
    RowTextView *editor = m_editor;
    m_editor = nullptr;
    editor->onEdit = {};
    editor->onStructure = {};
    editor->hide();
    editor->deleteLater();
}

void OutlineEditorView::placeEditor()
{
    if (!m_editor)
        return;
    const std::optional<RowParts> parts = partsOf(m_editorID);
    if (!parts)
        return;
    QRect text = parts->text;
    text.setHeight(m_editor->heightForWidth(text.width()));
    if (m_editor->geometry() != text)
        m_editor->setGeometry(text);
}

void OutlineEditorView::rowEdited(const QUuid &id, const QString &text)
{
    const bool hadSelection = !m_selected.isEmpty();
    m_state.editRowText(id, text);
    if (hadSelection) {
        m_selected.clear();
        m_list->viewport()->update();
    }
    updateRow(id);
}

void OutlineEditorView::updateRow(const QUuid &id)
{
    const int at = indexOfRow(id);
    const std::optional<IndexPath> path = OutlinePresenter::path(id, m_state.nodes());
    const std::optional<OutlineNode> node = path ? OutlinePresenter::node(*path, m_state.nodes()) : std::nullopt;
    if (at < 0 || !node)
        return;
    OutlineItem &item = m_model->items[at];
    const int width = m_list->viewport()->width();
    const int before = m_delegate->heightOf(item, width);
    item.row.text = node->text;
    if (m_editor && m_editorID == id)
        m_editor->updateText(node->text);
    if (m_delegate->heightOf(item, width) != before)
        m_list->doItemsLayout();
    else
        m_model->changed(at);
}

void OutlineEditorView::structure(const StructureOp &op)
{
    const std::optional<QUuid> focusedBefore = m_state.focusedID();
    m_state.handleStructure(op);
    refresh();
    if (m_state.focusedID() != focusedBefore) {
        if (const int at = m_state.focusedID() ? indexOfRow(*m_state.focusedID()) : -1; at >= 0)
            m_list->scrollTo(m_model->index(at));
    }
}

// --- Mouse: the rows' catchers --------------------------------------------------------

OutlineEditorState::RowFrames OutlineEditorView::rowFrames() const
{
    OutlineEditorState::RowFrames frames;
    const QList<OutlineItem> &items = m_model->items;
    frames.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items.at(i).kind != OutlineItem::Kind::row)
            continue;
        const QRect rect = m_list->visualRect(m_model->index(int(i)));
        frames.insert(items.at(i).row.id, QRectF(rect.adjusted(0, items.at(i).gap, 0, 0)));
    }
    return frames;
}

void OutlineEditorView::pressAt(const QPoint &pos, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex index = m_list->indexAt(pos);
    if (!index.isValid() || m_model->items.at(index.row()).kind != OutlineItem::Kind::row)
        return;
    const OutlineItem &item = m_model->items.at(index.row());
    const RowParts parts = OutlineRowDelegate::partsOf(item, m_list->visualRect(index));
    const QUuid id = item.row.id;
    if (parts.bullet.contains(pos)) {
        if (item.row.childCount > 0)
            m_state.toggleFold(id);
        else
            m_state.focusRow(id);
        refresh();
        return;
    }
    if (parts.grip.contains(pos)) {
        m_tracker = Tracker{id, pos, false};
        return;
    }
    if (!parts.row.contains(pos))
        return;
    if (modifiers & Qt::ShiftModifier) {
        m_state.extendSelection(id);
        refresh();
    } else if (m_selected.contains(id)) {
        m_tracker = Tracker{id, pos, false};
    } else {
        m_state.focusRow(id);
        refresh();
    }
}

QString OutlineEditorView::helpAt(const QPoint &pos) const
{
    const QModelIndex index = m_list->indexAt(pos);
    if (!index.isValid() || m_model->items.at(index.row()).kind != OutlineItem::Kind::row)
        return {};
    const OutlineItem &item = m_model->items.at(index.row());
    if (!OutlineRowDelegate::partsOf(item, m_list->visualRect(index)).bullet.contains(pos))
        return {};
    return item.row.childCount > 0 ? u"fold/unfold (Ctrl+↑ / Ctrl+↓) · double-click: zoom in"_s
                                   : u"double-click: zoom in"_s;
}

void OutlineEditorView::doubleClickAt(const QPoint &pos)
{
    const QModelIndex index = m_list->indexAt(pos);
    if (!index.isValid() || m_model->items.at(index.row()).kind != OutlineItem::Kind::row)
        return;
    const OutlineItem item = m_model->items.at(index.row());
    if (!OutlineRowDelegate::partsOf(item, m_list->visualRect(index)).bullet.contains(pos)) {
        pressAt(pos, Qt::NoModifier);
        return;
    }
    // The first click of the pair folded or unfolded the row: undone, since
    // the pair means zoom.
    if (item.row.childCount > 0)
        m_state.toggleFold(item.row.id);
    m_state.zoomIn(item.row.id);
    refresh();
}

void OutlineEditorView::moveAt(const QPoint &pos)
{
    if (!m_tracker) {
        hoverAt(pos);
        return;
    }
    if (!m_tracker->active) {
        if (std::hypot(pos.x() - m_tracker->start.x(), pos.y() - m_tracker->start.y()) < kDragThreshold)
            return;
        const QList<QUuid> payload = m_state.dragPayload(m_tracker->rowID);
        if (payload.isEmpty()) {
            endTracking(std::nullopt);
            return;
        }
        m_state.beginDrag(payload);
        m_tracker->active = true;
        m_list->viewport()->setCursor(Qt::ClosedHandCursor);
    }
    // Near an edge the list scrolls along.
    const int edge = 24;
    QScrollBar *bar = m_list->verticalScrollBar();
    if (pos.y() < edge)
        bar->setValue(bar->value() - (edge - pos.y()));
    else if (pos.y() > m_list->viewport()->height() - edge)
        bar->setValue(bar->value() + (pos.y() - m_list->viewport()->height() + edge));
    m_state.dragMoved(pos, rowFrames());
    m_list->viewport()->update();
}

void OutlineEditorView::releaseAt(const QPoint &pos)
{
    if (!m_tracker)
        return;
    if (m_tracker->active) {
        endTracking(pos);
        return;
    }
    // A press and release without travel is a click.
    const QUuid id = m_tracker->rowID;
    endTracking(std::nullopt);
    m_state.focusRow(id);
    refresh();
}

void OutlineEditorView::endTracking(const std::optional<QPoint> &pos)
{
    const bool wasActive = m_tracker && m_tracker->active;
    m_tracker.reset();
    m_list->viewport()->unsetCursor();
    if (!wasActive)
        return;
    const bool moved = pos ? m_state.dragEnded(QPointF(*pos), rowFrames()) : m_state.dragEnded(std::nullopt, {});
    if (moved)
        dropEditor();
    refresh();
}

void OutlineEditorView::hoverAt(const std::optional<QPoint> &pos)
{
    std::optional<QUuid> id;
    if (pos) {
        const QModelIndex index = m_list->indexAt(*pos);
        if (index.isValid() && m_model->items.at(index.row()).kind == OutlineItem::Kind::row)
            id = m_model->items.at(index.row()).row.id;
    }
    const std::optional<QUuid> before = m_state.hoverID();
    if (before == id)
        return;
    if (before)
        m_state.setHover(*before, false);
    if (id)
        m_state.setHover(*id, true);
    bool overGrip = false;
    if (id && pos)
        overGrip = partsOf(*id) && partsOf(*id)->grip.contains(*pos);
    if (overGrip)
        m_list->viewport()->setCursor(Qt::OpenHandCursor);
    else
        m_list->viewport()->unsetCursor();
    m_list->viewport()->update();
}

// --- Escape and the view's life -------------------------------------------------------

bool OutlineEditorView::handleEscKey(const QKeyEvent &event)
{
    if (event.key() != Qt::Key_Escape)
        return false;
    if (dragging()) {
        endTracking(std::nullopt);
        return true;
    }
    if (!qobject_cast<RowTextView *>(QApplication::focusWidget()))
        return false;
    if (!m_state.deselectOrZoomOut())
        return false;
    refresh();
    return true;
}

bool OutlineEditorView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && handleEscKey(*static_cast<QKeyEvent *>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

void OutlineEditorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_filtering) {
        qApp->installEventFilter(this);
        m_filtering = true;
    }
}

void OutlineEditorView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_filtering) {
        qApp->removeEventFilter(this);
        m_filtering = false;
    }
}

void OutlineEditorView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeEditor();
}

} // namespace editor::outline
