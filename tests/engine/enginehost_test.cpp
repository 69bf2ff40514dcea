#include "engine/enginehost.h"

#include "capturedlog.h"
#include "engine/acpengineclient.h"
#include "engine/engineprobe.h"
#include "fakehermesscenario.h"
#include "faketransport.h"
#include "foundation/paths.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QThread>

#include <coroutine>
#include <deque>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

using engine::ACPEngineClient;
using engine::EngineHost;
using engine::EngineTransport;
using foundation::JSONValue;
using testsupport::CapturedLog;
using testsupport::ended;
using testsupport::FakeHermesScenario;
using testsupport::FakeTransport;
using testsupport::processGone;
using testsupport::Running;
using testsupport::spinUntil;
using ChatStart = EngineHost::ChatStart;
using TransportError = ACPEngineClient::TransportError;

namespace engine {

void PrintTo(const EngineHost::ChatStart &start, std::ostream *os)
{
    const auto text = [](const std::optional<QString> &value) {
        return value ? "\"" + value->toStdString() + "\"" : std::string("none");
    };
    if (const auto *up = std::get_if<EngineHost::ChatStart::Up>(&start.value))
        *os << "up(version " << text(up->version) << ", note " << text(up->note) << ")";
    else
        *os << "failed(\"" << std::get<EngineHost::ChatStart::Failed>(start.value).reason.toStdString() << "\")";
}

} // namespace engine

namespace {

JSONValue json(const char *text)
{
    return JSONValue::parse(text).value();
}

// Runs fn on another thread and waits for it, as a connection may call its
// callbacks from a thread of its own.
void onOtherThread(const std::function<void()> &fn)
{
    std::thread(fn).join();
}

using Script = FakeTransport::Script;

Script answering(const std::optional<JSONValue> &answer)
{
    Script script;
    script.answer = answer;
    return script;
}

Script refusing(const QString &error = QStringLiteral("7: refused"))
{
    Script script;
    script.initialize = FakeTransport::Initialize::error;
    script.error = error;
    return script;
}

// Never answers "initialize".
Script silent()
{
    Script script;
    script.initialize = FakeTransport::Initialize::silent;
    return script;
}

Script unlaunchable(const QString &error)
{
    Script script;
    script.launchError = error;
    return script;
}
using Received = std::pair<QString, std::optional<JSONValue>>;

// A host whose connections are in-memory engines; each start takes the next
// script, or the default one.
class EngineHostTest : public ::testing::Test {
protected:
    EngineHostTest() { makeHost(); }

    // A fresh host wired to the fakes and the records below.
    void makeHost()
    {
        host = std::make_unique<EngineHost>();
        host->binaryPath = QStringLiteral("hermes");
        host->recordedVersionProvider = [this] { return recorded; };
        host->makeTransport = [this](const QString &profile) {
            Script script = scripts.empty() ? Script() : scripts.front();
            if (!scripts.empty())
                scripts.pop_front();
            made.push_back(std::make_shared<FakeTransport>(profile, script));
            return made.back();
        };
        host->onNotification = [this](const QString &method, const std::optional<JSONValue> &params) {
            notifications.push_back({method, params});
            threads.push_back(QThread::currentThread());
        };
        host->onCrash = [this] {
            ++crashes;
            threads.push_back(QThread::currentThread());
        };
        host->onStderrLine = [this](const QString &line) {
            stderrLines << line;
            threads.push_back(QThread::currentThread());
        };
    }

    // A one-shot whose body waits for "session/prompt" and answers its result.
    QCoro::Task<QString> promptingOneShot(const QString &profile = QStringLiteral("pennora-pass1"))
    {
        return host->startOneShot(profile, [](EngineTransport &connection) -> QCoro::Task<QString> {
            const std::optional<JSONValue> result =
                co_await connection.request("session/prompt", std::nullopt, std::chrono::seconds(60));
            co_return result ? result->toString() : QStringLiteral("<none>");
        });
    }

