// A scriptable stand-in for the Hermes agent, built as "hermes" in its own
// folder (tests/support/fake-hermes/) of the build tree. Tests only.
//
// Environment
//   FAKE_HERMES_SCENARIO  path of the scenario file (JSON, below); unset or
//                         unreadable means the defaults. A file named as the
//                         stand-in was started plus ".json" (argv[0] + ".json",
//                         beside a link to it) takes its place, so links at
//                         several paths can each play their own scenario.
//   FAKE_HERMES_PENNORA   path of the pennora executable whose tool server
//                         (`pennora --serve-mcp`) "toolCalls" drive.
//   FAKE_HERMES_LOG       path of a log file. Every run appends JSON lines:
//                           {"event":"run","args":[...],"path":argv[0],"pid":N,"pgid":N}
//                                                                           at start
//                           {"event":"grandchild","pid":N}                 a child left behind ("grandchildMs")
//                           {"event":"received","profile":P,"line":L}      each line read in acp mode
//                           {"event":"stdin","data":D}                     a command's whole input ("readStdin")
//                           {"event":"eof","profile":P}                    input ended in acp mode
//                           {"event":"toolResult","tool":T,"result":R}     the tool server's answer to a
//                                                                           tools/call ("error": E instead
//                                                                           when it answered with one)
//                           {"event":"toolServerExit","status":N}          the tool server ended (128 + signal
//                                                                           when killed)
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
//     sent first as "session/update" notifications with params P, and
//     "toolCalls": [TOOLCALL, ...] played next, as the engine calls our tool
//     server while it works on a prompt. Any other key, or an answer that is
//     no object, ends the run at its start with status 3 and a message on
//     standard error.
//   TOOLCALL = {"tool": "<name>", "title": "<title>", "arguments": {...}}
//     For each such request the stand-in starts `$FAKE_HERMES_PENNORA
//     --serve-mcp`, sends "initialize" and "notifications/initialized", then
//     one "tools/call" per entry in order, reading each answer line before
//     the next call. "arguments" (default {}) go as given; without
//     "piece_path" they get the path of the "Piece: <path>" line in the text
//     blocks of params "prompt" (a Pass instruction has one). Each answer is
//     logged ("toolResult") and streamed as a "session/update" with params
//       {"sessionId": <the request's>, "update": {"sessionUpdate": "tool_call",
//        "toolCallId": "call-N", "title": "title" or the tool name,
//        "status": "completed" | "failed", "rawInput": <the arguments sent>}}
//     N counts the run's calls from 1; "failed" is for an error answer or a
//     tool error. Then the server's input is closed, its end awaited (SIGKILL
//     after 10 s) and the scripted answer given. When the calls cannot be
//     made (no path for one, FAKE_HERMES_PENNORA unset, a server that does
//     not start, or gives no answer line within 30 s) the request is answered
//     {"error": {"code": -32000, "message": <the reason>}} instead. A
//     TOOLCALL without a string "tool", with another key, a title that is no
//     string or arguments that are no object ends the run at its start with
//     status 3.
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
//   error, so a scenario never skips silently.
//
// The engine's own command line, with state under $HOME/.hermes (the product
// reads and writes the same tree): a profile is the folder
// $HOME/.hermes/profiles/<profile>, its configuration config.json in it (one
// object of dotted keys and text values), its tool servers mcp.json.
//   profile create P [--no-alias] [--no-skills]
//       creates the folder: status 0 and "Profile 'P' created." on standard
//       output; status 1 and "Profile 'P' already exists." when it exists
//   -p P config set K V [--force]
//       status 0 and "✓ Set K = V"; a key outside model.provider,
//       model.default, model.reasoning_effort and model.base_url is refused
//       (status 1, "Unknown config key: K" on standard error) without --force
//   -p P config unset K
//       status 0 and "✓ Unset K"; status 1 and "Config key not set: K" on
//       standard error when it is not set
//   -p P config get K
//       status 0 and the bare value and a line feed; status 1 and "Config key
//       not set: K" on standard error when it is not set
//   -p P mcp list
//       one line per server, "  NAME  COMMAND ARGS...", after "MCP servers:";
//       "No MCP servers configured." without any
//   -p P mcp add NAME --command PATH --args A...
//       reads all of standard input (logged as "stdin") and takes one answer
//       line per question: "Add MCP server 'NAME'? [y/N]", and for a name
//       already registered "Server 'NAME' already exists. Replace it? [y/N]";
//       each must be "y" or "yes". Then status 0 and "Saved 'NAME'", else
//       status 1 and "Cancelled."
//   -p P gateway
//       writes gateway.pid ({"pid": N}) into the profile and waits for
//       SIGTERM, SIGINT or SIGHUP, which remove it and end with status 0
//   A missing profile (for -p) ends with status 1 and "Profile 'P' does not
//   exist." on standard error; a malformed command line with status 2.
//   Faults are scripted per command line in the scenario:
//     "faults": [FAULT, ...]   the first whose "args" match (as in "commands")
//   FAULT = {"args": [...], "prefix": false, "sleepMs": 0, "ignoreSigterm": false,
//            "warning": "", "stdout": "", "stderr": "", "exit": 0, "noEffect": false}
//     In order: SIGTERM is ignored when "ignoreSigterm"; the sleep; the
//     command runs (changing no state when "noEffect"); "warning" is written
//     to standard output before the command's own output; "stdout" and
//     "stderr", when present, replace the command's own texts; "exit", when
//     present, replaces its status. A "commands" entry replaces the command
//     altogether.

