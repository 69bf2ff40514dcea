// The transcript view over the mentor on the in-memory engine: a reply
// streamed in chunks into an open view, and a replayed session of 2,000 rows
// until its last rows are painted, then scrolled through.

#include "engine/views/sessiontranscriptview.h"

#include "fakementor.h"
#include "faketransport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QScrollBar>
#include <benchmark/benchmark.h>

namespace {

using bench::FakeMentor;
using bench::kSession;
using bench::sessionUpdate;
using engine::SessionTranscriptView;
using foundation::JSONValue;

// Main-thread time per chunk: the model's step, the view's update, and the
// event loop's turn with the layout and the paints the view asks for (at most
// one a frame); and the time of one full repaint of the view at the end.
void BM_TranscriptStreamChunks(benchmark::State &state)
{
    const int kChunks = int(state.range(0));
    FakeMentor mentor;
    for (int i = 0; i < 20; ++i)
        mentor.model->appendRow(engine::SessionRow::text(QStringLiteral("Earlier reply %1 with **some** words.").arg(i),
                                                         engine::SessionRow::Speaker::agent,
                                                         engine::SessionRow::NoticeKind::plain),
                                kSession);
    SessionTranscriptView view(*mentor.model, false, std::nullopt, std::nullopt);
    view.resize(420, 800);
    view.show();
    QApplication::processEvents();
    std::vector<JSONValue> chunks;
    for (int i = 0; i < kChunks; ++i)
        chunks.push_back(sessionUpdate(QStringLiteral("agent_message_chunk"), QStringLiteral("word%1 ").arg(i)));
    const QString method = QStringLiteral("session/update");
    double slowestMs = 0;
    double fullRepaintMs = 0;
    for (auto _ : state) {
        QElapsedTimer chunkTimer;
        for (const JSONValue &chunk : chunks) {
            chunkTimer.start();
            mentor.model->handleNotification(method, chunk);
            // The view's own updates: layout once a frame and the paints it asks for.
            QApplication::processEvents();
            slowestMs = std::max(slowestMs, double(chunkTimer.nsecsElapsed()) / 1e6);
        }
        QElapsedTimer paint;
        paint.start();
        view.repaint();
        fullRepaintMs = std::max(fullRepaintMs, double(paint.nsecsElapsed()) / 1e6);
        state.PauseTiming();
        mentor.model->finishTurn(kSession);
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["ms_per_chunk"] = benchmark::Counter(double(state.iterations() * kChunks) / 1000.0,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["slowest_chunk_ms"] = slowestMs;
    state.counters["full_repaint_ms"] = fullRepaintMs;
}
BENCHMARK(BM_TranscriptStreamChunks)->Unit(benchmark::kMillisecond)->Iterations(3)->Arg(500)->Arg(5000);

// A session/load replaying 2,000 rows into the open view, until the view has
// painted its last rows; then every frame of a scroll from the end to the top.
void BM_TranscriptReplay(benchmark::State &state)
{
    constexpr int kRows = 2000;
    FakeMentor mentor;
    SessionTranscriptView view(*mentor.model, false, std::nullopt, std::nullopt);
    view.resize(420, 800);
    view.show();
    QApplication::processEvents();
    std::vector<JSONValue> history;
    for (int i = 0; i < kRows; ++i)
        history.push_back(
            i % 2 ? sessionUpdate(QStringLiteral("agent_message_chunk"),
                                  QStringLiteral("A reply of some length, number %1, with *a few* words "
                                                 "and a `code span`, wrapping over a line or two.")
                                      .arg(i))
                  : sessionUpdate(QStringLiteral("user_message_chunk"), QStringLiteral("Question %1?").arg(i)));
    const engine::SessionEntry entry = mentor.model->roster().first();
    const JSONValue loaded = JSONValue::Object{{QStringLiteral("sessionId"), kSession}};
    double slowestFrameMs = 0;
    for (auto _ : state) {
        testsupport::Running<bool> resume(mentor.model->resume(entry));
        for (const JSONValue &item : history)
            mentor.transport->sendNotification(QStringLiteral("session/update"), item);
        mentor.transport->answer(QStringLiteral("session/load"), loaded);
        while (!resume.done())
            QApplication::processEvents(QEventLoop::AllEvents);
        QApplication::processEvents();
        view.repaint();
        state.PauseTiming();
        if (!resume.value() || mentor.model->transcript(kSession)->rows.size() != kRows)
            state.SkipWithError("the replay did not land whole");
        // The older rows fill in behind; then scroll to the top frame by frame.
        for (int i = 0; i < 100; ++i)
            QApplication::processEvents();
        QScrollBar *bar = view.scrollArea()->verticalScrollBar();
        QElapsedTimer frame;
        for (int value = bar->maximum(); value > 0; value -= 120) {
            frame.start();
            bar->setValue(value);
            QApplication::processEvents();
            view.repaint();
            slowestFrameMs = std::max(slowestFrameMs, double(frame.nsecsElapsed()) / 1e6);
        }
        state.ResumeTiming();
    }
    state.counters["slowest_scroll_frame_ms"] = slowestFrameMs;
}
BENCHMARK(BM_TranscriptReplay)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
