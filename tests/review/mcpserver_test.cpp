#include "review/mcpserver.h"

#include "reviewfixture.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

using review::MCPServer::kMaxLineBytes;
using reviewtest::golden;
using testsupport::entries;
using testsupport::readFile;
using testsupport::writeFile;

// A Home with one post (two learnings apply to it), one outline piece
// without learnings, and a Markdown file that is no piece.
struct FixtureHome {
    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    QString piece = home + "/projects/Essays/first-piece";
    QString outline = home + "/projects/Essays/empty-outline";

    FixtureHome()
    {
        writeFile(piece + "/post.md", "---\ntitle: First piece\n---\n\nThis is quite a start, quite honestly.\n");
        writeFile(outline + "/post.md", "---\ntitle: Plan\ntype: outline\n---\n\n- one\n- two\n");
        writeFile(home + "/learnings/posts/20260101-hedging.md",
                  "---\npattern: Hedging\nproblem: Softens every claim.\nlane: mechanical\nemitter: engine\n"
                  "promoted: 2026-01-01\n---\n\n# Hedging\n\n**Problem.** Softens every claim.\n\n"
                  "*Promoted from a fix card · 2026-01-01.*\n");
        writeFile(home + "/learnings/posts/20260102-filler.md",
                  "---\npattern: Filler\nproblem: Says \"quite\" / \"rather\".\nlane: demonstration\n"
                  "emitter: engine\npromoted: 2026-01-02\n---\n\n# Filler\n");
        writeFile(home + "/notes/loose.md", "not a piece\n");
    }
};

// A ping whose line is exactly size bytes long.
QByteArray paddedPing(const QByteArray &id, qsizetype size)
{
    const QByteArray head = R"({"jsonrpc":"2.0","id":")" + id + R"(","method":"ping","params":{"pad":")";
    const QByteArray tail = R"("}})";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

// Runs the server loop in this process over a file of input.
QByteArray runLoop(const QByteArray &input)
{
    QTemporaryFile in;
    QTemporaryFile out;
    if (!in.open() || !out.open())
        return "cannot open temporary files";
    in.write(input);
    in.flush();
    const int inFd = ::open(in.fileName().toLocal8Bit().constData(), O_RDONLY);
    const int status = review::MCPServer::run(inFd, out.handle());
    ::close(inFd);
    if (status != 0)
        return "non-zero status";
    out.seek(0);
    return out.readAll();
}

const QByteArray kPingReply = R"({"id":1,"jsonrpc":"2.0","result":{}})"
                              "\n";
const QByteArray kParseError = R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})"
                               "\n";
const QByteArray kTooLong = R"({"error":{"code":-32600,"message":"Line too long"},"id":null,"jsonrpc":"2.0"})"
                            "\n";
const QByteArray kPing = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";

} // namespace

TEST(MCPServerLoop, FramesLinesWithABoundedBuffer)
{
    struct Case {
        const char *name;
        QByteArray input;
        QByteArray output;
    };
    const QByteArray exact = paddedPing("exact", kMaxLineBytes);
    const QByteArray exactReply = R"({"id":"exact","jsonrpc":"2.0","result":{}})"
                                  "\n";
    const QByteArray over = paddedPing("over", kMaxLineBytes + 1);
    const Case cases[] = {
        {"no input", "", ""},
        {"empty lines", "\n\n", kParseError + kParseError},
        {"carriage return before the line feed", kPing + "\r\n", kPingReply},
        {"last line without a line feed", kPing + "\n" + kPing, kPingReply + kPingReply},
        {"exactly the limit", exact + "\n" + kPing + "\n", exactReply + kPingReply},
        {"exactly the limit before CR LF", exact + "\r\n", exactReply},
        {"exactly the limit at the end", exact, exactReply},
        {"one byte over, then a ping", over + "\n" + kPing + "\n", kTooLong + kPingReply},
        {"one byte over at the end", over, kTooLong},
        {"limit plus a carriage return at the end", exact + "\r", kTooLong},
        {"three MiB without a line feed", QByteArray(3 * 1024 * 1024, '{'), kTooLong},
        {"two long lines answered once each", over + "\n" + over + "\n", kTooLong + kTooLong},
        {"bytes that are not UTF-8 read as U+FFFD",
         R"({"id":"a)"
         "\xff"
         R"(b","method":"ping"})"
         "\n",
         R"({"id":"a)"
         "\xef\xbf\xbd"
         R"(b","jsonrpc":"2.0","result":{}})"
         "\n"},
        {"repaired line measured after repair", paddedPing("exact", kMaxLineBytes).replace(100, 1, "\xff") + "\n",
         kTooLong},
    };
    for (const Case &c : cases)
        EXPECT_EQ(runLoop(c.input), c.output) << c.name;
}

