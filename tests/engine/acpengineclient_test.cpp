#include "engine/acpengineclient.h"

#include "fakehermesscenario.h"
#include "testenv.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <memory>

using engine::ACPEngineClient;
using foundation::JSONValue;
using testsupport::FakeHermesScenario;
using testsupport::processGone;
using testsupport::spinUntil;

namespace {

void spinFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    spinUntil([&] { return clock.elapsed() >= ms; });
}

struct Outcome {
    bool done = false;
    std::optional<JSONValue> result;
    std::optional<QString> error;
};

QCoro::Task<> capture(QCoro::Task<std::optional<JSONValue>> task, std::shared_ptr<Outcome> out)
{
    try {
        out->result = co_await std::move(task);
    } catch (const ACPEngineClient::TransportError &error) {
        out->error = error.message();
    }
    out->done = true;
}

// One request, started at once and watched until it ends.
class Call {
public:
    Call(engine::EngineTransport &client, const QString &method, std::optional<JSONValue> params = std::nullopt,
         std::chrono::milliseconds timeout = std::chrono::seconds(15))
        : m_out(std::make_shared<Outcome>()), m_task(capture(client.request(method, std::move(params), timeout), m_out))
    {}
    bool done() const { return m_out->done; }
    const Outcome &wait()
    {
        EXPECT_TRUE(spinUntil([this] { return m_out->done; })) << "request never ended";
        return *m_out;
    }
    QString error() { return wait().error.value_or(QStringLiteral("<no error>")); }
    std::optional<JSONValue> result()
    {
        const Outcome &out = wait();
        EXPECT_FALSE(out.error.has_value()) << out.error->toStdString();
        return out.result;
    }

private:
    std::shared_ptr<Outcome> m_out;
    QCoro::Task<> m_task;
};

QJsonObject steps(const QJsonArray &list, const QJsonObject &answers = {})
{
    return QJsonObject{{"acp", QJsonObject{{"steps", list}, {"answers", answers}}}};
}

QJsonObject send(const QJsonValue &message)
{
    return QJsonObject{{"send", message}};
}

QJsonObject raw(const QJsonValue &bytes)
{
    return QJsonObject{{"raw", bytes}};
}

QJsonObject expect(const QString &method, int count = 1)
{
    return QJsonObject{{"expect", method}, {"count", count}};
}

QJsonObject reply(const QJsonValue &result = QJsonObject())
{
    return QJsonObject{{"reply", result}};
}

JSONValue json(const char *text)
{
    return JSONValue::parse(text).value();
}

using Received = std::pair<QString, std::optional<JSONValue>>;

// A started client on the stand-in with its callbacks recorded.
struct Harness {
    explicit Harness(const QJsonObject &scenario, const QString &profile = QStringLiteral("pennora"))
        : fake(scenario), client(std::make_unique<ACPEngineClient>(testsupport::fakeHermesBinary(), profile))
    {
        client->setOnMessage([this](const QString &method, const std::optional<JSONValue> &params) {
            messages.push_back({method, params});
        });
        client->setOnCrash([this] { ++crashes; });
        client->setOnStderrLine([this](const QString &line) { stderrLines << line; });
        client->start();
    }

    FakeHermesScenario fake;
    std::unique_ptr<ACPEngineClient> client;
    std::vector<Received> messages;
    int crashes = 0;
    QStringList stderrLines;
};

} // namespace

TEST(ACPEngineClient, RequestsCarryCountingIDsAndEmptyParams)
{
    Harness h(
        steps({expect("initialize"), reply(QJsonObject{{"agentInfo", QJsonObject{{"version", "1.2"}}}}), expect("x"),
               reply(QJsonValue::Null), expect("y"), send(QJsonObject{{"jsonrpc", "2.0"}, {"id", 3}})}));

    Call init(*h.client, "initialize", json(R"({"protocolVersion":1,"clientInfo":{"name":"Pennora"}})"));
    EXPECT_EQ(init.result(), json(R"({"agentInfo":{"version":"1.2"}})"));
    // "result": null is the null value; no "result" at all is none.
    EXPECT_EQ(Call(*h.client, "x").result(), std::optional<JSONValue>(JSONValue()));
    EXPECT_EQ(Call(*h.client, "y").result(), std::nullopt);

    h.client->notify("session/cancel", json(R"({"sessionId":"s/1"})"));
    h.client->notify("bare", std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return h.fake.receivedLines().size() == 5; }));
    EXPECT_EQ(
        h.fake.receivedLines(),
        QStringList(
            {R"({"id":1,"jsonrpc":"2.0","method":"initialize","params":{"clientInfo":{"name":"Pennora"},"protocolVersion":1}})",
             R"({"id":2,"jsonrpc":"2.0","method":"x","params":{}})",
             R"({"id":3,"jsonrpc":"2.0","method":"y","params":{}})",
             R"({"jsonrpc":"2.0","method":"session/cancel","params":{"sessionId":"s/1"}})",
             R"({"jsonrpc":"2.0","method":"bare","params":{}})"}));
    EXPECT_EQ(h.fake.events().first().value("args").toArray(), QJsonArray({"acp", "-p", "pennora"}));
}

