// The probe over the real network transport, against scripted servers on
// 127.0.0.1: what goes on the wire for each provider, redirects that must not
// carry a key elsewhere, deadlines, broken connections and capped bodies.
#include "profiles/providerprobe.h"

#include "loopbackhttpserver.h"
#include "probetesting.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <gtest/gtest.h>

namespace ProviderProbe = profiles::ProviderProbe;
using profiles::ModelProvider;
using ProviderProbe::Outcome;
using ProviderProbe::Request;
using ProviderProbe::Response;
using testsupport::LoopbackHttpServer;

namespace {

// Qt's network thread leaks the connections it still holds when the process
// ends right after they broke; every test lets it close them first.
class ProviderProbeNetwork : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (auto *manager = QCoreApplication::instance()->findChild<QNetworkAccessManager *>())
            manager->clearConnectionCache();
        testsupport::drainPosted();
    }
};

const QByteArray kModels = R"({"object":"list","data":[{"id":"a"},{"id":"b"},{"id":"c"}]})";

QJsonObject jsonObject(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

Outcome probe(ModelProvider provider, const QString &endpoint, const QString &key, const QString &model)
{
    return QCoro::waitFor(ProviderProbe::probe(provider, endpoint, key, model, ProviderProbe::urlSessionTransport()));
}

// What the transport answered, or the description of its failure.
struct Sent {
    std::optional<Response> response;
    QString failure;
};

QCoro::Task<Sent> trySend(Request request)
{
    try {
        QCoro::Task<Response> sending = ProviderProbe::urlSessionTransport()(std::move(request));
        // Awaited into a name first: GCC 12 mishandles a co_await inside braces.
        Response response = co_await sending;
        co_return Sent{std::move(response), {}};
    } catch (const ProviderProbe::TransportError &error) {
        co_return Sent{std::nullopt, error.message()};
    }
}

Sent send(const QString &url, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    return QCoro::waitFor(trySend(Request{QUrl(url), "GET", {{"Authorization", "Bearer sk-secret"}}, {}, timeout}));
}

TEST_F(ProviderProbeNetwork, EachProviderSendsItsRequestsAsSpecified)
{
    const struct {
        ModelProvider provider;
        QString path;
        QString modelsTarget;
        QString chatTarget;
        QList<QByteArray> stream;
        QByteArray body;
    } cases[] = {
        {ModelProvider::zai,
         "/api/paas/v4",
         "/api/paas/v4/models",
         "/api/paas/v4/chat/completions",
         {"data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"}}]}\n\n", "data: [DONE]\n\n"},
         R"({"model":"glm-5.3","stream":true,"messages":[{"role":"user","content":"hi"}],"max_tokens":512,)"
         R"("thinking":{"type":"enabled"},"reasoning_effort":"low"})"},
        {ModelProvider::anthropic,
         "/",
         "/v1/models",
         "/v1/messages",
         {"event: content_block_delta\ndata: {\"delta\":{\"type\":\"text_delta\",\"text\":\"Hi\"}}\n\n"},
         R"({"model":"glm-5.3","stream":true,"messages":[{"role":"user","content":"hi"}],"max_tokens":512})"},
        {ModelProvider::openaiAPI,
         "/v1/",
         "/v1/models",
         "/v1/responses",
         {"event: response.output_text.delta\n",
          "data: {\"type\":\"response.output_text.delta\",\"delta\":\"Hi\"}\n\n"},
         R"({"model":"glm-5.3","stream":true,"input":"hi","max_output_tokens":512})"},
        {ModelProvider::nous,
         "/v1",
         "/v1/models",
         "/v1/chat/completions",
         {"data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"}}]}\r\n\r\n"},
         R"({"model":"glm-5.3","stream":true,"messages":[{"role":"user","content":"hi"}],"max_tokens":512})"},
    };
    for (const auto &c : cases) {
        const std::string name = c.provider.rawValue().toStdString();
        LoopbackHttpServer server;
        server.enqueue(LoopbackHttpServer::answer(200, kModels, {{"Content-Type", "application/json"}}));
        server.enqueue(LoopbackHttpServer::stream(c.stream, 20));
        const Outcome outcome = probe(c.provider, server.baseURL() + c.path, "sk-1 2", "glm-5.3");
        EXPECT_EQ(outcome.which, Outcome::Case::works) << name << ": " << outcome.description().toStdString();
        EXPECT_EQ(outcome.modelCount, 3) << name;
        ASSERT_EQ(server.received().size(), 2) << name;
        const LoopbackHttpServer::Received &models = server.received()[0];
        const LoopbackHttpServer::Received &chat = server.received()[1];
        EXPECT_EQ(models.method, "GET") << name;
        EXPECT_EQ(models.target, c.modelsTarget) << name;
        EXPECT_TRUE(models.body.isEmpty()) << name;
        EXPECT_EQ(chat.method, "POST") << name;
        EXPECT_EQ(chat.target, c.chatTarget) << name;
        EXPECT_EQ(chat.header("Content-Type"), QByteArray("application/json")) << name;
        EXPECT_EQ(jsonObject(chat.body), jsonObject(c.body)) << name;
        for (const LoopbackHttpServer::Received &request : server.received()) {
            if (c.provider == ModelProvider::anthropic) {
                EXPECT_EQ(request.header("x-api-key"), QByteArray("sk-1 2"));
                EXPECT_EQ(request.header("anthropic-version"), QByteArray("2023-06-01"));
                EXPECT_FALSE(request.header("Authorization"));
            } else {
                EXPECT_EQ(request.header("Authorization"), QByteArray("Bearer sk-1 2")) << name;
                EXPECT_FALSE(request.header("x-api-key")) << name;
            }
        }
    }
}

