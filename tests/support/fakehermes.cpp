// A scriptable stand-in for the Hermes agent, built as "hermes" in its own
// folder (tests/support/fake-hermes/) of the build tree. Tests only.
//
// Environment
//   FAKE_HERMES_SCENARIO  path of the scenario file (JSON, below); unset or
//                         unreadable means the defaults. A file named as the
//                         stand-in was started plus ".json" (argv[0] + ".json",
//                         beside a link to it) takes its place, so links at
//                         several paths can each play their own scenario.
//   FAKE_HERMES_LOG       path of a log file. Every run appends JSON lines:
//                           {"event":"run","args":[...],"path":argv[0],"pid":N,"pgid":N}
//                                                                           at start
//                           {"event":"grandchild","pid":N}                 a child left behind ("grandchildMs")
//                           {"event":"received","profile":P,"line":L}      each line read in acp mode
//                           {"event":"stdin","data":D}                     a command's whole input ("readStdin")
//                           {"event":"eof","profile":P}                    input ended in acp mode
//
// Scenario file
//   {
//     "commands": [ COMMAND, ... ],      // tried first, in order
//     "check":    COMMAND,               // `acp --check`   (default: status 0, "ok")
//     "version":  COMMAND,               // `acp --version` (default: status 0, "hermes 0.0.0-fake")
//     "acp":      SESSION,               // `acp -p <profile>` for any profile
//     "profiles": { "<profile>": SESSION, ... }   // replaces "acp" for that profile
//   }
//   COMMAND = {"args": [...], "prefix": false, "exit": 0, "stdout": "", "stderr": "",
//              "sleepMs": 0, "readStdin": false, "repeat": 1, "stdoutHex": "",
//              "ignoreSigterm": false, "grandchildMs": 0, "signal": 0}
//     "args" (only in "commands") must equal the command line, or begin it
//     when "prefix" is true. A command line nothing matches ends with status
//     2 and a message on standard error. In order: SIGTERM is ignored when
//     "ignoreSigterm"; the input is read; the sleep; "stdout" written "repeat"
//     times, then the bytes of "stdoutHex" (hex digits, for bytes that are not
//     UTF-8); "stderr"; with "grandchildMs", a child that keeps standard
//     output and error open for that long and then exits; the end, by
//     "signal" when it is not 0, else with "exit".
//   SESSION = {"steps": [STEP, ...], "answers": {"<method>": ANSWER, ...}}
//     The steps run in order; afterwards the stand-in keeps reading and
//     answering until its input ends, then exits with status 0. Lines that no
//     "expect" step takes are answered from "answers" when they are requests
//     of a listed method, and otherwise only logged.
//   ANSWER = {"result": R} | {"error": E}, optionally with "updates": [P, ...]
//     sent first as "session/update" notifications with params P.
//   STEP, one key naming its kind:
//     {"expect": "<method>" or "*", "count": 1}   wait for that many matching lines
//                                                  ("*": any line); the last one's
//                                                  id is what "reply" answers (a
//                                                  line without an id, such as a
//                                                  notification, keeps the earlier)
//     {"reply": R}                 answer the last expected request with "result": R
//     {"replyError": E}            answer it with "error": E
//     {"send": V}                  V as one compact line
//     {"raw": "text" or ["a","b"], "pauseMs": 100}
//                                  bytes as given, one write per piece, pausing between
//     {"junk": N, "byte": "x", "chunk": 4096, "lf": false}
//                                  N bytes without a line feed, in writes of "chunk"
//                                  bytes, then one line feed when "lf"
//     {"stderr": "text"}           bytes to standard error as given
//     {"sleepMs": N}
//     {"closeStdout": true}        close standard output and carry on
//     {"ignoreSigterm": true}
//     {"exit": N}                  end at once with status N
//     {"signal": N}                end by signal N
//   An unknown step kind ends the run with status 3 and a message on standard
//   error, so a scenario never skips silently. New kinds (the engine's
//   profile, config and mcp commands with state, a step that starts
//   `pennora --serve-mcp` and calls its tools) are added as new keys.

#include "foundation/json.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

QJsonObject g_scenario;
QString g_profile;

void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // the reader has gone; nothing more to say
        }
        done += n;
    }
}

void sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void logEvent(QJsonObject event)
{
    const QByteArray path = qgetenv("FAKE_HERMES_LOG");
    if (path.isEmpty())
        return;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, foundation::json::compact(event) + '\n');
    ::close(fd);
}

