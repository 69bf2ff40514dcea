// The provider probe's steps and its road through an in-process transport:
// URLs, error classification, stream parsing and the judgement of a reply.
#include "profiles/providerprobe.h"

#include "probetesting.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace ProviderProbe = profiles::ProviderProbe;
using foundation::JSONValue;
using profiles::ModelProvider;
using ProviderProbe::Outcome;
using ProviderProbe::StreamReply;
using testsupport::ScriptedProbeTransport;

namespace {

const QString kAnthropic = ModelProvider(ModelProvider::anthropic).defaultEndpoint();

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

QString urlText(const std::optional<QUrl> &url)
{
    return url ? url->toString() : QStringLiteral("<none>");
}

TEST(ProviderProbeSteps, EndpointURLs)
{
    const struct {
        QString endpoint;
        QString path;
        QString expected;
    } cases[] = {
        {"https://api.anthropic.com/", "/v1/models", "https://api.anthropic.com/v1/models"},
        {"https://api.anthropic.com", "/v1/messages", "https://api.anthropic.com/v1/messages"},
        {"https://h.example/v1//", "/models", "https://h.example/v1//models"},
        {"HTTPS://h.example/v1", "/models", "https://h.example/v1/models"},
        {"http://127.0.0.1:8080/v1", "/models", "http://127.0.0.1:8080/v1/models"},
        {"ftp://x", "/models", "<none>"},
        {"https://", "/models", "<none>"},
        {"https:///v1", "/models", "<none>"},
        {" https://a.b", "/models", "<none>"},
        {"https://a.b ", "/models", "<none>"},
        {"https://a b", "/models", "<none>"},
        {"https://a.b/v\t1", "/models", "<none>"},
        {"a.b/v1", "/models", "<none>"},
        {"", "/models", "<none>"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(urlText(ProviderProbe::endpointURL(c.endpoint, c.path)), c.expected) << c.endpoint.toStdString();
}

TEST(ProviderProbeSteps, ErrorClassification)
{
    const QString wrongKey = ProviderProbe::kWrongKeyTypeMessage;
    const struct {
        const char *name;
        int status;
        QByteArray body;
        ModelProvider provider;
        Outcome expected;
    } cases[] = {
        {"401 with a message", 401, R"({"error":{"message":"bad key"}})", ModelProvider::openaiAPI,
         Outcome::authFailed("bad key")},
        {"the request id follows", 401, R"({"error":{"message":"bad key"},"request_id":"req_1"})",
         ModelProvider::anthropic, Outcome::authFailed("bad key (request req_1)")},
        {"a numeric request id is not read", 500, R"({"error":{"message":"m"},"request_id":7})", ModelProvider::nous,
         Outcome::requestFailed(500, "m")},
        {"404, not JSON", 404, "<html>nope</html>", ModelProvider::nous, Outcome::requestFailed(404, "HTTP 404")},
        {"z.ai 1113", 400, R"({"error":{"code":"1113","message":"whatever"}})", ModelProvider::zai,
         Outcome::wrongKeyType(wrongKey)},
        {"1113 from another provider", 400, R"({"error":{"code":"1113","message":"whatever"}})", ModelProvider::nous,
         Outcome::requestFailed(400, "whatever")},
        {"a numeric 1113 is not read", 400, R"({"error":{"code":1113,"message":"m"}})", ModelProvider::zai,
         Outcome::requestFailed(400, "m")},
        {"403 authentication_error", 403, R"({"error":{"type":"authentication_error","message":"no"}})",
         ModelProvider::anthropic, Outcome::authFailed("no")},
        {"code 401 in text", 200, R"({"error":{"code":"401","message":"x"}})", ModelProvider::zai,
         Outcome::authFailed("x")},
        {"invalid_api_key", 400, R"({"error":{"code":"invalid_api_key"}})", ModelProvider::openaiAPI,
         Outcome::authFailed("HTTP 400")},
        {"the top-level message", 429, R"({"message":"slow down","error":"rate"})", ModelProvider::nous,
         Outcome::requestFailed(429, "slow down")},
        {"a 3xx is a failed request", 302, "", ModelProvider::anthropic, Outcome::requestFailed(302, "HTTP 302")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProviderProbe::classifyError(c.status, object(c.body), c.provider), c.expected) << c.name;
}

TEST(ProviderProbeSteps, EventParsing)
{
    const struct {
        const char *name;
        QByteArray body;
        QList<JSONValue> expected;
    } cases[] = {
        {"data lines only, [DONE] and empty payloads skipped",
         "event: x\ndata: {\"a\":1}\n\nid: 3\n: comment\ndata:[DONE]\ndata:   \ndata:\t[1]\t\n",
         {JSONValue::Object{{"a", 1}}, JSONValue::Array{1}}},
        {"CR LF lines",
         "data: {\"a\":1}\r\n\r\ndata: {\"b\":2}\r\n",
         {JSONValue::Object{{"a", 1}}, JSONValue::Object{{"b", 2}}}},
        {"scalars and broken JSON skipped",
         "data: 3\ndata: \"s\"\ndata: {\"a\":\ndata: null\ndata: {}\n",
         {JSONValue::Object{}}},
        {"\"data:\" only at the line start", " data: {}\nDATA: {}\n", {}},
        {"not UTF-8", "data: {\"a\":\"\xff\"}\n", {}},
        {"a plain JSON body is no event", "{\"a\":1}", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProviderProbe::parseEvents(c.body), c.expected) << c.name;
}

TEST(ProviderProbeSteps, StreamErrors)
{
    const struct {
        const char *name;
        QByteArray body;
        ModelProvider provider;
        std::optional<Outcome> expected;
    } cases[] = {
        {"an error after text",
         "data: {\"delta\":{\"type\":\"text_delta\",\"text\":\"hi\"}}\n"
         "data: {\"error\":{\"type\":\"overloaded_error\",\"message\":\"busy\"}}\n",
         ModelProvider::anthropic, Outcome::requestFailed(200, "busy")},
        {"an error inside the response object",
         "data: {\"type\":\"response.failed\",\"response\":{\"error\":{\"code\":\"invalid_api_key\","
         "\"message\":\"key?\"}}}\n",
         ModelProvider::openaiAPI, Outcome::authFailed("key?")},
        {"the event's own error wins over its response's",
         "data: {\"error\":{\"message\":\"own\"},\"response\":{\"error\":{\"message\":\"inner\"}}}\n",
         ModelProvider::openaiAPI, Outcome::requestFailed(200, "own")},
        {"a text error is none", "data: {\"error\":\"bad\"}\n", ModelProvider::nous, std::nullopt},
        {"the first error counts", "data: {\"error\":{\"message\":\"one\"}}\ndata: {\"error\":{\"message\":\"two\"}}\n",
         ModelProvider::nous, Outcome::requestFailed(200, "one")},
        {"1113 in the stream", "data: {\"error\":{\"code\":\"1113\"}}\n", ModelProvider::zai,
         Outcome::wrongKeyType(ProviderProbe::kWrongKeyTypeMessage)},
        {"a plain JSON error body", "{\"error\":{\"message\":\"plain\"},\"request_id\":\"r\"}", ModelProvider::nous,
         Outcome::requestFailed(200, "plain (request r)")},
        {"no error", "data: {\"choices\":[]}\n", ModelProvider::nous, std::nullopt},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ProviderProbe::streamError(ProviderProbe::parseEvents(c.body), c.body, c.provider), c.expected)
            << c.name;
    }
}

TEST(ProviderProbeSteps, TextReaders)
{
    const QList<JSONValue> anthropic = ProviderProbe::parseEvents(
        "data: {\"type\":\"content_block_delta\",\"delta\":{\"type\":\"thinking_delta\",\"thinking\":\"hm\"}}\n"
        "data: {\"type\":\"whatever\",\"delta\":{\"type\":\"text_delta\",\"text\":\"He\"}}\n"
        "data: {\"delta\":{\"type\":\"text_delta\",\"text\":7}}\n"
        "data: {\"delta\":{\"type\":\"text_delta\",\"text\":\"llo\"}}\n"
        "data: {\"delta\":{\"stop_reason\":\"max_tokens\"}}\n"
        "data: {\"delta\":{\"stop_reason\":\"end_turn\"}}\n"
        "data: [{\"delta\":{\"type\":\"text_delta\",\"text\":\"list\"}}]\n");
    EXPECT_EQ(ProviderProbe::anthropicText(anthropic), (StreamReply{"Hello", "end_turn"}));

    const QList<JSONValue> responses =
        ProviderProbe::parseEvents("data: {\"type\":\"response.reasoning_summary_text.delta\",\"delta\":\"think\"}\n"
                                   "data: {\"type\":\"response.output_text.delta\",\"delta\":\" \"}\n"
                                   "data: {\"type\":\"response.completed\",\"response\":{\"status\":\"completed\"}}\n");
    EXPECT_EQ(ProviderProbe::responsesText(responses), (StreamReply{" ", "completed"}));

    const QList<JSONValue> chat = ProviderProbe::parseEvents(
        "data: {\"choices\":[{\"delta\":{\"reasoning_content\":\"think\"}}]}\n"
        "data: {\"choices\":[{\"delta\":{\"content\":\"A\"}},{\"delta\":{\"content\":\"B\"}}]}\n"
        "data: {\"choices\":[]}\n"
        "data: {\"choices\":[\"x\"]}\n"
        "data: {\"choices\":[{\"delta\":{\"content\":\"C\"},\"finish_reason\":\"stop\"}]}\n"
        "data: {\"choices\":[{\"delta\":{},\"finish_reason\":null}]}\n");
    EXPECT_EQ(ProviderProbe::chatCompletionsText(chat), (StreamReply{"AC", "stop"}));
    EXPECT_EQ(ProviderProbe::chatCompletionsText({}), StreamReply());
}

TEST(ProviderProbeSteps, ReplyJudgement)
{
    const struct {
        const char *name;
        ModelProvider provider;
        QByteArray body;
        Outcome expected;
    } cases[] = {
        {"chat completions with text", ModelProvider::nous,
         "data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"}}]}\n"
         "data: {\"choices\":[{\"delta\":{\"content\":\"!\"},\"finish_reason\":\"stop\"}]}\ndata: [DONE]\n",
         Outcome::works(42, 3)},
        {"z.ai thinking only, cut at the cap", ModelProvider::zai,
         "data: {\"choices\":[{\"delta\":{\"reasoning_content\":\"hmm\"}}]}\n"
         "data: {\"choices\":[{\"delta\":{},\"finish_reason\":\"length\"}]}\n",
         Outcome::starved("finish=length with empty content — raise the token cap")},
        {"anthropic without text, another reason", ModelProvider::anthropic,
         "data: {\"delta\":{\"stop_reason\":\"refusal\"}}\n",
         Outcome::requestFailed(200, "no content (finish=refusal)")},
        {"anthropic without a reason", ModelProvider::anthropic, "data: {\"type\":\"ping\"}\n",
         Outcome::requestFailed(200, "no content (finish=none)")},
        {"anthropic at max_tokens", ModelProvider::anthropic, "data: {\"delta\":{\"stop_reason\":\"max_tokens\"}}\n",
         Outcome::starved("finish=max_tokens with empty content — raise the token cap")},
        {"responses incomplete", ModelProvider::openaiAPI,
         "data: {\"type\":\"response.incomplete\",\"response\":{\"status\":\"incomplete\"}}\n",
         Outcome::starved("finish=incomplete with empty content — raise the token cap")},
        {"an error beats the text", ModelProvider::nous,
         "data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"}}]}\ndata: {\"error\":{\"message\":\"late\"}}\n",
         Outcome::requestFailed(200, "late")},
        {"a plain JSON error", ModelProvider::openaiAPI, "{\"error\":{\"message\":\"not streamed\"}}",
         Outcome::requestFailed(200, "not streamed")},
        {"white space is text", ModelProvider::openaiAPI,
         "data: {\"type\":\"response.output_text.delta\",\"delta\":\"\\n\"}\n", Outcome::works(42, 3)},
        {"an empty body", ModelProvider::zai, "", Outcome::requestFailed(200, "no content (finish=none)")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProviderProbe::judgeReply(c.provider, c.body, 3, 42), c.expected) << c.name;
}

