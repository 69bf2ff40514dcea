// The library column over a 3,000-piece Home (40 projects of 75 pieces of
// 1,500 words): the first paint of the grouped column, the column's share of
// a rescan that changed one piece, one scrolled frame, and the longest time
// the main thread went without running its event loop while a query was
// typed a key at a time and its results came in (target: under 50 ms).
#include "model/postsmodel.h"
#include "panes/library/views/librarycolumnmodel.h"
#include "panes/library/views/librarysearchrow.h"
#include "panes/library/views/postslibrarycolumn.h"
#include "stallmeter.h"
#include "synthetichome.h"
#include "testutil.h"
#include "threethousandhome.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <mutex>

namespace {

using library::Post;
using panes::PostsLibraryColumn;

std::unique_ptr<PostsLibraryColumn> shownColumn(bench::ThreeThousandPieceHome &h)
{
    auto column = std::make_unique<PostsLibraryColumn>(h.path, &h.model);
    column->setAttribute(Qt::WA_DontShowOnScreen);
    column->resize(PostsLibraryColumn::columnWidth, 900);
    column->show();
    return column;
}

// Building the column and painting it once.
void BM_ColumnFirstPaint(benchmark::State &state)
{
    bench::ThreeThousandPieceHome &h = bench::threeThousandPieceHome();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto column = shownColumn(h);
        benchmark::DoNotOptimize(column->grab());
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["pieces"] = double(h.model.posts().size());
}
BENCHMARK(BM_ColumnFirstPaint)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// A rescan whose result differs from the shown library in one title: the
// time the column takes on the main thread to lay the new list over the old.
void BM_ColumnRescanOneChanged(benchmark::State &state)
{
    bench::ThreeThousandPieceHome &h = bench::threeThousandPieceHome();
    const QList<Post> original = h.model.posts();
    QList<Post> changed = original;
    changed[1500].title += QStringLiteral(" (revised)");
    std::mutex mutex;
    QList<Post> next;
    const model::PostsModel::ScanLibrary realScan = h.model.scanLibrary;
    h.model.scanLibrary = [&](const QString &, const std::shared_ptr<library::PostScanCache> &) {
        const std::lock_guard lock(mutex);
        return next;
    };
    QElapsedTimer timer;
    // Connected before the column, so it runs first; the stop runs after.
    const auto start = QObject::connect(&h.model, &model::PostsModel::postsChanged, [&] { timer.start(); });
    auto column = shownColumn(h);
    qint64 took = 0;
    const auto stop =
        QObject::connect(&h.model, &model::PostsModel::postsChanged, [&] { took = timer.nsecsElapsed(); });
    qint64 changedRows = 0;
    QObject::connect(
        column->groupedModel(), &QAbstractItemModel::dataChanged,
        [&](const QModelIndex &top, const QModelIndex &bottom) { changedRows += bottom.row() - top.row() + 1; });
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        {
            const std::lock_guard lock(mutex);
            next = flip ? changed : original;
        }
        QCoro::waitFor(h.model.rescan());
        state.SetIterationTime(double(took) / 1e9);
    }
    QObject::disconnect(start);
    QObject::disconnect(stop);
    h.model.scanLibrary = realScan;
    {
        const std::lock_guard lock(mutex);
        next = original;
    }
    QCoro::waitFor(h.model.rescan());
    state.counters["changed_rows_per_rescan"] = double(changedRows) / double(state.iterations());
}
BENCHMARK(BM_ColumnRescanOneChanged)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// One frame of scrolling the grouped list by 120 px.
void BM_ColumnScrollFrame(benchmark::State &state)
{
    bench::ThreeThousandPieceHome &h = bench::threeThousandPieceHome();
    auto column = shownColumn(h);
    QListView *view = column->groupedView();
    column->grab();
    QScrollBar *bar = view->verticalScrollBar();
    QList<double> frames;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(bar->value() + 120 > bar->maximum() ? 0 : bar->value() + 120);
        view->viewport()->repaint();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        frames.append(ms);
        state.SetIterationTime(ms / 1e3);
    }
    std::sort(frames.begin(), frames.end());
    state.counters["p95_ms"] = frames[qsizetype(double(frames.size() - 1) * 0.95)];
    state.counters["rows"] = double(column->groupedModel()->rowCount());
}
BENCHMARK(BM_ColumnScrollFrame)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

// Typing a query a key every 60 ms, then waiting for its results: the
// longest gap in the main thread's event loop, repainting the column all the
// while.
void typeAndWait(benchmark::State &state, const QString &query)
{
    bench::ThreeThousandPieceHome &h = bench::threeThousandPieceHome();
    auto column = shownColumn(h);
    QLineEdit *field = column->searchRow()->field();
    bench::StallMeter stalls;
    qsizetype found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        field->clear();
        QApplication::processEvents();
        state.ResumeTiming();
        stalls.start();
        for (const QChar key : query) {
            field->insert(QString(key));
            column->repaint();
            testsupport::spinUntil([] { return false; }, 60);
        }
        testsupport::spinUntil(
            [&] {
                const auto area = column->listArea();
                return area == PostsLibraryColumn::ListArea::results || area == PostsLibraryColumn::ListArea::noMatch;
            },
            120000);
        column->repaint();
        stalls.stop();
        found = column->search().snapshot() ? column->search().snapshot()->results.size() : 0;
    }
    state.counters["found"] = double(found);
    state.counters["max_main_stall_ms"] = stalls.longestMs();
}

void BM_TypeQueryManyHits(benchmark::State &state)
{
    typeAndWait(state, QStringLiteral("river"));
}
BENCHMARK(BM_TypeQueryManyHits)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TypeQueryNoHit(benchmark::State &state)
{
    typeAndWait(state, QStringLiteral("quokka"));
}
BENCHMARK(BM_TypeQueryNoHit)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