TEST(ACPEngineClient, ReadsSplitJoinedAndOddLines)
{
    const QString upd = R"({"jsonrpc":"2.0","method":"session/update","params":{"n":%1}})";
    Harness h(steps({expect("session/prompt"), raw(QJsonArray{upd.arg(1).left(30), upd.arg(1).mid(30) + "\n"}),
                     raw(upd.arg(2) + "\n" + upd.arg(3) + "\n"), raw("not json\n[1,2]\n\"text\"\n\n"),
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"id", 999}, {"result", QJsonObject()}}),
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"method", "odd"}}),
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"method", "odd"}, {"params", true}}),
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"method", "odd"}, {"params", 1}}),
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"method", "odd"}, {"params", QJsonValue::Null}}),
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"id", QJsonValue::Null}, {"method", "nullid"}}),
                     reply(QJsonObject{{"stopReason", "end_turn"}})}));

    EXPECT_EQ(Call(*h.client, "session/prompt").result(), json(R"({"stopReason":"end_turn"})"));
    ASSERT_TRUE(spinUntil([&] { return h.messages.size() >= 8; }));
    const std::vector<Received> expected = {
        {"session/update", json(R"({"n":1})")},
        {"session/update", json(R"({"n":2})")},
        {"session/update", json(R"({"n":3})")},
        {"odd", std::nullopt},
        {"odd", JSONValue(true)},
        {"odd", JSONValue(1)},
        {"odd", JSONValue()},
        {"nullid", std::nullopt},
    };
    EXPECT_EQ(h.messages, expected);
    EXPECT_EQ(h.crashes, 0);
}

TEST(ACPEngineClient, OverLongLineIsDroppedAndTheNextLineRead)
{
    // A notification line of exactly the limit is read; one byte more is not.
    const QString head = R"({"jsonrpc":"2.0","method":"big","params":")";
    const QString tail = R"("})";
    const qsizetype fill = ACPEngineClient::maxLineBytes - head.size() - tail.size();
    const QString exact = head + QString(fill, 'a') + tail;
    const QString over = head + QString(fill + 1, 'b') + tail;
    Harness h(steps({expect("go"), QJsonObject{{"junk", 1100000}, {"chunk", 4096}, {"lf", true}},
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"method", "after-junk"}}), raw(over + "\n"),
                     raw(exact + "\n"), QJsonObject{{"junk", 2000000}, {"chunk", 65536}},
                     raw(R"(,"tail":1})"
                         "\n"),
                     send(QJsonObject{{"jsonrpc", "2.0"}, {"method", "last"}}), reply()}));

    Call(*h.client, "go").result();
    ASSERT_TRUE(spinUntil([&] { return h.messages.size() >= 3; }));
    ASSERT_EQ(h.messages.size(), 3u);
    EXPECT_EQ(h.messages[0].first, "after-junk");
    EXPECT_EQ(h.messages[1].first, "big");
    EXPECT_EQ(h.messages[1].second->toString().size(), fill);
    EXPECT_EQ(h.messages[2].first, "last");
}

