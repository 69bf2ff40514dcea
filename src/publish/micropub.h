#pragma once
// The Micropub client: the create-draft and publish requests, their transfer
// over HTTPS with the writer's app token as a bearer token, and the reading of
// every answer into one outcome. The URL and media-type checks live with the
// library, which uses them too; they are reachable here under the client's
// name.

#include "foundation/error.h"
#include "library/micropubchecks.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QString>
#include <QUrl>
#include <optional>

namespace publish::Micropub {

using library::Micropub::isTrustworthy;
using library::Micropub::mimeType;

// The result of every send.
struct Outcome {
    enum class Case { drafted, refused, authFailed, requestFailed, unreachable, published };
    Case which = Case::unreachable;
    // drafted: the entry's address and the service's preview address when
    // its answer named one.
    QString url;
    std::optional<QString> preview;
    // requestFailed: the HTTP status.
    int status = 0;
    // refused, authFailed and unreachable: the message; requestFailed: the
    // detail.
    QString message;

    static Outcome drafted(QString url, std::optional<QString> preview)
    {
        return {Case::drafted, std::move(url), std::move(preview), 0, {}};
    }
    static Outcome refused(QString message) { return {Case::refused, {}, {}, 0, std::move(message)}; }
    static Outcome authFailed(QString message) { return {Case::authFailed, {}, {}, 0, std::move(message)}; }
    static Outcome requestFailed(int status, QString detail)
    {
        return {Case::requestFailed, {}, {}, status, std::move(detail)};
    }
    static Outcome unreachable(QString message) { return {Case::unreachable, {}, {}, 0, std::move(message)}; }
    static Outcome published() { return {Case::published, {}, {}, 0, {}}; }

    // "drafted(https://…, preview none)", "requestFailed(500, HTTP 500)": for
    // logs and test output.
    QString description() const;

    bool operator==(const Outcome &) const = default;
};

// Inactivity time-out of the create-draft and publish requests.
inline constexpr int kRequestTimeoutMs = 30'000;
// A transfer that keeps trickling still ends: this many inactivity time-outs
// after it started.
inline constexpr int kDeadlineFactor = 4;
// What is read of an answer at most; a longer one is a failed transfer.
inline constexpr qint64 kBodyCap = 4 * 1024 * 1024;

inline constexpr const char *kNoTrustworthyURL = "no trustworthy URL in the response";
inline constexpr const char *kTimedOut = "The request timed out.";
inline constexpr const char *kAnswerTooLarge = "The answer was too large.";

// The blog service's Micropub endpoint, the only one the application sends
// to.
QUrl defaultEndpoint();

// Inactivity time-out of an image upload.
inline constexpr int kUploadTimeoutMs = 60'000;

inline constexpr const char *kNoTrustworthyMediaEndpoint = "no trustworthy media endpoint in q=config";
inline constexpr const char *kNoTrustworthyUploadURL = "no trustworthy upload URL in the response";

// A body streamed from a file as it is sent: head, the file's bytes, tail.
// The file is opened when the request goes and read a piece at a time, never
// whole; one that cannot be opened, or ends before the size it had then,
// fails the transfer with unreadable.
struct StreamedFile {
    QByteArray head;
    QString path;
    QByteArray tail;
    QString unreadable;

    bool operator==(const StreamedFile &) const = default;
};

// One prepared request.
struct Request {
    QUrl url;
    QByteArray method;
    // In the order they are set; Qt adds its own (Host, Content-Length, …).
    QList<QPair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body;
    int timeoutMs = kRequestTimeoutMs;
    // In place of body.
    std::optional<StreamedFile> streamed = std::nullopt;

    // A header's value, the name compared exactly; none when absent.
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// An HTTP answer, whatever its status.
struct Response {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // A header's value, the name compared without case; none when absent.
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// No HTTP answer came: no connection, a broken or cut-short transfer, a
// time-out. The message is shown as it is.
class TransportError : public foundation::Error {
public:
    using Error::Error;
};

// A request was not sent: its bearer token would not stay one header value.
class RefusedRequest : public foundation::Error {
public:
    using Error::Error;
};

// An answer outside 200-299 (a 3xx included): authFailed for 401 and 403,
// requestFailed with the status otherwise. The message is the JSON body's
// "error_description", else its "error", else "HTTP <status>".
Outcome failureOutcome(int status, const QByteArray &body);

// An answer to a request sent to requestURL, read into its outcome. When an
// entry's URL is expected it comes from the "Location" header (a relative one
// resolved against requestURL) or, without that header, from the JSON body's
// "url"; it must be trustworthy.
Outcome interpret(const QUrl &requestURL, const Response &response, bool expectsEntryURL);

// The media endpoint the Micropub endpoint names, or why there is none.
struct MediaResult {
    std::optional<QString> url;
    // When url is none: authFailed, requestFailed or unreachable.
    Outcome failed;

    bool operator==(const MediaResult &) const = default;
};

// The filename parameter of an upload: the destination's last component
// without double quotes, line breaks or other ASCII controls.
QString uploadFileName(const QString &destination);

// The hosted URL of an entry or image from a 2xx answer: the "Location"
// header (a relative one resolved against requestURL) or, without that
// header, the JSON body's "url"; none when missing or untrustworthy.
std::optional<QString> createdURL(const QUrl &requestURL, const Response &response);

// Sends to one endpoint over the process's network access manager, following
// no redirect: a token never reaches another host, and a 3xx is an answer.
class Client {
public:
    // What tests change: the local service's address, the certificate only
    // they trust, a shorter time-out.
    struct Seam {
        QUrl endpoint;
        QList<QSslCertificate> trustedCertificates;
        int timeoutMs = kRequestTimeoutMs;
    };

    // The blog service at defaultEndpoint(), trusted as the system trusts it.
    Client();
    explicit Client(Seam seam);

    const QUrl &endpoint() const { return m_seam.endpoint; }

    // The JSON h-entry whose post-status is "draft", with the bearer token.
    Request createDraftRequest(const QString &title, const QString &content, const QString &token) const;
    // The update of draftURL's post-status to "published".
    Request publishRequest(const QString &draftURL, const QString &token) const;

    // GET of the endpoint with the query exactly q=config.
    Request configRequest(const QString &token) const;
    // The configuration's "media-endpoint"; a failure when it is missing or
    // untrustworthy, or the query failed.
    QCoro::Task<MediaResult> mediaEndpoint(QString token) const;
    // One file as multipart/form-data in the field "file", streamed from
    // path, with a fresh "pennora-<UUID>" boundary.
    Request uploadRequest(const QUrl &mediaEndpoint, const QString &fileName, const QString &mimeType,
                          const QString &path, const QString &token, const QString &unreadable) const;

    // Sends one request and answers the whole answer; throws TransportError
    // without one and RefusedRequest when the token would break its header.
    QCoro::Task<Response> perform(Request request) const;
    // Performs and interprets; never throws.
    QCoro::Task<Outcome> send(Request request, bool expectsEntryURL) const;

private:
    Seam m_seam;
};

} // namespace publish::Micropub