    std::deque<Script> scripts;
    std::optional<QString> recorded;
    std::vector<std::shared_ptr<FakeTransport>> made;
    std::vector<Received> notifications;
    std::vector<QThread *> threads;
    int crashes = 0;
    QStringList stderrLines;
    // Last, so it goes first: its callbacks point at the members above.
    std::unique_ptr<EngineHost> host;
};

TEST_F(EngineHostTest, HandshakeSendsInitializeAndReadsTheAgentVersion)
{
    struct Case {
        std::optional<JSONValue> answer;
        std::optional<QString> version;
    };
    const Case cases[] = {
        {json(R"({"agentInfo":{"name":"hermes","version":"0.5.1"}})"), "0.5.1"},
        {json(R"({"protocolVersion":1})"), std::nullopt},
        {json(R"({"agentInfo":"0.5.1"})"), std::nullopt},
        {json(R"({"agentInfo":{"version":5}})"), std::nullopt},
        {json(R"("0.5.1")"), std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        auto connection = std::make_shared<FakeTransport>("pennora", answering(c.answer));
        EXPECT_EQ(Running(host->handshake(connection)).value(), c.version)
            << (c.answer ? c.answer->toCompactJson().toStdString() : "no result");
        ASSERT_EQ(connection->requests.size(), 1u);
        EXPECT_EQ(connection->requests[0].method, "initialize");
        EXPECT_EQ(
            connection->requests[0].params->toCompactJson(),
            R"({"clientCapabilities":{},"clientInfo":{"name":"Pennora","title":"Pennora","version":"0.1"},"protocolVersion":1})");
        EXPECT_EQ(connection->requests[0].timeout, std::chrono::seconds(15));
    }

    auto refused = std::make_shared<FakeTransport>("pennora", refusing());
    EXPECT_EQ(Running(host->handshake(refused)).error(), "7: refused");
}

TEST_F(EngineHostTest, WithoutBinaryPathNothingStarts)
{
    host->binaryPath.reset();
    EXPECT_EQ(Running(host->startChat()).value(), ChatStart::failed("no engine binary path available"));
    Running<QString> oneShot(promptingOneShot());
    EXPECT_EQ(oneShot.error(), "no engine binary path available");
    EXPECT_TRUE(oneShot.failedWithHostError());
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(host->chat(), nullptr);
    EXPECT_EQ(host->oneShot(), nullptr);
}

TEST_F(EngineHostTest, ChatComesUpWithTheReportedVersionAndItsDriftNote)
{
    struct Case {
        std::optional<JSONValue> answer;
        std::optional<QString> recorded;
        ChatStart expected;
    };
    const Case cases[] = {
        {json(R"({"protocolVersion":1})"), "0.5.0+build7", ChatStart::up(std::nullopt, std::nullopt)},
        {json(R"({"agentInfo":{"version":"0.5.0+build9"}})"), "0.5.0+build7", ChatStart::up("0.5.0+build9", {})},
        {json(R"({"agentInfo":{"version":"0.5.1"}})"), "0.5.0+build7",
         ChatStart::up("0.5.1", "Engine 0.5.1 differs from the recorded 0.5.0+build7")},
        {json(R"({"agentInfo":{"version":"0.5.1"}})"), std::nullopt, ChatStart::up("0.5.1", std::nullopt)},
    };
    for (const Case &c : cases) {
        scripts.push_back(answering(c.answer));
        recorded = c.recorded;
        EXPECT_EQ(Running(host->startChat()).value(), c.expected);
        ASSERT_NE(host->chat(), nullptr);
        EXPECT_EQ(host->chat(), made.back());
        EXPECT_EQ(made.back()->profile, "pennora");
        EXPECT_EQ(made.back()->starts, 1);
        EXPECT_EQ(made.back()->closes, 0);
        host->stopChat();
        EXPECT_EQ(host->chat(), nullptr);
        EXPECT_EQ(made.back()->closes, 1);
    }
}

TEST_F(EngineHostTest, VersionDriftNotesAndTheirLogLine)
{
    struct Case {
        std::optional<QString> recorded;
        std::optional<QString> running;
        std::optional<QString> note;
    };
    const Case cases[] = {
        {"0.5.0+build7", "0.5.0+build9", std::nullopt},
        {"0.5.0+build7", "0.5.1", "Engine 0.5.1 differs from the recorded 0.5.0+build7"},
        {"0.5.0+build7", "0.5.1+build7", "Engine 0.5.1+build7 differs from the recorded 0.5.0+build7"},
        {"0.5.0", "0.5.0+a+b", std::nullopt},
        {std::nullopt, "0.5.1", std::nullopt},
        {"0.5.0+build7", std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        recorded = c.recorded;
        CapturedLog log;
        EXPECT_EQ(host->versionDriftNote(c.running), c.note) << c.running.value_or("none").toStdString();
        const std::vector<CapturedLog::Line> lines = log.linesOf("com.quendalstudio.Pennora.acp");
        if (!c.note) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].type, QtCriticalMsg);
        EXPECT_EQ(lines[0].text, "engine version drift: running " + *c.running + ", recorded " + *c.recorded);
    }

    EXPECT_EQ(EngineHost::versionCore("0.5.0+build7"), "0.5.0");
    EXPECT_EQ(EngineHost::versionCore("1.2+a+b"), "1.2");
    EXPECT_EQ(EngineHost::versionCore("0.5.1"), "0.5.1");
    EXPECT_EQ(EngineHost::versionCore("+build"), "");
}

TEST(EngineHost, RecordedVersionComesFromTheCheckRecord)
{
    const QString path = foundation::paths::appDataDir() + "/state.json";
    const auto record = [](const engine::EngineCheckResult &result) {
        return engine::EngineProbe::StateRecord::forResult(result).encode();
    };
    struct Case {
        std::optional<QByteArray> file;
        std::optional<QString> version;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt},
        {record({engine::EngineCheckResult::Pass{"0.5.0+build7", "hermes"}}), "0.5.0+build7"},
        {record({engine::EngineCheckResult::Fail{"hermes", "no"}}), std::nullopt},
        {"not json", std::nullopt},
    };
    EngineHost host;
    for (const Case &c : cases) {
        QFile::remove(path);
        if (c.file)
            testsupport::writeFile(path, *c.file);
        EXPECT_EQ(EngineHost::recordedEngineVersion(), c.version);
        EXPECT_EQ(host.recordedVersionProvider(), c.version); // the default provider
        // Without a recorded version no running version makes a note.
        if (!c.version) {
            EXPECT_EQ(host.versionDriftNote("9.9.9"), std::nullopt);
        }
    }
    QFile::remove(path);
}

