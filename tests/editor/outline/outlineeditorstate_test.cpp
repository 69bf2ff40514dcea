#include "editor/outline/outlineeditorstate.h"
#include "model/editorsession.h"
#include "outlinefixture.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using editor::outline::DragInfo;
using editor::outline::OutlineEditorState;
using editor::outline::OutlinePresenter;
using editor::outline::StructureOp;
using Kind = StructureOp::Kind;
using LoadResult = OutlineEditorState::LoadResult;
using Target = OutlinePresenter::DropTarget;
using namespace outlinetest;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A state loaded from a text, with every write-back recorded.
class OutlineState : public ::testing::Test {
protected:
    QStringList commits;
    OutlineEditorState state{[this](const QString &text) { commits.append(text); }};

    void load(const QString &text) { ASSERT_EQ(state.reloadFromSession(0, text), LoadResult::loaded); }
    QUuid id(const QString &text) { return idOf(state.nodes(), text); }
    void op(Kind kind) { state.handleStructure(StructureOp::of(kind)); }
    QString text() const { return state.outlineText(); }
    QStringList visibleTexts() const
    {
        QStringList texts;
        for (const auto &row : state.visibleRows())
            texts.append(row.text);
        return texts;
    }
    // A selection from the anchor row to the focused row.
    void select(const QString &anchor, const QString &focused)
    {
        state.focusRow(id(anchor));
        state.extendSelection(id(focused));
    }
};

// --- Loading and write-back ----------------------------------------------------

TEST_F(OutlineState, LoadsByGenerationAndWritesPreambleAndTree)
{
    load(u"# Plans\n\n- node\n  - child"_s);
    EXPECT_EQ(state.loadedGeneration(), 0);
    EXPECT_EQ(state.focusedID(), id(u"node"_s));
    EXPECT_EQ(state.outlineTitle(), u"Plans"_s);
    state.commit();
    EXPECT_EQ(commits, QStringList{u"# Plans\n\n- node\n  - child"_s});

    // Folds, zoom and selection go with the next load; the same generation loads nothing.
    state.toggleFold(id(u"node"_s));
    state.zoomIn(id(u"node"_s));
    state.extendSelection(id(u"child"_s));
    EXPECT_EQ(state.reloadFromSession(0, u"- other"_s), LoadResult::unchanged);
    EXPECT_EQ(state.reloadFromSession(1, u"- other\n- more"_s), LoadResult::loaded);
    EXPECT_TRUE(state.folded().isEmpty());
    EXPECT_TRUE(state.zoomStack().isEmpty());
    EXPECT_EQ(state.selectionAnchor(), std::nullopt);
    EXPECT_EQ(state.focusedID(), id(u"other"_s));
    EXPECT_EQ(commits.size(), 1); // a load writes nothing

    OutlineEditorState empty;
    EXPECT_EQ(empty.loadDraft(u"# Only a heading"_s), LoadResult::loaded);
    EXPECT_TRUE(empty.visibleRows().isEmpty());
    EXPECT_EQ(empty.focusedID(), std::nullopt);
    EXPECT_EQ(empty.outlineText(), u"# Only a heading"_s);
}

TEST_F(OutlineState, ADraftIsReadOnce)
{
    ASSERT_EQ(state.loadDraft(u"- a"_s), LoadResult::loaded);
    EXPECT_EQ(state.loadDraft(u"- b"_s), LoadResult::unchanged);
    EXPECT_EQ(visibleTexts(), QStringList{u"a"_s});
}

TEST(OutlineTitle, FirstNonBlankPreambleLine)
{
    const QList<std::pair<QStringList, std::optional<QString>>> table{
        {{u"## Big  words "_s}, u"Big  words"_s},     {{u"\t plain "_s}, u"plain"_s},
        {{u"###"_s, u"Later"_s}, std::nullopt},       {{u"  # kept"_s}, u"# kept"_s},
        {{u""_s, u" \t"_s, u"#Tight"_s}, u"Tight"_s}, {{}, std::nullopt}};
    for (const auto &[preamble, title] : table) {
        OutlineEditorState state;
        state.loadDraft(preamble.join(u'\n') + u"\n- a"_s);
        EXPECT_EQ(state.outlineTitle(), title) << preamble.join(u'|').toStdString();
    }
}

