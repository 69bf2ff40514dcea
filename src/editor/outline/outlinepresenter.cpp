#include "outlinepresenter.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace editor::outline {

namespace {

using Kind = StructureOp::Kind;

bool findPath(const QUuid &id, const Nodes &nodes, IndexPath &path)
{
    for (qsizetype i = 0; i < nodes.size(); ++i) {
        path.append(i);
        if (nodes.at(i).id == id || findPath(id, nodes.at(i).children, path))
            return true;
        path.removeLast();
    }
    return false;
}

void appendRows(const Nodes &nodes, int depth, const QSet<QUuid> &folded, QList<OutlinePresenter::Row> &rows)
{
    for (const OutlineNode &node : nodes) {
        const bool isFolded = folded.contains(node.id);
        rows.append({node.id, depth, node.text, node.children.size(), isFolded,
                     isFolded ? OutlinePresenter::descendantCount(node.children) : 0});
        if (!isFolded)
            appendRows(node.children, depth + 1, folded, rows);
    }
}

void collectTopmost(const Nodes &nodes, const QSet<QUuid> &selected, bool belowSelected, QList<QUuid> &out)
{
    for (const OutlineNode &node : nodes) {
        const bool isSelected = selected.contains(node.id);
        if (isSelected && !belowSelected)
            out.append(node.id);
        collectTopmost(node.children, selected, belowSelected || isSelected, out);
    }
}

// A pasted line break never splits a row: CR LF, LF and CR each become a space.
QString withoutLineBreaks(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    return text;
}

} // namespace

std::optional<IndexPath> OutlinePresenter::path(const QUuid &id, const Nodes &tree)
{
    IndexPath found;
    if (findPath(id, tree, found))
        return found;
    return std::nullopt;
}

std::optional<OutlineNode> OutlinePresenter::node(const IndexPath &path, const Nodes &tree)
{
    const Nodes *list = &tree;
    for (qsizetype k = 0; k < path.size(); ++k) {
        const qsizetype index = path.at(k);
        if (index < 0 || index >= list->size())
            return std::nullopt;
        if (k + 1 == path.size())
            return list->at(index);
        list = &list->at(index).children;
    }
    return std::nullopt;
}

QList<OutlinePresenter::Row> OutlinePresenter::rows(const Nodes &tree, const QSet<QUuid> &folded,
                                                    const std::optional<QUuid> &zoomRoot)
{
    QList<Row> result;
    if (zoomRoot) {
        if (const std::optional<IndexPath> rootPath = path(*zoomRoot, tree)) {
            if (const std::optional<OutlineNode> root = node(*rootPath, tree)) {
                appendRows(root->children, 0, folded, result);
                return result;
            }
        }
    }
    appendRows(tree, 0, folded, result);
    return result;
}

qsizetype OutlinePresenter::descendantCount(const Nodes &nodes)
{
    qsizetype count = 0;
    for (const OutlineNode &node : nodes)
        count += 1 + descendantCount(node.children);
    return count;
}

bool OutlinePresenter::setText(const QUuid &id, const QString &text, Nodes &tree)
{
    const std::optional<IndexPath> found = path(id, tree);
    if (!found)
        return false;
    OutlineNode::nodeAt(tree, *found)->text = withoutLineBreaks(text);
    return true;
}

bool OutlinePresenter::applyToSelection(const StructureOp &op, const QList<QUuid> &ids, Nodes &tree)
{
    if (op.kind != Kind::indent && op.kind != Kind::outdent && op.kind != Kind::moveUp && op.kind != Kind::moveDown)
        return false;
    // A selected row's selected descendants travel with it: applied to them
    // as well, the operation would tear a child out of its parent.
    const QList<QUuid> topmost = topmostSelected(tree, QSet<QUuid>(ids.cbegin(), ids.cend()));
    QList<QUuid> order;
    for (const QUuid &id : ids) {
        if (topmost.contains(id))
            order.append(id);
    }
    // Outdent and move down work from the last id so a block keeps its order.
    if (op.kind == Kind::outdent || op.kind == Kind::moveDown)
        std::reverse(order.begin(), order.end());

    bool changed = false;
    for (const QUuid &id : std::as_const(order)) {
        const std::optional<IndexPath> found = path(id, tree);
        if (!found)
            continue;
        switch (op.kind) {
        case Kind::indent:
            if (found->last() > 0)
                changed |= OutlineNode::mutateSiblings(tree, *found, [](Nodes &siblings, qsizetype index) {
                    return OutlineNode::moveIntoPreviousSibling(siblings, index);
                });
            break;
        case Kind::outdent: changed |= OutlineNode::outdent(tree, *found).has_value(); break;
        default: {
            const auto direction = op.kind == Kind::moveUp ? OutlineNode::Direction::Up : OutlineNode::Direction::Down;
            bool moved = false;
            OutlineNode::mutateSiblings(tree, *found, [&](Nodes &siblings, qsizetype index) {
                return OutlineNode::swapWithNeighbour(siblings, index, direction, &moved);
            });
            if (!moved)
                return changed; // the block stops at its edge
            changed = true;
        }
        }
    }
    return changed;
}