TEST_F(EngineHostTest, FailedChatStartClosesItsConnection)
{
    struct Case {
        Script script;
        QString reason;
    };
    const Case cases[] = {
        {unlaunchable("No such file or directory"), "spawn failed: No such file or directory"},
        {refusing("initialize timed out after 15 s"), "handshake failed: initialize timed out after 15 s"},
    };
    for (const Case &c : cases) {
        made.clear();
        scripts = {c.script, Script()};
        EXPECT_EQ(Running(host->startChat()).value(), ChatStart::failed(c.reason));
        EXPECT_EQ(host->chat(), nullptr);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(made[0]->closes, 1);
        // Nothing of the failed start stays behind to refuse the next one.
        EXPECT_TRUE(Running(host->startChat()).value().isUp());
        host->stopChat();
    }
}

TEST_F(EngineHostTest, OnlyOneChatEngineRuns)
{
    scripts = {silent()};
    Running<ChatStart> first(host->startChat());
    // The first is still in its handshake: a second must not start another.
    EXPECT_EQ(Running(host->startChat()).value(), ChatStart::failed("chat engine already running"));
    ASSERT_EQ(made.size(), 1u);
    EXPECT_FALSE(first.done());
    EXPECT_EQ(host->chat(), nullptr); // recorded only after the handshake

    ASSERT_TRUE(made[0]->answer("initialize", json(R"({"agentInfo":{"version":"1.0"}})")));
    EXPECT_EQ(first.value(), ChatStart::up("1.0", std::nullopt));
    EXPECT_EQ(Running(host->startChat()).value(), ChatStart::failed("chat engine already running"));
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->closes, 0);
    EXPECT_EQ(host->chat(), made[0]);
}

