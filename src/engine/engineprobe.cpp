#include "engine/engineprobe.h"

#include "foundation/fs.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <QFile>

#include <exception>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace engine::EngineProbe {

using namespace Qt::StringLiterals;

namespace {

// The login shell and the version query get a fixed time-out; the checks get
// the caller's.
constexpr std::chrono::milliseconds kLoginShellTimeout = std::chrono::seconds(10);
constexpr std::chrono::milliseconds kVersionTimeout = std::chrono::seconds(10);

RunResult runEngine(const QString &path, const QString &option, std::chrono::milliseconds timeout)
{
    return run({path, u"acp"_s, option}, std::nullopt, timeout);
}

bool answersCheck(const QString &path, std::chrono::milliseconds checkTimeout)
{
    return runEngine(path, u"--check"_s, checkTimeout).status == 0;
}

// The path the login shell finds, empty when none. A profile may print a
// greeting or a notice around the answer, so the answer is the last line that
// is an absolute path. A relative answer (from a PATH entry like ".") would
// name whatever lies in the folder the application runs in, so it never counts.
QString askLoginShell(const QString &shell)
{
    const RunResult lookup = run({shell, u"-l"_s, u"-c"_s, u"command -v hermes"_s}, std::nullopt, kLoginShellTimeout);
    const QStringList lines = foundation::text::splitLines(lookup.standardOutput);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString path = foundation::text::trimSpacesAndNewlines(*line);
        if (path.startsWith(u'/'))
            return path;
    }
    return {};
}

EngineCheckResult passFor(const QString &path)
{
    const RunResult version = runEngine(path, u"--version"_s, kVersionTimeout);
    return {EngineCheckResult::Pass{
        version.status == 0 ? foundation::text::trimSpacesAndNewlines(version.standardOutput) : u"unknown"_s, path}};
}

EngineCheckResult discover(const QStringList &candidates, bool useLoginShell, std::chrono::milliseconds checkTimeout,
                           const std::optional<QString> &loginShell)
{
    EngineCheckResult::Fail firstFailure;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const QString path = foundation::paths::expandTilde(candidates.at(i));
        const RunResult check = runEngine(path, u"--check"_s, checkTimeout);
        if (i == 0)
            firstFailure = {path, check.standardError};
        if (check.status == 0)
            return passFor(path);
    }
    if (useLoginShell) {
        const QString found = askLoginShell(loginShell.value_or(userLoginShell()));
        if (!found.isEmpty() && answersCheck(found, checkTimeout))
            return passFor(found);
    }
    return {firstFailure};
}

} // namespace

QStringList defaultCandidates()
{
    return {
        u"~/.local/bin/hermes"_s,      u"~/.local/bin/hermes-acp"_s, u"~/.hermes/hermes-agent/venv/bin/hermes"_s,
        u"/opt/homebrew/bin/hermes"_s, u"/usr/local/bin/hermes"_s,   u"/usr/local/lib/hermes-agent/venv/bin/hermes"_s,
    };
}

QString userLoginShell()
{
    // getpwuid_r: the probe runs on worker threads.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_shell
        && *found->pw_shell)
        return QFile::decodeName(found->pw_shell);
    const QByteArray shell = qgetenv("SHELL");
    if (!shell.isEmpty())
        return QFile::decodeName(shell);
    return u"/bin/sh"_s;
}

EngineCheckResult probe(const QStringList &candidates, bool useLoginShell, const std::optional<QString> &stateFolder,
                        std::chrono::milliseconds checkTimeout, const std::optional<QString> &loginShell)
{
    const EngineCheckResult result = discover(candidates, useLoginShell, checkTimeout, loginShell);
    writeStateRecord(result, stateFolder);
    return result;
}

void writeStateRecord(const EngineCheckResult &result, const std::optional<QString> &folder)
{
    try {
        const QString target = folder.value_or(foundation::paths::appDataDir());
        foundation::fs::makePath(target);
        foundation::fs::atomicWrite(target + u'/' + QLatin1String(kStateFileName),
                                    StateRecord::forResult(result).encode());
    } catch (const std::exception &) {
        // The previous record stays; the next check writes again.
    }
}

} // namespace engine::EngineProbe
