// The Micropub client without a network: the requests it builds and how it
// reads an answer into an outcome.
#include "publish/micropub.h"

#include "testutil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace Micropub = publish::Micropub;
using Micropub::Outcome;
using Micropub::Response;

namespace {

const QUrl kEndpoint(QStringLiteral("https://blog.example/micropub"));

Micropub::Client client()
{
    return Micropub::Client(Micropub::Client::Seam{kEndpoint, {}, 1234});
}

QJsonObject parsed(const std::optional<QByteArray> &body)
{
    EXPECT_TRUE(body);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body.value_or(QByteArray()), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << body.value_or(QByteArray()).toStdString();
    return document.object();
}

Response answer(int status, const QByteArray &body, QList<QPair<QByteArray, QByteArray>> headers = {})
{
    return Response{status, std::move(headers), body};
}

} // namespace

// Found by argument-dependent lookup: failures show the outcome, not its bytes.
namespace publish::Micropub {
void PrintTo(const Outcome &outcome, std::ostream *os)
{
    *os << outcome.description().toStdString();
}
} // namespace publish::Micropub

TEST(Micropub, TheProductionEndpointIsTheServicesHTTPSMicropubPath)
{
    const QUrl endpoint = Micropub::defaultEndpoint();
    EXPECT_EQ(endpoint.scheme(), u"https");
    EXPECT_FALSE(endpoint.host().isEmpty());
    EXPECT_EQ(endpoint.path(), u"/micropub");
    EXPECT_EQ(Micropub::Client().endpoint(), endpoint);
}

TEST(Micropub, CreateDraftRequestIsACompactSortedHEntryWithTheBearerToken)
{
    const Micropub::Request request =
        client().createDraftRequest(u"A/B “title”"_qs, u"Body\nwith </tags> & é"_qs, u"tok-123"_qs);
    EXPECT_EQ(request.url, kEndpoint);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.timeoutMs, 1234);
    const QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"},
                                                       {"Authorization", "Bearer tok-123"}};
    EXPECT_EQ(request.headers, headers);
    const QJsonObject expected = QJsonDocument::fromJson(R"({"type":["h-entry"],"properties":{
        "name":["A/B “title”"],"content":["Body\nwith </tags> & é"],"post-status":["draft"]}})")
                                     .object();
    EXPECT_EQ(parsed(request.body), expected);
    // Keys sorted at every depth, nothing between tokens, "/" escaped.
    EXPECT_EQ(request.body, R"({"properties":{"content":["Body\nwith <\/tags> & é"],"name":["A\/B “title”"],)"
                            R"("post-status":["draft"]},"type":["h-entry"]})");
}

TEST(Micropub, PublishRequestUpdatesTheDraftsPostStatus)
{
    const Micropub::Request request = client().publishRequest(u"https://blog.example/posts/1"_qs, u"tok"_qs);
    EXPECT_EQ(request.url, kEndpoint);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Authorization"), "Bearer tok");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(
        request.body,
        R"({"action":"update","replace":{"post-status":["published"]},"url":"https:\/\/blog.example\/posts\/1"})");
}

TEST(Micropub, FailureOutcomePrefersTheDescriptionThenTheErrorThenTheStatus)
{
    const struct {
        int status;
        QByteArray body;
        Outcome expected;
    } cases[] = {
        {401, R"({"error":"invalid_token"})", Outcome::authFailed(u"invalid_token"_qs)},
        {403, "<html>Forbidden</html>", Outcome::authFailed(u"HTTP 403"_qs)},
        {400, R"({"error":"invalid_request","error_description":"No title."})",
         Outcome::requestFailed(400, u"No title."_qs)},
        {500, "", Outcome::requestFailed(500, u"HTTP 500"_qs)},
        {302, "", Outcome::requestFailed(302, u"HTTP 302"_qs)},
        // Only strings count; a list is no object.
        {422, R"({"error":7,"error_description":null})", Outcome::requestFailed(422, u"HTTP 422"_qs)},
        {404, R"(["error"])", Outcome::requestFailed(404, u"HTTP 404"_qs)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Micropub::failureOutcome(c.status, c.body), c.expected) << c.status << ' ' << c.body.toStdString();
}

TEST(Micropub, AnEntryURLComesFromLocationElseTheBodyAndMustBeTrustworthy)
{
    const QByteArray good = R"({"url":"https://blog.example/posts/9","preview":"https://blog.example/p/9"})";
    const QString failure = QString::fromUtf8(Micropub::kNoTrustworthyURL);
    const struct {
        const char *name;
        Response response;
        Outcome expected;
    } cases[] = {
        {"Location wins over the body", answer(201, good, {{"Location", "https://blog.example/posts/1"}}),
         Outcome::drafted(u"https://blog.example/posts/1"_qs, u"https://blog.example/p/9"_qs)},
        {"the body's url and preview", answer(202, good),
         Outcome::drafted(u"https://blog.example/posts/9"_qs, u"https://blog.example/p/9"_qs)},
        {"no preview", answer(202, R"({"url":"https://blog.example/posts/9"})"),
         Outcome::drafted(u"https://blog.example/posts/9"_qs, std::nullopt)},
        {"the preview is not checked", answer(202, R"({"url":"https://blog.example/9","preview":"http://x"})"),
         Outcome::drafted(u"https://blog.example/9"_qs, u"http://x"_qs)},
        {"an http Location is not replaced by the body",
         answer(201, good, {{"location", "http://blog.example/posts/1"}}), Outcome::requestFailed(201, failure)},
        {"a relative Location stays on the endpoint's host", answer(201, "", {{"Location", "/posts/2?x=1"}}),
         Outcome::drafted(u"https://blog.example/posts/2?x=1"_qs, std::nullopt)},
        {"a scheme-relative Location", answer(201, "", {{"Location", "//elsewhere.example/p"}}),
         Outcome::drafted(u"https://elsewhere.example/p"_qs, std::nullopt)},
        {"a Location with a line break", answer(201, "", {{"Location", "https://blog.example/a\rb"}}),
         Outcome::requestFailed(201, failure)},
        {"a relative Location with a tab", answer(201, "", {{"Location", "/a\tb"}}),
         Outcome::requestFailed(201, failure)},
        {"a relative Location with a format character", answer(201, "", {{"Location", "/a\u200bb"}}),
         Outcome::requestFailed(201, failure)},
        {"an empty Location", answer(201, good, {{"Location", ""}}), Outcome::requestFailed(201, failure)},
        {"a url that is no string", answer(202, R"({"url":["https://blog.example/9"]})"),
         Outcome::requestFailed(202, failure)},
        {"a body that is not JSON", answer(200, "https://blog.example/9"), Outcome::requestFailed(200, failure)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Micropub::interpret(kEndpoint, c.response, true), c.expected) << c.name;
}

TEST(Micropub, WithoutAnExpectedEntryAnySuccessIsPublished)
{
    EXPECT_EQ(Micropub::interpret(kEndpoint, answer(204, ""), false), Outcome::published());
    EXPECT_EQ(Micropub::interpret(kEndpoint, answer(200, "not json"), false), Outcome::published());
    EXPECT_EQ(Micropub::interpret(kEndpoint, answer(301, "", {{"Location", "https://blog.example/"}}), false),
              Outcome::requestFailed(301, u"HTTP 301"_qs));
}