// --- Drag and drop -----------------------------------------------------------

QList<QUuid> OutlinePresenter::topmostSelected(const Nodes &tree, const QSet<QUuid> &selected)
{
    QList<QUuid> result;
    if (!selected.isEmpty())
        collectTopmost(tree, selected, false, result);
    return result;
}

std::optional<OutlinePresenter::DropTarget> OutlinePresenter::dropTarget(const QList<FramedRow> &rows,
                                                                         const QPointF &point)
{
    // Bands of 6 px at the outer edges catch the pointer above the first row
    // and below the last; inside a row its upper 30 % is "before", the lower
    // 30 % the next row's "before", the middle "last child".
    constexpr qreal band = 6;
    if (rows.isEmpty())
        return std::nullopt;
    const qreal y = point.y();
    if (y < rows.first().frame.top() + band)
        return DropTarget::before(rows.first().row.id);
    if (y > rows.last().frame.bottom() - band)
        return DropTarget::afterLast(rows.last().row.id);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QRectF &frame = rows.at(i).frame;
        if (y < frame.top() || y > frame.bottom())
            continue;
        qreal fraction = y - frame.top();
        if (frame.height() > 1)
            fraction /= frame.height();
        if (fraction < 0.3)
            return DropTarget::before(rows.at(i).row.id);
        if (fraction > 0.7) {
            if (i + 1 < rows.size())
                return DropTarget::before(rows.at(i + 1).row.id);
            return DropTarget::afterLast(rows.at(i).row.id);
        }
        return DropTarget::lastChild(rows.at(i).row.id);
    }
    return std::nullopt;
}

bool OutlinePresenter::canDrop(const QList<QUuid> &moving, const DropTarget &target, const Nodes &tree)
{
    const std::optional<IndexPath> anchorPath = path(target.id, tree);
    if (!anchorPath || moving.contains(target.id))
        return false;
    // Nothing can drop into its own subtree.
    const Nodes *list = &tree;
    for (qsizetype k = 0; k + 1 < anchorPath->size(); ++k) {
        const OutlineNode &ancestor = list->at(anchorPath->at(k));
        if (moving.contains(ancestor.id))
            return false;
        list = &ancestor.children;
    }
    return true;
}

bool OutlinePresenter::moveNodes(const DropTarget &target, const QList<QUuid> &moving, Nodes &tree)
{
    if (moving.isEmpty() || !canDrop(moving, target, tree))
        return false;
    const Nodes kept = tree;
    auto refuse = [&] {
        tree = kept;
        return false;
    };

    QList<std::pair<IndexPath, QUuid>> pairs;
    for (const QUuid &id : moving) {
        std::optional<IndexPath> found = path(id, tree);
        if (!found)
            return false;
        pairs.append({std::move(*found), id});
    }
    std::sort(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) {
        return std::lexicographical_compare(a.first.begin(), a.first.end(), b.first.begin(), b.first.end());
    });

    // Lift from the last to the first so earlier paths stay meaningful.
    Nodes taken;
    for (auto it = pairs.crbegin(); it != pairs.crend(); ++it) {
        const std::optional<IndexPath> found = path(it->second, tree);
        std::optional<OutlineNode> node;
        if (!found || !OutlineNode::mutateSiblings(tree, *found, [&](Nodes &siblings, qsizetype index) {
                return OutlineNode::takeNode(siblings, index, node);
            }))
            return refuse();
        taken.prepend(std::move(*node));
    }

    const std::optional<IndexPath> anchorPath = path(target.id, tree);
    if (!anchorPath || anchorPath->isEmpty() || taken.isEmpty())
        return refuse();
    const IndexPath parentPath = anchorPath->first(anchorPath->size() - 1);
    bool inserted = false;
    switch (target.kind) {
    case DropTarget::Kind::before:
        inserted = OutlineNode::insertNodes(tree, parentPath, anchorPath->last(), taken);
        break;
    case DropTarget::Kind::afterLast:
        inserted = OutlineNode::insertNodes(tree, parentPath, anchorPath->last() + 1, taken);
        break;
    case DropTarget::Kind::lastChild:
        inserted = OutlineNode::insertNodes(tree, *anchorPath, std::numeric_limits<qsizetype>::max(), taken);
        break;
    }
    if (!inserted || tree == kept)
        return refuse();
    return true;
}

} // namespace editor::outline
