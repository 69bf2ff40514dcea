#pragma once
// The one runner of short outside commands: start a program, hand it an
// optional input, collect its output, and stop it (with everything it
// started) when it overruns its time-out.

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace foundation::process {

struct RunResult {
    // The exit code, the signal number for a child ended by a signal, or -1
    // when nothing could be run or the time-out passed.
    int status = -1;
    QString standardOutput; // strict UTF-8; empty when the bytes are not UTF-8
    QString standardError;
    bool operator==(const RunResult &) const = default;
};

// How long a child (and its process group) has between SIGTERM and SIGKILL.
inline constexpr std::chrono::milliseconds kKillGrace{500};

// Runs arguments[0] (a file path, never looked up on PATH) with the rest as
// its arguments, in its own process group, with the environment and working
// folder of this process. input, when given, is written to its standard input
// (UTF-8) while its output is read; without it, standard input is the null
// device. Both outputs are drained while the child runs.
//
// The deadline, timeout after the start, covers the reads too: a child
// still running then gets SIGTERM to its group, SIGKILL 0.5 s later, and the
// result is status -1 with the standard error "timed out after N s" (N whole
// seconds, truncated). Output still held open by what the child left behind
// when it ended is read until the deadline; then that group is stopped the
// same way and the child's own status is kept.
//
// A first argument that is not an executable file, or a failed start, gives
// status -1 with empty texts. Blocks; never call it on the main thread.
// Never throws.
RunResult run(const QStringList &arguments, const std::optional<QString> &input, std::chrono::milliseconds timeout);

} // namespace foundation::process