TEST(ACPEngineClient, PartialLineBufferStopsAtTheLimit)
{
    ACPEngineClient client(testsupport::fakeHermesBinary(), "pennora");
    std::vector<QString> methods;
    client.setOnMessage([&](const QString &method, const std::optional<JSONValue> &) { methods.push_back(method); });

    // Leading spaces are JSON white space: this line of exactly the limit parses.
    const QByteArray object = R"({"jsonrpc":"2.0","method":"exact"})";
    const QByteArray line = QByteArray(ACPEngineClient::maxLineBytes - object.size(), ' ') + object;
    client.ingest(line.first(line.size() - 1));
    client.ingest(line.last(1));
    EXPECT_EQ(client.bufferedBytes(), ACPEngineClient::maxLineBytes); // exactly the limit stays
    client.ingest("\n");
    EXPECT_EQ(client.bufferedBytes(), 0);

    client.ingest(QByteArray(ACPEngineClient::maxLineBytes, ' '));
    client.ingest(" ");
    EXPECT_EQ(client.bufferedBytes(), ACPEngineClient::maxLineBytes + 1); // room for a CR before the LF
    client.ingest(" ");
    EXPECT_EQ(client.bufferedBytes(), 0); // one byte more empties it
    client.ingest(R"({"jsonrpc":"2.0","method":"tail-of-dropped"})"
                  "\n"
                  R"({"jsonrpc":"2.0","method":"next"})"
                  "\n");
    spinFor(20);
    EXPECT_EQ(methods, (std::vector<QString>{"exact", "next"}));
}

TEST(ACPEngineClient, EngineRequestsGetMethodNotFoundWithTheirID)
{
    Harness h(steps(
        {expect("go"),
         send(QJsonObject{{"jsonrpc", "2.0"}, {"id", 7}, {"method", "fs/read_text_file"}, {"params", QJsonObject()}}),
         send(QJsonObject{{"jsonrpc", "2.0"}, {"id", "req-a"}, {"method", "session/request_permission"}}),
         expect("*", 2), send(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"result", "done"}})}));

    EXPECT_EQ(Call(*h.client, "go").result(), std::optional<JSONValue>(JSONValue("done")));
    const QStringList lines = h.fake.receivedLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1],
              R"({"error":{"code":-32601,"message":"Pennora M0 handles no server requests"},"id":7,"jsonrpc":"2.0"})");
    EXPECT_EQ(
        lines[2],
        R"({"error":{"code":-32601,"message":"Pennora M0 handles no server requests"},"id":"req-a","jsonrpc":"2.0"})");
    spinFor(20);
    EXPECT_TRUE(h.messages.empty());
}

TEST(ACPEngineClient, ErrorAnswersBecomeCodeAndMessage)
{
    const QString longText(600, 'm');
    QString thumbs;
    for (int i = 0; i < 600; ++i)
        thumbs += QString::fromUtf8("\xF0\x9F\x91\x8D");
    struct Case {
        const char *method;
        QJsonValue error;
        QString expected;
    };
    const Case cases[] = {
        {"e1", QJsonObject{{"code", 7}, {"message", "no such session"}}, "7: no such session"},
        {"e2", QJsonObject(), "-1: unknown error"},
        {"e3", QJsonObject{{"code", 7.5}, {"message", 12}}, "-1: unknown error"},
        {"e4", QJsonObject{{"code", "7"}, {"message", longText}}, "-1: " + longText.left(500)},
        {"e5", QJsonObject{{"code", -32000}, {"message", thumbs}}, "-32000: " + thumbs.left(1000)},
    };
    QJsonObject answers;
    for (const Case &c : cases)
        answers.insert(c.method, QJsonObject{{"error", c.error}});
    // An "error" that is not an object does not count as one.
    answers.insert("e6", QJsonObject{{"result", 5}});
    Harness h(steps({expect("e6"), send(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"error", "odd"}, {"result", 5}})},
                    answers));

    EXPECT_EQ(Call(*h.client, "e6").result(), std::optional<JSONValue>(JSONValue(5)));
    for (const Case &c : cases)
        EXPECT_EQ(Call(*h.client, c.method).error(), c.expected) << c.method;
}

TEST(ACPEngineClient, TimeOutsNameTheMethodAndWholeSeconds)
{
    ACPEngineClient client(testsupport::fakeHermesBinary(), "pennora"); // never started: nothing answers
    Call half(client, "session/new", std::nullopt, std::chrono::milliseconds(500));
    Call more(client, "initialize", std::nullopt, std::chrono::milliseconds(1250));
    EXPECT_EQ(half.error(), "session/new timed out after 0 s");
    EXPECT_EQ(more.error(), "initialize timed out after 1 s");
}

TEST(ACPEngineClient, LateAnswerAfterTimeOutIsIgnored)
{
    Harness h(steps({expect("slow"), QJsonObject{{"sleepMs", 600}}, reply("late")},
                    {{"next", QJsonObject{{"result", "fresh"}}}}));
    EXPECT_EQ(Call(*h.client, "slow", std::nullopt, std::chrono::milliseconds(200)).error(),
              "slow timed out after 0 s");
    EXPECT_EQ(Call(*h.client, "next").result(), std::optional<JSONValue>(JSONValue("fresh")));
    EXPECT_EQ(h.crashes, 0);
}

