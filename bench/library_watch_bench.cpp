// Watching a 10,000-piece Home: the rescan after one piece changed against the
// stat-only loop every rescan pays at least, the watcher's set-up over every
// folder of the Home, and a change of Home that must leave no watch behind.
#include "libraryhome.h"
#include "model/postsmodel.h"
#include "model/postswatcher.h"
#include "synthetichome.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

QStringList watchedFolders(const QString &home)
{
    return {home + "/projects", home + "/archive"};
}

// A save of one piece, then the rescan that its file event starts: one
// post.md parsed again, the others taken from the cache, the list published.
void BM_RescanOneChangedPiece(benchmark::State &state)
{
    const bench::LibraryHome &h = bench::tenThousandPieceHome();
    model::PostsModel model;
    model.startWatching(h.path);
    // Only the rescans started here are measured.
    model.watcher().stop();
    QCoro::waitFor(model.rescan());

    const QString changed = QString::fromLocal8Bit(h.postFiles[h.postFiles.size() / 2]);
    const QByteArray original = testsupport::readFile(changed);
    const QByteArray edited = original + "\nOne more sentence, and the summary changes with it.\n";
    bool flip = false;
    const qint64 revisionBefore = model.contentRevision();
    for (auto _ : state) {
        state.PauseTiming();
        flip = !flip;
        testsupport::writeFile(changed, flip ? edited : original);
        state.ResumeTiming();
        QCoro::waitFor(model.rescan());
    }
    testsupport::writeFile(changed, original);
    state.counters["pieces"] = double(model.posts().size());
    state.counters["republished"] = double(model.contentRevision() - revisionBefore);
}
BENCHMARK(BM_RescanOneChangedPiece)->Unit(benchmark::kMillisecond);

void BM_StatLoop(benchmark::State &state)
{
    const bench::LibraryHome &h = bench::tenThousandPieceHome();
    for (auto _ : state)
        benchmark::DoNotOptimize(bench::statEveryPostFile(h));
}
BENCHMARK(BM_StatLoop)->Unit(benchmark::kMillisecond);

void BM_WatcherStart(benchmark::State &state)
{
    const bench::LibraryHome &h = bench::tenThousandPieceHome();
    model::PostsWatcher watcher;
    int watches = 0;
    for (auto _ : state) {
        watcher.start(watchedFolders(h.path));
        state.PauseTiming();
        watches = watcher.watchCount();
        watcher.stop();
        state.ResumeTiming();
    }
    state.counters["pieces"] = double(h.postFiles.size());
    state.counters["watches"] = watches;
}
BENCHMARK(BM_WatcherStart)->Unit(benchmark::kMillisecond);

// From the 10,000-piece Home to a small one: the old Home's watches must all
// be gone, in the kernel as well as in the watcher.
void BM_WatcherHomeChange(benchmark::State &state)
{
    const bench::LibraryHome &h = bench::tenThousandPieceHome();
    QTemporaryDir otherDir;
    const QString other = otherDir.path() + "/Other";
    testsupport::generateSyntheticHome(other);
    model::PostsWatcher watcher;
    int before = 0;
    int after = 0;
    int leaked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        watcher.start(watchedFolders(h.path));
        before = testsupport::inotifyWatches();
        state.ResumeTiming();
        watcher.start(watchedFolders(other));
        state.PauseTiming();
        after = testsupport::inotifyWatches();
        leaked = std::max(leaked, after - watcher.watchCount());
        state.ResumeTiming();
    }
    watcher.stop();
    state.counters["watchesBefore"] = before;
    state.counters["watchesAfter"] = after;
    state.counters["leaked"] = leaked;
    state.counters["leftAfterStop"] = testsupport::inotifyWatches();
}
BENCHMARK(BM_WatcherHomeChange)->Unit(benchmark::kMillisecond);

} // namespace
