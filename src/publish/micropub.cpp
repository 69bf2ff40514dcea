#include "publish/micropub.h"

#include "foundation/json.h"
#include "foundation/jsonvalue.h"
#include "foundation/text.h"
#include "publish/apptoken.h"

#include <QCoreApplication>
#include <QCoro/QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>

namespace publish::Micropub {

namespace {

const QByteArray kAuthorization = QByteArrayLiteral("Authorization");
const QByteArray kBearer = QByteArrayLiteral("Bearer ");

std::optional<QByteArray> valueOf(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &name,
                                  Qt::CaseSensitivity cs)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, cs) == 0)
            return value;
    }
    return std::nullopt;
}

// A body that is not JSON, or not an object, has no members.
foundation::JSONValue parsedBody(const QByteArray &body)
{
    return foundation::JSONValue::parse(body).value_or(foundation::JSONValue());
}

// Compact, keys sorted, "/" written as "\/": the serialiser's default form
// that the service has always been sent.
QByteArray serialise(const QJsonObject &object)
{
    return foundation::json::withEscapedSlashes(foundation::json::compact(object));
}

Request post(const QUrl &endpoint, const QString &token, const QJsonObject &body, int timeoutMs)
{
    // The token goes as it is: it was trimmed and checked when it was pasted,
    // and perform() refuses one that would break its header.
    return Request{endpoint,
                   "POST",
                   {{"Content-Type", "application/json"}, {kAuthorization, kBearer + token.toUtf8()}},
                   serialise(body),
                   timeoutMs};
}

// The location of a created entry, a relative one resolved against the
// request's URL (so it stays on the endpoint's host); the text as it came
// when it is not a relative reference that could be trusted.
QString resolvedLocation(const QUrl &requestURL, const QByteArray &header)
{
    const QString text = foundation::text::decodeUtf8(header).value_or(QString());
    const QUrl location(text, QUrl::StrictMode);
    if (!location.isValid() || !location.isRelative())
        return text;
    // The reference itself must hold nothing a trustworthy URL may not (a line
    // end, a control or format character), which resolving would encode away.
    if (!isTrustworthy(QStringLiteral("https://origin/") + text))
        return text;
    return requestURL.resolved(location).toString(QUrl::FullyEncoded);
}

// --- The transfer ------------------------------------------------------------

QNetworkAccessManager *networkManager()
{
    // Main thread only: made on first use, gone with the application.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return manager;
}

// Qt's error codes for an HTTP answer it did get (a 4xx or 5xx status), as
// against a transfer that failed on the way.
bool isHTTPAnswer(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::NoError
           || (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
           || error == QNetworkReply::ProtocolInvalidOperationError
           || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

struct Watch {
    bool timedOut = false;
    bool tooLarge = false;
};

QNetworkRequest outgoing(const Request &request, const QList<QSslCertificate> &trusted)
{
    QNetworkRequest outgoing(request.url);
    // Also on the manager; per request so no default can bring redirects
    // back and carry the token elsewhere.
    outgoing.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto &[name, value] : request.headers)
        outgoing.setRawHeader(name, value);
    if (!trusted.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(trusted);
        outgoing.setSslConfiguration(tls);
    }
    return outgoing;
}

} // namespace

QString Outcome::description() const
{
    switch (which) {
    case Case::drafted:
        return QStringLiteral("drafted(%1, preview %2)").arg(url, preview.value_or(QStringLiteral("none")));
    case Case::refused: return QStringLiteral("refused(%1)").arg(message);
    case Case::authFailed: return QStringLiteral("authFailed(%1)").arg(message);
    case Case::requestFailed: return QStringLiteral("requestFailed(%1, %2)").arg(status).arg(message);
    case Case::unreachable: return QStringLiteral("unreachable(%1)").arg(message);
    case Case::published: return QStringLiteral("published");
    }
    Q_UNREACHABLE();
    return {};
}

QUrl defaultEndpoint()
{
    static const QUrl endpoint(QStringLiteral("https://micro.blog/micropub"), QUrl::StrictMode);
    return endpoint;
}

std::optional<QByteArray> Request::header(const QByteArray &name) const
{
    return valueOf(headers, name, Qt::CaseSensitive);
}

std::optional<QByteArray> Response::header(const QByteArray &name) const
{
    return valueOf(headers, name, Qt::CaseInsensitive);
}

Outcome failureOutcome(int status, const QByteArray &body)
{
    const foundation::JSONValue object = parsedBody(body);
    const QString message =
        object.stringMember(QStringLiteral("error_description"))
            .value_or(object.stringMember(QStringLiteral("error")).value_or(QStringLiteral("HTTP %1").arg(status)));
    if (status == 401 || status == 403)
        return Outcome::authFailed(message);
    return Outcome::requestFailed(status, message);
}

