#include "library/outlinenode.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QSet>

using library::OutlineNode;
using namespace Qt::StringLiterals;

using Path = OutlineNode::IndexPath;
using Bullet = OutlineNode::Bullet;
using Direction = OutlineNode::Direction;

using Outcome = OutlineNode::SplitOutcome;

namespace {

QList<OutlineNode> tree(const QString &text)
{
    return OutlineNode::buildTree(OutlineNode::parseOutline(text).bullets);
}

QString textOf(const QList<OutlineNode> &roots)
{
    return OutlineNode::outlineText({}, roots);
}

void collectIDs(const QList<OutlineNode> &nodes, QList<QUuid> &ids)
{
    for (const OutlineNode &node : nodes) {
        ids.append(node.id);
        collectIDs(node.children, ids);
    }
}

// --- Bullet lines ------------------------------------------------------------

struct BulletCase {
    const char *name;
    QString line;
    std::optional<Bullet> bullet;
};

void PrintTo(const BulletCase &c, std::ostream *os)
{
    *os << c.name;
}

class BulletLine : public ::testing::TestWithParam<BulletCase> {};

TEST_P(BulletLine, ParsesDepthAndText)
{
    EXPECT_EQ(OutlineNode::parseBulletLine(GetParam().line), GetParam().bullet);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BulletLine,
    ::testing::Values(
        BulletCase{"Dash", u"- a"_s, Bullet{0, u"a"_s}}, BulletCase{"Star", u"* a"_s, Bullet{0, u"a"_s}},
        BulletCase{"OneSpace", u" - a"_s, Bullet{0, u"a"_s}}, BulletCase{"TwoSpaces", u"  - b"_s, Bullet{1, u"b"_s}},
        BulletCase{"ThreeSpaces", u"   - a"_s, Bullet{1, u"a"_s}}, BulletCase{"Tab", u"\t- a"_s, Bullet{1, u"a"_s}},
        BulletCase{"FourSpaces", u"    - c"_s, Bullet{2, u"c"_s}},
        BulletCase{"NoBreakSpaces", u"\u00A0\u2003- a"_s, Bullet{1, u"a"_s}},
        BulletCase{"TabAfterMarker", u"-\ta"_s, Bullet{0, u"a"_s}},
        BulletCase{"FurtherSpacesStay", u"-   a "_s, Bullet{0, u"  a "_s}},
        BulletCase{"EmptyText", u"- "_s, Bullet{0, u""_s}}, BulletCase{"NoSpaceAfterMarker", u"-a"_s, std::nullopt},
        BulletCase{"Plus", u"+ a"_s, std::nullopt}, BulletCase{"Numbered", u"1. a"_s, std::nullopt},
        BulletCase{"LoneMarker", u"-"_s, std::nullopt}, BulletCase{"IndentedLoneMarker", u"  -"_s, std::nullopt},
        BulletCase{"WhiteSpaceOnly", u"   "_s, std::nullopt}, BulletCase{"Empty", u""_s, std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

// --- Depth normalisation -----------------------------------------------------

struct DepthCase {
    QList<int> raw;
    QList<int> normalised;
};

class DepthNormalisation : public ::testing::TestWithParam<DepthCase> {};

TEST_P(DepthNormalisation, NeverSkipsALevel)
{
    QStringList lines;
    for (int r : GetParam().raw)
        lines.append(QString(2 * r, u' ') + u"- x"_s);
    QList<int> depths;
    for (const Bullet &b : OutlineNode::parseOutline(lines.join(u'\n')).bullets)
        depths.append(b.depth);
    EXPECT_EQ(depths, GetParam().normalised);
}

INSTANTIATE_TEST_SUITE_P(Examples, DepthNormalisation,
                         ::testing::Values(DepthCase{{0, 2, 1}, {0, 1, 1}}, DepthCase{{1, 1, 0}, {0, 0, 0}},
                                           DepthCase{{0, 2, 4}, {0, 1, 2}}, DepthCase{{0, 2, 0, 2}, {0, 1, 0, 1}},
                                           DepthCase{{0, 3, 3, 1}, {0, 1, 1, 1}}, DepthCase{{2}, {0}}));

// --- Parse, preamble and the drop test --------------------------------------

TEST(OutlineParse, PreambleThenBulletsAndDroppedLines)
{
    const QString text = u"Notes\n\n- a\nMore\n- b\n"_s;
    const OutlineNode::ParsedOutline parsed = OutlineNode::parseOutline(text);
    EXPECT_EQ(parsed.preamble, (QStringList{u"Notes"_s, u""_s}));
    EXPECT_EQ(parsed.bullets, (QList<Bullet>{{0, u"a"_s}, {0, u"b"_s}}));
    EXPECT_TRUE(OutlineNode::wouldDropLines(text));
    EXPECT_FALSE(OutlineNode::wouldDropLines(u"Notes\n\n- a\n- b\n"_s));
}

TEST(OutlineParse, TextWithoutBulletsIsAllPreamble)
{
    const OutlineNode::ParsedOutline parsed = OutlineNode::parseOutline(u"Title\n  \nbody\n\n\n"_s);
    EXPECT_EQ(parsed.preamble, (QStringList{u"Title"_s, u"  "_s, u"body"_s}));
    EXPECT_TRUE(parsed.bullets.isEmpty());
    EXPECT_TRUE(OutlineNode::buildTree(parsed.bullets).isEmpty());
    EXPECT_TRUE(OutlineNode::parseOutline(u""_s).preamble.isEmpty());
}

TEST(OutlineParse, NestsAndGivesFreshIDs)
{
    const QString text = u"- a\n  - b\n    - c"_s;
    const QList<OutlineNode> roots = tree(text);
    ASSERT_EQ(roots.size(), 1);
    EXPECT_EQ(roots[0].text, u"a"_s);
    ASSERT_EQ(roots[0].children.size(), 1);
    EXPECT_EQ(roots[0].children[0].text, u"b"_s);
    ASSERT_EQ(roots[0].children[0].children.size(), 1);
    EXPECT_EQ(roots[0].children[0].children[0].text, u"c"_s);

    QList<QUuid> ids;
    collectIDs(roots, ids);
    EXPECT_EQ(QSet<QUuid>(ids.begin(), ids.end()).size(), 3);
    const QList<OutlineNode> again = tree(text);
    EXPECT_NE(roots, again); // same text, new ids
    EXPECT_EQ(roots, QList<OutlineNode>(roots));
}

struct DropCase {
    const char *name;
    QString text;
    bool drops;
};

void PrintTo(const DropCase &c, std::ostream *os)
{
    *os << c.name;
}

class WouldDropLines : public ::testing::TestWithParam<DropCase> {};

TEST_P(WouldDropLines, OnlyContentAfterTheFirstBulletCounts)
{
    EXPECT_EQ(OutlineNode::wouldDropLines(GetParam().text), GetParam().drops);
}

INSTANTIATE_TEST_SUITE_P(Cases, WouldDropLines,
                         ::testing::Values(DropCase{"Empty", u""_s, false}, DropCase{"PreambleOnly", u"a\nb"_s, false},
                                           DropCase{"BlankAfterBullets", u"- a\n\n \t\n- b\n"_s, false},
                                           DropCase{"TextAfterBullet", u"- a\nloose"_s, true},
                                           DropCase{"LoneMarkerAfterBullet", u"- a\n-"_s, true},
                                           DropCase{"NumberedAfterBullet", u"- a\n1. b"_s, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// --- Serialisation -----------------------------------------------------------

class SerialiseAfterParse : public ::testing::TestWithParam<QString> {};

TEST_P(SerialiseAfterParse, GivesTheSameText)
{
    const OutlineNode::ParsedOutline parsed = OutlineNode::parseOutline(GetParam());
    EXPECT_EQ(OutlineNode::outlineText(parsed.preamble, OutlineNode::buildTree(parsed.bullets)), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Texts, SerialiseAfterParse,
                         ::testing::Values(u""_s, u"- a"_s, u"- a\n  - b\n    - c"_s,
                                           u"# Title\n\nsome words\n- a\n  - b\n- c\n  - d\n    - e\n  - f"_s,
                                           u"- \n  - two  spaces\n  -   lead"_s, u"Only preamble\n   "_s,
                                           u"- a\n  - b\n    - c\n      - d\n- e"_s,
                                           // Carriage returns stay where they were.
                                           u"# Plan\r\n\r\n- a\r\n  - \r\n  - b\r"_s,
                                           u"- 👩‍👩‍👧 e\u0301\n  - 🇫🇷\u00A0x\t"_s));

TEST(OutlineSerialise, NormalisesIndentationAndMarkers)
{
    EXPECT_EQ(textOf(tree(u"* a\n\t- b\n   * c\n        - d\n- e\n\n"_s)), u"- a\n  - b\n  - c\n    - d\n- e"_s);
    QStringList lines{u"keep"_s};
    OutlineNode::serialize(tree(u"- x\n  - y"_s), 2, lines);
    EXPECT_EQ(lines, (QStringList{u"keep"_s, u"    - x"_s, u"      - y"_s}));
}

// --- Outline to post ---------------------------------------------------------

struct PostTextCase {
    const char *name;
    QString outline;
    QString post;
};

void PrintTo(const PostTextCase &c, std::ostream *os)
{
    *os << c.name;
}

class PostTextFromOutline : public ::testing::TestWithParam<PostTextCase> {};

TEST_P(PostTextFromOutline, TurnsBulletsIntoHeadings)
{
    EXPECT_EQ(OutlineNode::postTextFromOutline(GetParam().outline), GetParam().post);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PostTextFromOutline,
    ::testing::Values(
        PostTextCase{"RawDepthSixUnderOne", u"- Title\n  - Part\n            - deep"_s,
                     u"## Title\n### Part\n#### deep"_s},
        PostTextCase{"DeepLevelsBecomeListItems",
                     u"- 0\n  - 1\n    - 2\n      - 3\n        - 4\n          - 5\n            - 6\n              - 7"_s,
                     u"## 0\n### 1\n#### 2\n##### 3\n###### 4\n- 5\n  - 6\n    - 7"_s},
        PostTextCase{"PreambleKeptLooseLinesLost", u"Intro\n\n- a\nloose\n- b\n\n"_s, u"Intro\n\n## a\n## b"_s},
        PostTextCase{"Empty", u""_s, u""_s}),
    [](const auto &info) { return std::string(info.param.name); });

// --- Tree edits --------------------------------------------------------------

enum class Edit { Indent, Outdent, MoveUp, MoveDown };

struct EditCase {
    const char *name;
    Edit edit;
    QString before;
    Path path;
    std::optional<Path> newPath;
    QString after; // empty: unchanged
};

void PrintTo(const EditCase &c, std::ostream *os)
{
    *os << c.name;
}

class TreeEdit : public ::testing::TestWithParam<EditCase> {};

TEST_P(TreeEdit, MovesTheNodeWithItsChildren)
{
    const EditCase &c = GetParam();
    QList<OutlineNode> roots = tree(c.before);
    QList<OutlineNode> original = roots;
    std::optional<Path> result;
    switch (c.edit) {
    case Edit::Indent: result = OutlineNode::indent(roots, c.path); break;
    case Edit::Outdent: result = OutlineNode::outdent(roots, c.path); break;
    case Edit::MoveUp: result = OutlineNode::moveNode(roots, c.path, Direction::Up); break;
    case Edit::MoveDown: result = OutlineNode::moveNode(roots, c.path, Direction::Down); break;
    }
    EXPECT_EQ(result, c.newPath);
    if (!c.newPath) {
        EXPECT_EQ(roots, original); // ids included
        return;
    }
    EXPECT_EQ(textOf(roots), c.after);
    // The node keeps its id and lands at the path answered.
    const OutlineNode *before = OutlineNode::nodeAt(original, c.path);
    const OutlineNode *moved = OutlineNode::nodeAt(roots, *result);
    ASSERT_TRUE(before && moved);
    EXPECT_EQ(moved->id, before->id);
}

const QString kTree = u"- a\n  - a1\n  - a2\n    - a2x\n  - a3\n- b\n  - b1"_s;

INSTANTIATE_TEST_SUITE_P(
    Cases, TreeEdit,
    ::testing::Values(EditCase{"IndentRoot",
                               Edit::Indent,
                               kTree,
                               {1},
                               Path{0, 3},
                               u"- a\n  - a1\n  - a2\n    - a2x\n  - a3\n  - b\n    - b1"_s},
                      EditCase{"IndentChildWithChildren",
                               Edit::Indent,
                               kTree,
                               {0, 1},
                               Path{0, 0, 0},
                               u"- a\n  - a1\n    - a2\n      - a2x\n  - a3\n- b\n  - b1"_s},
                      EditCase{"IndentFirstChildRefuses", Edit::Indent, kTree, {0, 0}, std::nullopt, {}},
                      EditCase{"IndentFirstRootRefuses", Edit::Indent, kTree, {0}, std::nullopt, {}},
                      EditCase{"IndentEmptyPathRefuses", Edit::Indent, kTree, {}, std::nullopt, {}},
                      EditCase{"IndentOutOfRangeRefuses", Edit::Indent, kTree, {0, 7}, std::nullopt, {}},
                      EditCase{"IndentNegativeRefuses", Edit::Indent, kTree, {-1}, std::nullopt, {}},
                      EditCase{"OutdentKeepsFollowingSiblingsWithParent",
                               Edit::Outdent,
                               kTree,
                               {0, 1},
                               Path{1},
                               u"- a\n  - a1\n  - a3\n- a2\n  - a2x\n- b\n  - b1"_s},
                      EditCase{"OutdentDeep",
                               Edit::Outdent,
                               kTree,
                               {0, 1, 0},
                               Path{0, 2},
                               u"- a\n  - a1\n  - a2\n  - a2x\n  - a3\n- b\n  - b1"_s},
                      EditCase{"OutdentRootRefuses", Edit::Outdent, kTree, {1}, std::nullopt, {}},
                      EditCase{"OutdentNegativeRefuses", Edit::Outdent, kTree, {0, -1}, std::nullopt, {}},
                      EditCase{"OutdentUnresolvedRefuses", Edit::Outdent, kTree, {5, 0}, std::nullopt, {}},
                      EditCase{"MoveRootDown",
                               Edit::MoveDown,
                               kTree,
                               {0},
                               Path{1},
                               u"- b\n  - b1\n- a\n  - a1\n  - a2\n    - a2x\n  - a3"_s},
                      EditCase{"MoveChildUpSwaps",
                               Edit::MoveUp,
                               kTree,
                               {0, 2},
                               Path{0, 1},
                               u"- a\n  - a1\n  - a3\n  - a2\n    - a2x\n- b\n  - b1"_s},
                      EditCase{"MoveFirstRootUpRefuses", Edit::MoveUp, kTree, {0}, std::nullopt, {}},
                      EditCase{"MoveLastRootDownRefuses", Edit::MoveDown, kTree, {1}, std::nullopt, {}},
                      EditCase{"MoveFirstChildUpLeavesBeforeParent",
                               Edit::MoveUp,
                               kTree,
                               {1, 0},
                               Path{1},
                               u"- a\n  - a1\n  - a2\n    - a2x\n  - a3\n- b1\n- b"_s},
                      EditCase{"MoveLastChildDownLeavesAfterParent",
                               Edit::MoveDown,
                               kTree,
                               {0, 1, 0},
                               Path{0, 2},
                               u"- a\n  - a1\n  - a2\n  - a2x\n  - a3\n- b\n  - b1"_s},
                      EditCase{"MoveUnresolvedRefuses", Edit::MoveDown, kTree, {0, 3, 0}, std::nullopt, {}}),
    [](const auto &info) { return std::string(info.param.name); });

struct SplitCase {
    const char *name;
    QString before;
    Path path;
    qsizetype caret;
    Outcome outcome;
    std::optional<Path> newPath;
    QString after; // empty: unchanged
};

void PrintTo(const SplitCase &c, std::ostream *os)
{
    *os << c.name;
}

class SplitNode : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitNode, CutsAtTheCaret)
{
    const SplitCase &c = GetParam();
    QList<OutlineNode> roots = tree(c.before);
    const QList<OutlineNode> original = roots;
    const OutlineNode::SplitResult result = OutlineNode::splitNode(roots, c.path, c.caret);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.path, c.newPath);
    EXPECT_EQ(result.caret, 0);
    if (c.after.isEmpty())
        EXPECT_EQ(roots, original);
    else
        EXPECT_EQ(textOf(roots), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitNode,
    ::testing::Values(
        SplitCase{"Middle", u"- hello world"_s, {0}, 5, Outcome::NewNode, Path{1}, u"- hello\n- world"_s},
        SplitCase{"PastTheEnd", u"- hello world"_s, {0}, 100, Outcome::NewNode, Path{1}, u"- hello world\n- "_s},
        SplitCase{"NegativeCaret", u"- hello world"_s, {0}, -3, Outcome::NewNode, Path{1}, u"- \n- hello world"_s},
        SplitCase{
            "TrimsOnlySpacesAndTabs", u"- ab \t \t\u00A0cd"_s, {0}, 3, Outcome::NewNode, Path{1}, u"- ab\n- \u00A0cd"_s},
        SplitCase{
            "CaretInGraphemes", u"- e\u0301e\u0301x"_s, {0}, 2, Outcome::NewNode, Path{1}, u"- e\u0301e\u0301\n- x"_s},
        SplitCase{"KeepsChildren", u"- ab\n  - c"_s, {0}, 1, Outcome::NewNode, Path{1}, u"- a\n  - c\n- b"_s},
        SplitCase{
            "Nested", u"- a\n  - xy\n  - z"_s, {0, 0}, 1, Outcome::NewNode, Path{0, 1}, u"- a\n  - x\n  - y\n  - z"_s},
        SplitCase{"BlankRootAddsSibling", u"-  \n- b"_s, {0}, 0, Outcome::NewNode, Path{1}, u"-  \n- \n- b"_s},
        SplitCase{"BlankNestedOutdents",
                  u"- a\n  - \t\n  - c"_s,
                  {0, 0},
                  0,
                  Outcome::Outdented,
                  Path{1},
                  u"- a\n  - c\n- \t"_s},
        SplitCase{"Unresolved", u"- a"_s, {3}, 0, Outcome::NothingDone, std::nullopt, {}},
        SplitCase{"EmptyPath", u"- a"_s, {}, 0, Outcome::NothingDone, std::nullopt, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SplitNodeTest, NewNodesGetFreshIDs)
{
    QList<OutlineNode> roots = tree(u"- hello world"_s);
    const QUuid id = roots[0].id;
    OutlineNode::splitNode(roots, {0}, 5);
    EXPECT_EQ(roots[0].id, id);
    EXPECT_NE(roots[1].id, id);
}

struct InsertCase {
    const char *name;
    Path path;
    qsizetype position;
    bool inserted;
    QString after;
};

void PrintTo(const InsertCase &c, std::ostream *os)
{
    *os << c.name;
}

class InsertNodes : public ::testing::TestWithParam<InsertCase> {};

TEST_P(InsertNodes, ClampsThePosition)
{
    const InsertCase &c = GetParam();
    const QString before = u"- a\n  - a1\n  - a2\n  - a3\n- b"_s;
    QList<OutlineNode> roots = tree(before);
    const QList<OutlineNode> nodes{OutlineNode(u"x"_s, {OutlineNode(u"x1"_s)}), OutlineNode(u"y"_s)};
    EXPECT_EQ(OutlineNode::insertNodes(roots, c.path, c.position, nodes), c.inserted);
    EXPECT_EQ(textOf(roots), c.inserted ? c.after : before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InsertNodes,
    ::testing::Values(
        InsertCase{"Appends", {0}, 99, true, u"- a\n  - a1\n  - a2\n  - a3\n  - x\n    - x1\n  - y\n- b"_s},
        InsertCase{"NegativeGoesFirst", {0}, -1, true, u"- a\n  - x\n    - x1\n  - y\n  - a1\n  - a2\n  - a3\n- b"_s},
        InsertCase{"Middle", {0}, 1, true, u"- a\n  - a1\n  - x\n    - x1\n  - y\n  - a2\n  - a3\n- b"_s},
        InsertCase{"EmptyPathIsRoots", {}, 1, true, u"- a\n  - a1\n  - a2\n  - a3\n- x\n  - x1\n- y\n- b"_s},
        InsertCase{"IntoLeaf", {1}, 0, true, u"- a\n  - a1\n  - a2\n  - a3\n- b\n  - x\n    - x1\n  - y"_s},
        InsertCase{"Unresolved", {0, 5}, 0, false, {}}),
    [](const auto &info) { return std::string(info.param.name); });

// --- Steps used for several rows and drag and drop ---------------------------

TEST(OutlineSteps, TakeAndInsertMoveASubtree)
{
    QList<OutlineNode> roots = tree(u"- a\n  - a1\n    - deep\n- b"_s);
    const QUuid id = roots[0].children[0].id;
    std::optional<OutlineNode> taken;
    ASSERT_TRUE(OutlineNode::mutateSiblings(roots, {0, 0}, [&](QList<OutlineNode> &siblings, qsizetype i) {
        return OutlineNode::takeNode(siblings, i, taken);
    }));
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->id, id);
    ASSERT_TRUE(OutlineNode::insertNodes(roots, {1}, 0, {*taken}));
    EXPECT_EQ(textOf(roots), u"- a\n- b\n  - a1\n    - deep"_s);
    EXPECT_EQ(roots[1].children[0].id, id);

    EXPECT_FALSE(OutlineNode::mutateSiblings(roots, {}, [](auto &, qsizetype) { return true; }));
    EXPECT_FALSE(OutlineNode::mutateSiblings(roots, {2}, [](auto &, qsizetype) { return true; }));
}

TEST(OutlineSteps, SwapAndMoveIntoPreviousSibling)
{
    QList<OutlineNode> roots = tree(u"- a\n  - x\n  - y\n  - z\n- b"_s);
    bool moved = false;
    // Swapping never leaves the parent.
    EXPECT_FALSE(OutlineNode::mutateChildren(roots, {0}, qsizetype(0), [&](QList<OutlineNode> &c, qsizetype i) {
        return OutlineNode::swapWithNeighbour(c, i, Direction::Up, &moved);
    }));
    EXPECT_FALSE(moved);
    EXPECT_TRUE(OutlineNode::mutateChildren(roots, {0}, qsizetype(2), [&](QList<OutlineNode> &c, qsizetype i) {
        return OutlineNode::swapWithNeighbour(c, i, Direction::Up, &moved);
    }));
    EXPECT_TRUE(moved);
    EXPECT_EQ(textOf(roots), u"- a\n  - x\n  - z\n  - y\n- b"_s);
    EXPECT_FALSE(OutlineNode::mutateChildren(roots, {}, qsizetype(0), [](auto &, qsizetype) { return true; }));

    Path newPath;
    EXPECT_TRUE(OutlineNode::mutateSiblings(roots, {0, 2}, [&](QList<OutlineNode> &s, qsizetype i) {
        return OutlineNode::moveIntoPreviousSibling(s, i, &newPath, {0});
    }));
    EXPECT_EQ(newPath, (Path{0, 1, 0}));
    EXPECT_EQ(textOf(roots), u"- a\n  - x\n  - z\n    - y\n- b"_s);
    EXPECT_FALSE(OutlineNode::mutateSiblings(roots, {0, 0}, [&](QList<OutlineNode> &s, qsizetype i) {
        return OutlineNode::moveIntoPreviousSibling(s, i, &newPath, {0});
    }));
}

} // namespace