TEST(OutlineReload, ALossyTextIsHeldAndNeverWrittenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"plan.md"_s);
    testsupport::writeFile(path, "- one\n- two");
    model::EditorSession session(model::SessionTarget::externalFile(path), 1h);
    OutlineEditorState state([&](const QString &text) { session.textDidChange(text); });
    ASSERT_EQ(state.reloadFromSession(session.loadGeneration(), session.loadText()), LoadResult::loaded);
    const QUuid one = state.focusedID().value();

    // Someone adds a paragraph the outline cannot show; the writer reloads.
    const QByteArray disk = "- one\n- two\nplain paragraph\n";
    testsupport::writeFile(path, disk);
    session.diskDidChange(QString::fromUtf8(disk));
    session.reloadFromDisk();
    EXPECT_EQ(state.reloadFromSession(session.loadGeneration(), session.loadText()), LoadResult::held);
    EXPECT_TRUE(state.isHeld());
    EXPECT_TRUE(state.visibleRows().isEmpty());

    // An edit still in flight for the old row writes nothing.
    state.editRowText(one, u"one, edited"_s);
    state.handleStructure(StructureOp::enter(0));
    EXPECT_TRUE(session.text().contains(u"plain paragraph"_s));
    EXPECT_TRUE(session.flush());
    EXPECT_EQ(testsupport::readFile(path), disk);

    // A later text the outline can show is taken in again.
    EXPECT_EQ(state.reloadFromSession(session.loadGeneration() + 1, u"- one"_s), LoadResult::loaded);
    EXPECT_FALSE(state.isHeld());
}

// Opening a lossy outline as an outline is the writer's choice (the library
// asks first): the opening text is taken; the same text coming back by a
// reload, or a draft, is held.
TEST(OutlineReload, OnlyTheOpeningTextIsTakenWhenItLosesLines)
{
    const QString lossy = u"- one\nplain paragraph\n- two"_s;
    OutlineEditorState opened;
    EXPECT_EQ(opened.reloadFromSession(0, lossy), LoadResult::loaded);
    EXPECT_EQ(opened.visibleRows().size(), 2);
    OutlineEditorState reloaded;
    EXPECT_EQ(reloaded.reloadFromSession(3, lossy), LoadResult::held);
    OutlineEditorState draft;
    EXPECT_EQ(draft.loadDraft(lossy), LoadResult::held);
}

// --- Focus and selection ---------------------------------------------------------

TEST_F(OutlineState, HopsAndExtendsStopAtTheEdges)
{
    load(u"- a\n- b\n- c"_s);
    state.handleStructure(StructureOp::hop(-1));
    EXPECT_EQ(state.focusedID(), id(u"a"_s));
    state.handleStructure(StructureOp::hop(1));
    state.handleStructure(StructureOp::hop(1));
    state.handleStructure(StructureOp::hop(1));
    EXPECT_EQ(state.focusedID(), id(u"c"_s));
    EXPECT_EQ(state.selectionAnchor(), std::nullopt);
    // Shift+Down on the last row only sets the anchor: a one-row selection.
    state.handleStructure(StructureOp::extend(1));
    EXPECT_EQ(state.selectionAnchor(), id(u"c"_s));
    EXPECT_TRUE(state.isSelected(id(u"c"_s)));
    state.handleStructure(StructureOp::extend(-1));
    state.handleStructure(StructureOp::extend(-1));
    EXPECT_EQ(state.focusedID(), id(u"a"_s));
    EXPECT_EQ(state.selectionRange(id(u"c"_s), id(u"a"_s)), idsOf(state.nodes(), {u"a"_s, u"b"_s, u"c"_s}));
    // A hop drops the selection.
    state.handleStructure(StructureOp::hop(1));
    EXPECT_EQ(state.selectionAnchor(), std::nullopt);
    EXPECT_TRUE(commits.isEmpty());
}

TEST_F(OutlineState, ClicksAndShiftClicks)
{
    load(u"- a\n- b\n- c"_s);
    state.extendSelection(id(u"c"_s)); // from the focused row
    EXPECT_EQ(state.selectionAnchor(), id(u"a"_s));
    EXPECT_TRUE(state.isSelected(id(u"b"_s)));
    state.focusRow(id(u"c"_s)); // already focused: the selection stays
    EXPECT_EQ(state.selectionAnchor(), id(u"a"_s));
    state.focusRow(id(u"b"_s));
    EXPECT_EQ(state.selectionAnchor(), std::nullopt);

    OutlineEditorState unfocused;
    unfocused.loadDraft(u"- a\n- b"_s);
    unfocused.zoomIn(unfocused.nodes().first().id); // a has no rows: nothing is focused
    unfocused.zoomOut();
    ASSERT_EQ(unfocused.focusedID(), std::nullopt);
    const QUuid b = unfocused.nodes().last().id;
    unfocused.extendSelection(b);
    EXPECT_EQ(unfocused.selectionAnchor(), b);
    EXPECT_EQ(unfocused.focusedID(), b);
}

