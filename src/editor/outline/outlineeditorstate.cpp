#include "outlineeditorstate.h"

#include "foundation/text.h"

#include <algorithm>

namespace editor::outline {

namespace text = foundation::text;
using Kind = StructureOp::Kind;

namespace {

constexpr qreal kRowGap = 10;

qsizetype rowIndex(const QList<OutlinePresenter::Row> &rows, const QUuid &id)
{
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const auto &row) { return row.id == id; });
    return it == rows.end() ? -1 : it - rows.begin();
}

} // namespace

// --- Loading and write-back ----------------------------------------------------

OutlineEditorState::LoadResult OutlineEditorState::reloadFromSession(qint64 generation, const QString &text)
{
    if (generation == m_loadedGeneration)
        return LoadResult::unchanged;
    // The text the piece was opened with: the library asked the writer
    // before opening a lossy outline as one, so it is taken as chosen.
    const bool asOpened = m_loadedGeneration < 0 && generation == 0;
    m_loadedGeneration = generation;
    return takeIn(text, asOpened);
}

OutlineEditorState::LoadResult OutlineEditorState::loadDraft(const QString &text)
{
    if (m_loadedGeneration >= 0)
        return LoadResult::unchanged;
    m_loadedGeneration = 0;
    return takeIn(text, false);
}

OutlineEditorState::LoadResult OutlineEditorState::takeIn(const QString &outline, bool acceptLoss)
{
    // Writing back a tree that lost lines would delete them from the file.
    m_held = !acceptLoss && OutlineNode::wouldDropLines(outline);
    if (m_held) {
        m_preamble.clear();
        m_nodes.clear();
    } else {
        OutlineNode::ParsedOutline parsed = OutlineNode::parseOutline(outline);
        m_preamble = std::move(parsed.preamble);
        m_nodes = OutlineNode::buildTree(parsed.bullets);
    }
    m_folded.clear();
    m_focusedID = m_nodes.isEmpty() ? std::nullopt : std::optional(m_nodes.first().id);
    m_selectionAnchor.reset();
    m_pendingCaret.reset();
    m_zoomStack.clear();
    return m_held ? LoadResult::held : LoadResult::loaded;
}

QString OutlineEditorState::outlineText() const
{
    return OutlineNode::outlineText(m_preamble, m_nodes);
}

void OutlineEditorState::commit()
{
    if (m_held || !m_sink)
        return;
    m_sink(outlineText());
}

std::optional<QString> OutlineEditorState::outlineTitle() const
{
    for (const QString &line : m_preamble) {
        if (text::trimSpaces(line).isEmpty())
            continue;
        qsizetype hashes = 0;
        while (hashes < line.size() && line.at(hashes) == u'#')
            ++hashes;
        const QString title = text::trimSpaces(line.mid(hashes));
        return title.isEmpty() ? std::nullopt : std::optional(title);
    }
    return std::nullopt;
}

// --- State -----------------------------------------------------------------------

std::optional<QUuid> OutlineEditorState::zoomRoot() const
{
    return m_zoomStack.isEmpty() ? std::nullopt : std::optional(m_zoomStack.last());
}

QList<OutlineEditorState::Row> OutlineEditorState::visibleRows() const
{
    return OutlinePresenter::rows(m_nodes, m_folded, zoomRoot());
}

// --- Selection and focus -------------------------------------------------------------

std::optional<QList<QUuid>> OutlineEditorState::selectionRange(const QUuid &a, const QUuid &b) const
{
    const QList<Row> rows = visibleRows();
    const qsizetype ia = rowIndex(rows, a);
    const qsizetype ib = rowIndex(rows, b);
    if (ia < 0 || ib < 0)
        return std::nullopt;
    QList<QUuid> ids;
    for (qsizetype i = std::min(ia, ib); i <= std::max(ia, ib); ++i)
        ids.append(rows.at(i).id);
    return ids;
}

std::optional<QList<QUuid>> OutlineEditorState::currentSelection() const
{
    if (!m_selectionAnchor)
        return std::nullopt;
    return selectionRange(*m_selectionAnchor, m_focusedID.value_or(*m_selectionAnchor));
}

bool OutlineEditorState::isSelected(const QUuid &id) const
{
    const std::optional<QList<QUuid>> selection = currentSelection();
    return selection && selection->contains(id);
}

void OutlineEditorState::focusRow(const QUuid &id)
{
    if (m_focusedID == id)
        return;
    m_focusedID = id;
    m_selectionAnchor.reset();
    m_pendingCaret.reset();
}

void OutlineEditorState::extendSelection(const QUuid &id)
{
    if (!m_selectionAnchor)
        m_selectionAnchor = m_focusedID.value_or(id);
    if (m_selectionAnchor == id && m_focusedID == id)
        return;
    m_focusedID = id;
    m_pendingCaret.reset();
}