void fail(int status, const QString &message)
{
    writeAll(STDERR_FILENO, ("fakehermes: " + message + "\n").toUtf8());
    ::_exit(status);
}

void endBySignal(int sig)
{
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    ::_exit(128 + sig);
}

// A child that holds the inherited output pipes open, in the same process
// group, and ends by itself.
void leaveGrandchild(int ms)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        sleepMs(ms);
        ::_exit(0);
    }
    if (pid > 0)
        logEvent({{"event", "grandchild"}, {"pid", qint64(pid)}});
}

int runCommand(const QJsonObject &command)
{
    if (command.value("ignoreSigterm").toBool())
        ::signal(SIGTERM, SIG_IGN);
    if (command.value("readStdin").toBool()) {
        QByteArray input;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(STDIN_FILENO, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0)
                input.append(buf, n);
        logEvent({{"event", "stdin"}, {"data", QString::fromUtf8(input)}});
    }
    sleepMs(command.value("sleepMs").toInt());
    const QByteArray out = command.value("stdout").toString().toUtf8();
    for (int i = command.value("repeat").toInt(1); i > 0; --i)
        writeAll(STDOUT_FILENO, out);
    writeAll(STDOUT_FILENO, QByteArray::fromHex(command.value("stdoutHex").toString().toLatin1()));
    writeAll(STDERR_FILENO, command.value("stderr").toString().toUtf8());
    if (const int ms = command.value("grandchildMs").toInt(); ms > 0)
        leaveGrandchild(ms);
    if (const int sig = command.value("signal").toInt(); sig > 0)
        endBySignal(sig);
    return command.value("exit").toInt();
}

bool argsMatch(const QJsonObject &command, const QStringList &args)
{
    const QJsonArray want = command.value("args").toArray();
    const bool prefix = command.value("prefix").toBool();
    if (want.size() > args.size() || (!prefix && want.size() != args.size()))
        return false;
    for (qsizetype i = 0; i < want.size(); ++i)
        if (want.at(i).toString() != args.at(i))
            return false;
    return true;
}

// Line reader over standard input.
class Input {
public:
    std::optional<QByteArray> readLine()
    {
        for (;;) {
            const qsizetype lf = m_buffer.indexOf('\n');
            if (lf >= 0) {
                QByteArray line = m_buffer.left(lf);
                m_buffer.remove(0, lf + 1);
                logEvent({{"event", "received"}, {"profile", g_profile}, {"line", QString::fromUtf8(line)}});
                return line;
            }
            char buf[65536];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                logEvent({{"event", "eof"}, {"profile", g_profile}});
                return std::nullopt;
            }
            m_buffer.append(buf, n);
        }
    }

private:
    QByteArray m_buffer;
};

void sendLine(const QJsonValue &value)
{
    writeAll(STDOUT_FILENO, foundation::json::compact(value) + '\n');
}

void answer(const QJsonValue &id, const QString &member, const QJsonValue &value)
{
    sendLine(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {member, value}});
}

class Session {
public:
    explicit Session(QJsonObject session) : m_session(std::move(session)) {}

    void run()
    {
        for (const QJsonValue &step : m_session.value("steps").toArray())
            runStep(step.toObject());
        while (const std::optional<QByteArray> line = m_input.readLine())
            handleUnexpected(*line);
        ::_exit(0);
    }

private:
    QByteArray nextLineOrExit()
    {
        std::optional<QByteArray> line = m_input.readLine();
        if (!line)
            ::_exit(0);
        return *line;
    }

    // Answers a request from the table; other lines are only logged.
    void handleUnexpected(const QByteArray &line)
    {
        const QJsonObject message = QJsonDocument::fromJson(line).object();
        const QString method = message.value("method").toString();
        if (method.isEmpty() || !message.contains("id"))
            return;
        const QJsonObject entry = m_session.value("answers").toObject().value(method).toObject();
        if (entry.isEmpty())
            return;
        for (const QJsonValue &params : entry.value("updates").toArray())
            sendLine(QJsonObject{{"jsonrpc", "2.0"}, {"method", "session/update"}, {"params", params}});
        if (entry.contains("error"))
            answer(message.value("id"), "error", entry.value("error"));
        else
            answer(message.value("id"), "result", entry.value("result"));
    }