// --- The probe's road ---------------------------------------------------------

Outcome probe(ModelProvider provider, const QString &endpoint, const QString &key, const ScriptedProbeTransport &fake)
{
    return QCoro::waitFor(ProviderProbe::probe(provider, endpoint, key, "m", fake.transport()));
}

const QByteArray kChatText = "data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"}}]}\n";

TEST(ProviderProbe, NothingIsSentWithoutAKeyOrAURL)
{
    const ScriptedProbeTransport fake;
    EXPECT_EQ(probe(ModelProvider::nous, "https://a.b", "", fake),
              Outcome::authFailed("no API key set — paste the key first"));
    for (const QString endpoint : {"ftp://x", "https://", " https://a.b", "https://a b"})
        EXPECT_EQ(probe(ModelProvider::nous, endpoint, " ", fake), Outcome::unreachable("endpoint is not a valid URL"));
    EXPECT_TRUE(fake.sent().isEmpty());
}

// A pasted key can carry a line break, or more lines of a key file: in a
// header it would end the line and put the rest on the wire as headers of
// its own.
TEST(ProviderProbe, AKeyWithALineBreakIsNeverSent)
{
    const ScriptedProbeTransport fake(
        {ScriptedProbeTransport::reply(200, "{}"), ScriptedProbeTransport::reply(200, kChatText)});
    const QString keys[] = {"sk-1\n", "sk-1\r\n", "sk-1\rX", QString("sk-1") + QChar(u'\0') + "x",
                            "sk-1\nANTHROPIC_API_KEY=sk-ant-other"};
    for (const ModelProvider provider : {ModelProvider::anthropic, ModelProvider::zai}) {
        for (const QString &key : keys) {
            EXPECT_EQ(probe(provider, "https://a.b", key, fake),
                      Outcome::authFailed(ProviderProbe::kKeyLineBreakMessage))
                << provider.rawValue().toStdString() << " " << key.toHtmlEscaped().toStdString();
        }
    }
    EXPECT_TRUE(fake.sent().isEmpty());
}

