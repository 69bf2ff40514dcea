// The application's start-up: launch to the first shown main window of the
// real executable, against a bare Qt Widgets window launched the same way,
// whole process, side by side. The target: within 1.5 times the yardstick.
// The same window with one label is measured too, for what text alone costs.
// And the library's weight: a 10,000-piece Home against an empty one, within
// 1.2 times.

#include "libraryhome.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char *const kPennora = PENNORA_BINARY;
const char *const kBare = BARE_WINDOW_BINARY;
const char *const kBareText = BARE_TEXT_WINDOW_BINARY;

// Seconds from the spawn to the "shown" line; the process is then ended.
// Negative when the line never came.
double launchToShown(const char *program, const std::string &home)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        for (const char *drop :
             {"HOME=", "XDG_DATA_HOME=", "XDG_CONFIG_HOME=", "QT_QPA_PLATFORM=", "XCTestConfigurationFilePath="}) {
            if (entry.rfind(drop, 0) == 0)
                goto skip;
        }
        env.push_back(entry);
    skip:;
    }
    env.push_back("HOME=" + home);
    env.push_back("XDG_DATA_HOME=" + home + "/.local/share");
    env.push_back("XDG_CONFIG_HOME=" + home + "/.config");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("PENNORA_STARTUP_MARK=1");
    std::vector<char *> envp;
    for (std::string &entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program), nullptr};

    int out[2];
    if (::pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[64];
    ssize_t n = 0;
    while (spawned == 0 && text.find("shown\n") == std::string::npos && (n = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    const auto end = std::chrono::steady_clock::now();
    ::close(out[0]);
    if (spawned != 0)
        return -1;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (text.find("shown\n") == std::string::npos)
        return -1;
    return std::chrono::duration<double>(end - start).count();
}

double g_pennora = 0, g_bare = 0, g_bareText = 0;
long g_pennoraRuns = 0, g_bareRuns = 0, g_bareTextRuns = 0;

void measure(benchmark::State &state, const char *program, double &total, long &runs)
{
    QTemporaryDir home;
    for (auto _ : state) {
        const double seconds = launchToShown(program, home.path().toStdString());
        if (seconds < 0) {
            state.SkipWithError("no shown window");
            return;
        }
        state.SetIterationTime(seconds);
        total += seconds;
        ++runs;
    }
}

void BM_StartupBareWindow(benchmark::State &state)
{
    measure(state, kBare, g_bare, g_bareRuns);
}

void BM_StartupBareWindowWithText(benchmark::State &state)
{
    measure(state, kBareText, g_bareText, g_bareTextRuns);
    if (g_bareRuns && g_bareTextRuns)
        state.counters["ratio_to_bare"] = (g_bareText / double(g_bareTextRuns)) / (g_bare / double(g_bareRuns));
}

void BM_StartupPennora(benchmark::State &state)
{
    measure(state, kPennora, g_pennora, g_pennoraRuns);
    if (g_bareRuns && g_pennoraRuns)
        state.counters["ratio_to_bare"] = (g_pennora / double(g_pennoraRuns)) / (g_bare / double(g_bareRuns));
    if (g_bareTextRuns && g_pennoraRuns)
        state.counters["ratio_to_text"] = (g_pennora / double(g_pennoraRuns)) / (g_bareText / double(g_bareTextRuns));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The three launched in turn within each round, the order rotating, so that
// drift in the machine's load weighs on all of them alike. The iteration time
// is Pennora's; the counters are medians in milliseconds.
void BM_StartupSideBySide(benchmark::State &state)
{
    QTemporaryDir home;
    const char *const programs[] = {kBare, kBareText, kPennora};
    std::vector<double> times[3];
    long round = 0;
    for (auto _ : state) {
        double pennora = 0;
        for (int k = 0; k < 3; ++k) {
            const int which = int((round + k) % 3);
            const double seconds = launchToShown(programs[which], home.path().toStdString());
            if (seconds < 0) {
                state.SkipWithError("no shown window");
                return;
            }
            times[which].push_back(seconds * 1000);
            if (which == 2)
                pennora = seconds;
        }
        state.SetIterationTime(pennora);
        ++round;
    }
    const double bare = median(times[0]), text = median(times[1]), pennora = median(times[2]);
    state.counters["bare_ms"] = bare;
    state.counters["text_ms"] = text;
    state.counters["pennora_ms"] = pennora;
    state.counters["ratio_to_bare"] = pennora / bare;
    state.counters["ratio_to_text"] = pennora / text;
}

// A fresh user whose stored Home is folder.
void storeHome(const QString &user, const QString &folder)
{
    QSettings settings(user + "/.config/Pennora/Pennora.conf", QSettings::IniFormat);
    settings.setValue("pennoraHome", QUrl::fromLocalFile(QDir::cleanPath(folder) + '/').toString(QUrl::FullyEncoded));
}

// Launch to the first shown window with an empty Home and with the 10,000
// pieces of bench/libraryhome, in turn within each round, the order rotating.
// The iteration time is the large Home's; the counters are medians in
// milliseconds. PENNORA_BEFORE_BINARY may name another build (an earlier
// one) to launch on the same two Homes in the same rounds, for a before and
// after in one run.
void BM_StartupLibrarySideBySide(benchmark::State &state)
{
    const bench::LibraryHome &library = bench::tenThousandPieceHome();
    QTemporaryDir emptyUser, libraryUser;
    storeHome(libraryUser.path(), library.path);
    const std::string empty = emptyUser.path().toStdString(), full = libraryUser.path().toStdString();
    struct Launch {
        std::string program;
        const std::string *home;
        const char *counter;
        std::vector<double> times;
    };
    std::vector<Launch> launches{{kPennora, &empty, "empty_ms", {}}, {kPennora, &full, "library_ms", {}}};
    if (const char *before = std::getenv("PENNORA_BEFORE_BINARY"); before && *before) {
        launches.push_back({before, &empty, "before_empty_ms", {}});
        launches.push_back({before, &full, "before_library_ms", {}});
    }
    const size_t count = launches.size();
    long round = 0;
    for (auto _ : state) {
        double timed = 0;
        for (size_t k = 0; k < count; ++k) {
            Launch &launch = launches[(size_t(round) + k) % count];
            const double seconds = launchToShown(launch.program.c_str(), *launch.home);
            if (seconds < 0) {
                state.SkipWithError("no shown window");
                return;
            }
            launch.times.push_back(seconds * 1000);
            if (&launch == &launches[1])
                timed = seconds;
        }
        state.SetIterationTime(timed);
        ++round;
    }
    for (const Launch &launch : launches)
        state.counters[launch.counter] = median(launch.times);
    state.counters["ratio_library_to_empty"] = median(launches[1].times) / median(launches[0].times);
    if (count == 4)
        state.counters["before_ratio_library_to_empty"] = median(launches[3].times) / median(launches[2].times);
}

} // namespace

BENCHMARK(BM_StartupLibrarySideBySide)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_StartupSideBySide)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(21);
BENCHMARK(BM_StartupBareWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_StartupBareWindowWithText)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_StartupPennora)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

BENCHMARK_MAIN();
