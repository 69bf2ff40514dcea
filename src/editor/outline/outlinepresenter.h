#pragma once
// Pure functions over the outline tree for the outline editor: index paths,
// the visible rows under folds and zoom, a row's text, structure operations
// on several selected rows, and where a drag drops and the move itself. No
// state of their own; the editor state owns the tree and calls them.

#include "editor/outline/structureop.h"
#include "library/outlinenode.h"

#include <QHash>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSet>
#include <QUuid>

#include <optional>

namespace editor::outline {

using library::OutlineNode;
using Nodes = QList<OutlineNode>;
using IndexPath = OutlineNode::IndexPath;

class OutlinePresenter {
public:
    // One visible row.
    struct Row {
        QUuid id;
        int depth = 0; // 0 for the first visible level
        QString text;
        qsizetype childCount = 0; // direct children, shown or not
        bool isFolded = false;
        qsizetype foldedDescendantCount = 0; // the whole subtree below a folded node
        bool operator==(const Row &) const = default;
    };

    // Where dragged nodes land, relative to an anchor node.
    struct DropTarget {
        enum class Kind { before, afterLast, lastChild };
        Kind kind = Kind::before;
        QUuid id;
        static DropTarget before(const QUuid &id) { return {Kind::before, id}; }
        static DropTarget afterLast(const QUuid &id) { return {Kind::afterLast, id}; }
        static DropTarget lastChild(const QUuid &id) { return {Kind::lastChild, id}; }
        bool operator==(const DropTarget &) const = default;
    };

    // A visible row with the frame of its drag catcher (y grows downward).
    struct FramedRow {
        Row row;
        QRectF frame;
    };

    // The first node with the id in document order.
    static std::optional<IndexPath> path(const QUuid &id, const Nodes &tree);
    static std::optional<OutlineNode> node(const IndexPath &path, const Nodes &tree);
    static QList<Row> rows(const Nodes &tree, const QSet<QUuid> &folded, const std::optional<QUuid> &zoomRoot);
    static qsizetype descendantCount(const Nodes &nodes);
    // Line breaks in text become single spaces. False when no node has the id.
    static bool setText(const QUuid &id, const QString &text, Nodes &tree);
    // indent, outdent, moveUp or moveDown on the ids in display order; true
    // when the tree changed. Moves stop at the first id that cannot move.
    static bool applyToSelection(const StructureOp &op, const QList<QUuid> &ids, Nodes &tree);

    // --- Drag and drop -------------------------------------------------------

    // The selected nodes without a selected ancestor, in document order.
    static QList<QUuid> topmostSelected(const Nodes &tree, const QSet<QUuid> &selected);
    // The target under the pointer; rows in display order, top to bottom.
    static std::optional<DropTarget> dropTarget(const QList<FramedRow> &rows, const QPointF &point);
    // The anchor exists and is neither moving nor inside a moving subtree.
    static bool canDrop(const QList<QUuid> &moving, const DropTarget &target, const Nodes &tree);
    // Moves the nodes (topmost ids) to the target in document order; false,
    // with the tree as it was, when refused or when nothing changed.
    static bool moveNodes(const DropTarget &target, const QList<QUuid> &moving, Nodes &tree);
};

// A drag under way: what it carries and where a release would land now.
struct DragInfo {
    QList<QUuid> moving; // topmost only, document order
    std::optional<OutlinePresenter::DropTarget> target;
    bool valid = false;
    bool operator==(const DragInfo &) const = default;
};

} // namespace editor::outline
