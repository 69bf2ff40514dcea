#pragma once
// Trees written as outline text, nodes named by their text, and readable
// failure output for the outline editor's values.

#include "editor/outline/outlineeditorstate.h"
#include "editor/outline/outlinepresenter.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <ostream>

namespace editor::outline {

inline void PrintTo(const StructureOp &op, std::ostream *os)
{
    *os << "StructureOp(" << int(op.kind) << ", " << op.value << ")";
}

inline void PrintTo(const OutlinePresenter::DropTarget &target, std::ostream *os)
{
    static const char *const names[] = {"before", "afterLast", "lastChild"};
    *os << names[int(target.kind)] << "(" << target.id.toString().toStdString() << ")";
}

inline void PrintTo(const OutlinePresenter::Row &row, std::ostream *os)
{
    *os << "Row(" << row.text.toStdString() << ", depth " << row.depth << ", children " << row.childCount
        << (row.isFolded ? ", folded " : ", open ") << row.foldedDescendantCount << ")";
}

} // namespace editor::outline

namespace outlinetest {

using editor::outline::Nodes;
using editor::outline::OutlineNode;

inline Nodes tree(const QString &text)
{
    return OutlineNode::buildTree(OutlineNode::parseOutline(text).bullets);
}

inline QString textOf(const Nodes &nodes)
{
    return OutlineNode::outlineText({}, nodes);
}

inline const OutlineNode *findNode(const Nodes &nodes, const QString &text)
{
    for (const OutlineNode &node : nodes) {
        if (node.text == text)
            return &node;
        if (const OutlineNode *found = findNode(node.children, text))
            return found;
    }
    return nullptr;
}

// The id of the first node with that text; a missing name fails the test.
inline QUuid idOf(const Nodes &nodes, const QString &text)
{
    const OutlineNode *node = findNode(nodes, text);
    EXPECT_NE(node, nullptr) << "no node " << text.toStdString();
    return node ? node->id : QUuid();
}

inline QList<QUuid> idsOf(const Nodes &nodes, const QStringList &texts)
{
    QList<QUuid> ids;
    for (const QString &text : texts)
        ids.append(idOf(nodes, text));
    return ids;
}

// Frames of 20 px, top to bottom, for the visible rows.
inline editor::outline::OutlineEditorState::RowFrames framesOf(const editor::outline::OutlineEditorState &state)
{
    editor::outline::OutlineEditorState::RowFrames frames;
    qreal top = 0;
    for (const auto &row : state.visibleRows()) {
        frames.insert(row.id, QRectF(0, top, 400, 20));
        top += 20;
    }
    return frames;
}

} // namespace outlinetest