TEST_F(ProviderProbeNetwork, HTTPFailuresAreAnswersWithTheirBodies)
{
    LoopbackHttpServer server;
    server.enqueue(LoopbackHttpServer::answer(401, R"({"error":{"message":"invalid x-api-key"},"request_id":"r1"})"));
    EXPECT_EQ(probe(ModelProvider::anthropic, server.baseURL(), "k", "m"),
              Outcome::authFailed("invalid x-api-key (request r1)"));

    server.enqueue(LoopbackHttpServer::answer(200, kModels));
    server.enqueue(LoopbackHttpServer::answer(400, R"({"error":{"code":"1113","message":"wrong"}})"));
    EXPECT_EQ(probe(ModelProvider::zai, server.baseURL(), "k", "m"),
              Outcome::wrongKeyType(ProviderProbe::kWrongKeyTypeMessage));

    server.enqueue(LoopbackHttpServer::answer(500, "<h1>down</h1>"));
    EXPECT_EQ(probe(ModelProvider::nous, server.baseURL(), "k", "m"), Outcome::requestFailed(500, "HTTP 500"));

    // A 200 whose stream stops at the cap before any text.
    server.enqueue(LoopbackHttpServer::answer(200, "{}"));
    server.enqueue(
        LoopbackHttpServer::stream({"data: {\"choices\":[{\"delta\":{},\"finish_reason\":\"length\"}]}\n\n"}));
    EXPECT_EQ(probe(ModelProvider::zai, server.baseURL(), "k", "m"),
              Outcome::starved("finish=length with empty content — raise the token cap"));
    EXPECT_EQ(server.received().size(), 6);
}

TEST_F(ProviderProbeNetwork, ARedirectIsAnAnswerAndTheKeyStaysHome)
{
    LoopbackHttpServer elsewhere;
    for (const int status : {301, 302, 307, 308}) {
        LoopbackHttpServer server;
        server.enqueue(LoopbackHttpServer::redirect(status, (elsewhere.baseURL() + "/v1/models").toUtf8()));
        EXPECT_EQ(probe(ModelProvider::anthropic, server.baseURL(), "sk-secret", "m"),
                  Outcome::requestFailed(status, "HTTP " + QString::number(status)));
        server.enqueue(LoopbackHttpServer::redirect(status, (elsewhere.baseURL() + "/v1/models").toUtf8()));
        const Sent sent = send(server.baseURL() + "/models");
        ASSERT_TRUE(sent.response) << status << " " << sent.failure.toStdString();
        EXPECT_EQ(sent.response->status, status);
    }
    // Give a stray follow-up time to arrive before looking.
    testsupport::spinUntil([] { return false; }, 200);
    EXPECT_EQ(elsewhere.connectionCount(), 0);
    EXPECT_TRUE(elsewhere.received().isEmpty());
}

TEST_F(ProviderProbeNetwork, TheTimeOutIsADeadlineForTheWholeRequest)
{
    LoopbackHttpServer server;
    server.enqueue(LoopbackHttpServer::stall());
    EXPECT_EQ(send(server.baseURL() + "/models", std::chrono::milliseconds(300)).failure, "timed out after 0.3 s");
    // A server that keeps sending a byte now and then is still cut off.
    server.enqueue(LoopbackHttpServer::trickle(50));
    EXPECT_EQ(send(server.baseURL() + "/models", std::chrono::milliseconds(500)).failure, "timed out after 0.5 s");
    EXPECT_EQ(server.received().size(), 2);
}

TEST_F(ProviderProbeNetwork, NoHTTPAnswerIsUnreachable)
{
    const struct {
        const char *name;
        LoopbackHttpServer::Reply reply;
    } cases[] = {
        {"closed before any reply", LoopbackHttpServer::closeAtOnce()},
        {"not HTTP", LoopbackHttpServer::raw("SSH-2.0-OpenSSH_9.2\r\nProtocol mismatch.\n")},
        {"a body cut short of its length", LoopbackHttpServer::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{")},
    };
    for (const auto &c : cases) {
        LoopbackHttpServer server;
        // Qt sends a request once more after a connection closed unanswered.
        server.setFallback(c.reply);
        const Outcome outcome = probe(ModelProvider::nous, server.baseURL(), "k", "m");
        EXPECT_EQ(outcome.which, Outcome::Case::unreachable) << c.name << ": " << outcome.description().toStdString();
        EXPECT_FALSE(outcome.detail.isEmpty()) << c.name;
        EXPECT_FALSE(server.received().isEmpty()) << c.name;
    }

    QString gone;
    {
        const LoopbackHttpServer closedDown;
        gone = closedDown.baseURL();
    }
    const Outcome refused = probe(ModelProvider::nous, gone, "k", "m");
    EXPECT_EQ(refused.which, Outcome::Case::unreachable) << refused.description().toStdString();
}

TEST_F(ProviderProbeNetwork, ALongBodyIsReadUpToTheCap)
{
    LoopbackHttpServer server;
    const QByteArray body = QByteArray(ProviderProbe::kBodyCap + 4096, 'x');
    server.enqueue(LoopbackHttpServer::answer(200, body));
    const Sent sent = send(server.baseURL() + "/models", std::chrono::seconds(20));
    ASSERT_TRUE(sent.response) << sent.failure.toStdString();
    EXPECT_EQ(sent.response->status, 200);
    EXPECT_EQ(sent.response->body.size(), ProviderProbe::kBodyCap);
}

} // namespace