// A peer may hand over a non-blocking pipe: "nothing to read yet" is not the
// end of the input.
TEST(MCPServerLoop, NonBlockingInputIsWaitedForUntilItEnds)
{
    int in[2];
    ASSERT_EQ(::pipe2(in, O_NONBLOCK | O_CLOEXEC), 0);
    QTemporaryFile out;
    ASSERT_TRUE(out.open());
    std::thread server([&] { review::MCPServer::run(in[0], out.handle()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(foundation::fs::writeAll(in[1], kPing + "\n"));
    ::close(in[1]);
    server.join();
    ::close(in[0]);
    out.seek(0);
    EXPECT_EQ(out.readAll(), kPingReply);
}

// A reply larger than a full non-blocking output pipe goes out whole once the
// peer reads, never cut off mid-line.
TEST(MCPServerLoop, ReplyToASlowNonBlockingReaderIsWrittenWhole)
{
    int out[2];
    ASSERT_EQ(::pipe2(out, O_NONBLOCK | O_CLOEXEC), 0);
    const QByteArray id(300 * 1024, 'i');
    const QByteArray request = R"({"id":")" + id + R"(","method":"ping"})";
    const QByteArray expected = R"({"id":")" + id
                                + R"(","jsonrpc":"2.0","result":{}})"
                                  "\n";
    QByteArray received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::fcntl(out[0], F_SETFL, 0);
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(out[0], chunk, sizeof chunk)) > 0)
            received.append(chunk, n);
    });
    QTemporaryFile in;
    ASSERT_TRUE(in.open());
    in.write(request + "\n" + kPing + "\n");
    in.flush();
    const int inFd = ::open(in.fileName().toLocal8Bit().constData(), O_RDONLY);
    review::MCPServer::run(inFd, out[1]);
    ::close(inFd);
    ::close(out[1]);
    reader.join();
    ::close(out[0]);
    EXPECT_EQ(received.size(), expected.size() + kPingReply.size());
    EXPECT_TRUE(received == expected + kPingReply);
}

TEST(MCPServerLoop, UnserialisableReplyFallsBackToTheFixedLine)
{
    QTemporaryFile err;
    ASSERT_TRUE(err.open());
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(err.handle(), STDERR_FILENO);
    const QByteArray invalid = review::MCPServer::detail::checkedReply(QByteArray("{\"id\":\"\xff\"}"));
    const QByteArray empty = review::MCPServer::detail::checkedReply(QByteArray());
    const QByteArray fine = review::MCPServer::detail::checkedReply(QByteArray("{}"));
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);

    const QByteArray fallback = R"({"jsonrpc":"2.0","error":{"code":-32603,"message":"Internal error"},"id":null})";
    EXPECT_EQ(invalid, fallback);
    EXPECT_EQ(empty, fallback);
    EXPECT_EQ(fine, "{}");
    err.seek(0);
    EXPECT_EQ(err.readAll(), "pennora-tools: reply serialization failed\npennora-tools: reply serialization failed\n");
}

// The reply to one request line, parsed.
QJsonObject reply(const QByteArray &request)
{
    const std::optional<QByteArray> line = review::MCPServer::answer(request);
    return line ? QJsonDocument::fromJson(*line).object() : QJsonObject{{"none", true}};
}

TEST(MCPServerProtocol, InitializeEchoesOnlyASupportedVersion)
{
    struct Case {
        const char *params; // the params member, or empty for none
        const char *version;
    };
    const Case cases[] = {
        {R"({"protocolVersion":"2024-11-05"})", "2024-11-05"},
        {R"({"protocolVersion":"2025-03-26"})", "2025-03-26"},
        {R"({"protocolVersion":"2025-06-18"})", "2025-06-18"},
        {R"({"protocolVersion":"2025-11-25"})", "2025-11-25"},
        {R"({"protocolVersion":"2025-06-19"})", "2025-11-25"},
        {R"({"protocolVersion":"2099-01-01"})", "2025-11-25"},
        {R"({"protocolVersion":" 2025-06-18"})", "2025-11-25"},
        {R"({"protocolVersion":""})", "2025-11-25"},
        {R"({"protocolVersion":20250618})", "2025-11-25"},
        {R"({"protocolVersion":["2025-06-18"]})", "2025-11-25"},
        {R"({})", "2025-11-25"},
        {R"([{"protocolVersion":"2025-06-18"}])", "2025-11-25"},
        {"", "2025-11-25"},
    };
    for (const Case &c : cases) {
        const QByteArray params = *c.params ? QByteArray(R"(,"params":)") + c.params : QByteArray();
        const QJsonObject answer = reply(R"({"jsonrpc":"2.0","id":1,"method":"initialize")" + params + "}");
        EXPECT_EQ(answer.value("id"), QJsonValue(1)) << c.params;
        EXPECT_EQ(answer.value("result")["protocolVersion"].toString().toStdString(), c.version) << c.params;
    }
}

