// The editing session on a 1 MB piece: opening it, the first autosave after
// an edit (the disk check before it included) or an explicit save, and how
// long an autosave holds up the main thread.
#include "model/editorsession.h"
#include "stallmeter.h"
#include "synthetichome.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

using model::EditorSession;
using model::SessionTarget;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

constexpr qsizetype kBytes = 1 << 20;

// A Home with projects/Essays/big/post.md of about 1 MB and a caret file.
struct BigPiece {
    QTemporaryDir dir;
    QString home = dir.path() + u"/Home"_s;
    QString body;

    BigPiece()
    {
        const QString prose = testsupport::syntheticProse(20000, 7) + u"\n\n"_s;
        while (body.size() < kBytes)
            body += prose;
        const QString folder = home + u"/projects/Essays/big"_s;
        testsupport::writeFile(folder + u"/post.md"_s,
                               "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n" + body.toUtf8());
        testsupport::writeFile(folder + u"/.pennora-state.json"_s,
                               R"({"scrollOffset":120,"selectionLength":0,"selectionLocation":5000})");
    }
    SessionTarget target() const { return SessionTarget::post(u"big"_s, home); }
};

void BM_OpenPiece(benchmark::State &state)
{
    BigPiece piece;
    for (auto _ : state) {
        EditorSession session(piece.target(), 1s);
        benchmark::DoNotOptimize(session.text().size());
    }
    state.SetBytesProcessed(state.iterations() * piece.body.size());
}
BENCHMARK(BM_OpenPiece)->Unit(benchmark::kMillisecond);

// A word typed in the middle of the text, different each time.
QString edited(const QString &body, qint64 round)
{
    QString text = body;
    text.insert(body.size() / 2, u" word%1"_s.arg(round));
    return text;
}

// The autosave's own road: the wait (zero here) ends, the disk is compared,
// the body is written under its front matter and the caret beside it.
void BM_FirstAutosaveAfterEdit(benchmark::State &state)
{
    BigPiece piece;
    qint64 round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        EditorSession session(piece.target(), 0ms);
        const QString text = edited(piece.body, ++round);
        state.ResumeTiming();
        session.textDidChange(text);
        while (session.autosavePending())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (session.lastFlushedText() != text)
            state.SkipWithError("the autosave did not write");
    }
}
BENCHMARK(BM_FirstAutosaveAfterEdit)->Unit(benchmark::kMillisecond);

// An explicit save (no disk check) of the same edit.
void BM_FlushAfterEdit(benchmark::State &state)
{
    BigPiece piece;
    qint64 round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        EditorSession session(piece.target(), 1h);
        session.textDidChange(edited(piece.body, ++round));
        state.ResumeTiming();
        if (!session.flush())
            state.SkipWithError("the write failed");
    }
}
BENCHMARK(BM_FlushAfterEdit)->Unit(benchmark::kMillisecond);

// The longest the main thread went without turning its event loop while a
// typed word was autosaved, the disk check and the write included: what the
// writer feels as a hitch in typing.
void BM_AutosaveMainThreadStall(benchmark::State &state)
{
    BigPiece piece;
    EditorSession session(piece.target(), 0ms);
    qint64 round = 0;
    double longest = 0;
    QList<double> stalls;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = edited(piece.body, ++round);
        bench::StallMeter meter;
        state.ResumeTiming();
        meter.start();
        session.textDidChange(text);
        while (session.autosavePending())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // A stall shows at the tick after it.
        const QDeadlineTimer settled(5);
        while (!settled.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        meter.stop();
        if (session.lastFlushedText() != text)
            state.SkipWithError("the autosave did not write");
        stalls.append(meter.longestMs());
        longest = std::max(longest, meter.longestMs());
    }
    std::sort(stalls.begin(), stalls.end());
    state.counters["median_stall_ms"] = stalls.value(stalls.size() / 2);
    state.counters["max_stall_ms"] = longest;
}
BENCHMARK(BM_AutosaveMainThreadStall)->Unit(benchmark::kMillisecond)->Iterations(40);

} // namespace