TEST(ACPEngineClient, CrashFailsEveryPendingRequestOnceAndReportsOnce)
{
    struct Case {
        QJsonObject ending;
        QString expected;
    };
    const Case cases[] = {
        {QJsonObject{{"exit", 3}}, "engine exited (code 3)"},
        {QJsonObject{{"signal", 9}}, "engine exited (code 9)"},
    };
    for (const Case &c : cases) {
        Harness h(steps(
            {expect("*", 3), QJsonObject{{"stderr", "first line\nsecond"}}, QJsonObject{{"sleepMs", 100}}, c.ending}));
        Call a(*h.client, "a"), b(*h.client, "b"), d(*h.client, "d");
        EXPECT_EQ(a.error(), c.expected);
        EXPECT_EQ(b.error(), c.expected);
        EXPECT_EQ(d.error(), c.expected);
        spinFor(500); // past the end of output as well
        EXPECT_EQ(h.crashes, 1);
        EXPECT_EQ(h.stderrLines, QStringList({"first line", "second"}));

        // A crashed connection still takes requests; they end by time-out.
        EXPECT_EQ(Call(*h.client, "again", std::nullopt, std::chrono::milliseconds(100)).error(),
                  "again timed out after 0 s");
        h.client->close();
        spinFor(50);
        EXPECT_EQ(h.crashes, 1);
    }
}

TEST(ACPEngineClient, OutputClosedByARunningEngineIsACrash)
{
    Harness h(steps({expect("go"), QJsonObject{{"closeStdout", true}}}));
    Call go(*h.client, "go");
    EXPECT_EQ(go.error(), "engine stdout closed (EOF)");
    spinFor(100);
    EXPECT_EQ(h.crashes, 1);
    const qint64 pid = h.client->processID();
    ASSERT_GT(pid, 0);
    h.client->close();
    EXPECT_TRUE(spinUntil([&] { return processGone(pid); }));
    EXPECT_EQ(h.crashes, 1);
}

TEST(ACPEngineClient, CloseFailsWaitersAndRefusesLaterRequests)
{
    Harness h(steps({expect("ready"), reply()}));
    Call(*h.client, "ready").result();
    Call waiting(*h.client, "session/prompt");
    const qint64 pid = h.client->processID();

    h.client->close();
    EXPECT_EQ(waiting.error(), "engine closed");
    EXPECT_TRUE(spinUntil([&] { return processGone(pid); }));
    h.client->close(); // a second close returns at once

    Call after(*h.client, "session/new");
    EXPECT_TRUE(after.done()); // failed without waiting
    EXPECT_EQ(after.error(), "engine closed before session/new");
    h.client->notify("session/cancel", std::nullopt);
    spinFor(50);
    for (const QString &line : h.fake.receivedLines()) // nothing written after close
        EXPECT_FALSE(line.contains("session/new") || line.contains("session/cancel")) << line.toStdString();
    EXPECT_EQ(h.crashes, 0);
}

TEST(ACPEngineClient, EngineIgnoringSigtermIsKilledAfterTheGrace)
{
    Harness h(steps({QJsonObject{{"ignoreSigterm", true}}, expect("ready"), reply()}));
    Call(*h.client, "ready").result();
    const qint64 pid = h.client->processID();

    QElapsedTimer clock;
    clock.start();
    h.client->close();
    const qint64 closing = clock.elapsed();
    EXPECT_GE(closing, ACPEngineClient::terminateGrace.count() - 100);
    EXPECT_LT(closing, ACPEngineClient::terminateGrace.count() + 2000);
    EXPECT_TRUE(spinUntil([&] { return processGone(pid); }, 5000));
    EXPECT_EQ(h.crashes, 0);
}

TEST(ACPEngineClient, DestroyingAnOpenConnectionEndsItsChild)
{
    auto h = std::make_unique<Harness>(steps({expect("ready"), reply()}));
    Call(*h->client, "ready").result();
    const qint64 pid = h->client->processID();
    h.reset();
    EXPECT_TRUE(spinUntil([&] { return processGone(pid); }));
}