TEST_F(EngineHostTest, StoppingDuringTheHandshakeEndsTheStart)
{
    const std::vector<std::pair<const char *, std::function<void()>>> stops = {
        {"stopChat", [this] { host->stopChat(); }},
        {"shutdown", [this] { host->shutdown(); }},
        {"host released", [this] { host.reset(); }},
    };
    for (const auto &[name, stop] : stops) {
        made.clear();
        scripts = {silent()};
        Running<ChatStart> start(host->startChat());
        ASSERT_EQ(made.size(), 1u);
        stop();
        EXPECT_EQ(made[0]->closes, 1) << name;
        EXPECT_EQ(start.value(), ChatStart::failed("chat engine stopped")) << name;
        if (!host)
            continue;
        EXPECT_EQ(host->chat(), nullptr) << name;
        EXPECT_TRUE(Running(host->startChat()).value().isUp()) << name;
        host->stopChat();
    }
}

TEST_F(EngineHostTest, AnAnswerThatBeatsTheStopDoesNotBringTheChatBack)
{
    scripts = {silent()};
    Running<ChatStart> start(host->startChat());
    // The answer is in, its resumption still queued, when the stop comes.
    ASSERT_TRUE(made[0]->answer("initialize", json("{}")));
    host->stopChat();
    EXPECT_EQ(start.value(), ChatStart::failed("chat engine stopped"));
    EXPECT_EQ(host->chat(), nullptr);
    EXPECT_GE(made[0]->closes, 1);
}

TEST_F(EngineHostTest, ReportsReachTheHostLaterOnTheMainThreadInOrder)
{
    ASSERT_TRUE(Running(host->startChat()).value().isUp());
    const std::shared_ptr<FakeTransport> chat = made.back();

    chat->onMessage()("session/update", json(R"({"n":1})"));
    EXPECT_TRUE(notifications.empty()); // handed over, not called from inside the connection
    onOtherThread([&] {
        chat->onMessage()("session/update", json(R"({"n":2})"));
        chat->onStderrLine()("warning: slow");
        chat->onMessage()("bare", std::nullopt);
        chat->onCrash()();
    });
    EXPECT_TRUE(spinUntil([&] { return crashes == 1; }));
    const std::vector<Received> expected = {
        {"session/update", json(R"({"n":1})")}, {"session/update", json(R"({"n":2})")}, {"bare", std::nullopt}};
    EXPECT_EQ(notifications, expected);
    EXPECT_EQ(stderrLines, QStringList({"warning: slow"}));
    // A crash report leaves the chat engine in place; its owner restarts it.
    EXPECT_EQ(host->chat(), chat);

    Running<QString> oneShot(promptingOneShot());
    ASSERT_TRUE(spinUntil([&] { return made.back()->waiting() == 1; }));
    const std::shared_ptr<FakeTransport> pass = made.back();
    EXPECT_EQ(pass->profile, "pennora-pass1");
    // A one-shot engine reports only its notifications to the host.
    EXPECT_FALSE(pass->onCrash());
    EXPECT_FALSE(pass->onStderrLine());
    onOtherThread([&] { pass->onMessage()("session/update", json(R"({"pass":1})")); });
    EXPECT_TRUE(spinUntil([&] { return notifications.size() == 4; }));
    EXPECT_EQ(notifications.back(), Received("session/update", json(R"({"pass":1})")));

    ASSERT_TRUE(pass->answer("session/prompt", JSONValue("done")));
    EXPECT_EQ(oneShot.value(), "done");
    ASSERT_EQ(threads.size(), 6u);
    for (QThread *thread : threads)
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
}