    void expect(const QString &method, int count)
    {
        while (count > 0) {
            const QByteArray line = nextLineOrExit();
            const QJsonObject message = QJsonDocument::fromJson(line).object();
            if (method == "*" || message.value("method").toString() == method) {
                if (message.contains("id"))
                    m_lastId = message.value("id");
                --count;
            } else {
                handleUnexpected(line);
            }
        }
    }

    void runStep(const QJsonObject &step)
    {
        if (step.contains("expect")) {
            expect(step.value("expect").toString(), step.value("count").toInt(1));
        } else if (step.contains("reply")) {
            answer(m_lastId, "result", step.value("reply"));
        } else if (step.contains("replyError")) {
            answer(m_lastId, "error", step.value("replyError"));
        } else if (step.contains("send")) {
            sendLine(step.value("send"));
        } else if (step.contains("raw")) {
            const QJsonValue raw = step.value("raw");
            QStringList pieces;
            if (raw.isArray())
                for (const QJsonValue &piece : raw.toArray())
                    pieces << piece.toString();
            else
                pieces << raw.toString();
            for (qsizetype i = 0; i < pieces.size(); ++i) {
                if (i > 0)
                    sleepMs(step.value("pauseMs").toInt(100));
                writeAll(STDOUT_FILENO, pieces.at(i).toUtf8());
            }
        } else if (step.contains("junk")) {
            qint64 left = step.value("junk").toInteger();
            const qint64 chunk = qMax<qint64>(1, step.value("chunk").toInteger(4096));
            const QByteArray fillByte = step.value("byte").toString(QStringLiteral("x")).toLatin1();
            const char byte = fillByte.isEmpty() ? 'x' : fillByte.front();
            const QByteArray block(chunk, byte);
            while (left > 0) {
                const qint64 n = qMin(left, chunk);
                writeAll(STDOUT_FILENO, block.left(n));
                left -= n;
            }
            if (step.value("lf").toBool())
                writeAll(STDOUT_FILENO, "\n");
        } else if (step.contains("stderr")) {
            writeAll(STDERR_FILENO, step.value("stderr").toString().toUtf8());
        } else if (step.contains("sleepMs")) {
            sleepMs(step.value("sleepMs").toInt());
        } else if (step.contains("closeStdout")) {
            ::close(STDOUT_FILENO);
        } else if (step.contains("ignoreSigterm")) {
            ::signal(SIGTERM, SIG_IGN);
        } else if (step.contains("exit")) {
            ::_exit(step.value("exit").toInt());
        } else if (step.contains("signal")) {
            endBySignal(step.value("signal").toInt());
        } else {
            fail(3, "unknown step " + QString::fromUtf8(foundation::json::compact(step)));
        }
    }

    QJsonObject m_session;
    Input m_input;
    QJsonValue m_lastId;
};

} // namespace

int main(int argc, char **argv)
{
    // A client that goes away must end writes with an error, not a signal.
    ::signal(SIGPIPE, SIG_IGN);

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString self = QString::fromLocal8Bit(argv[0]);
    logEvent({{"event", "run"},
              {"args", QJsonArray::fromStringList(args)},
              {"path", self},
              {"pid", qint64(::getpid())},
              {"pgid", qint64(::getpgrp())}});

    QFile ownScenario(self + ".json");
    QFile sharedScenario(qEnvironmentVariable("FAKE_HERMES_SCENARIO"));
    for (QFile *file : {&ownScenario, &sharedScenario}) {
        if (file->open(QIODevice::ReadOnly)) {
            g_scenario = QJsonDocument::fromJson(file->readAll()).object();
            break;
        }
    }

    for (const QJsonValue &command : g_scenario.value("commands").toArray())
        if (argsMatch(command.toObject(), args))
            return runCommand(command.toObject());

    if (args == QStringList{"acp", "--check"}) {
        const QJsonObject check = g_scenario.value("check").toObject(QJsonObject{{"stdout", "ok\n"}});
        return runCommand(check);
    }
    if (args == QStringList{"acp", "--version"}) {
        const QJsonObject version =
            g_scenario.value("version").toObject(QJsonObject{{"stdout", "hermes 0.0.0-fake\n"}});
        return runCommand(version);
    }
    if (args.size() == 3 && args.at(0) == "acp" && args.at(1) == "-p") {
        g_profile = args.at(2);
        const QJsonObject profiles = g_scenario.value("profiles").toObject();
        Session session(profiles.contains(g_profile) ? profiles.value(g_profile).toObject()
                                                     : g_scenario.value("acp").toObject());
        session.run();
    }
    fail(2, "no scenario for: " + args.join(' '));
}