TEST_F(OutlineState, EditingARowDropsTheSelectionAndAlwaysWrites)
{
    load(u"- a\n- b"_s);
    select(u"a"_s, u"b"_s);
    state.editRowText(id(u"b"_s), u"two\nlines"_s);
    EXPECT_EQ(state.selectionAnchor(), std::nullopt);
    state.editRowText(QUuid::createUuid(), u"x"_s);
    state.editRowText(id(u"a"_s), u""_s); // an emptied row stays
    EXPECT_EQ(commits, (QStringList{u"- a\n- two lines"_s, u"- a\n- two lines"_s, u"- \n- two lines"_s}));
}

// --- Structure operations ----------------------------------------------------------

TEST_F(OutlineState, SelectionOperationsAndOneRowOperationsDiffer)
{
    load(u"- p\n  - a\n  - b\n- q"_s);
    // Two rows: moves stay among siblings, so the first child cannot go up.
    select(u"a"_s, u"b"_s);
    op(Kind::moveUp);
    EXPECT_TRUE(commits.isEmpty());
    // One row (the anchor on the focused row): the row leaves its parent.
    state.focusRow(id(u"a"_s));
    state.extendSelection(id(u"a"_s));
    op(Kind::moveUp);
    EXPECT_EQ(text(), u"- a\n- p\n  - b\n- q"_s);
    EXPECT_EQ(commits.size(), 1);
    EXPECT_EQ(state.selectionAnchor(), id(u"a"_s));

    // Three rows indent together.
    select(u"p"_s, u"q"_s);
    op(Kind::indent);
    EXPECT_EQ(text(), u"- a\n  - p\n    - b\n  - q"_s);
    EXPECT_EQ(commits.size(), 2);
}

TEST_F(OutlineState, RefusedOperationsWriteNothing)
{
    load(u"- a\n  - a1\n- b"_s);
    op(Kind::indent);  // first among siblings
    op(Kind::outdent); // top level
    op(Kind::moveUp);  // first root
    state.focusRow(id(u"b"_s));
    op(Kind::fold); // no children
    op(Kind::unfold);
    EXPECT_TRUE(state.folded().isEmpty());
    EXPECT_TRUE(commits.isEmpty());
    state.focusRow(id(u"a"_s));
    op(Kind::fold);
    EXPECT_EQ(state.folded(), QSet<QUuid>{id(u"a"_s)});
    EXPECT_EQ(visibleTexts(), (QStringList{u"a"_s, u"b"_s}));
    op(Kind::unfold);
    EXPECT_TRUE(state.folded().isEmpty());
    EXPECT_TRUE(commits.isEmpty());
}

TEST_F(OutlineState, ReturnSplitsOrOutdents)
{
    load(u"- hello world\n  - kid\n- z"_s);
    select(u"hello world"_s, u"kid"_s);
    state.focusRow(id(u"hello world"_s));
    state.extendSelection(id(u"z"_s));
    state.focusRow(id(u"hello world"_s)); // drops it again
    state.handleStructure(StructureOp::enter(5));
    EXPECT_EQ(text(), u"- hello\n  - kid\n- world\n- z"_s);
    EXPECT_EQ(state.focusedID(), id(u"world"_s));
    EXPECT_EQ(state.pendingCaret(), 0);

    // At the end: an empty row after the subtree, at the row's depth.
    state.focusRow(id(u"kid"_s));
    state.handleStructure(StructureOp::enter(99));
    EXPECT_EQ(text(), u"- hello\n  - kid\n  - \n- world\n- z"_s);
    const QUuid fresh = *state.focusedID();
    // Return in that empty nested row moves it out instead; focus stays.
    state.handleStructure(StructureOp::enter(0));
    EXPECT_EQ(text(), u"- hello\n  - kid\n- \n- world\n- z"_s);
    EXPECT_EQ(state.focusedID(), fresh);
    EXPECT_EQ(commits.size(), 3);

    // With a selection, Return keeps the anchor.
    select(u"world"_s, u"z"_s);
    state.handleStructure(StructureOp::enter(1));
    EXPECT_EQ(state.selectionAnchor(), id(u"world"_s));
    EXPECT_EQ(text(), u"- hello\n  - kid\n- \n- world\n- z\n- "_s);
    EXPECT_EQ(state.selectionRange(id(u"world"_s), *state.focusedID())->size(), 3);
}