TEST_F(EngineHostTest, ReportsAfterTheHostIsGoneAreDropped)
{
    ASSERT_TRUE(Running(host->startChat()).value().isUp());
    const std::shared_ptr<FakeTransport> chat = made.back();
    chat->onMessage()("queued-before", std::nullopt);
    chat->onCrash()();
    host.reset();
    EXPECT_EQ(chat->closes, 1);
    chat->onMessage()("after", std::nullopt);
    chat->onStderrLine()("after");
    chat->onCrash()();
    spinUntil([] { return false; }, 50); // time for anything queued to arrive
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(crashes, 0);
    EXPECT_TRUE(stderrLines.isEmpty());
}

TEST_F(EngineHostTest, OneShotRunsItsBodyAndClosesAfter)
{
    Running<QString> oneShot(promptingOneShot("pennora-blind"));
    ASSERT_TRUE(spinUntil([&] { return !made.empty() && made[0]->waiting() == 1; }));
    const std::shared_ptr<FakeTransport> connection = made[0];
    EXPECT_EQ(connection->profile, "pennora-blind");
    EXPECT_EQ(host->oneShot(), connection);
    ASSERT_EQ(connection->requests.size(), 2u);
    EXPECT_EQ(connection->requests[0].method, "initialize");
    EXPECT_EQ(connection->requests[0].params, EngineHost::initializeParams());
    EXPECT_EQ(connection->requests[1].method, "session/prompt");
    EXPECT_EQ(connection->closes, 0);

    ASSERT_TRUE(connection->answer("session/prompt", JSONValue("end_turn")));
    EXPECT_EQ(oneShot.value(), "end_turn");
    EXPECT_EQ(connection->closes, 1);
    EXPECT_EQ(host->oneShot(), nullptr);

    // A body without a result runs the same way.
    bool ran = false;
    Running<bool> quiet(ended(host->startOneShot("pennora-pass2", [&ran](EngineTransport &) -> QCoro::Task<> {
        ran = true;
        co_return;
    })));
    EXPECT_TRUE(quiet.value());
    EXPECT_TRUE(ran);
    EXPECT_EQ(made.back()->closes, 1);
    EXPECT_EQ(host->oneShot(), nullptr);
}

TEST_F(EngineHostTest, FailedOneShotIsClosedAndCleared)
{
    struct Case {
        const char *name;
        Script script;
        std::optional<QString> bodyError; // what the body's request meets
        QString error;
        bool hostError;
    };
    const Case cases[] = {
        {"spawn", unlaunchable("Permission denied"), {}, "spawn failed: Permission denied", true},
        {"handshake", refusing(), {}, "handshake failed: 7: refused", true},
        {"body", Script(), "-32000: prompt refused", "-32000: prompt refused", false},
    };
    for (const Case &c : cases) {
        made.clear();
        scripts = {c.script};
        Running<QString> oneShot(promptingOneShot());
        ASSERT_EQ(made.size(), 1u);
        if (c.bodyError) {
            ASSERT_TRUE(spinUntil([&] { return made[0]->fail("session/prompt", *c.bodyError); }));
        }
        EXPECT_EQ(oneShot.error(), c.error) << c.name;
        EXPECT_EQ(oneShot.failedWithHostError(), c.hostError) << c.name;
        EXPECT_EQ(made[0]->closes, 1) << c.name;
        EXPECT_EQ(host->oneShot(), nullptr) << c.name;
    }
}

