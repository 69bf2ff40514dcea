// The Micropub client over TLS against the blog service's stand-in on
// 127.0.0.1: what goes on the wire, every kind of answer the service can
// give, broken transfers, and a redirect that must not carry the token.
#include "publish/apptoken.h"
#include "publish/micropub.h"

#include "fakeblogservice.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <gtest/gtest.h>

namespace Micropub = publish::Micropub;
using Micropub::Outcome;
using testsupport::FakeBlogService;
using testsupport::LoopbackHttpServer;
using Route = FakeBlogService::Route;

namespace publish::Micropub {
void PrintTo(const Outcome &outcome, std::ostream *os)
{
    *os << outcome.description().toStdString();
}
} // namespace publish::Micropub

namespace {

// Long enough for a loaded machine; the stalls use the short one.
const int kTimeoutMs = 10'000;
const int kShortTimeoutMs = 300;

class MicropubNetwork : public ::testing::Test {
protected:
    // Qt's network thread leaks the connections it still holds when the
    // process ends right after they broke; every test lets it close them.
    void TearDown() override { forgetConnections(); }

    static void forgetConnections()
    {
        if (auto *manager = QCoreApplication::instance()->findChild<QNetworkAccessManager *>())
            manager->clearConnectionCache();
        testsupport::drainPosted();
    }

    Micropub::Client client(int timeoutMs = kTimeoutMs) const
    {
        return Micropub::Client({service.endpoint(), {FakeBlogService::certificate()}, timeoutMs});
    }

    Outcome draft(const QString &token = u"token"_qs, int timeoutMs = kTimeoutMs) const
    {
        const Micropub::Client sender = client(timeoutMs);
        return QCoro::waitFor(sender.send(sender.createDraftRequest(u"Title"_qs, u"Text"_qs, token), true));
    }

    Outcome publish(const QString &url) const
    {
        const Micropub::Client sender = client();
        return QCoro::waitFor(sender.send(sender.publishRequest(url, u"token"_qs), false));
    }