void OutlineEditorState::moveFocus(int direction, bool dropAnchor)
{
    if (!m_focusedID)
        return;
    const QList<Row> rows = visibleRows();
    const qsizetype index = rowIndex(rows, *m_focusedID);
    if (index < 0)
        return;
    const qsizetype target = index + direction;
    if (target < 0 || target >= rows.size())
        return;
    m_focusedID = rows.at(target).id;
    if (dropAnchor)
        m_selectionAnchor.reset();
    m_pendingCaret.reset();
}

void OutlineEditorState::editRowText(const QUuid &id, const QString &text)
{
    m_selectionAnchor.reset();
    OutlinePresenter::setText(id, text, m_nodes);
    commit();
}

qsizetype OutlineEditorState::childCount(const QUuid &id) const
{
    const std::optional<IndexPath> found = OutlinePresenter::path(id, m_nodes);
    const std::optional<OutlineNode> node = found ? OutlinePresenter::node(*found, m_nodes) : std::nullopt;
    return node ? node->children.size() : 0;
}

// --- Structure operations ----------------------------------------------------------

void OutlineEditorState::handleStructure(const StructureOp &op)
{
    if (op.kind == Kind::deselect) {
        deselectOrZoomOut();
        return;
    }
    if (!m_focusedID)
        return;
    const QUuid focused = *m_focusedID;
    switch (op.kind) {
    case Kind::enter: applyRowOp(op); break;
    case Kind::hop: moveFocus(op.direction(), true); break;
    case Kind::extend:
        extendSelection(focused);
        moveFocus(op.direction(), false);
        break;
    case Kind::indent:
    case Kind::outdent:
    case Kind::moveUp:
    case Kind::moveDown:
        if (!applySelectionOp(op, focused))
            applyRowOp(op);
        break;
    case Kind::fold:
        if (childCount(focused) >= 1)
            m_folded.insert(focused);
        break;
    case Kind::unfold: m_folded.remove(focused); break;
    case Kind::deselect: break;
    }
}

bool OutlineEditorState::applySelectionOp(const StructureOp &op, const QUuid &focused)
{
    if (!m_selectionAnchor)
        return false;
    const std::optional<QList<QUuid>> selection = selectionRange(*m_selectionAnchor, focused);
    if (!selection || selection->size() < 2)
        return false;
    if (op.kind != Kind::indent && op.kind != Kind::outdent && op.kind != Kind::moveUp && op.kind != Kind::moveDown)
        return false;
    if (OutlinePresenter::applyToSelection(op, *selection, m_nodes))
        commit();
    return true;
}

void OutlineEditorState::applyRowOp(const StructureOp &op)
{
    if (!m_focusedID)
        return;
    const std::optional<IndexPath> found = OutlinePresenter::path(*m_focusedID, m_nodes);
    if (!found)
        return;
    std::optional<IndexPath> moved;
    switch (op.kind) {
    case Kind::indent: moved = OutlineNode::indent(m_nodes, *found); break;
    case Kind::outdent: moved = OutlineNode::outdent(m_nodes, *found); break;
    case Kind::moveUp: moved = OutlineNode::moveNode(m_nodes, *found, OutlineNode::Direction::Up); break;
    case Kind::moveDown: moved = OutlineNode::moveNode(m_nodes, *found, OutlineNode::Direction::Down); break;
    case Kind::enter: splitFocusedRow(op.caretGraphemes(), *found); return;
    default: return;
    }
    if (moved)
        commit();
}

OutlineEditorState::Split OutlineEditorState::splitFocusedRow(qsizetype caretGraphemes, const IndexPath &path)
{
    const OutlineNode::SplitResult result = OutlineNode::splitNode(m_nodes, path, caretGraphemes);
    switch (result.outcome) {
    case OutlineNode::SplitOutcome::NothingDone: return {};
    case OutlineNode::SplitOutcome::Outdented:
        if (!result.path)
            return {};
        commit();
        return {true, std::nullopt};
    case OutlineNode::SplitOutcome::NewNode: break;
    }
    const QUuid newID = OutlineNode::nodeAt(m_nodes, *result.path)->id;
    m_focusedID = newID;
    m_pendingCaret = 0;
    commit();
    return {true, newID};
}

bool OutlineEditorState::deselectOrZoomOut()
{
    if (m_selectionAnchor) {
        m_selectionAnchor.reset();
        return true;
    }
    if (!m_zoomStack.isEmpty()) {
        zoomOut();
        return true;
    }
    return false;
}

// --- Zoom and folds ------------------------------------------------------------------

void OutlineEditorState::zoomIn(const QUuid &id)
{
    if (!m_zoomStack.isEmpty() && m_zoomStack.last() == id)
        return;
    m_zoomStack.append(id);
    reconcileWithVisibleRows();
}

