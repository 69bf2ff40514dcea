#include "editor/outline/outlinepresenter.h"
#include "outlinefixture.h"

#include <gtest/gtest.h>

using editor::outline::IndexPath;
using editor::outline::Nodes;
using editor::outline::OutlinePresenter;
using editor::outline::StructureOp;
using Kind = StructureOp::Kind;
using Row = OutlinePresenter::Row;
using Target = OutlinePresenter::DropTarget;
using namespace outlinetest;
using namespace Qt::StringLiterals;

namespace {

// --- Rows ----------------------------------------------------------------------

const QString sample = u"- p\n  - a\n    - a1\n    - a2\n  - b\n- q"_s;

TEST(OutlineRows, ListEveryNodeWithDepthAndChildCount)
{
    const Nodes nodes = tree(sample);
    auto id = [&](const char *t) { return idOf(nodes, QString::fromUtf8(t)); };
    EXPECT_EQ(OutlinePresenter::rows(nodes, {}, std::nullopt), (QList<Row>{{id("p"), 0, u"p"_s, 2, false, 0},
                                                                           {id("a"), 1, u"a"_s, 2, false, 0},
                                                                           {id("a1"), 2, u"a1"_s, 0, false, 0},
                                                                           {id("a2"), 2, u"a2"_s, 0, false, 0},
                                                                           {id("b"), 1, u"b"_s, 0, false, 0},
                                                                           {id("q"), 0, u"q"_s, 0, false, 0}}));
}

TEST(OutlineRows, AFoldHidesAndCountsTheWholeSubtree)
{
    const Nodes nodes = tree(sample);
    const QUuid p = idOf(nodes, u"p"_s);
    const QUuid q = idOf(nodes, u"q"_s);
    // A fold inside a folded subtree makes no difference.
    for (const QSet<QUuid> &folded : {QSet<QUuid>{p}, QSet<QUuid>{p, idOf(nodes, u"a"_s)}}) {
        EXPECT_EQ(OutlinePresenter::rows(nodes, folded, std::nullopt),
                  (QList<Row>{{p, 0, u"p"_s, 2, true, 4}, {q, 0, u"q"_s, 0, false, 0}}));
    }
    // A folded leaf is marked folded and hides nothing.
    const QList<Row> leaf = OutlinePresenter::rows(nodes, {q}, std::nullopt);
    EXPECT_EQ(leaf.last(), (Row{q, 0, u"q"_s, 0, true, 0}));
    // Two children, one with three children: five hidden.
    const Nodes five = tree(u"- r\n  - s\n    - s1\n    - s2\n    - s3\n  - t"_s);
    EXPECT_EQ(OutlinePresenter::rows(five, {idOf(five, u"r"_s)}, std::nullopt).first().foldedDescendantCount, 5);
}

TEST(OutlineRows, AZoomShowsTheRootsChildrenFromDepthZero)
{
    const Nodes nodes = tree(sample);
    const QList<Row> zoomed = OutlinePresenter::rows(nodes, {}, idOf(nodes, u"a"_s));
    ASSERT_EQ(zoomed.size(), 2);
    EXPECT_EQ(zoomed.at(0).text, u"a1"_s);
    EXPECT_EQ(zoomed.at(0).depth, 0);
    EXPECT_EQ(zoomed.at(1).depth, 0);
    // A root without children shows nothing; one that is gone shows the whole tree.
    EXPECT_TRUE(OutlinePresenter::rows(nodes, {}, idOf(nodes, u"q"_s)).isEmpty());
    EXPECT_EQ(OutlinePresenter::rows(nodes, {}, QUuid::createUuid()).size(), 6);
    EXPECT_EQ(OutlinePresenter::descendantCount(nodes), 6);
    EXPECT_EQ(OutlinePresenter::descendantCount({}), 0);
}

TEST(OutlinePaths, FindNodesAndRefuseBadPaths)
{
    const Nodes nodes = tree(sample);
    EXPECT_EQ(OutlinePresenter::path(idOf(nodes, u"a2"_s), nodes), (IndexPath{0, 0, 1}));
    EXPECT_EQ(OutlinePresenter::path(QUuid::createUuid(), nodes), std::nullopt);
    EXPECT_EQ(OutlinePresenter::node({0, 1}, nodes)->text, u"b"_s);
    EXPECT_EQ(OutlinePresenter::node({0, 5}, nodes), std::nullopt);
    EXPECT_EQ(OutlinePresenter::node({-1}, nodes), std::nullopt);
    EXPECT_EQ(OutlinePresenter::node({}, nodes), std::nullopt);
}

TEST(OutlineText, LineBreaksBecomeOneSpaceEach)
{
    Nodes nodes = tree(u"- a\n- b"_s);
    const QUuid b = idOf(nodes, u"b"_s);
    EXPECT_TRUE(OutlinePresenter::setText(b, u"two\r\nwords"_s, nodes));
    EXPECT_EQ(textOf(nodes), u"- a\n- two words"_s);
    EXPECT_TRUE(OutlinePresenter::setText(b, u"x\ny\rz\r\n\r\n"_s, nodes));
    EXPECT_EQ(nodes.at(1).text, u"x y z  "_s);
    EXPECT_FALSE(OutlinePresenter::setText(QUuid::createUuid(), u"c"_s, nodes));
    EXPECT_EQ(textOf(nodes), u"- a\n- x y z  "_s);
}

// --- Structure operations on a selection ----------------------------------------

struct SelectionCase {
    const char *name;
    QString before;
    Kind op;
    QStringList ids;
    QString after;
    bool changed;
};

void PrintTo(const SelectionCase &c, std::ostream *os)
{
    *os << c.name;
}

class SelectionOps : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionOps, ChangeTheTreeInOrder)
{
    const SelectionCase &c = GetParam();
    Nodes nodes = tree(c.before);
    EXPECT_EQ(OutlinePresenter::applyToSelection(StructureOp::of(c.op), idsOf(nodes, c.ids), nodes), c.changed);
    EXPECT_EQ(textOf(nodes), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SelectionOps,
    ::testing::Values(
        SelectionCase{"MoveUpBlock",
                      u"- z\n- a\n- b\n- c"_s,
                      Kind::moveUp,
                      {u"a"_s, u"b"_s, u"c"_s},
                      u"- a\n- b\n- c\n- z"_s,
                      true},
        SelectionCase{
            "MoveDownBlock", u"- a\n- b\n- c\n- d"_s, Kind::moveDown, {u"b"_s, u"c"_s}, u"- a\n- d\n- b\n- c"_s, true},
        SelectionCase{
            "MoveUpStopsAtFirstBlocked", u"- a\n- b\n- c"_s, Kind::moveUp, {u"a"_s, u"c"_s}, u"- a\n- b\n- c"_s, false},
        SelectionCase{"MoveDownStopsAtLastBlocked",
                      u"- a\n- b\n- c"_s,
                      Kind::moveDown,
                      {u"a"_s, u"c"_s},
                      u"- a\n- b\n- c"_s,
                      false},
        SelectionCase{"MovesNeverLeaveTheParent",
                      u"- p\n  - a\n- q\n  - b"_s,
                      Kind::moveUp,
                      {u"a"_s, u"b"_s},
                      u"- p\n  - a\n- q\n  - b"_s,
                      false},
        SelectionCase{
            "IndentSkipsTheFirstSibling", u"- a\n- b\n- c"_s, Kind::indent, {u"a"_s, u"b"_s}, u"- a\n  - b\n- c"_s, true},
        SelectionCase{"IndentBlockKeepsOrder",
                      u"- a\n  - x\n- b\n- c\n- d"_s,
                      Kind::indent,
                      {u"b"_s, u"c"_s},
                      u"- a\n  - x\n  - b\n  - c\n- d"_s,
                      true},
        SelectionCase{"OutdentBlockFollowsParent",
                      u"- p\n  - a\n  - b\n  - c"_s,
                      Kind::outdent,
                      {u"a"_s, u"b"_s},
                      u"- p\n  - c\n- a\n- b"_s,
                      true},
        // A parent selected with its children carries them; they never leave it.
        SelectionCase{"OutdentParentWithChild",
                      u"- g\n  - p\n    - c"_s,
                      Kind::outdent,
                      {u"p"_s, u"c"_s},
                      u"- g\n- p\n  - c"_s,
                      true},
        SelectionCase{"MoveDownParentWithChildren",
                      u"- q\n- p\n  - c1\n  - c2\n  - c3\n- r"_s,
                      Kind::moveDown,
                      {u"p"_s, u"c1"_s, u"c2"_s},
                      u"- q\n- r\n- p\n  - c1\n  - c2\n  - c3"_s,
                      true},
        SelectionCase{"IndentParentWithChildren",
                      u"- x\n- p\n  - c0\n  - c"_s,
                      Kind::indent,
                      {u"p"_s, u"c0"_s, u"c"_s},
                      u"- x\n  - p\n    - c0\n    - c"_s,
                      true},
        SelectionCase{"OutdentTopLevelOnly", u"- a\n- b"_s, Kind::outdent, {u"a"_s, u"b"_s}, u"- a\n- b"_s, false},
        SelectionCase{"OtherOperationsRefused", u"- a\n- b"_s, Kind::fold, {u"a"_s, u"b"_s}, u"- a\n- b"_s, false}),
    [](const auto &info) { return std::string(info.param.name); });

// --- Drop targets ----------------------------------------------------------------

OutlinePresenter::FramedRow framed(const QString &name, qreal top, qreal height)
{
    return {Row{QUuid::createUuid(), 0, name, 0, false, 0}, QRectF(0, top, 400, height)};
}

TEST(DropTargets, BandsAndFractionsOfRows)
{
    // Three rows of 21 px, top to bottom.
    const QList<OutlinePresenter::FramedRow> rows{framed(u"A"_s, 0, 21), framed(u"B"_s, 21, 21),
                                                  framed(u"C"_s, 42, 21)};
    const QUuid a = rows[0].row.id, b = rows[1].row.id, c = rows[2].row.id;
    const QList<std::pair<qreal, Target>> table{
        {3, Target::before(a)},     {26, Target::before(b)},  {31, Target::lastChild(b)}, {39, Target::before(c)},
        {58, Target::afterLast(c)}, {-79, Target::before(a)}, {111, Target::afterLast(c)}};
    for (const auto &[y, target] : table)
        EXPECT_EQ(OutlinePresenter::dropTarget(rows, QPointF(250, y)), target) << "y " << y;
    EXPECT_EQ(OutlinePresenter::dropTarget({}, QPointF(0, 10)), std::nullopt);
}

TEST(DropTargets, OneRowAWrappedRowAndAGap)
{
    const QList<OutlinePresenter::FramedRow> single{framed(u"A"_s, 0, 100)};
    const QUuid a = single[0].row.id;
    EXPECT_EQ(OutlinePresenter::dropTarget(single, QPointF(0, 20)), Target::before(a));
    EXPECT_EQ(OutlinePresenter::dropTarget(single, QPointF(0, 50)), Target::lastChild(a));
    EXPECT_EQ(OutlinePresenter::dropTarget(single, QPointF(0, 80)), Target::afterLast(a));

    // B wraps to three lines; C lies 19 px below A's end.
    const QList<OutlinePresenter::FramedRow> rows{framed(u"A"_s, 0, 21), framed(u"B"_s, 40, 63),
                                                  framed(u"C"_s, 103, 21), framed(u"D"_s, 124, 21)};
    EXPECT_EQ(OutlinePresenter::dropTarget(rows, QPointF(0, 30)), std::nullopt);
    EXPECT_EQ(OutlinePresenter::dropTarget(rows, QPointF(0, 40 + 0.5 * 63)), Target::lastChild(rows[1].row.id));
    EXPECT_EQ(OutlinePresenter::dropTarget(rows, QPointF(0, 40 + 0.8 * 63)), Target::before(rows[2].row.id));
}

// --- Moves -------------------------------------------------------------------------

struct MoveCase {
    const char *name;
    QString before;
    QStringList moving;
    Target::Kind kind;
    QString anchor;
    QString after;
    bool moved;
};

void PrintTo(const MoveCase &c, std::ostream *os)
{
    *os << c.name;
}

class DropMoves : public ::testing::TestWithParam<MoveCase> {};

TEST_P(DropMoves, MoveOrRefuse)
{
    const MoveCase &c = GetParam();
    Nodes nodes = tree(c.before);
    const Nodes original = nodes;
    const Target target{c.kind, idOf(nodes, c.anchor)};
    const QList<QUuid> moving = idsOf(nodes, c.moving);
    EXPECT_EQ(OutlinePresenter::moveNodes(target, moving, nodes), c.moved);
    EXPECT_EQ(textOf(nodes), c.after);
    if (!c.moved) {
        EXPECT_EQ(nodes, original); // ids too
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DropMoves,
    ::testing::Values(
        MoveCase{"WhereItStands", u"- a\n- b\n- c"_s, {u"a"_s}, Target::Kind::before, u"b"_s, u"- a\n- b\n- c"_s, false},
        MoveCase{"IntoLastChild",
                 u"- a\n- b\n  - x\n- c"_s,
                 {u"c"_s},
                 Target::Kind::lastChild,
                 u"b"_s,
                 u"- a\n- b\n  - x\n  - c"_s,
                 true},
        MoveCase{"TwoAfterLast",
                 u"- a\n- b\n  - x\n- c"_s,
                 {u"a"_s, u"c"_s},
                 Target::Kind::afterLast,
                 u"x"_s,
                 u"- b\n  - x\n  - a\n  - c"_s,
                 true},
        MoveCase{"DocumentOrderWhateverTheIdOrder",
                 u"- a\n- b\n  - x\n- c"_s,
                 {u"c"_s, u"a"_s},
                 Target::Kind::afterLast,
                 u"x"_s,
                 u"- b\n  - x\n  - a\n  - c"_s,
                 true},
        MoveCase{
            "WithSubtree", u"- a\n  - a1\n- b"_s, {u"a"_s}, Target::Kind::afterLast, u"b"_s, u"- b\n- a\n  - a1"_s, true},
        MoveCase{
            "OntoItself", u"- a\n  - x\n- b"_s, {u"a"_s}, Target::Kind::lastChild, u"a"_s, u"- a\n  - x\n- b"_s, false},
        MoveCase{"IntoOwnSubtree",
                 u"- a\n  - x\n    - y\n- b"_s,
                 {u"a"_s},
                 Target::Kind::before,
                 u"y"_s,
                 u"- a\n  - x\n    - y\n- b"_s,
                 false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DropMoves, UnknownIDsAreRefused)
{
    Nodes nodes = tree(u"- a\n- b"_s);
    const Nodes original = nodes;
    const QUuid a = idOf(nodes, u"a"_s);
    const QUuid b = idOf(nodes, u"b"_s);
    EXPECT_FALSE(OutlinePresenter::canDrop({a}, Target::before(QUuid::createUuid()), nodes));
    EXPECT_FALSE(OutlinePresenter::moveNodes(Target::afterLast(b), {a, QUuid::createUuid()}, nodes));
    EXPECT_FALSE(OutlinePresenter::moveNodes(Target::afterLast(b), {}, nodes));
    EXPECT_EQ(nodes, original);
    EXPECT_TRUE(OutlinePresenter::canDrop({a}, Target::afterLast(b), nodes));
}

TEST(DropMoves, TopmostSelectedSkipsSelectedDescendants)
{
    const Nodes nodes = tree(u"- a\n  - a1\n  - a2\n- b\n  - b1"_s);
    const QList<QUuid> ids = idsOf(nodes, {u"b1"_s, u"a1"_s, u"a"_s});
    EXPECT_EQ(OutlinePresenter::topmostSelected(nodes, QSet<QUuid>(ids.begin(), ids.end())),
              idsOf(nodes, {u"a"_s, u"b1"_s}));
    EXPECT_TRUE(OutlinePresenter::topmostSelected(nodes, {}).isEmpty());
}

} // namespace