Outcome interpret(const QUrl &requestURL, const Response &response, bool expectsEntryURL)
{
    if (response.status < 200 || response.status > 299)
        return failureOutcome(response.status, response.body);
    if (!expectsEntryURL)
        return Outcome::published();
    const foundation::JSONValue object = parsedBody(response.body);
    // An untrustworthy Location is not replaced by the body's "url".
    std::optional<QString> url;
    if (const std::optional<QByteArray> location = response.header("Location"))
        url = resolvedLocation(requestURL, *location);
    else
        url = object.stringMember(QStringLiteral("url"));
    if (!url || !isTrustworthy(*url))
        return Outcome::requestFailed(response.status, QString::fromUtf8(kNoTrustworthyURL));
    return Outcome::drafted(*url, object.stringMember(QStringLiteral("preview")));
}

Client::Client() : Client(Seam{defaultEndpoint(), {}, kRequestTimeoutMs}) {}

Client::Client(Seam seam) : m_seam(std::move(seam)) {}

Request Client::createDraftRequest(const QString &title, const QString &content, const QString &token) const
{
    const QJsonObject properties{{"name", QJsonArray{title}},
                                 {"content", QJsonArray{content}},
                                 {"post-status", QJsonArray{QStringLiteral("draft")}}};
    return post(m_seam.endpoint, token,
                QJsonObject{{"type", QJsonArray{QStringLiteral("h-entry")}}, {"properties", properties}},
                m_seam.timeoutMs);
}

Request Client::publishRequest(const QString &draftURL, const QString &token) const
{
    const QJsonObject replace{{"post-status", QJsonArray{QStringLiteral("published")}}};
    return post(m_seam.endpoint, token,
                QJsonObject{{"action", QStringLiteral("update")}, {"url", draftURL}, {"replace", replace}},
                m_seam.timeoutMs);
}

QCoro::Task<Response> Client::perform(Request request) const
{
    if (const std::optional<QByteArray> authorization = request.header(kAuthorization)) {
        const QString token =
            QString::fromUtf8(authorization->startsWith(kBearer) ? authorization->mid(kBearer.size()) : *authorization);
        if (const std::optional<QString> refusal = tokenRefusal(token))
            throw RefusedRequest(*refusal);
    }

    const QNetworkRequest sent = outgoing(request, m_seam.trustedCertificates);
    QNetworkReply *reply = request.body ? networkManager()->sendCustomRequest(sent, request.method, *request.body)
                                        : networkManager()->sendCustomRequest(sent, request.method);

    // Quiet for the time-out, or running past the deadline, ends the
    // transfer; so does an answer longer than the cap.
    const auto watch = std::make_shared<Watch>();
    auto *quiet = new QTimer(reply);
    quiet->setSingleShot(true);
    quiet->setInterval(request.timeoutMs);
    const auto expire = [reply, watch] {
        watch->timedOut = true;
        reply->abort();
    };
    QObject::connect(quiet, &QTimer::timeout, reply, expire);
    QObject::connect(reply, &QNetworkReply::uploadProgress, quiet, qOverload<>(&QTimer::start));
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, quiet, watch](qint64 received, qint64) {
        quiet->start();
        if (received > kBodyCap && !watch->tooLarge) {
            watch->tooLarge = true;
            // From the event loop, not inside the reply's own signal.
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    });
    quiet->start();
    QTimer::singleShot(qint64(request.timeoutMs) * kDeadlineFactor, reply, expire);

    co_await reply;
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    quiet->stop();
    reply->deleteLater();

    if (watch->timedOut)
        throw TransportError(QString::fromUtf8(kTimedOut));
    if (watch->tooLarge)
        throw TransportError(QString::fromUtf8(kAnswerTooLarge));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // An answer cut short has a status but is no whole answer.
    if (!status.isValid() || !isHTTPAnswer(reply->error()))
        throw TransportError(reply->errorString());
    Response response{status.toInt(), {}, reply->readAll()};
    for (const QNetworkReply::RawHeaderPair &pair : reply->rawHeaderPairs())
        response.headers.append(pair);
    co_return response;
}

QCoro::Task<Outcome> Client::send(Request request, bool expectsEntryURL) const
{
    const QUrl url = request.url;
    try {
        QCoro::Task<Response> performing = perform(std::move(request));
        // Awaited into a name first: GCC 12 mishandles a co_await inside braces.
        const Response response = co_await performing;
        co_return interpret(url, response, expectsEntryURL);
    } catch (const RefusedRequest &refusal) {
        co_return Outcome::refused(refusal.message());
    } catch (const std::exception &error) {
        co_return Outcome::unreachable(foundation::describe(error));
    }
}

} // namespace publish::Micropub
