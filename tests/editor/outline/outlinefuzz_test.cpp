// Random trees under random sequences of editor operations (fixed seeds): no
// operation may lose or duplicate a node, every change of the text must be
// written, the written text must parse back to the same tree, and a move undone
// by the opposite move restores the text.
#include "editor/outline/outlineeditorstate.h"
#include "outlinefixture.h"

#include <gtest/gtest.h>

#include <random>

using editor::outline::IndexPath;
using editor::outline::Nodes;
using editor::outline::OutlineEditorState;
using editor::outline::OutlineNode;
using editor::outline::OutlinePresenter;
using editor::outline::StructureOp;
using Kind = StructureOp::Kind;
using Target = OutlinePresenter::DropTarget;
using namespace outlinetest;
using namespace Qt::StringLiterals;

namespace {

class Random {
public:
    explicit Random(unsigned seed) : m_engine(seed) {}
    int below(int n) { return n <= 0 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(m_engine); }
    template<typename T>
    const T &pick(const QList<T> &list)
    {
        return list.at(below(int(list.size())));
    }

private:
    std::mt19937 m_engine;
};

const QStringList words{u"a"_s,      u"plan"_s,   u""_s,   u"  two  words"_s, u"é👩‍👩‍👧x"_s,
                        u"- dash"_s, u"# hash"_s, u"\tt"_s};

// An outline text of up to count nodes, none deeper than maxDepth.
QString randomOutline(Random &random, int count, int maxDepth)
{
    QStringList lines{u"# Title"_s};
    int depth = -1;
    for (int i = 0; i < count; ++i) {
        depth = random.below(std::min(depth + 1, maxDepth) + 1);
        lines.append(QString(2 * depth, u' ') + u"- "_s + random.pick(words) + QString::number(i));
    }
    return lines.join(u'\n');
}

void collectIDs(const Nodes &nodes, QList<QUuid> &ids)
{
    for (const OutlineNode &node : nodes) {
        ids.append(node.id);
        collectIDs(node.children, ids);
    }
}

QList<QUuid> allIDs(const Nodes &nodes)
{
    QList<QUuid> ids;
    collectIDs(nodes, ids);
    return ids;
}

bool sameShape(const Nodes &a, const Nodes &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).text != b.at(i).text || !sameShape(a.at(i).children, b.at(i).children))
            return false;
    }
    return true;
}

// One random operation of the writer; answers whether it may create a node.
bool randomOperation(Random &random, OutlineEditorState &state)
{
    const QList<QUuid> ids = allIDs(state.nodes());
    const QUuid someID = ids.isEmpty() ? QUuid::createUuid() : random.pick(ids);
    static const QList<Kind> kinds{Kind::enter,  Kind::hop,      Kind::extend, Kind::indent, Kind::outdent,
                                   Kind::moveUp, Kind::moveDown, Kind::fold,   Kind::unfold, Kind::deselect};
    switch (random.below(9)) {
    case 0: state.focusRow(someID); return false;
    case 1: state.extendSelection(someID); return false;
    case 2:
    case 3: {
        const Kind kind = random.pick(kinds);
        const int value = kind == Kind::enter ? random.below(12) - 2 : (random.below(2) ? 1 : -1);
        state.handleStructure({kind, value});
        return kind == Kind::enter;
    }
    case 4: state.editRowText(state.focusedID().value_or(someID), random.pick(words) + u"\r\nmore\n"_s); return false;
    case 5: state.toggleFold(someID); return false;
    case 6:
        switch (random.below(3)) {
        case 0: state.zoomIn(someID); break;
        case 1: state.zoomOut(); break;
        default: state.zoomToLevel(random.below(3));
        }
        return false;
    default: {
        const OutlineEditorState::RowFrames frames = framesOf(state);
        state.beginDrag(state.dragPayload(someID));
        state.dragMoved(QPointF(0, random.below(int(frames.size()) * 20 + 20) - 10), frames);
        state.dragEnded(QPointF(0, random.below(int(frames.size()) * 20 + 20) - 10), frames);
        return false;
    }
    }
}