TEST_F(EngineHostTest, SecondOneShotIsRefusedAndTheFirstRunsOn)
{
    Running<QString> first(promptingOneShot());
    ASSERT_EQ(made.size(), 1u);
    Running<QString> second(promptingOneShot("pennora-pass2"));
    EXPECT_TRUE(second.done()); // refused at once
    EXPECT_EQ(second.error(), "one-shot engine already running");
    EXPECT_TRUE(second.failedWithHostError());
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->closes, 0);
    EXPECT_EQ(host->oneShot(), made[0]);

    ASSERT_TRUE(spinUntil([&] { return made[0]->answer("session/prompt", JSONValue("first")); }));
    EXPECT_EQ(first.value(), "first");
    EXPECT_EQ(host->oneShot(), nullptr);
}

TEST_F(EngineHostTest, OneShotEndedByShutdownLeavesItsSuccessorAlone)
{
    Running<QString> first(promptingOneShot());
    ASSERT_TRUE(spinUntil([&] { return made[0]->waiting() == 1; }));
    host->shutdown();
    EXPECT_EQ(made[0]->closes, 1);
    EXPECT_EQ(host->oneShot(), nullptr);
    // Started before the first's body has seen its end.
    Running<QString> second(promptingOneShot("pennora-pass2"));
    EXPECT_EQ(first.error(), "engine closed");
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(host->oneShot(), made[1]);
    EXPECT_EQ(made[1]->closes, 0);

    ASSERT_TRUE(spinUntil([&] { return made[1]->answer("session/prompt", JSONValue("second")); }));
    EXPECT_EQ(second.value(), "second");
    EXPECT_EQ(host->oneShot(), nullptr);
}

TEST_F(EngineHostTest, StoppingAOneShotEndsIt)
{
    struct Case {
        const char *name;
        bool inHandshake;
        bool releaseHost;
        QString error;
        bool hostError;
    };
    const Case cases[] = {
        {"shutdown in the handshake", true, false, "one-shot engine stopped", true},
        {"shutdown in the body", false, false, "engine closed", false},
        {"host released in the handshake", true, true, "one-shot engine stopped", true},
        {"host released in the body", false, true, "engine closed", false},
    };
    for (const Case &c : cases) {
        makeHost();
        made.clear();
        scripts = {c.inHandshake ? silent() : Script()};
        Running<QString> oneShot(promptingOneShot());
        ASSERT_TRUE(spinUntil([&] { return made[0]->waiting() == 1; })) << c.name;
        if (c.releaseHost)
            host.reset();
        else
            host->shutdown();
        EXPECT_EQ(made[0]->closes, 1) << c.name;
        EXPECT_EQ(oneShot.error(), c.error) << c.name;
        EXPECT_EQ(oneShot.failedWithHostError(), c.hostError) << c.name;
        EXPECT_EQ(made[0]->requests.size(), c.inHandshake ? 1u : 2u) << c.name;
        if (host) {
            EXPECT_EQ(host->oneShot(), nullptr) << c.name;
        }
    }
}

TEST_F(EngineHostTest, ShutdownWithNothingRunningReturnsAtOnce)
{
    host->shutdown();
    host->stopChat();
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(host->chat(), nullptr);
    EXPECT_EQ(host->oneShot(), nullptr);
}

// The host on the stand-in engine, through its default maker of connections,
// which the test watches to see the children.
class EngineHostOnStandIn {
public:
    explicit EngineHostOnStandIn(const QJsonObject &scenario) : fake(scenario)
    {
        host->binaryPath = testsupport::fakeHermesBinary();
        host->recordedVersionProvider = [] { return std::optional<QString>("0.5.0+build7"); };
        host->onNotification = [this](const QString &method, const std::optional<JSONValue> &params) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            notifications.push_back({method, params});
        };
        host->makeTransport = [this, make = host->makeTransport](const QString &profile) {
            const std::shared_ptr<EngineTransport> connection = make(profile);
            clients.push_back(std::dynamic_pointer_cast<ACPEngineClient>(connection));
            return connection;
        };
    }
    // The child of the last connection made; 0 when it has not started.
    qint64 lastPid() const { return clients.empty() ? 0 : clients.back()->processID(); }

    FakeHermesScenario fake;
    std::vector<std::shared_ptr<ACPEngineClient>> clients;
    std::vector<Received> notifications;
    std::unique_ptr<EngineHost> host = std::make_unique<EngineHost>();
};