void OutlineEditorState::zoomOut()
{
    if (m_zoomStack.isEmpty())
        return;
    m_zoomStack.removeLast();
    reconcileWithVisibleRows();
}

void OutlineEditorState::zoomToTop()
{
    if (m_zoomStack.isEmpty())
        return;
    m_zoomStack.clear();
    reconcileWithVisibleRows();
}

void OutlineEditorState::zoomToLevel(qsizetype level)
{
    if (level < 0)
        return;
    m_zoomStack = m_zoomStack.first(std::min(level + 1, m_zoomStack.size()));
    reconcileWithVisibleRows();
}

void OutlineEditorState::reconcileWithVisibleRows()
{
    const QList<Row> rows = visibleRows();
    auto visible = [&](const QUuid &id) { return rowIndex(rows, id) >= 0; };
    // The anchor is judged before the focus moves.
    if (m_selectionAnchor && (!visible(*m_selectionAnchor) || !visible(m_focusedID.value_or(*m_selectionAnchor))))
        m_selectionAnchor.reset();
    if (m_focusedID && !visible(*m_focusedID)) {
        m_focusedID = rows.isEmpty() ? std::nullopt : std::optional(rows.first().id);
        m_pendingCaret.reset();
    }
}

QString OutlineEditorState::crumbTitle(qsizetype level) const
{
    if (level < 0 || level >= m_zoomStack.size())
        return QStringLiteral("?");
    const std::optional<IndexPath> found = OutlinePresenter::path(m_zoomStack.at(level), m_nodes);
    const std::optional<OutlineNode> node = found ? OutlinePresenter::node(*found, m_nodes) : std::nullopt;
    if (!node)
        return QStringLiteral("?");
    const QString &title = node->text;
    if (title.isEmpty())
        return QStringLiteral("(empty)");
    if (text::graphemeCount(title) > 26)
        return text::graphemePrefix(title, 25) + QStringLiteral("…");
    return title;
}

void OutlineEditorState::toggleFold(const QUuid &id)
{
    if (!m_folded.remove(id))
        m_folded.insert(id);
}

void OutlineEditorState::setHover(const QUuid &id, bool entered)
{
    if (entered)
        m_hoverID = id;
    else if (m_hoverID == id)
        m_hoverID.reset();
}

QHash<QUuid, qreal> OutlineEditorState::rowGaps(const QList<Row> &rows)
{
    QHash<QUuid, qreal> gaps;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const Row &row = rows.at(i);
        if ((row.depth == 0 && row.childCount >= 1) || (i > 0 && row.depth < rows.at(i - 1).depth))
            gaps.insert(row.id, kRowGap);
    }
    return gaps;
}

// --- Drag and drop -----------------------------------------------------------------

QList<QUuid> OutlineEditorState::dragPayload(const QUuid &id) const
{
    const std::optional<QList<QUuid>> selection = currentSelection();
    if (selection && selection->contains(id))
        return OutlinePresenter::topmostSelected(m_nodes, QSet<QUuid>(selection->begin(), selection->end()));
    return {id};
}

void OutlineEditorState::beginDrag(const QList<QUuid> &ids)
{
    m_drag = DragInfo{ids, std::nullopt, false};
}

QList<OutlinePresenter::FramedRow> OutlineEditorState::framedRows(const RowFrames &frames) const
{
    QList<OutlinePresenter::FramedRow> framed;
    for (const Row &row : visibleRows()) {
        const auto it = frames.constFind(row.id);
        if (it != frames.constEnd())
            framed.append({row, *it});
    }
    return framed;
}

void OutlineEditorState::dragMoved(const QPointF &point, const RowFrames &frames)
{
    if (!m_drag)
        return;
    m_drag->target = OutlinePresenter::dropTarget(framedRows(frames), point);
    m_drag->valid = m_drag->target && OutlinePresenter::canDrop(m_drag->moving, *m_drag->target, m_nodes);
}

bool OutlineEditorState::dragEnded(const std::optional<QPointF> &point, const std::optional<RowFrames> &frames)
{
    const std::optional<DragInfo> kept = std::exchange(m_drag, std::nullopt);
    if (!point || !kept || !frames)
        return false;
    // The drop finds its target afresh; the feedback's may be stale.
    const std::optional<OutlinePresenter::DropTarget> target =
        OutlinePresenter::dropTarget(framedRows(*frames), *point);
    if (!target || !OutlinePresenter::moveNodes(*target, kept->moving, m_nodes))
        return false;
    m_selectionAnchor = kept->moving.first();
    m_focusedID = kept->moving.last();
    m_pendingCaret.reset();
    commit();
    return true;
}

} // namespace editor::outline