TEST(OutlineFuzz, OperationsKeepEveryNodeOnceAndTheTextFaithful)
{
    Random random(20261211);
    qsizetype writes = 0;
    for (int round = 0; round < 150; ++round) {
        QStringList commits;
        OutlineEditorState state([&](const QString &text) { commits.append(text); });
        ASSERT_EQ(state.reloadFromSession(0, randomOutline(random, 1 + random.below(25), 5)),
                  OutlineEditorState::LoadResult::loaded);
        for (int step = 0; step < 60; ++step) {
            const QList<QUuid> before = allIDs(state.nodes());
            const qsizetype written = commits.size();
            const QString textBefore = state.outlineText();
            const bool mayCreate = randomOperation(random, state);
            const QList<QUuid> after = allIDs(state.nodes());
            const QSet<QUuid> afterSet(after.begin(), after.end());
            SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
            ASSERT_EQ(afterSet.size(), after.size()) << "duplicate id";
            for (const QUuid &id : before)
                ASSERT_TRUE(afterSet.contains(id)) << "lost a node";
            ASSERT_LE(after.size() - before.size(), mayCreate ? 1 : 0);
            if (commits.size() > written)
                ASSERT_EQ(commits.last(), state.outlineText());
            else
                ASSERT_EQ(state.outlineText(), textBefore) << "a change that was never written";
            const OutlineNode::ParsedOutline parsed = OutlineNode::parseOutline(state.outlineText());
            ASSERT_EQ(parsed.preamble, state.preamble());
            ASSERT_TRUE(sameShape(OutlineNode::buildTree(parsed.bullets), state.nodes()))
                << state.outlineText().toStdString();
        }
        writes += commits.size();
    }
    EXPECT_GT(writes, 2000); // the sequences really changed the trees
}

// The opposite of a move made on a random tree restores its text.
TEST(OutlineFuzz, OppositeMovesRestoreTheText)
{
    Random random(7);
    int undone = 0;
    for (int round = 0; round < 400; ++round) {
        Nodes nodes = tree(randomOutline(random, 2 + random.below(20), 4));
        const QString original = textOf(nodes);
        const QList<QUuid> ids = allIDs(nodes);
        const QUuid id = random.pick(ids);
        const IndexPath path = *OutlinePresenter::path(id, nodes);
        SCOPED_TRACE(original.toStdString());

        // A run of siblings moved up then down.
        QList<QUuid> block{id};
        const Nodes siblings =
            path.size() == 1 ? nodes : OutlinePresenter::node(path.first(path.size() - 1), nodes)->children;
        for (qsizetype i = path.last() + 1; i < siblings.size() && random.below(2); ++i)
            block.append(siblings.at(i).id);
        const auto [up, down] =
            random.below(2) ? std::pair(Kind::moveUp, Kind::moveDown) : std::pair(Kind::moveDown, Kind::moveUp);
        if (OutlinePresenter::applyToSelection(StructureOp::of(up), block, nodes)) {
            EXPECT_TRUE(OutlinePresenter::applyToSelection(StructureOp::of(down), block, nodes));
            EXPECT_EQ(textOf(nodes), original);
            ++undone;
        }

        // Indent then outdent.
        if (const std::optional<IndexPath> indented = OutlineNode::indent(nodes, path)) {
            EXPECT_TRUE(OutlineNode::outdent(nodes, *indented));
            EXPECT_EQ(textOf(nodes), original);
            ++undone;
        }

        // A drop elsewhere, then a drop back where the node stood.
        const Target back = path.last() + 1 < siblings.size() ? Target::before(siblings.at(path.last() + 1).id)
                            : path.last() > 0                 ? Target::afterLast(siblings.at(path.last() - 1).id)
                            : path.size() > 1
                                ? Target::lastChild(OutlinePresenter::node(path.first(path.size() - 1), nodes)->id)
                                : Target::before(id);
        const Target away{Target::Kind(random.below(3)), random.pick(ids)};
        if (back.id != id && OutlinePresenter::moveNodes(away, {id}, nodes)) {
            EXPECT_TRUE(OutlinePresenter::moveNodes(back, {id}, nodes));
            EXPECT_EQ(textOf(nodes), original);
            ++undone;
        }
        EXPECT_EQ(allIDs(nodes).size(), ids.size());
    }
    EXPECT_GT(undone, 300); // the sequences really moved things
}

} // namespace