QJsonObject silentEngine()
{
    return QJsonObject{{"acp", QJsonObject{{"steps", QJsonArray{QJsonObject{{"expect", "initialize"}}}}}}};
}

QJsonObject initializeAnswer(const QJsonObject &answer)
{
    return QJsonObject{{"initialize", answer}};
}

TEST(EngineHostOnStandIn, HandshakeTimeOutStopsTheChild)
{
    EngineHostOnStandIn s(silentEngine());
    s.host->handshakeTimeout = std::chrono::seconds(1);
    Running<ChatStart> start(s.host->startChat());
    const qint64 pid = s.lastPid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(start.value(), ChatStart::failed("handshake failed: initialize timed out after 1 s"));
    EXPECT_TRUE(spinUntil([&] { return processGone(pid); }));
    EXPECT_EQ(s.host->chat(), nullptr);
    ASSERT_FALSE(s.fake.receivedMessages().isEmpty());
    EXPECT_EQ(s.fake.receivedMessages().first().value("method").toString(), "initialize");
}

TEST(EngineHostOnStandIn, StoppingDuringTheHandshakeLeavesNoChild)
{
    const std::vector<std::pair<const char *, std::function<void(EngineHostOnStandIn &)>>> stops = {
        {"stopChat", [](EngineHostOnStandIn &s) { s.host->stopChat(); }},
        {"shutdown", [](EngineHostOnStandIn &s) { s.host->shutdown(); }},
        {"host released", [](EngineHostOnStandIn &s) { s.host.reset(); }},
    };
    for (const auto &[name, stop] : stops) {
        EngineHostOnStandIn s(silentEngine());
        s.host->handshakeTimeout = std::chrono::seconds(600); // only the stop may end the child here
        Running<ChatStart> start(s.host->startChat());
        const qint64 pid = s.lastPid();
        ASSERT_GT(pid, 0) << name;
        ASSERT_TRUE(spinUntil([&] { return !s.fake.receivedLines().isEmpty(); })) << name;
        stop(s);
        EXPECT_TRUE(spinUntil([&] { return processGone(pid); })) << name;
        EXPECT_EQ(start.value(), ChatStart::failed("chat engine stopped")) << name;
    }
}