    FakeBlogService service;
};

// The refusal perform() throws; empty when it sent the request.
QCoro::Task<QString> refusalOf(Micropub::Client sender, Micropub::Request request)
{
    try {
        QCoro::Task<Micropub::Response> performing = sender.perform(std::move(request));
        co_await performing;
    } catch (const Micropub::RefusedRequest &refusal) {
        co_return refusal.message();
    }
    co_return QString();
}

QJsonObject parsed(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

LoopbackHttpServer::Reply created(const QByteArray &location, const QByteArray &body = {})
{
    return LoopbackHttpServer::answer(201, body, {{"Location", location}});
}

TEST_F(MicropubNetwork, DraftsAndPublishesWithExactlyTheRequestsBuilt)
{
    const QString base = service.endpoint().adjusted(QUrl::RemovePath).toString();
    const Outcome drafted = draft();
    ASSERT_EQ(drafted, Outcome::drafted(base + u"/posts/1"_qs, base + u"/preview/1"_qs));
    EXPECT_EQ(publish(drafted.url), Outcome::published());
    EXPECT_EQ(service.published(), QList<QString>{drafted.url});

    ASSERT_EQ(service.received().size(), 2);
    const Micropub::Client built = client();
    const Micropub::Request requests[] = {built.createDraftRequest(u"Title"_qs, u"Text"_qs, u"token"_qs),
                                          built.publishRequest(drafted.url, u"token"_qs)};
    for (int i = 0; i < 2; ++i) {
        const LoopbackHttpServer::Received &received = service.received()[i];
        EXPECT_TRUE(received.raw.startsWith("POST /micropub HTTP/1.1\r\n")) << received.raw.toStdString();
        EXPECT_TRUE(received.raw.endsWith("\r\n\r\n" + received.body));
        EXPECT_EQ(received.header("Authorization"), "Bearer token");
        EXPECT_EQ(received.header("Content-Type"), "application/json");
        EXPECT_EQ(received.header("Content-Length"), QByteArray::number(requests[i].body->size()));
        EXPECT_EQ(parsed(received.body), parsed(*requests[i].body));
        EXPECT_EQ(received.body, *requests[i].body);
        // The token is in its one header and nowhere else.
        EXPECT_EQ(received.raw.count("token"), 1) << received.raw.toStdString();
    }
    EXPECT_EQ(
        parsed(service.received()[0].body),
        parsed(R"({"type":["h-entry"],"properties":{"name":["Title"],"content":["Text"],"post-status":["draft"]}})"));
}

TEST_F(MicropubNetwork, EveryKindOfAnswerBecomesItsOutcome)
{
    const QString base = service.endpoint().adjusted(QUrl::RemovePath).toString();
    const QString noURL = QString::fromUtf8(Micropub::kNoTrustworthyURL);
    const QByteArray goodBody = R"({"url":")" + base.toUtf8() + R"(/posts/5","preview":"https://p.example/5"})";
    const struct {
        const char *name;
        LoopbackHttpServer::Reply reply;
        Outcome expected;
        int timeoutMs = kTimeoutMs;
    } cases[] = {
        {"401 with a Bearer challenge",
         LoopbackHttpServer::answer(401, R"({"error":"invalid_token"})",
                                    {{"WWW-Authenticate", R"(Bearer realm="micropub", error="invalid_token")"}}),
         Outcome::authFailed(u"invalid_token"_qs)},
        {"403 that is not JSON", LoopbackHttpServer::answer(403, "<h1>Forbidden</h1>"),
         Outcome::authFailed(u"HTTP 403"_qs)},
        {"400 with both texts",
         LoopbackHttpServer::answer(400, R"({"error":"invalid_request","error_description":"Title too long."})"),
         Outcome::requestFailed(400, u"Title too long."_qs)},
        {"500 empty", LoopbackHttpServer::answer(500, {}), Outcome::requestFailed(500, u"HTTP 500"_qs)},
        {"202 with the url and preview in the body", LoopbackHttpServer::answer(202, goodBody),
         Outcome::drafted(base + u"/posts/5"_qs, u"https://p.example/5"_qs)},
        {"201 with an http Location and a good body", created("http://127.0.0.1/posts/5", goodBody),
         Outcome::requestFailed(201, noURL)},
        {"201 with a relative Location", created("/posts/6"), Outcome::drafted(base + u"/posts/6"_qs, std::nullopt)},
        {"201 with a line break in its Location",
         LoopbackHttpServer::raw("HTTP/1.1 201 Created\r\nLocation: https://127.0.0.1/a\rSet-Cookie: b\r\n"
                                 "Content-Length: 0\r\nConnection: close\r\n\r\n"),
         Outcome::requestFailed(201, noURL)},
        {"201 with a Location folded over two lines",
         LoopbackHttpServer::raw("HTTP/1.1 201 Created\r\nLocation: https://127.0.0.1/a\r\n b\r\n"
                                 "Content-Length: 0\r\nConnection: close\r\n\r\n"),
         Outcome::requestFailed(201, noURL)},
        {"200 whose body is not JSON", LoopbackHttpServer::answer(200, "created"), Outcome::requestFailed(200, noURL)},
        {"a reset", LoopbackHttpServer::reset(), Outcome::unreachable(u""_qs)},
        {"closed without a word", LoopbackHttpServer::closeAtOnce(), Outcome::unreachable(u""_qs)},
        {"not HTTP", LoopbackHttpServer::raw("SSH-2.0-OpenSSH_9.2\r\n"), Outcome::unreachable(u""_qs)},
        {"a body cut short", LoopbackHttpServer::raw("HTTP/1.1 202 Accepted\r\nContent-Length: 100\r\n\r\n{"),
         Outcome::unreachable(u""_qs)},
        {"an answer past the cap", LoopbackHttpServer::answer(202, QByteArray(Micropub::kBodyCap + 1, ' ')),
         Outcome::unreachable(QString::fromUtf8(Micropub::kAnswerTooLarge))},
        {"a stall past the time-out", LoopbackHttpServer::stall(),
         Outcome::unreachable(QString::fromUtf8(Micropub::kTimedOut)), kShortTimeoutMs},
        {"a trickle past the deadline", LoopbackHttpServer::trickle(kShortTimeoutMs / 6),
         Outcome::unreachable(QString::fromUtf8(Micropub::kTimedOut)), kShortTimeoutMs},
    };
    for (const auto &c : cases) {
        // Qt sends a request again when a connection broke before any answer.
        service.injectFault(Route::create, c.reply, 4);
        const Outcome outcome = draft(u"token"_qs, c.timeoutMs);
        service.clearFaults();
        // No row meets a connection an earlier one left behind.
        forgetConnections();
        if (c.expected.which == Outcome::Case::unreachable && c.expected.message.isEmpty()) {
            // Qt's own words for a broken transfer.
            EXPECT_EQ(outcome.which, Outcome::Case::unreachable)
                << c.name << ": " << outcome.description().toStdString();
            EXPECT_FALSE(outcome.message.isEmpty()) << c.name;
        } else {
            EXPECT_EQ(outcome, c.expected) << c.name;
        }
    }
}

TEST_F(MicropubNetwork, PublishReadsOnlyTheStatus)
{
    const Outcome drafted = draft();
    ASSERT_EQ(drafted.which, Outcome::Case::drafted);
    service.injectFault(Route::publish, LoopbackHttpServer::answer(200, "not JSON"));
    EXPECT_EQ(publish(drafted.url), Outcome::published());
    service.injectFault(Route::publish, LoopbackHttpServer::answer(401, R"({"error_description":"Token revoked."})"));
    EXPECT_EQ(publish(drafted.url), Outcome::authFailed(u"Token revoked."_qs));
    // The service's own refusal of an unknown draft.
    EXPECT_EQ(publish(drafted.url + u"0"_qs), Outcome::requestFailed(400, u"There is no draft at that URL."_qs));
}

TEST_F(MicropubNetwork, ARedirectIsAFailureAndTheTokenNeverFollowsIt)
{
    LoopbackHttpServer elsewhere(LoopbackHttpServer::Scheme::https);
    elsewhere.setFallback(created((elsewhere.baseURL() + u"/posts/1"_qs).toUtf8()));
    for (const int status : {301, 302, 303, 307, 308}) {
        const QByteArray target = (elsewhere.baseURL() + u"/micropub"_qs).toUtf8();
        service.injectFault(Route::create, LoopbackHttpServer::redirect(status, target));
        EXPECT_EQ(draft(), Outcome::requestFailed(status, u"HTTP %1"_qs.arg(status)));
        service.injectFault(Route::publish, LoopbackHttpServer::redirect(status, target));
        EXPECT_EQ(publish(u"https://127.0.0.1/posts/1"_qs), Outcome::requestFailed(status, u"HTTP %1"_qs.arg(status)));
    }
    EXPECT_EQ(service.received().size(), 10);
    // Nothing reached the other server, so no token either.
    EXPECT_EQ(elsewhere.connectionCount(), 0);
    EXPECT_TRUE(elsewhere.received().isEmpty());
}

TEST_F(MicropubNetwork, ATokenThatWouldBreakItsHeaderIsNeverSent)
{
    for (const QString &token : {u"tok\r\nX-Injected: 1"_qs, u"tok en"_qs, u"tok\u2028en"_qs, u"tok\ten"_qs}) {
        EXPECT_EQ(draft(token), Outcome::refused(QString::fromUtf8(Micropub::kTokenRefusal)));
        const Micropub::Client sender = client();
        EXPECT_EQ(QCoro::waitFor(refusalOf(sender, sender.publishRequest(u"https://127.0.0.1/p"_qs, token))),
                  QString::fromUtf8(Micropub::kTokenRefusal));
    }
    EXPECT_TRUE(service.received().isEmpty());
}

TEST_F(MicropubNetwork, AWrongTokenIsRefusedByTheService)
{
    const Outcome outcome = draft(u"another"_qs);
    EXPECT_EQ(outcome, Outcome::authFailed(u"The app token was not accepted."_qs));
    EXPECT_TRUE(service.drafts().isEmpty());
}

TEST_F(MicropubNetwork, TheServiceAnswersItsConfigurationAndTakesUploads)
{
    const Micropub::Client sender = client();
    const QList<QPair<QByteArray, QByteArray>> bearer{{"Authorization", "Bearer token"}};
    QUrl query = service.endpoint();
    query.setQuery(u"q=config"_qs);
    const Micropub::Response config = QCoro::waitFor(sender.perform({query, "GET", bearer, std::nullopt, kTimeoutMs}));
    EXPECT_EQ(config.status, 200);
    EXPECT_EQ(parsed(config.body).value(u"media-endpoint"_qs).toString(), service.mediaEndpoint().toString());

    QList<QPair<QByteArray, QByteArray>> upload = bearer;
    upload.append(qMakePair(QByteArray("Content-Type"), QByteArray("multipart/form-data; boundary=b0")));
    const QByteArray body = "--b0\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.png\"\r\n"
                            "Content-Type: image/png\r\n\r\n\x89PNG\r\n--b0--\r\n";
    const Micropub::Response uploaded =
        QCoro::waitFor(sender.perform({service.mediaEndpoint(), "POST", upload, body, kTimeoutMs}));
    EXPECT_EQ(uploaded.status, 202);
    EXPECT_TRUE(Micropub::isTrustworthy(QString::fromUtf8(uploaded.header("location").value_or(""))));
    ASSERT_EQ(service.received().size(), 2);
    EXPECT_EQ(FakeBlogService::routeOf(service.received()[0]), Route::config);
    EXPECT_EQ(FakeBlogService::routeOf(service.received()[1]), Route::media);
    EXPECT_EQ(service.received()[1].body, body);
}

TEST_F(MicropubNetwork, OnlyTheInjectedCertificateIsTrusted)
{
    // The production trust: the system's, which never holds the test
    // certificate.
    const Micropub::Client untrusting({service.endpoint(), {}, kTimeoutMs});
    const Outcome outcome =
        QCoro::waitFor(untrusting.send(untrusting.createDraftRequest(u"T"_qs, u"C"_qs, u"token"_qs), true));
    EXPECT_EQ(outcome.which, Outcome::Case::unreachable) << outcome.description().toStdString();
    EXPECT_TRUE(service.received().isEmpty());
}

} // namespace
