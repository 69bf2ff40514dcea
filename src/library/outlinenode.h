#pragma once
// The outline format of outline pieces and the tree the outline editor works
// on. Text: a few preamble lines, then bullet lines with two spaces per depth,
// "- " and the text. Nodes are addressed by index paths, top level first.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>
#include <utility>

namespace library {

struct OutlineNode {
    QUuid id;     // fresh per parse and per created node; never stored
    QString text; // after the bullet marker
    QList<OutlineNode> children;

    OutlineNode() : id(QUuid::createUuid()) {}
    explicit OutlineNode(QString nodeText, QList<OutlineNode> nodeChildren = {})
        : id(QUuid::createUuid()), text(std::move(nodeText)), children(std::move(nodeChildren))
    {}

    bool operator==(const OutlineNode &other) const;
    bool operator!=(const OutlineNode &other) const { return !(*this == other); }

    using IndexPath = QList<qsizetype>;
    enum class Direction { Up, Down };

    struct Bullet {
        int depth = 0;
        QString text;
        bool operator==(const Bullet &) const = default;
    };

    struct ParsedOutline {
        QStringList preamble;
        QList<Bullet> bullets; // normalised depths
    };

    enum class SplitOutcome { Outdented, NewNode, NothingDone };
    struct SplitResult {
        std::optional<IndexPath> path;
        SplitOutcome outcome = SplitOutcome::NothingDone;
        qsizetype caret = 0; // caret in the focused node, always at its start
    };

    // --- Format (pure) -------------------------------------------------------

    // (raw depth, text) of a bullet line, none for any other line.
    static std::optional<Bullet> parseBulletLine(const QString &line);
    // Preamble lines and the bullets with normalised depths; lines after the
    // first bullet that are not bullets are dropped.
    static ParsedOutline parseOutline(const QString &text);
    // The roots of normalised bullets.
    static QList<OutlineNode> buildTree(const QList<Bullet> &bullets);
    // The nodes of one level starting at index; index ends at the first bullet
    // of another depth (or the end).
    static QList<OutlineNode> buildTree(const QList<Bullet> &bullets, qsizetype &index, int depth);
    // Appends the lines of nodes (and their children) at the given depth.
    static void serialize(const QList<OutlineNode> &nodes, int depth, QStringList &lines);
    // True when parseOutline would drop a line with content.
    static bool wouldDropLines(const QString &text);
    // Bullets become headings "##" to "######", deeper ones list items.
    static QString postTextFromOutline(const QString &text);

    // Preamble plus serialised roots, joined with line feeds.
    static QString outlineText(const QStringList &preamble, const QList<OutlineNode> &roots);

    // --- Tree edits (change nothing when they refuse) ---------------------

    static std::optional<IndexPath> indent(QList<OutlineNode> &roots, const IndexPath &path);
    static std::optional<IndexPath> outdent(QList<OutlineNode> &roots, const IndexPath &path);
    static std::optional<IndexPath> moveNode(QList<OutlineNode> &roots, const IndexPath &path, Direction direction);
    // Return in a row; caret in grapheme clusters.
    static SplitResult splitNode(QList<OutlineNode> &roots, const IndexPath &path, qsizetype caret);
    // Into the children of the node at path, or into roots for the empty path;
    // position clamped. False when the path does not resolve.
    static bool insertNodes(QList<OutlineNode> &roots, const IndexPath &path, qsizetype position,
                            const QList<OutlineNode> &nodes);

    // The list holding the node at path (its index there is path.last());
    // null when the path does not resolve.
    static QList<OutlineNode> *siblingsAt(QList<OutlineNode> &roots, const IndexPath &path);
    // The node at path, null when the path does not resolve.
    static OutlineNode *nodeAt(QList<OutlineNode> &roots, const IndexPath &path);

    // Runs action(siblings, index) on the node's sibling list; false when the
    // path does not resolve, else the action's answer.
    template<typename Action>
    static bool mutateSiblings(QList<OutlineNode> &roots, const IndexPath &path, Action &&action)
    {
        QList<OutlineNode> *siblings = siblingsAt(roots, path);
        return siblings ? bool(action(*siblings, path.last())) : false;
    }

    // Runs action(children, value) on the children of the node at path; false
    // when the path does not resolve (the empty path included).
    template<typename Value, typename Action>
    static bool mutateChildren(QList<OutlineNode> &roots, const IndexPath &path, Value &&value, Action &&action)
    {
        OutlineNode *node = nodeAt(roots, path);
        return node ? bool(action(node->children, std::forward<Value>(value))) : false;
    }

    // Steps for mutateSiblings / mutateChildren.

    // Makes siblings[index] the last child of siblings[index - 1]; newPath
    // gets parentPath + (index - 1, last child). False for index 0 or out of range.
    static bool moveIntoPreviousSibling(QList<OutlineNode> &siblings, qsizetype index, IndexPath *newPath = nullptr,
                                        const IndexPath &parentPath = {});
    // Swaps with the previous (up) or next (down) sibling and sets *moved;
    // false with nothing changed when there is none.
    static bool swapWithNeighbour(QList<OutlineNode> &siblings, qsizetype index, Direction direction,
                                  bool *moved = nullptr);
    // Removes siblings[index] with its subtree into taken.
    static bool takeNode(QList<OutlineNode> &siblings, qsizetype index, std::optional<OutlineNode> &taken);
};

} // namespace library