TEST(EngineHostOnStandIn, ChatAndOneShotRunTogetherAndBothNotify)
{
    const QJsonObject chat{
        {"steps", QJsonArray{QJsonObject{{"expect", "initialize"}},
                             QJsonObject{{"reply", QJsonObject{{"agentInfo", QJsonObject{{"version", "0.5.1"}}}}}},
                             QJsonObject{{"send", QJsonObject{{"jsonrpc", "2.0"},
                                                              {"method", "session/update"},
                                                              {"params", QJsonObject{{"from", "chat"}}}}}}}}};
    const QJsonObject pass{
        {"answers",
         QJsonObject{{"initialize", QJsonObject{{"result", QJsonObject()}}},
                     {"session/prompt", QJsonObject{{"result", QJsonObject{{"stopReason", "end_turn"}}},
                                                    {"updates", QJsonArray{QJsonObject{{"from", "pass"}}}}}}}}};
    EngineHostOnStandIn s(QJsonObject{{"profiles", QJsonObject{{"pennora", chat}, {"pennora-pass1", pass}}}});

    EXPECT_EQ(Running(s.host->startChat()).value(),
              ChatStart::up("0.5.1", "Engine 0.5.1 differs from the recorded 0.5.0+build7"));
    const qint64 chatPid = s.lastPid();
    ASSERT_GT(chatPid, 0);

    qint64 passPid = 0;
    Running<std::optional<JSONValue>> oneShot(s.host->startOneShot(
        "pennora-pass1", [&](EngineTransport &connection) -> QCoro::Task<std::optional<JSONValue>> {
            passPid = s.lastPid();
            return connection.request("session/prompt", std::nullopt, std::chrono::seconds(10));
        }));
    EXPECT_EQ(oneShot.value(), json(R"({"stopReason":"end_turn"})"));
    ASSERT_GT(passPid, 0);
    EXPECT_NE(passPid, chatPid);
    EXPECT_TRUE(spinUntil([&] { return processGone(passPid); }));
    EXPECT_EQ(s.host->oneShot(), nullptr);
    EXPECT_FALSE(processGone(chatPid)); // the chat engine runs on

    ASSERT_TRUE(spinUntil([&] { return s.notifications.size() == 2; }));
    EXPECT_EQ(s.notifications[0], Received("session/update", json(R"({"from":"chat"})")));
    EXPECT_EQ(s.notifications[1], Received("session/update", json(R"({"from":"pass"})")));
    QStringList runs;
    for (const QJsonObject &event : s.fake.events())
        if (event.value("event").toString() == "run")
            runs << event.value("args").toVariant().toStringList().join(' ');
    EXPECT_EQ(runs, QStringList({"acp -p pennora", "acp -p pennora-pass1"}));

    s.host.reset(); // the host's end closes the chat engine
    EXPECT_TRUE(spinUntil([&] { return processGone(chatPid); }));
}

TEST(EngineHostOnStandIn, OneShotChildEndsOnEveryWayOut)
{
    struct Case {
        const char *name;
        QJsonObject answers;
        QString error;
    };
    const Case cases[] = {
        {"handshake", initializeAnswer(QJsonObject{{"error", QJsonObject{{"code", 5}, {"message", "no profile"}}}}),
         "handshake failed: 5: no profile"},
        {"body",
         QJsonObject{{"initialize", QJsonObject{{"result", QJsonObject()}}},
                     {"session/new", QJsonObject{{"error", QJsonObject{{"code", -32000}, {"message", "no session"}}}}}},
         "-32000: no session"},
    };
    for (const Case &c : cases) {
        EngineHostOnStandIn s(QJsonObject{{"acp", QJsonObject{{"answers", c.answers}}}});
        Running<std::optional<JSONValue>> oneShot(s.host->startOneShot(
            "pennora-pass2", [](EngineTransport &connection) -> QCoro::Task<std::optional<JSONValue>> {
                return connection.request("session/new", std::nullopt, std::chrono::seconds(10));
            }));
        const qint64 pid = s.lastPid();
        ASSERT_GT(pid, 0) << c.name;
        EXPECT_EQ(oneShot.error(), c.error) << c.name;
        EXPECT_TRUE(spinUntil([&] { return processGone(pid); })) << c.name;
        EXPECT_EQ(s.host->oneShot(), nullptr) << c.name;
    }
}

TEST(EngineHost, DefaultMakerTakesThePathAtTheCall)
{
    auto host = std::make_unique<EngineHost>();
    host->binaryPath = QString(); // set but empty: the start fails
    const ChatStart start = Running(host->startChat()).value();
    ASSERT_FALSE(start.isUp());
    EXPECT_TRUE(std::get<ChatStart::Failed>(start.value).reason.startsWith("spawn failed: "))
        << std::get<ChatStart::Failed>(start.value).reason.toStdString();

    // A maker that outlives its host makes a connection with no path.
    const EngineHost::TransportMaker make = host->makeTransport;
    host->binaryPath = testsupport::fakeHermesBinary();
    host.reset();
    const std::shared_ptr<EngineTransport> orphan = make("pennora");
    EXPECT_THROW(orphan->start(), engine::LaunchError);
}

} // namespace