TEST(MCPServerProtocol, UnknownMethodKeepsTheIDAndNotificationsGetNoAnswer)
{
    struct Case {
        const char *request;
        std::optional<QByteArray> answer;
    };
    const QByteArray notFound = R"({"error":{"code":-32601,"message":"Method not found"},"id":)";
    const Case cases[] = {
        {R"({"jsonrpc":"2.0","id":42,"method":"resources/list"})", notFound + R"(42,"jsonrpc":"2.0"})"},
        {R"({"jsonrpc":"2.0","id":"42","method":"resources/list"})", notFound + R"("42","jsonrpc":"2.0"})"},
        {R"({"jsonrpc":"2.0","id":"req-7","method":"Ping"})", notFound + R"("req-7","jsonrpc":"2.0"})"},
        {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", std::nullopt},
        {R"({"jsonrpc":"2.0","method":"notifications/no-such-thing"})", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(review::MCPServer::answer(c.request), c.answer) << c.request;
}

TEST(MCPServerTools, QueryLearningsRefusesASymlinkedLearningsFolder)
{
    const QByteArray learning = "---\npattern: Elsewhere\n---\n";
    struct Case {
        const char *what;
        QString link; // relative to the Home
    };
    const Case cases[] = {
        {"learnings/ itself", "learnings"},
        {"the type folder", "learnings/posts"},
    };
    for (const Case &c : cases) {
        FixtureHome fixture;
        const QString link = fixture.home + '/' + c.link;
        const QString elsewhere = fixture.dir.path() + "/elsewhere";
        QDir(link).removeRecursively();
        writeFile(elsewhere + "/posts/20260101-elsewhere.md", learning);
        writeFile(elsewhere + "/20260101-elsewhere.md", learning);
        ASSERT_TRUE(QFile::link(elsewhere, link)) << c.what;

        const QJsonObject result =
            reply(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"query_learnings",)"
                  R"("arguments":{"piece_path":")"
                  + fixture.piece.toUtf8() + R"("}}})")
                .value("result")
                .toObject();
        EXPECT_TRUE(result.value("isError").toBool()) << c.what;
        EXPECT_EQ(result.value("content")[0]["text"].toString().toStdString(),
                  "learnings path is a symlink: " + link.toStdString());
    }
}

// The golden conversation goes through the real executable: stdout must
// match the expected file byte for byte once the Home's path and the card
// stamps (the time of the run) are put back as placeholders.
TEST(MCPServerGolden, ConversationMatchesByteForByte)
{
    FixtureHome fixture;
    ASSERT_TRUE(fixture.dir.isValid());
    QByteArray input = readFile(golden("mcp-conversation.jsonl"));
    ASSERT_FALSE(input.isEmpty());
    input.replace("@PIECE@", fixture.piece.toUtf8());
    input.replace("@EMPTY_PIECE@", fixture.outline.toUtf8());
    input.replace("@HOME@", fixture.home.toUtf8());
    input.replace("@LINE_1048576@", paddedPing("exactly-1048576", kMaxLineBytes));
    input.replace("@LINE_1048577@", paddedPing("one-byte-over", kMaxLineBytes + 1));
    const QString inputPath = fixture.dir.path() + "/conversation.jsonl";
    writeFile(inputPath, input);

    QProcess server;
    server.setStandardInputFile(inputPath);
    server.start(testsupport::pennoraBinary(), {QStringLiteral("--serve-mcp")});
    ASSERT_TRUE(server.waitForFinished(120000));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_EQ(server.readAllStandardError(), QByteArray());

    QString output = QString::fromUtf8(server.readAllStandardOutput());
    output.replace(fixture.home, QStringLiteral("@HOME@"));
    output.replace(QRegularExpression(QStringLiteral(R"((\\"file\\":\\")\d{8}-\d{6}-)")),
                   QStringLiteral("\\1@STAMP@-"));
    const QString expectedPath = golden("mcp-conversation.expected.jsonl");
    if (qEnvironmentVariableIsSet("PENNORA_UPDATE_GOLDEN"))
        writeFile(expectedPath, output.toUtf8());
    const QByteArray expected = readFile(expectedPath);
    EXPECT_EQ(output.toUtf8(), expected);

    // Ten plus three cards landed; research notes and refusals wrote nothing.
    EXPECT_EQ(QDir(fixture.piece + "/cards").entryList({"*.json"}, QDir::Files).size(), 13);
    EXPECT_EQ(entries(fixture.piece), QStringList({"cards", "post.md"}));
    EXPECT_EQ(entries(fixture.outline), QStringList({"post.md"}));
}

// The official MCP SDK client (tests/peers) against the real executable.
TEST(MCPServerPeer, OfficialSdkClientDrivesTheServer)
{
    const QString peers = testsupport::sourceDir() + "/tests/peers";
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    ASSERT_FALSE(node.isEmpty()) << "node is missing: install nodejs and npm (scripts/deps.sh)";
    ASSERT_TRUE(QFileInfo::exists(peers + "/node_modules/@modelcontextprotocol/sdk/package.json"))
        << "the MCP SDK is missing: run `npm ci` in tests/peers";

    FixtureHome fixture;
    QFile::remove(fixture.home + "/learnings/posts/20260102-filler.md");
    QProcess client;
    client.setWorkingDirectory(peers);
    client.start(node, {peers + "/mcp-client.mjs", testsupport::pennoraBinary(), fixture.piece});
    ASSERT_TRUE(client.waitForFinished(120000));
    EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().constData();
    EXPECT_EQ(client.readAllStandardOutput(), "ok\n");
}
