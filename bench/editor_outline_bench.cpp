// The outline editor on a 5,000-node outline (depth up to 6) holding one node
// with 2,000 descendants: the visible rows, a keystroke's write-back, folding
// the large node, and a structure operation over 500 selected rows.
#include "editor/outline/outlineeditorstate.h"

#include "outlinebenchtext.h"

#include <benchmark/benchmark.h>

namespace {

using editor::outline::OutlineEditorState;
using editor::outline::OutlinePresenter;
using editor::outline::StructureOp;
using namespace Qt::StringLiterals;

constexpr int kNodes = 5000;

QString outlineText()
{
    return bench::longOutline(kNodes);
}

struct Outline {
    QString written;
    OutlineEditorState state{[this](const QString &text) { written = text; }};
    Outline() { state.reloadFromSession(0, outlineText()); }
};

void BM_Rows(benchmark::State &bench)
{
    Outline outline;
    for (auto _ : bench)
        benchmark::DoNotOptimize(outline.state.visibleRows().size());
    bench.counters["rows"] = double(outline.state.visibleRows().size());
}
BENCHMARK(BM_Rows)->Unit(benchmark::kMicrosecond);

// A character typed in the last row: the text set and the whole outline
// serialised for the session.
void BM_KeystrokeCommit(benchmark::State &bench)
{
    Outline outline;
    const QUuid last = outline.state.visibleRows().last().id;
    QString typed = u"node"_s;
    for (auto _ : bench) {
        typed += u'x';
        outline.state.editRowText(last, typed);
        benchmark::DoNotOptimize(outline.written.size());
    }
}
BENCHMARK(BM_KeystrokeCommit)->Unit(benchmark::kMicrosecond);

// Fold or unfold "big", then the rows the view shows next.
void BM_FoldLargeNode(benchmark::State &bench)
{
    Outline outline;
    const QUuid big = outline.state.nodes().first().id;
    for (auto _ : bench) {
        outline.state.toggleFold(big);
        benchmark::DoNotOptimize(outline.state.visibleRows().size());
    }
}
BENCHMARK(BM_FoldLargeNode)->Unit(benchmark::kMicrosecond);

// Indent 500 selected sibling rows (each is tried), then outdent them back.
void BM_ApplyToSelection500(benchmark::State &bench)
{
    Outline outline;
    editor::outline::Nodes nodes = outline.state.nodes();
    QList<QUuid> ids;
    for (const auto &node : nodes.first().children.first(11))
        for (const auto &item : node.children)
            if (ids.size() < 500)
                ids.append(item.id);
    for (auto _ : bench) {
        OutlinePresenter::applyToSelection(StructureOp::of(StructureOp::Kind::indent), ids, nodes);
        OutlinePresenter::applyToSelection(StructureOp::of(StructureOp::Kind::outdent), ids, nodes);
    }
    bench.counters["ids"] = double(ids.size());
}
BENCHMARK(BM_ApplyToSelection500)->Unit(benchmark::kMillisecond);

} // namespace
