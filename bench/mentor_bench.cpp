// The mentor model under a long turn and a long replay: the model's own cost
// per streamed chunk, and a session/load replaying a long history on the main
// thread, both through the engine host's hand-over as in the application.

#include "engine/mentorsessionmodel.h"

#include "fakementor.h"
#include "faketransport.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using engine::EngineHost;
using engine::MentorSessionModel;
using foundation::JSONValue;
using testsupport::FakeTransport;

using bench::kSession;
using Mentor = bench::FakeMentor;

// One live turn's reply arriving in 5,000 chunks, as the host hands them to
// the model. A view follows streamingChanged.
void BM_StreamChunks(benchmark::State &state)
{
    constexpr int kChunks = 5000;
    Mentor mentor;
    std::vector<JSONValue> chunks;
    for (int i = 0; i < kChunks; ++i)
        chunks.push_back(bench::sessionUpdate(QStringLiteral("agent_message_chunk"), QStringLiteral("word%1 ").arg(i)));
    qint64 notified = 0;
    QObject::connect(mentor.model.get(), &MentorSessionModel::streamingChanged, [&] { ++notified; });
    const std::optional<QString> method = QStringLiteral("session/update");
    for (auto _ : state) {
        for (const JSONValue &chunk : chunks)
            mentor.model->handleNotification(*method, chunk);
        state.PauseTiming();
        mentor.model->finishTurn(kSession);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kChunks);
    state.counters["us_per_chunk"] = benchmark::Counter(double(state.iterations() * kChunks),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["signals_per_chunk"] = double(notified) / double(state.iterations() * kChunks);
}
BENCHMARK(BM_StreamChunks)->Unit(benchmark::kMillisecond);

// A session/load replaying 20,000 updates of a long session: each arrives
// through the host's hand-over to the main thread and becomes a row.
void BM_ReplayLongSession(benchmark::State &state)
{
    constexpr int kUpdates = 20000;
    Mentor mentor;
    std::vector<JSONValue> history;
    for (int i = 0; i < kUpdates; ++i) {
        switch (i % 4) {
        case 0:
            history.push_back(
                bench::sessionUpdate(QStringLiteral("user_message_chunk"), QStringLiteral("Question %1?").arg(i)));
            break;
        case 1:
            history.push_back(bench::sessionUpdate(QStringLiteral("agent_thought_chunk"),
                                                   QStringLiteral("Thinking about %1").arg(i)));
            break;
        default:
            history.push_back(
                bench::sessionUpdate(QStringLiteral("agent_message_chunk"),
                                     QStringLiteral("A reply of some length, number %1, with a few words.").arg(i)));
        }
    }
    const engine::SessionEntry entry = mentor.model->roster().first();
    const JSONValue loaded = JSONValue::Object{{QStringLiteral("sessionId"), kSession}};
    for (auto _ : state) {
        testsupport::Running<bool> resume(mentor.model->resume(entry));
        for (const JSONValue &item : history)
            mentor.transport->sendNotification(QStringLiteral("session/update"), item);
        mentor.transport->answer(QStringLiteral("session/load"), loaded);
        while (!resume.done())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!resume.value() || mentor.model->transcript(kSession)->rows.size() != kUpdates)
            state.SkipWithError("the replay did not land whole");
    }
    state.SetItemsProcessed(state.iterations() * kUpdates);
}
BENCHMARK(BM_ReplayLongSession)->Unit(benchmark::kMillisecond);

} // namespace
