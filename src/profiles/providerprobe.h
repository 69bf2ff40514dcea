#pragma once
// Tests a provider's endpoint, key and model over the provider's own HTTP
// API, without the engine: the model list, then one tiny streamed request
// ("hi", at most 512 output tokens), whose answer is judged into an outcome
// the settings show. Keeps no state; every failure is an outcome.

#include "foundation/error.h"
#include "foundation/jsonvalue.h"
#include "profiles/settingstypes.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

namespace profiles::ProviderProbe {

struct Outcome {
    enum class Case { works, authFailed, wrongKeyType, unreachable, starved, requestFailed };
    Case which = Case::unreachable;
    // works only.
    qint64 latencyMS = 0;
    qint64 modelCount = 0;
    // requestFailed only: the HTTP status.
    int status = 0;
    // The text of every case but works (requestFailed's detail).
    QString detail;

    static Outcome works(qint64 latencyMS, qint64 modelCount) { return {Case::works, latencyMS, modelCount, 0, {}}; }
    static Outcome authFailed(QString text) { return {Case::authFailed, 0, 0, 0, std::move(text)}; }
    static Outcome wrongKeyType(QString text) { return {Case::wrongKeyType, 0, 0, 0, std::move(text)}; }
    static Outcome unreachable(QString text) { return {Case::unreachable, 0, 0, 0, std::move(text)}; }
    static Outcome starved(QString text) { return {Case::starved, 0, 0, 0, std::move(text)}; }
    static Outcome requestFailed(int status, QString detail)
    {
        return {Case::requestFailed, 0, 0, status, std::move(detail)};
    }

    // "works(12 ms, 3 models)", "authFailed(…)": for logs and test output.
    QString description() const;

    bool operator==(const Outcome &) const = default;
};

// One prepared HTTP request.
struct Request {
    QUrl url;
    QByteArray method;
    QList<QPair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body;
    // The whole request must be answered within it.
    std::chrono::milliseconds timeout{0};

    // The value of a header (exact name), none when absent.
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// The whole answer of a request that reached an HTTP server.
struct Response {
    int status = 0;
    QByteArray body;
};

// A request that got no HTTP answer: no connection, a deadline passed, an
// answer that is not HTTP. The message is shown as it is.
class TransportError : public foundation::Error {
public:
    using Error::Error;
};

// Sends one request and answers the whole body; throws TransportError.
using Transport = std::function<QCoro::Task<Response>(Request)>;

inline constexpr std::chrono::milliseconds kModelsTimeout = std::chrono::seconds(20);
inline constexpr std::chrono::milliseconds kChatTimeout = std::chrono::seconds(30);
// What the default transport reads of a reply at most; the rest is dropped
// and what was read is judged.
inline constexpr qint64 kBodyCap = 8 * 1024 * 1024;

inline constexpr const char *kNoKeyMessage = "no API key set — paste the key first";
// A key that would break its header line and put the rest on the wire.
inline constexpr const char *kKeyLineBreakMessage = "API key contains a line break — not sent";
inline constexpr const char *kBadEndpointMessage = "endpoint is not a valid URL";
inline constexpr const char *kWrongKeyTypeMessage =
    "z.ai 1113 — wrong key type for this endpoint family; switch the key type";

// The default transport: the process's one network access manager on the
// main thread, redirects never followed (a 3xx is an answer like any other,
// so a key never reaches another host), the request's time-out an overall
// deadline ("timed out after N s"), and at most kBodyCap bytes read.
Transport urlSessionTransport();

// The model list, then the test request; never throws.
QCoro::Task<Outcome> probe(ModelProvider provider, QString endpoint, QString apiKey, QString model,
                           Transport transport);

// The inner steps.

// The endpoint with one trailing "/" dropped and path appended, when that is
// an http or https URL with a host; nothing is trimmed or repaired.
std::optional<QUrl> endpointURL(const QString &endpoint, const QString &path);
std::optional<Request> modelsRequest(ModelProvider provider, const QString &endpoint, const QString &apiKey);
std::optional<Request> chatRequest(ModelProvider provider, const QString &endpoint, const QString &apiKey,
                                   const QString &model);
// "x-api-key" and "anthropic-version" for Anthropic, a Bearer token for the
// others.
void authorize(Request &request, ModelProvider provider, const QString &apiKey);
// The length of the body's "data" list; none without one.
std::optional<qint64> countModels(const QByteArray &body);
Outcome classifyError(int status, const QJsonObject &object, ModelProvider provider);
// The JSON objects and lists of a server-sent event stream's data lines, in
// order.
QList<foundation::JSONValue> parseEvents(const QByteArray &body);
// The first error object in the stream, else one in a plain JSON body.
std::optional<Outcome> streamError(const QList<foundation::JSONValue> &events, const QByteArray &body,
                                   ModelProvider provider);

// The reply text collected from a stream and its last finish reason.
struct StreamReply {
    QString text;
    std::optional<QString> finishReason;
    bool operator==(const StreamReply &) const = default;
};
StreamReply anthropicText(const QList<foundation::JSONValue> &events);
StreamReply responsesText(const QList<foundation::JSONValue> &events);
StreamReply chatCompletionsText(const QList<foundation::JSONValue> &events);

Outcome judgeReply(ModelProvider provider, const QByteArray &body, qint64 modelCount, qint64 latencyMS);

} // namespace profiles::ProviderProbe