TEST(ACPEngineClient, StartOnceAndLaunchFailure)
{
    ACPEngineClient missing(QDir::temp().filePath("no-such-engine/hermes"), "pennora");
    EXPECT_THROW(missing.start(), engine::LaunchError);
    EXPECT_NO_THROW(missing.start()); // started already, even though it failed
    missing.close();

    // A connection closed before it started never starts a child.
    ACPEngineClient closed(testsupport::binaryDir() + "/tests/support/fake-hermes/hermes", "pennora");
    closed.close();
    EXPECT_THROW(closed.start(), engine::LaunchError);
    EXPECT_EQ(closed.processID(), 0);

    Harness h(steps({expect("ready"), reply()}));
    const qint64 pid = h.client->processID();
    h.client->start();
    EXPECT_EQ(h.client->processID(), pid);
    Call(*h.client, "ready").result();
    int runs = 0;
    for (const QJsonObject &event : h.fake.events())
        runs += event.value("event").toString() == "run";
    EXPECT_EQ(runs, 1);
}

TEST(ACPEngineClient, UnencodableParamsFailTheRequest)
{
    ACPEngineClient client(testsupport::fakeHermesBinary(), "pennora");
    Call call(client, "session/prompt", JSONValue(JSONValue::Object{{"x", std::nan("")}}));
    EXPECT_TRUE(call.done());
    EXPECT_EQ(call.error(), "unencodable request: session/prompt");
}

// The official Agent Client Protocol SDK as the engine. Fails (never skips)
// when node or the installed peers are missing.
TEST(ACPEngineClientSDKPeer, InitializeSessionStreamedPromptAndErrorAnswer)
{
    const QString node = QStandardPaths::findExecutable("node");
    ASSERT_FALSE(node.isEmpty()) << "node is not installed; the ACP SDK peer cannot run";
    const QString peers = testsupport::sourceDir() + "/tests/peers";
    ASSERT_TRUE(QFile::exists(peers + "/node_modules/@agentclientprotocol/sdk/package.json"))
        << "the node peers are not installed: run `npm ci` in " << peers.toStdString();

    // The engine's command line ("acp -p <profile>") goes to the agent script.
    QTemporaryDir dir;
    const QString wrapper = dir.filePath("hermes");
    testsupport::writeFile(wrapper, "#!/bin/sh\nexec '" + node.toUtf8() + "' '" + (peers + "/acp-agent.mjs").toUtf8()
                                        + "' \"$@\"\n");
    ASSERT_TRUE(QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    ACPEngineClient client(wrapper, "pennora");
    std::vector<Received> updates;
    client.setOnMessage([&](const QString &method, const std::optional<JSONValue> &params) {
        updates.push_back({method, params});
    });
    QStringList stderrLines;
    client.setOnStderrLine([&](const QString &line) { stderrLines << line; });
    client.start();

    const std::optional<JSONValue> init =
        Call(
            client, "initialize",
            json(
                R"({"protocolVersion":1,"clientCapabilities":{},"clientInfo":{"name":"Pennora","title":"Pennora","version":"0.1"}})"))
            .result();
    ASSERT_TRUE(init.has_value()) << stderrLines.join('\n').toStdString();
    EXPECT_EQ(init->member("protocolVersion"), std::optional<JSONValue>(JSONValue(1)));
    EXPECT_EQ(init->member("agentInfo")->member("version"), std::optional<JSONValue>(JSONValue("2.4.0-sdk")));

    JSONValue::Object newSession{{"cwd", dir.path()}, {"mcpServers", JSONValue::Array()}};
    const std::optional<JSONValue> session = Call(client, "session/new", JSONValue(newSession)).result();
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(session->member("sessionId"), std::optional<JSONValue>(JSONValue("session-pennora")));

    auto prompt = [](const char *text) {
        return JSONValue(
            JSONValue::Object{{"sessionId", "session-pennora"},
                              {"prompt", JSONValue::Array{JSONValue::Object{{"type", "text"}, {"text", text}}}}});
    };
    EXPECT_EQ(Call(client, "session/prompt", prompt("writer")).result(), json(R"({"stopReason":"end_turn"})"));
    ASSERT_TRUE(spinUntil([&] { return updates.size() >= 3; }));
    QStringList chunks;
    for (const auto &[method, params] : updates) {
        EXPECT_EQ(method, "session/update");
        EXPECT_EQ(params->member("sessionId"), std::optional<JSONValue>(JSONValue("session-pennora")));
        chunks << params->member("update")->member("content")->member("text")->toString();
    }
    EXPECT_EQ(chunks, QStringList({"Hello", ", ", "writer"}));

    EXPECT_EQ(Call(client, "session/prompt", prompt("fail")).error(), "-32000: prompt refused: fail");
    client.close();
}