TEST(ProviderProbe, AFailedModelListSendsNoTestPrompt)
{
    const struct {
        const char *name;
        ScriptedProbeTransport::Answer answer;
        Outcome expected;
    } cases[] = {
        {"refused key", ScriptedProbeTransport::reply(401, R"({"error":{"message":"invalid x-api-key"}})"),
         Outcome::authFailed("invalid x-api-key")},
        {"no connection", ScriptedProbeTransport::failure("Connection refused"),
         Outcome::unreachable("Connection refused")},
        {"a redirect", ScriptedProbeTransport::reply(301, ""), Outcome::requestFailed(301, "HTTP 301")},
    };
    for (const auto &c : cases) {
        const ScriptedProbeTransport fake({c.answer, ScriptedProbeTransport::reply(200, kChatText)});
        EXPECT_EQ(probe(ModelProvider::anthropic, kAnthropic, "k", fake), c.expected) << c.name;
        EXPECT_EQ(fake.sent().size(), 1) << c.name;
    }
}

TEST(ProviderProbe, TheTestPromptFollowsTheModelList)
{
    // A list without "data" counts no models.
    ScriptedProbeTransport fake(
        {ScriptedProbeTransport::reply(200, R"({"object":"list"})"), ScriptedProbeTransport::reply(200, kChatText)});
    EXPECT_EQ(probe(ModelProvider::nous, "https://a.b/v1/", "k", fake).modelCount, 0);
    ASSERT_EQ(fake.sent().size(), 2);
    EXPECT_EQ(fake.sent()[0].url.toString(), "https://a.b/v1/models");
    EXPECT_EQ(fake.sent()[1].url.toString(), "https://a.b/v1/chat/completions");
    EXPECT_EQ(fake.sent()[0].timeout, std::chrono::seconds(20));
    EXPECT_EQ(fake.sent()[1].timeout, std::chrono::seconds(30));

    // The latency is the test prompt's alone.
    fake.setAnswers(
        {ScriptedProbeTransport::reply(200, R"({"data":[{},{}]})"), ScriptedProbeTransport::reply(200, kChatText)});
    const Outcome works = probe(ModelProvider::nous, "https://a.b/v1", "k", fake);
    EXPECT_EQ(works.which, Outcome::Case::works);
    EXPECT_EQ(works.modelCount, 2);
    EXPECT_GE(works.latencyMS, 0);
    EXPECT_LT(works.latencyMS, 5000);

    const struct {
        const char *name;
        ScriptedProbeTransport::Answer answer;
        Outcome expected;
    } failures[] = {
        {"the prompt cannot connect", ScriptedProbeTransport::failure("timed out after 30 s"),
         Outcome::unreachable("timed out after 30 s")},
        {"the prompt refused", ScriptedProbeTransport::reply(400, R"({"error":{"code":"1113"}})"),
         Outcome::wrongKeyType(ProviderProbe::kWrongKeyTypeMessage)},
        {"a 500 page", ScriptedProbeTransport::reply(500, "<h1>oops</h1>"), Outcome::requestFailed(500, "HTTP 500")},
    };
    for (const auto &c : failures) {
        fake.setAnswers({ScriptedProbeTransport::reply(200, "{}"), c.answer});
        EXPECT_EQ(probe(ModelProvider::zai, "https://a.b", "k", fake), c.expected) << c.name;
    }
}

} // namespace
