// The tool server: whole-process start-up against a QtCore-only yardstick,
// a stream of pings through one process, and the two store-heavy tools.
#include "synthetichome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

const char *const kPennora = PENNORA_BINARY;
const char *const kBaseline = BASELINE_BINARY;
const char *const kProbe = RSS_PROBE_BINARY;

struct ChildRun {
    double seconds = 0;
    long maxRssKiB = 0;
};

// Runs program through the probe (stdin and stdout on /dev/null) and reads
// back the program's own peak resident size and wall time.
ChildRun runOnDevNull(const char *program, std::vector<const char *> args)
{
    args.insert(args.begin(), program);
    args.insert(args.begin(), kProbe);
    args.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, kProbe, &actions, nullptr, const_cast<char **>(args.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    char text[128] = {};
    ssize_t got = 0;
    if (spawned == 0) {
        ssize_t n = 0;
        while (got < ssize_t(sizeof text) - 1 && (n = ::read(out[0], text + got, sizeof text - 1 - size_t(got))) > 0)
            got += n;
    }
    ::close(out[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    long rss = 0;
    long long nanoseconds = 0;
    if (std::sscanf(text, "%ld %lld", &rss, &nanoseconds) != 2)
        return {};
    return {double(nanoseconds) / 1e9, rss};
}

struct StartupFigures {
    double totalSeconds = 0;
    long runs = 0;
    long maxRssKiB = 0;
    double mean() const { return runs ? totalSeconds / double(runs) : 0; }
};
StartupFigures g_server;
StartupFigures g_baseline;

void measureStartup(benchmark::State &state, const char *program, std::vector<const char *> args,
                    StartupFigures &figures)
{
    figures = {};
    for (auto _ : state) {
        const ChildRun run = runOnDevNull(program, args);
        if (run.seconds == 0) {
            state.SkipWithError("cannot start the program");
            return;
        }
        state.SetIterationTime(run.seconds);
        figures.totalSeconds += run.seconds;
        ++figures.runs;
        figures.maxRssKiB = std::max(figures.maxRssKiB, run.maxRssKiB);
    }
    state.counters["peak_rss_MiB"] = double(figures.maxRssKiB) / 1024.0;
}

void BM_StartupServeMcp(benchmark::State &state)
{
    measureStartup(state, kPennora, {"--serve-mcp"}, g_server);
}
BENCHMARK(BM_StartupServeMcp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_StartupQtCoreYardstick(benchmark::State &state)
{
    measureStartup(state, kBaseline, {}, g_baseline);
}
BENCHMARK(BM_StartupQtCoreYardstick)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// One `pennora --serve-mcp` process, called one line at a time.
class ServerProcess {
public:
    ServerProcess()
    {
        int toChild[2];
        int fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
        const char *args[] = {kPennora, "--serve-mcp", nullptr};
        if (posix_spawn(&m_pid, kPennora, &actions, nullptr, const_cast<char **>(args), environ) != 0)
            m_pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_in = toChild[1];
        m_out = fromChild[0];
    }
    ~ServerProcess()
    {
        if (m_in >= 0)
            ::close(m_in);
        ::close(m_out);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    bool started() const { return m_pid > 0; }
    int input() const { return m_in; }
    int output() const { return m_out; }
    // Ends the server's input: it answers what it has read, then exits.
    void closeInput()
    {
        ::close(m_in);
        m_in = -1;
    }

    // Writes one request line and reads its reply line. Requests here are
    // small enough for the pipe, so writing first cannot stall.
    QByteArray call(const QByteArray &request)
    {
        const QByteArray line = request + '\n';
        for (qsizetype done = 0; done < line.size();) {
            const ssize_t n = ::write(m_in, line.constData() + done, size_t(line.size() - done));
            if (n <= 0)
                return {};
            done += n;
        }
        QByteArray reply;
        char buffer[64 * 1024];
        while (!reply.endsWith('\n')) {
            const ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n <= 0)
                return {};
            reply.append(buffer, n);
        }
        return reply;
    }

private:
    pid_t m_pid = 0;
    int m_in = -1;
    int m_out = -1;
};

// 10,000 pings written by one thread while this one reads the replies, so
// neither pipe can fill up and stall the other side.
void BM_TenThousandPings(benchmark::State &state)
{
    constexpr int kPings = 10000;
    QByteArray input;
    for (int i = 0; i < kPings; ++i)
        input += "{\"jsonrpc\":\"2.0\",\"id\":" + QByteArray::number(i) + ",\"method\":\"ping\"}\n";

    for (auto _ : state) {
        ServerProcess server;
        if (!server.started()) {
            state.SkipWithError("cannot start pennora");
            return;
        }

        std::thread writer([&] {
            const char *p = input.constData();
            qsizetype left = input.size();
            while (left > 0) {
                const ssize_t n = ::write(server.input(), p, size_t(left));
                if (n <= 0)
                    break;
                p += n;
                left -= n;
            }
            server.closeInput();
        });
        int replies = 0;
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(server.output(), buffer, sizeof buffer);
            if (n <= 0)
                break;
            replies += int(std::count(buffer, buffer + n, '\n'));
        }
        writer.join();
        if (replies != kPings) {
            state.SkipWithError("wrong number of replies");
            return;
        }
    }
}
BENCHMARK(BM_TenThousandPings)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

QString writePiece(const QString &home, const QString &name, int words)
{
    const QString folder = home + "/projects/Bench/" + name;
    QDir().mkpath(folder);
    QFile post(folder + "/post.md");
    post.open(QIODevice::WriteOnly);
    post.write("---\ntitle: " + name.toUtf8() + "\ntype: post\n---\n\n");
    post.write(testsupport::syntheticProse(words, 11).toUtf8());
    post.close();
    return folder;
}

QByteArray toolCall(const char *tool, const QJsonObject &arguments)
{
    const QJsonObject request{{"jsonrpc", "2.0"},
                              {"id", 1},
                              {"method", "tools/call"},
                              {"params", QJsonObject{{"name", tool}, {"arguments", arguments}}}};
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

bool isToolSuccess(const QByteArray &reply)
{
    return reply.startsWith("{\"id\":1,") && !reply.contains("\"isError\":true");
}

// Whole calls through a running server: request out, reply back.
void BM_SubmitTenCardsOn300KBPiece(benchmark::State &state)
{
    QTemporaryDir home;
    const QString piece = writePiece(home.path(), "long-piece", 50000);
    QFile post(piece + "/post.md");
    post.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(post.readAll());
    state.counters["piece_KB"] = double(text.toUtf8().size()) / 1000.0;

    QJsonArray cards;
    for (int i = 0; i < 10; ++i) {
        // Quotes from late in the text make the anchor search walk most of it.
        const QString quote = text.mid(text.size() - 2000 + i * 150, 40);
        cards.append(QJsonObject{{"pattern", QString("Pattern %1").arg(i)},
                                 {"problem", "A problem worth a card."},
                                 {"anchor", QJsonObject{{"quote", quote}}},
                                 {"lane", i % 2 ? "mechanical" : "demonstration"},
                                 {"emitter", "engine"},
                                 {"fix", "replacement"}});
    }
    const QByteArray line = toolCall("submit_fix_cards", {{"piece_path", piece}, {"cards", cards}});

    ServerProcess server;
    if (!server.started()) {
        state.SkipWithError("cannot start pennora");
        return;
    }
    for (auto _ : state) {
        const QByteArray reply = server.call(line);
        state.PauseTiming();
        if (!isToolSuccess(reply) || reply.count("anchor_status") != 10)
            state.SkipWithError("the call failed");
        QDir(piece + "/cards").removeRecursively();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SubmitTenCardsOn300KBPiece)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Query500Learnings(benchmark::State &state)
{
    QTemporaryDir home;
    const QString piece = writePiece(home.path(), "short-piece", 500);
    const QString folder = home.path() + "/learnings/posts";
    QDir().mkpath(folder);
    const QByteArray body = testsupport::syntheticProse(400, 5).toUtf8();
    for (int i = 0; i < 500; ++i) {
        QFile learning(folder + QString("/20260101-pattern-%1.md").arg(i, 3, 10, QLatin1Char('0')));
        learning.open(QIODevice::WriteOnly);
        const QByteArray text = "---\npattern: Pattern " + QByteArray::number(i)
                                + "\nproblem: A problem.\nlane: mechanical\nemitter: engine\npromoted: 2026-01-01\n"
                                  "---\n\n# Pattern\n\n"
                                + body;
        learning.write(text.left(2047) + "\n");
        learning.close();
    }
    const QByteArray line = toolCall("query_learnings", {{"piece_path", piece}});

    ServerProcess server;
    if (!server.started()) {
        state.SkipWithError("cannot start pennora");
        return;
    }
    for (auto _ : state) {
        const QByteArray reply = server.call(line);
        if (!isToolSuccess(reply))
            state.SkipWithError("the call failed");
        state.counters["reply_KB"] = double(reply.size()) / 1000.0;
    }
}
BENCHMARK(BM_Query500Learnings)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_server.runs && g_baseline.runs) {
        std::printf("start-up: pennora --serve-mcp %.2f ms, QtCore yardstick %.2f ms, ratio %.2f; "
                    "peak RSS %.1f MiB (yardstick %.1f MiB)\n",
                    g_server.mean() * 1000, g_baseline.mean() * 1000, g_server.mean() / g_baseline.mean(),
                    double(g_server.maxRssKiB) / 1024.0, double(g_baseline.maxRssKiB) / 1024.0);
    }
    return 0;
}