TEST_F(OutlineState, StructureOperationsInAZoomDoNotReconcile)
{
    load(u"- root\n  - a\n  - b"_s);
    state.zoomIn(id(u"root"_s));
    EXPECT_EQ(state.focusedID(), id(u"a"_s));
    op(Kind::outdent);
    EXPECT_EQ(text(), u"- root\n  - b\n- a"_s);
    EXPECT_EQ(visibleTexts(), QStringList{u"b"_s});
    EXPECT_EQ(state.focusedID(), id(u"a"_s)); // not a visible row: no editor
    EXPECT_EQ(commits.size(), 1);
}

TEST_F(OutlineState, EscapeDropsTheSelectionThenClimbsOneLevel)
{
    load(u"- a\n  - b\n    - c\n    - d"_s);
    state.zoomIn(id(u"a"_s));
    state.zoomIn(id(u"b"_s));
    select(u"c"_s, u"d"_s);
    op(Kind::deselect);
    EXPECT_EQ(state.selectionAnchor(), std::nullopt);
    EXPECT_EQ(state.zoomStack().size(), 2);
    op(Kind::deselect);
    EXPECT_EQ(state.zoomStack().size(), 1);
    EXPECT_TRUE(state.deselectOrZoomOut());
    EXPECT_FALSE(state.deselectOrZoomOut());
}

// --- Zoom and folds ------------------------------------------------------------------

TEST_F(OutlineState, ZoomsReconcileFocusAndSelection)
{
    load(u"- a\n  - b\n    - c\n      - d\n- e"_s);
    state.focusRow(id(u"e"_s));
    state.extendSelection(id(u"a"_s));
    state.zoomIn(id(u"a"_s)); // focus outside the zoom
    EXPECT_EQ(state.focusedID(), id(u"b"_s));
    EXPECT_EQ(state.selectionAnchor(), std::nullopt);
    EXPECT_EQ(state.pendingCaret(), std::nullopt);
    state.zoomIn(id(u"a"_s)); // already the root
    state.zoomIn(id(u"b"_s));
    state.zoomIn(id(u"c"_s));
    EXPECT_EQ(state.zoomStack(), idsOf(state.nodes(), {u"a"_s, u"b"_s, u"c"_s}));
    state.zoomToLevel(0);
    EXPECT_EQ(state.zoomStack(), QList<QUuid>{id(u"a"_s)});
    // Zooming out keeps a focus and a selection that stay visible.
    state.focusRow(id(u"b"_s));
    state.extendSelection(id(u"c"_s));
    state.zoomOut();
    EXPECT_EQ(state.focusedID(), id(u"c"_s));
    EXPECT_EQ(state.selectionAnchor(), id(u"b"_s));
    state.zoomIn(id(u"d"_s)); // no children: nothing to focus
    EXPECT_TRUE(state.visibleRows().isEmpty());
    EXPECT_EQ(state.focusedID(), std::nullopt);
    state.zoomIn(id(u"a"_s));
    state.zoomIn(id(u"b"_s));
    state.zoomToTop();
    EXPECT_TRUE(state.zoomStack().isEmpty());
    EXPECT_EQ(state.focusedID(), std::nullopt); // nothing was focused to keep
    EXPECT_TRUE(commits.isEmpty());
}

TEST_F(OutlineState, CrumbTitles)
{
    const QString family = u"👩‍👩‍👧"_s;
    load(u"- "_s + QString(27, u'x') + u"\n- "_s + QString(26, u'y') + u"\n- \n- "_s + family.repeated(27));
    for (const OutlineNode &node : state.nodes())
        state.zoomIn(node.id);
    EXPECT_EQ(state.crumbTitle(0), QString(25, u'x') + u"…"_s);
    EXPECT_EQ(state.crumbTitle(1), QString(26, u'y'));
    EXPECT_EQ(state.crumbTitle(2), u"(empty)"_s);
    EXPECT_EQ(state.crumbTitle(3), family.repeated(25) + u"…"_s);
    EXPECT_EQ(state.crumbTitle(4), u"?"_s);
    state.reloadFromSession(1, u"- new"_s); // ids are new
    EXPECT_EQ(state.crumbTitle(0), u"?"_s);
}

