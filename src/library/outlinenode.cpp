#include "outlinenode.h"

#include "foundation/text.h"

#include <QHash>

#include <algorithm>
#include <climits>

namespace library {

namespace text = foundation::text;

bool OutlineNode::operator==(const OutlineNode &other) const
{
    return id == other.id && text == other.text && children == other.children;
}

// --- Format ------------------------------------------------------------------

std::optional<OutlineNode::Bullet> OutlineNode::parseBulletLine(const QString &line)
{
    qsizetype width = 0;
    qsizetype i = 0;
    const qsizetype n = line.size();
    for (; i < n; ++i) {
        const QChar c = line.at(i);
        if (c == u'\t')
            width += 2;
        else if (c.category() == QChar::Separator_Space)
            width += 1;
        else
            break;
    }
    if (i + 1 >= n)
        return std::nullopt;
    const QChar marker = line.at(i);
    const QChar after = line.at(i + 1);
    if ((marker != u'-' && marker != u'*') || (after != u' ' && after != u'\t'))
        return std::nullopt;
    return Bullet{int(std::min<qsizetype>(width / 2, INT_MAX)), line.mid(i + 2)};
}

OutlineNode::ParsedOutline OutlineNode::parseOutline(const QString &outline)
{
    QStringList lines = text::splitLines(outline);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    ParsedOutline result;
    // Raw indentation -> the depth it was given, so a style seen before keeps
    // its level unless that would skip one.
    QHash<int, int> seenDepth;
    int previous = -1;
    bool seenBullet = false;
    for (const QString &line : std::as_const(lines)) {
        if (const std::optional<Bullet> bullet = parseBulletLine(line)) {
            const int raw = bullet->depth;
            const int depth = std::min(previous + 1, seenDepth.value(raw, raw));
            seenDepth.insert(raw, depth);
            previous = depth;
            result.bullets.append({depth, bullet->text});
            seenBullet = true;
        } else if (!seenBullet) {
            result.preamble.append(line);
        }
    }
    return result;
}

QList<OutlineNode> OutlineNode::buildTree(const QList<Bullet> &bullets)
{
    qsizetype index = 0;
    return buildTree(bullets, index, 0);
}

QList<OutlineNode> OutlineNode::buildTree(const QList<Bullet> &bullets, qsizetype &index, int depth)
{
    QList<OutlineNode> nodes;
    while (index < bullets.size() && bullets.at(index).depth == depth) {
        OutlineNode node(bullets.at(index).text);
        ++index;
        node.children = buildTree(bullets, index, depth + 1);
        nodes.append(std::move(node));
    }
    return nodes;
}

void OutlineNode::serialize(const QList<OutlineNode> &nodes, int depth, QStringList &lines)
{
    const QString indent(2 * qsizetype(depth), u' ');
    for (const OutlineNode &node : nodes) {
        lines.append(indent + QStringLiteral("- ") + node.text);
        serialize(node.children, depth + 1, lines);
    }
}

bool OutlineNode::wouldDropLines(const QString &outline)
{
    bool seenBullet = false;
    for (const QString &line : text::splitLines(outline)) {
        if (parseBulletLine(line))
            seenBullet = true;
        else if (seenBullet && !text::isBlank(line))
            return true;
    }
    return false;
}

QString OutlineNode::postTextFromOutline(const QString &outline)
{
    const ParsedOutline parsed = parseOutline(outline);
    QStringList lines = parsed.preamble;
    for (const Bullet &bullet : parsed.bullets) {
        if (bullet.depth <= 4)
            lines.append(QString(bullet.depth + 2, u'#') + u' ' + bullet.text);
        else
            lines.append(QString(2 * qsizetype(bullet.depth - 5), u' ') + QStringLiteral("- ") + bullet.text);
    }
    return lines.join(u'\n');
}

QString OutlineNode::outlineText(const QStringList &preamble, const QList<OutlineNode> &roots)
{
    QStringList lines = preamble;
    serialize(roots, 0, lines);
    return lines.join(u'\n');
}

// --- Paths -------------------------------------------------------------------

QList<OutlineNode> *OutlineNode::siblingsAt(QList<OutlineNode> &roots, const IndexPath &path)
{
    if (path.isEmpty())
        return nullptr;
    QList<OutlineNode> *list = &roots;
    for (qsizetype k = 0; k < path.size(); ++k) {
        const qsizetype index = path.at(k);
        if (index < 0 || index >= list->size())
            return nullptr;
        if (k + 1 == path.size())
            break;
        list = &(*list)[index].children;
    }
    return list;
}

OutlineNode *OutlineNode::nodeAt(QList<OutlineNode> &roots, const IndexPath &path)
{
    QList<OutlineNode> *siblings = siblingsAt(roots, path);
    return siblings ? &(*siblings)[path.last()] : nullptr;
}

namespace {

OutlineNode::IndexPath withoutLast(const OutlineNode::IndexPath &path, qsizetype count)
{
    return path.first(std::max<qsizetype>(0, path.size() - count));
}

} // namespace

// --- Steps -------------------------------------------------------------------

bool OutlineNode::moveIntoPreviousSibling(QList<OutlineNode> &siblings, qsizetype index, IndexPath *newPath,
                                          const IndexPath &parentPath)
{
    if (index < 1 || index >= siblings.size())
        return false;
    OutlineNode node = siblings.takeAt(index);
    QList<OutlineNode> &target = siblings[index - 1].children;
    target.append(std::move(node));
    if (newPath)
        *newPath = parentPath + IndexPath{index - 1, target.size() - 1};
    return true;
}

bool OutlineNode::swapWithNeighbour(QList<OutlineNode> &siblings, qsizetype index, Direction direction, bool *moved)
{
    const qsizetype other = direction == Direction::Up ? index - 1 : index + 1;
    if (index < 0 || index >= siblings.size() || other < 0 || other >= siblings.size())
        return false;
    siblings.swapItemsAt(index, other);
    if (moved)
        *moved = true;
    return true;
}

bool OutlineNode::takeNode(QList<OutlineNode> &siblings, qsizetype index, std::optional<OutlineNode> &taken)
{
    if (index < 0 || index >= siblings.size())
        return false;
    taken = siblings.takeAt(index);
    return true;
}

// --- Edits -------------------------------------------------------------------

std::optional<OutlineNode::IndexPath> OutlineNode::indent(QList<OutlineNode> &roots, const IndexPath &path)
{
    if (path.isEmpty() || path.last() == 0)
        return std::nullopt;
    IndexPath newPath;
    const IndexPath parentPath = withoutLast(path, 1);
    const bool done = mutateSiblings(roots, path, [&](QList<OutlineNode> &siblings, qsizetype index) {
        return moveIntoPreviousSibling(siblings, index, &newPath, parentPath);
    });
    return done ? std::optional(newPath) : std::nullopt;
}

std::optional<OutlineNode::IndexPath> OutlineNode::outdent(QList<OutlineNode> &roots, const IndexPath &path)
{
    QList<OutlineNode> *siblings = siblingsAt(roots, path);
    if (path.size() <= 1 || !siblings)
        return std::nullopt;
    const IndexPath parentPath = withoutLast(path, 1);
    const qsizetype parentIndex = parentPath.last();
    OutlineNode node = siblings->takeAt(path.last());
    siblingsAt(roots, parentPath)->insert(parentIndex + 1, std::move(node));
    return withoutLast(path, 2) + IndexPath{parentIndex + 1};
}

std::optional<OutlineNode::IndexPath> OutlineNode::moveNode(QList<OutlineNode> &roots, const IndexPath &path,
                                                            Direction direction)
{
    QList<OutlineNode> *siblings = siblingsAt(roots, path);
    if (!siblings)
        return std::nullopt;
    const qsizetype index = path.last();
    if (swapWithNeighbour(*siblings, index, direction)) {
        IndexPath moved = path;
        moved.last() = direction == Direction::Up ? index - 1 : index + 1;
        return moved;
    }
    if (path.size() == 1)
        return std::nullopt;
    // No neighbour on that side: leave the parent.
    const IndexPath parentPath = withoutLast(path, 1);
    const qsizetype parentIndex = parentPath.last();
    const qsizetype target = direction == Direction::Up ? parentIndex : parentIndex + 1;
    OutlineNode node = siblings->takeAt(index);
    siblingsAt(roots, parentPath)->insert(target, std::move(node));
    return withoutLast(path, 2) + IndexPath{target};
}

OutlineNode::SplitResult OutlineNode::splitNode(QList<OutlineNode> &roots, const IndexPath &path, qsizetype caret)
{
    QList<OutlineNode> *siblings = siblingsAt(roots, path);
    if (!siblings)
        return {std::nullopt, SplitOutcome::NothingDone};
    const qsizetype index = path.last();
    IndexPath newPath = path;
    newPath.last() = index + 1;
    OutlineNode &node = (*siblings)[index];

    if (text::isBlank(node.text)) {
        if (path.size() > 1)
            return {outdent(roots, path), SplitOutcome::Outdented};
        siblings->insert(index + 1, OutlineNode());
        return {newPath, SplitOutcome::NewNode};
    }

    const QList<qsizetype> bounds = text::graphemeBoundaries(node.text);
    const qsizetype cut = bounds.at(std::clamp<qsizetype>(caret, 0, bounds.size() - 1));
    QString head = node.text.left(cut);
    QString tail = node.text.mid(cut);
    auto isSpaceOrTab = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype headEnd = head.size();
    while (headEnd > 0 && isSpaceOrTab(head.at(headEnd - 1)))
        --headEnd;
    head.truncate(headEnd);
    qsizetype tailStart = 0;
    while (tailStart < tail.size() && isSpaceOrTab(tail.at(tailStart)))
        ++tailStart;
    tail.remove(0, tailStart);

    node.text = head; // before the insert: it may move the list's storage
    siblings->insert(index + 1, OutlineNode(tail));
    return {newPath, SplitOutcome::NewNode};
}

bool OutlineNode::insertNodes(QList<OutlineNode> &roots, const IndexPath &path, qsizetype position,
                              const QList<OutlineNode> &nodes)
{
    const QList<OutlineNode> copy = nodes; // nodes may alias the target list
    auto insertInto = [&](QList<OutlineNode> &list, qsizetype at) {
        at = std::clamp<qsizetype>(at, 0, list.size());
        for (const OutlineNode &node : copy)
            list.insert(at++, node);
        return true;
    };
    if (path.isEmpty())
        return insertInto(roots, position);
    return mutateChildren(roots, path, position, insertInto);
}

} // namespace library
