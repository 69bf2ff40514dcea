#include "publish/micropub.h"

#include "foundation/json.h"
#include "foundation/jsonvalue.h"
#include "foundation/text.h"
#include "profiles/networkmanager.h"
#include "publish/apptoken.h"

#include <QCoreApplication>
#include <QCoro/QCoroNetworkReply>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstring>
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

// A streamed body: head, the file's bytes as they were sized when it opened,
// tail. Random access, so the transfer may start it again; the file is read a
// piece at a time as the socket asks.
class StreamedBody : public QIODevice {
public:
    explicit StreamedBody(const StreamedFile &source) : m_head(source.head), m_tail(source.tail), m_file(source.path) {}

    // Opens the file; false when it cannot be read.
    bool start()
    {
        const QFileInfo info(m_file.fileName());
        if (!info.isFile() || !m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        m_fileSize = m_file.size();
        return open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_head.size() + m_fileSize + m_tail.size(); }
    bool seek(qint64 pos) override
    {
        if (pos < 0 || pos > size() || !QIODevice::seek(pos))
            return false;
        m_offset = pos;
        return true;
    }
    bool atEnd() const override { return m_offset >= size(); }
    bool failed() const { return m_failed; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        qint64 done = 0;
        while (done < maxSize && m_offset < size()) {
            qint64 n = 0;
            if (m_offset < m_head.size()) {
                n = std::min(maxSize - done, m_head.size() - m_offset);
                memcpy(data + done, m_head.constData() + m_offset, size_t(n));
            } else if (m_offset < m_head.size() + m_fileSize) {
                const qint64 inFile = m_offset - m_head.size();
                n = std::min(maxSize - done, m_fileSize - inFile);
                // A file that shrank or broke under the send ends it: the
                // body would no longer be what its length says.
                if (!m_file.seek(inFile) || (n = m_file.read(data + done, n)) <= 0) {
                    m_failed = true;
                    return -1;
                }
            } else {
                const qint64 inTail = m_offset - m_head.size() - m_fileSize;
                n = std::min(maxSize - done, m_tail.size() - inTail);
                memcpy(data + done, m_tail.constData() + inTail, size_t(n));
            }
            done += n;
            m_offset += n;
        }
        return done;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_head;
    QByteArray m_tail;
    QFile m_file;
    qint64 m_fileSize = 0;
    qint64 m_offset = 0;
    bool m_failed = false;
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

std::optional<QString> createdURL(const QUrl &requestURL, const Response &response)
{
    // An untrustworthy Location is not replaced by the body's "url".
    std::optional<QString> url;
    if (const std::optional<QByteArray> location = response.header("Location"))
        url = resolvedLocation(requestURL, *location);
    else
        url = parsedBody(response.body).stringMember(QStringLiteral("url"));
    if (!url || !isTrustworthy(*url))
        return std::nullopt;
    return url;
}

Outcome interpret(const QUrl &requestURL, const Response &response, bool expectsEntryURL)
{
    if (response.status < 200 || response.status > 299)
        return failureOutcome(response.status, response.body);
    if (!expectsEntryURL)
        return Outcome::published();
    const std::optional<QString> url = createdURL(requestURL, response);
    if (!url)
        return Outcome::requestFailed(response.status, QString::fromUtf8(kNoTrustworthyURL));
    return Outcome::drafted(*url, parsedBody(response.body).stringMember(QStringLiteral("preview")));
}

QString uploadFileName(const QString &destination)
{
    QString name = destination.section(QLatin1Char('/'), -1);
    name.removeIf([](QChar c) {
        return c == QLatin1Char('"') || c.unicode() < 0x20 || foundation::text::isLineBreak(c.unicode());
    });
    return name;
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

Request Client::configRequest(const QString &token) const
{
    QUrl url = m_seam.endpoint;
    url.setQuery(QStringLiteral("q=config"));
    return Request{url, "GET", {{kAuthorization, kBearer + token.toUtf8()}}, std::nullopt, m_seam.timeoutMs, {}};
}

QCoro::Task<MediaResult> Client::mediaEndpoint(QString token) const
{
    Response response;
    try {
        QCoro::Task<Response> performing = perform(configRequest(token));
        response = co_await performing;
    } catch (const RefusedRequest &refusal) {
        co_return MediaResult{std::nullopt, Outcome::refused(refusal.message())};
    } catch (const std::exception &error) {
        co_return MediaResult{std::nullopt, Outcome::unreachable(foundation::describe(error))};
    }
    if (response.status < 200 || response.status > 299)
        co_return MediaResult{std::nullopt, failureOutcome(response.status, response.body)};
    const std::optional<QString> endpoint = parsedBody(response.body).stringMember(QStringLiteral("media-endpoint"));
    if (!endpoint || !isTrustworthy(*endpoint))
        co_return MediaResult{std::nullopt,
                              Outcome::requestFailed(response.status, QString::fromUtf8(kNoTrustworthyMediaEndpoint))};
    co_return MediaResult{endpoint, {}};
}

Request Client::uploadRequest(const QUrl &mediaEndpoint, const QString &fileName, const QString &mimeType,
                              const QString &path, const QString &token, const QString &unreadable) const
{
    const QByteArray boundary = "pennora-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toUtf8();
    const QByteArray head = "--" + boundary + "\r\n" + R"(Content-Disposition: form-data; name="file"; filename=")"
                            + fileName.toUtf8() + "\"\r\n" + "Content-Type: " + mimeType.toUtf8() + "\r\n\r\n";
    const QByteArray tail = "\r\n--" + boundary + "--\r\n";
    // The upload's time-out scales with the seam's, which tests shorten.
    const int timeoutMs = int(qint64(m_seam.timeoutMs) * kUploadTimeoutMs / kRequestTimeoutMs);
    return Request{
        mediaEndpoint,
        "POST",
        {{"Content-Type", "multipart/form-data; boundary=" + boundary}, {kAuthorization, kBearer + token.toUtf8()}},
        std::nullopt,
        timeoutMs,
        StreamedFile{head, path, tail, unreadable}};
}

QCoro::Task<Response> Client::perform(Request request) const
{
    if (const std::optional<QByteArray> authorization = request.header(kAuthorization)) {
        const QString token =
            QString::fromUtf8(authorization->startsWith(kBearer) ? authorization->mid(kBearer.size()) : *authorization);
        if (const std::optional<QString> refusal = tokenRefusal(token))
            throw RefusedRequest(*refusal);
    }

    QNetworkRequest sent = outgoing(request, m_seam.trustedCertificates);
    QNetworkReply *reply = nullptr;
    StreamedBody *streamed = nullptr;
    if (request.streamed) {
        streamed = new StreamedBody(*request.streamed);
        if (!streamed->start()) {
            delete streamed;
            throw TransportError(request.streamed->unreadable);
        }
        sent.setHeader(QNetworkRequest::ContentLengthHeader, streamed->size());
        reply = profiles::networkManager()->sendCustomRequest(sent, request.method, streamed);
        streamed->setParent(reply);
    } else if (request.body) {
        reply = profiles::networkManager()->sendCustomRequest(sent, request.method, *request.body);
    } else {
        reply = profiles::networkManager()->sendCustomRequest(sent, request.method);
    }

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
    if (streamed && streamed->failed())
        throw TransportError(request.streamed->unreadable);
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