TEST_F(OutlineState, FoldingTheFocusedRowsParentLeavesItFocused)
{
    load(u"- p\n  - a\n- q"_s);
    state.focusRow(id(u"a"_s));
    state.toggleFold(id(u"p"_s));
    EXPECT_EQ(visibleTexts(), (QStringList{u"p"_s, u"q"_s}));
    EXPECT_EQ(state.focusedID(), id(u"a"_s));
    state.toggleFold(id(u"p"_s));
    EXPECT_TRUE(state.folded().isEmpty());

    // Hover: a late "left" of the previous row keeps the new one.
    state.setHover(id(u"p"_s), true);
    state.setHover(id(u"q"_s), true);
    state.setHover(id(u"p"_s), false);
    EXPECT_EQ(state.hoverID(), id(u"q"_s));
    state.setHover(id(u"q"_s), false);
    EXPECT_EQ(state.hoverID(), std::nullopt);
}

TEST(OutlineRowGaps, TopRowsWithChildrenAndEndsOfDeeperRuns)
{
    OutlineEditorState state;
    state.loadDraft(u"- lone\n- p\n  - a\n    - a1\n  - b\n- q\n  - q1\n- r"_s);
    const auto gaps = OutlineEditorState::rowGaps(state.visibleRows());
    const Nodes &nodes = state.nodes();
    EXPECT_EQ(gaps, (QHash<QUuid, qreal>{{idOf(nodes, u"p"_s), 10},
                                         {idOf(nodes, u"b"_s), 10},
                                         {idOf(nodes, u"q"_s), 10},
                                         {idOf(nodes, u"r"_s), 10}}));
    OutlineEditorState first;
    first.loadDraft(u"- p\n  - a"_s);
    EXPECT_EQ(OutlineEditorState::rowGaps(first.visibleRows()).keys(), QList<QUuid>{first.nodes().first().id});
}

// --- Drag and drop -------------------------------------------------------------------

TEST_F(OutlineState, DragPayloads)
{
    load(u"- a\n  - a1\n- b\n- c"_s);
    select(u"a"_s, u"b"_s);
    EXPECT_EQ(state.dragPayload(id(u"a1"_s)), idsOf(state.nodes(), {u"a"_s, u"b"_s}));
    EXPECT_EQ(state.dragPayload(id(u"c"_s)), QList<QUuid>{id(u"c"_s)});
}

TEST_F(OutlineState, ADropSelectsTheMovedRowsAndWritesOnce)
{
    load(u"- a\n  - a1\n- b\n- c\n- d"_s);
    select(u"a"_s, u"b"_s);
    const OutlineEditorState::RowFrames frames = framesOf(state); // a a1 b c d
    state.beginDrag(state.dragPayload(id(u"a"_s)));
    state.dragMoved(QPointF(0, 30), frames); // the middle of a1: inside a moving subtree
    EXPECT_EQ(state.drag(), (DragInfo{idsOf(state.nodes(), {u"a"_s, u"b"_s}), Target::lastChild(id(u"a1"_s)), false}));
    state.dragMoved(QPointF(0, 96), frames); // the lowest part of d
    EXPECT_EQ(state.drag()->target, Target::afterLast(id(u"d"_s)));
    EXPECT_TRUE(state.drag()->valid);

    // Escape: no point, nothing happens.
    EXPECT_FALSE(state.dragEnded(std::nullopt, std::nullopt));
    EXPECT_EQ(state.drag(), std::nullopt);
    EXPECT_TRUE(commits.isEmpty());

    // Where they already stand: nothing is written, focus and selection stay.
    state.beginDrag(state.dragPayload(id(u"b"_s)));
    EXPECT_FALSE(state.dragEnded(QPointF(0, 62), frames)); // before c
    EXPECT_EQ(state.selectionAnchor(), id(u"a"_s));
    EXPECT_EQ(state.focusedID(), id(u"b"_s));

    state.beginDrag(state.dragPayload(id(u"b"_s)));
    EXPECT_TRUE(state.dragEnded(QPointF(0, 95), frames));
    EXPECT_EQ(commits, QStringList{u"- c\n- d\n- a\n  - a1\n- b"_s});
    EXPECT_EQ(state.selectionAnchor(), id(u"a"_s));
    EXPECT_EQ(state.focusedID(), id(u"b"_s));
    EXPECT_EQ(state.drag(), std::nullopt);
}

} // namespace