#include "foundation/json.h"
#include "foundation/lineframer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

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

// `pennora --serve-mcp` as a child on two pipes, asked one request at a time
// as the engine does.
class ToolServer {
public:
    ToolServer() = default;
    ToolServer(const ToolServer &) = delete;
    ToolServer &operator=(const ToolServer &) = delete;
    ~ToolServer() { finish(); }

    // Answers why it could not start, none when it runs.
    std::optional<QString> start(const QByteArray &program)
    {
        if (::access(program.constData(), X_OK) != 0)
            return QStringLiteral("cannot start the tool server %1: %2")
                .arg(QString::fromLocal8Bit(program), QString::fromLocal8Bit(std::strerror(errno)));
        int toServer[2];
        int fromServer[2];
        if (::pipe2(toServer, O_CLOEXEC) != 0)
            return QStringLiteral("cannot make a pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        if (::pipe2(fromServer, O_CLOEXEC) != 0) {
            ::close(toServer[0]);
            ::close(toServer[1]);
            return QStringLiteral("cannot make a pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        }
        char flag[] = "--serve-mcp";
        char *argv[] = {const_cast<char *>(program.constData()), flag, nullptr};
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(toServer[0], STDIN_FILENO);
            ::dup2(fromServer[1], STDOUT_FILENO);
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        ::close(toServer[0]);
        ::close(fromServer[1]);
        m_in = toServer[1];
        m_out = fromServer[0];
        if (m_pid < 0) {
            finish();
            return QStringLiteral("cannot fork: ") + QString::fromLocal8Bit(std::strerror(errno));
        }
        return std::nullopt;
    }

    // The answer to one request, none when the server ends or stays silent.
    std::optional<QJsonObject> request(const QString &method, const QJsonObject &params)
    {
        writeAll(m_in, foundation::json::compact(
                           QJsonObject{{"jsonrpc", "2.0"}, {"id", ++m_lastID}, {"method", method}, {"params", params}})
                           + '\n');
        const std::optional<QByteArray> line = readLine();
        if (!line)
            return std::nullopt;
        return foundation::json::parseObject(*line);
    }

    void notify(const QString &method)
    {
        writeAll(m_in, foundation::json::compact(QJsonObject{{"jsonrpc", "2.0"}, {"method", method}}) + '\n');
    }

    // Closes its input, as the engine does at the end of a turn, and reaps it.
    void finish()
    {
        if (m_in >= 0)
            ::close(std::exchange(m_in, -1));
        if (m_pid > 0) {
            int status = 0;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            pid_t done;
            while ((done = ::waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
                sleepMs(10);
            if (done == 0) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
            }
            logEvent({{"event", "toolServerExit"},
                      {"status", WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status)}});
            m_pid = -1;
        }
        if (m_out >= 0)
            ::close(std::exchange(m_out, -1));
    }

private:
    std::optional<QByteArray> readLine()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_lines.empty()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{m_out, POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&fd, 1, int(left.count())) : 0;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return std::nullopt;
            char buf[65536];
            const ssize_t n = ::read(m_out, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return std::nullopt;
            m_framer.feed(QByteArrayView(buf, n),
                          [this](QByteArrayView line) { m_lines.push_back(line.toByteArray()); });
        }
        QByteArray line = std::move(m_lines.front());
        m_lines.pop_front();
        return line;
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    qint64 m_lastID = 0;
    // A query_learnings answer runs to megabytes.
    foundation::LineFramer m_framer{64 * 1024 * 1024};
    std::deque<QByteArray> m_lines;
};

// The path of the prompt's "Piece: " line, none without one.
std::optional<QString> promptPiece(const QJsonObject &params)
{
    for (const QJsonValue &block : params.value("prompt").toArray())
        for (const QString &line : block.toObject().value("text").toString().split(u'\n'))
            if (line.startsWith(QStringLiteral("Piece: ")))
                return line.mid(7);
    return std::nullopt;
}

// Refuses, at the start, an answer the stand-in would not play as written.
void checkAnswer(const QString &method, const QJsonValue &entry)
{
    const auto refuse = [&](const QString &what) { fail(3, "answer for " + method + ": " + what); };
    if (!entry.isObject())
        refuse(QStringLiteral("not an object"));
    const QJsonObject answer = entry.toObject();
    for (const QString &key : answer.keys())
        if (!QStringList{"result", "error", "updates", "toolCalls"}.contains(key))
            refuse("unknown key " + key);
    if (!answer.contains("toolCalls"))
        return;
    if (!answer.value("toolCalls").isArray())
        refuse(QStringLiteral("toolCalls is not an array"));
    for (const QJsonValue &call : answer.value("toolCalls").toArray()) {
        const QString text = QString::fromUtf8(foundation::json::compact(call));
        const QJsonObject object = call.toObject();
        if (!call.isObject() || !object.value("tool").isString())
            refuse("tool call without a tool: " + text);
        for (const QString &key : object.keys())
            if (!QStringList{"tool", "title", "arguments"}.contains(key))
                refuse("unknown key " + key + " in tool call " + text);
        if (object.contains("title") && !object.value("title").isString())
            refuse("title is not a string in " + text);
        if (object.contains("arguments") && !object.value("arguments").isObject())
            refuse("arguments are not an object in " + text);
    }
}

class Session {
public:
    explicit Session(QJsonObject session) : m_session(std::move(session)) {}

    void run()
    {
        const QJsonObject answers = m_session.value("answers").toObject();
        for (auto it = answers.begin(); it != answers.end(); ++it)
            checkAnswer(it.key(), it.value());
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
        if (entry.contains("toolCalls")) {
            const QJsonObject params = message.value("params").toObject();
            if (const std::optional<QString> failure = callTools(params, entry.value("toolCalls").toArray())) {
                answer(message.value("id"), "error", QJsonObject{{"code", -32000}, {"message", *failure}});
                return;
            }
        }
        if (entry.contains("error"))
            answer(message.value("id"), "error", entry.value("error"));
        else
            answer(message.value("id"), "result", entry.value("result"));
    }

    // Plays the scripted calls against the real tool server, streaming each
    // as a tool_call update; answers why they could not be played.
    std::optional<QString> callTools(const QJsonObject &params, const QJsonArray &calls)
    {
        // Every call's arguments first, so that a prompt without its piece
        // starts no server.
        QList<QJsonObject> arguments;
        const std::optional<QString> piece = promptPiece(params);
        for (const QJsonValue &call : calls) {
            QJsonObject args = call.toObject().value("arguments").toObject();
            if (!args.contains("piece_path")) {
                if (!piece)
                    return QStringLiteral("no \"Piece: \" line in the prompt for the tool calls");
                args.insert("piece_path", *piece);
            }
            arguments << args;
        }
        const QByteArray program = qgetenv("FAKE_HERMES_PENNORA");
        if (program.isEmpty())
            return QStringLiteral("FAKE_HERMES_PENNORA is not set: no tool server to call");

        ToolServer server;
        if (const std::optional<QString> failure = server.start(program))
            return failure;
        // A protocol version our server speaks, so it answers with the same.
        const std::optional<QJsonObject> initialized = server.request(
            "initialize", QJsonObject{{"protocolVersion", "2025-06-18"},
                                      {"capabilities", QJsonObject()},
                                      {"clientInfo", QJsonObject{{"name", "fakehermes"}, {"version", "0"}}}});
        if (!initialized || !initialized->value("result").isObject())
            return QStringLiteral("the tool server did not answer initialize");
        server.notify("notifications/initialized");

        for (qsizetype i = 0; i < calls.size(); ++i) {
            const QJsonObject call = calls.at(i).toObject();
            const QString tool = call.value("tool").toString();
            const std::optional<QJsonObject> reply =
                server.request("tools/call", QJsonObject{{"name", tool}, {"arguments", arguments.at(i)}});
            if (!reply)
                return "the tool server did not answer the call of " + tool;
            const bool isError = reply->contains("error");
            const bool failed = isError || reply->value("result").toObject().value("isError").toBool();
            logEvent({{"event", "toolResult"},
                      {"tool", tool},
                      {isError ? "error" : "result", reply->value(isError ? "error" : "result")}});
            const QJsonObject update{{"sessionUpdate", "tool_call"},
                                     {"toolCallId", QStringLiteral("call-%1").arg(++m_toolCalls)},
                                     {"title", call.value("title").toString(tool)},
                                     {"status", failed ? "failed" : "completed"},
                                     {"rawInput", arguments.at(i)}};
            sendLine(
                QJsonObject{{"jsonrpc", "2.0"},
                            {"method", "session/update"},
                            {"params", QJsonObject{{"sessionId", params.value("sessionId")}, {"update", update}}}});
        }
        return std::nullopt;
    }

    void expect(const QString &method, int count)
    {
        while (count > 0) {
            const QByteArray line = nextLineOrExit();
            const QJsonObject message = QJsonDocument::fromJson(line).object();
            if (method == "*" || message.value("method").toString() == method) {
                if (message.contains("id"))
                    m_lastID = message.value("id");
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
            answer(m_lastID, "result", step.value("reply"));
        } else if (step.contains("replyError")) {
            answer(m_lastID, "error", step.value("replyError"));
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
    QJsonValue m_lastID;
    int m_toolCalls = 0;
};

// The engine's profile, config, mcp and gateway commands, with their state on
// disk.

struct Outcome {
    QByteArray out;
    QByteArray err;
    int status = 0;
};

Outcome succeed(const QString &out)
{
    return {out.toUtf8(), {}, 0};
}

Outcome refuse(int status, const QString &err)
{
    return {{}, err.toUtf8(), status};
}

QString profilesRoot()
{
    return qEnvironmentVariable("HOME") + QStringLiteral("/.hermes/profiles");
}

bool validProfileName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/');
}

QJsonObject readState(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void writeState(const QString &path, const QJsonObject &state)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(state).toJson()) < 0 || !file.commit())
        fail(4, "cannot write " + path);
}

QByteArray readAllInput()
{
    QByteArray input;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(STDIN_FILENO, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            input.append(buf, n);
    logEvent({{"event", "stdin"}, {"data", QString::fromUtf8(input)}});
    return input;
}

Outcome profileCreate(const QStringList &rest, bool effect)
{
    if (rest.isEmpty() || !validProfileName(rest.first()))
        return refuse(2, QStringLiteral("usage: hermes profile create NAME [--no-alias] [--no-skills]\n"));
    for (const QString &flag : rest.mid(1))
        if (flag != "--no-alias" && flag != "--no-skills")
            return refuse(2, "unknown option " + flag + "\n");
    const QString name = rest.first();
    const QString folder = profilesRoot() + u'/' + name;
    if (QFileInfo::exists(folder))
        return {QStringLiteral("Profile '%1' already exists.\n").arg(name).toUtf8(), {}, 1};
    if (effect && !QDir().mkpath(folder))
        return refuse(1, "cannot create " + folder + "\n");
    return succeed(QStringLiteral("Profile '%1' created.\n").arg(name));
}

const QStringList &knownConfigKeys()
{
    static const QStringList keys{"model.provider", "model.default", "model.reasoning_effort", "model.base_url"};
    return keys;
}

Outcome configCommand(const QString &folder, const QStringList &rest, bool effect)
{
    const QString path = folder + QStringLiteral("/config.json");
    QJsonObject config = readState(path);
    const QString verb = rest.value(0);
    const QString key = rest.value(1);
    if (verb == "set" && (rest.size() == 3 || (rest.size() == 4 && rest.at(3) == "--force"))) {
        if (rest.size() == 3 && !knownConfigKeys().contains(key))
            return refuse(1, "Unknown config key: " + key + " (use --force to set it anyway)\n");
        config.insert(key, rest.at(2));
        if (effect)
            writeState(path, config);
        return succeed("✓ Set " + key + " = " + rest.at(2) + "\n");
    }
    if (verb == "unset" && rest.size() == 2) {
        if (!config.contains(key))
            return refuse(1, "Config key not set: " + key + "\n");
        config.remove(key);
        if (effect)
            writeState(path, config);
        return succeed("✓ Unset " + key + "\n");
    }
    if (verb == "get" && rest.size() == 2) {
        if (!config.contains(key))
            return refuse(1, "Config key not set: " + key + "\n");
        return succeed(config.value(key).toString() + "\n");
    }
    return refuse(2, QStringLiteral("usage: hermes -p PROFILE config set|unset|get KEY [VALUE] [--force]\n"));
}

Outcome mcpCommand(const QString &folder, const QStringList &rest, bool effect)
{
    const QString path = folder + QStringLiteral("/mcp.json");
    QJsonObject servers = readState(path);
    if (rest == QStringList{"list"}) {
        if (servers.isEmpty())
            return succeed(QStringLiteral("No MCP servers configured.\n"));
        QString out = QStringLiteral("MCP servers:\n");
        for (auto it = servers.begin(); it != servers.end(); ++it) {
            const QJsonObject server = it.value().toObject();
            QStringList line{it.key(), server.value("command").toString()};
            for (const QJsonValue &arg : server.value("args").toArray())
                line << arg.toString();
            out += "  " + line.join(u' ') + u'\n';
        }
        return succeed(out);
    }
    const qsizetype argsAt = rest.indexOf(QStringLiteral("--args"));
    if (rest.size() < 4 || rest.at(0) != "add" || rest.at(2) != "--command" || (argsAt != -1 && argsAt != 4)
        || (argsAt == -1 && rest.size() != 4))
        return refuse(2,
                      QStringLiteral("usage: hermes -p PROFILE mcp list | mcp add NAME --command PATH --args A...\n"));
    const QString name = rest.at(1);
    QStringList answers = QString::fromUtf8(readAllInput()).split(u'\n');
    QString out;
    // Each question takes the next answer line; no line is a no.
    const auto ask = [&](const QString &question) {
        out += question;
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst().trimmed().toLower();
        return answer == "y" || answer == "yes";
    };
    if (!ask(QStringLiteral("Add MCP server '%1'? [y/N] ").arg(name))
        || (servers.contains(name) && !ask(QStringLiteral("Server '%1' already exists. Replace it? [y/N] ").arg(name))))
        return {(out + "\nCancelled.\n").toUtf8(), {}, 1};
    servers.insert(
        name, QJsonObject{{"command", rest.at(3)},
                          {"args", QJsonArray::fromStringList(argsAt == -1 ? QStringList() : rest.mid(argsAt + 1))}});
    if (effect)
        writeState(path, servers);
    return succeed(out + QStringLiteral("\nSaved '%1'\n").arg(name));
}

// Writes gateway.pid and waits for a signal to end; the pid file goes with it.
[[noreturn]] void runGateway(const QString &folder)
{
    sigset_t stop;
    sigemptyset(&stop);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stop, sig);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    const QString pidFile = folder + QStringLiteral("/gateway.pid");
    writeState(pidFile, QJsonObject{{"pid", qint64(::getpid())}});
    int sig = 0;
    ::sigwait(&stop, &sig);
    QFile::remove(pidFile);
    ::_exit(0);
}

QJsonObject faultFor(const QStringList &args)
{
    for (const QJsonValue &fault : g_scenario.value("faults").toArray())
        if (argsMatch(fault.toObject(), args))
            return fault.toObject();
    return {};
}

// Runs the engine's own command line; none when args are not one of its
// commands.
std::optional<int> runEngineCommandLine(const QStringList &args)
{
    const bool isProfile = args.size() >= 2 && args.at(0) == "profile" && args.at(1) == "create";
    const bool onProfile = args.size() >= 3 && args.at(0) == "-p"
                           && (args.at(2) == "config" || args.at(2) == "mcp" || args.at(2) == "gateway");
    if (!isProfile && !onProfile)
        return std::nullopt;

    const QJsonObject fault = faultFor(args);
    if (fault.value("ignoreSigterm").toBool())
        ::signal(SIGTERM, SIG_IGN);
    sleepMs(fault.value("sleepMs").toInt());
    const bool effect = !fault.value("noEffect").toBool();

    Outcome outcome;
    if (isProfile) {
        outcome = profileCreate(args.mid(2), effect);
    } else {
        const QString profile = args.at(1);
        const QString folder = profilesRoot() + u'/' + profile;
        const QStringList rest = args.mid(3);
        if (!validProfileName(profile) || !QFileInfo(folder).isDir())
            outcome = refuse(1, QStringLiteral("Profile '%1' does not exist.\n").arg(profile));
        else if (args.at(2) == "config")
            outcome = configCommand(folder, rest, effect);
        else if (args.at(2) == "mcp")
            outcome = mcpCommand(folder, rest, effect);
        else if (rest.isEmpty())
            runGateway(folder);
        else
            outcome = refuse(2, QStringLiteral("usage: hermes -p PROFILE gateway\n"));
    }

    if (fault.contains("stdout"))
        outcome.out = fault.value("stdout").toString().toUtf8();
    if (fault.contains("stderr"))
        outcome.err = fault.value("stderr").toString().toUtf8();
    if (fault.contains("exit"))
        outcome.status = fault.value("exit").toInt();
    writeAll(STDOUT_FILENO, fault.value("warning").toString().toUtf8() + outcome.out);
    writeAll(STDERR_FILENO, outcome.err);
    return outcome.status;
}

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
        // An unnamed file is skipped, not opened: Qt would warn on standard
        // error, into the texts the product reads.
        if (!file->fileName().isEmpty() && file->open(QIODevice::ReadOnly)) {
            g_scenario = QJsonDocument::fromJson(file->readAll()).object();
            break;
        }
    }

    for (const QJsonValue &command : g_scenario.value("commands").toArray())
        if (argsMatch(command.toObject(), args))
            return runCommand(command.toObject());

    if (const std::optional<int> status = runEngineCommandLine(args))
        return *status;
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
