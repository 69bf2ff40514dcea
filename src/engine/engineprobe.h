#pragma once
// The engine check: the discovery of a working engine executable and the
// record of its last outcome (state.json in the application data folder).
// Short commands run through the process runner of foundation.

#include "foundation/processrunner.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <variant>

namespace engine {

// The outcome of one discovery.
struct EngineCheckResult {
    struct Pass {
        QString version;
        QString binaryPath; // the executable that answered
        bool operator==(const Pass &) const = default;
    };
    struct Fail {
        QString firstProbePath; // the first candidate, tilde expanded; empty without candidates
        QString stderrExcerpt;  // the whole standard error of its check
        bool operator==(const Fail &) const = default;
    };
    std::variant<Pass, Fail> value;

    bool isPass() const { return std::holds_alternative<Pass>(value); }
    bool operator==(const EngineCheckResult &) const = default;
};

namespace EngineProbe {

// The check record as state.json holds it. Keys are the field names.
struct StateRecord {
    qint64 schemaVersion = 1;
    QString status; // "pass" or "fail"
    QString checkedAt;
    std::optional<QString> engineVersion;
    std::optional<QString> binaryPath;
    std::optional<QString> firstProbePath;
    std::optional<QString> stderrExcerpt; // at most 500 characters

    // The record of a result, checked now.
    static StateRecord forResult(const EngineCheckResult &result);
    // Compact JSON; absent fields are left out.
    QByteArray encode() const;
    // schemaVersion (a whole number), status and checkedAt are required, the
    // rest may be missing; unknown members are ignored. None otherwise.
    static std::optional<StateRecord> decode(const QByteArray &json);
    bool operator==(const StateRecord &) const = default;
};

inline constexpr const char *kStateFileName = "state.json";

// The program's process runner (see foundation/processrunner.h).
using foundation::process::run;
using foundation::process::RunResult;

// The engine's usual places, in the order the discovery tries them.
QStringList defaultCandidates();

// The login shell asked for the engine when no candidate answers: the
// user's account entry, then $SHELL, then /bin/sh.
QString userLoginShell();

// Runs "<candidate> acp --check" for each candidate (a leading "~" expanded)
// until one ends with status 0, then, when none did and useLoginShell is set,
// the path that "<shell> -l -c 'command -v hermes'" prints (the last line of
// its output that is an absolute path: a profile may print more). The engine found
// is asked "acp --version" ("unknown" when that fails). Otherwise the result
// is a failure naming the first candidate and its check's standard error.
// The record of the result goes to stateFolder (the application data folder
// when none) before it is returned. loginShell replaces userLoginShell()
// (tests). Blocks; run it off the main thread.
EngineCheckResult probe(const QStringList &candidates, bool useLoginShell, const std::optional<QString> &stateFolder,
                        std::chrono::milliseconds checkTimeout,
                        const std::optional<QString> &loginShell = std::nullopt);

// Writes state.json for result into folder (the application data folder when
// none), creating the folder first. Every failure is ignored: the old record
// then stays as it was.
void writeStateRecord(const EngineCheckResult &result, const std::optional<QString> &folder = std::nullopt);

// The record in folder (the application data folder when none); none when the
// file is missing or cannot be decoded.
std::optional<StateRecord> readStateRecord(const std::optional<QString> &folder = std::nullopt);

} // namespace EngineProbe
} // namespace engine
