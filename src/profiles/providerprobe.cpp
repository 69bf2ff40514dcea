#include "profiles/providerprobe.h"

#include "foundation/json.h"
#include "foundation/text.h"
#include "profiles/networkmanager.h"

#include <QCoreApplication>
#include <QCoro/QCoroNetworkReply>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace profiles::ProviderProbe {

using foundation::JSONValue;

namespace {

const QString kStarvingReasons[] = {QStringLiteral("length"), QStringLiteral("max_tokens"),
                                    QStringLiteral("incomplete")};

std::optional<QString> textMember(const QJsonObject &object, const QString &key)
{
    const QJsonValue member = object.value(key);
    if (!member.isString())
        return std::nullopt;
    return member.toString();
}

QJsonObject bodyObject(const QByteArray &body)
{
    return foundation::json::parseObject(body).value_or(QJsonObject());
}

// The stream's text and finish reason, read from its object events by one
// provider's rule.
template<typename Read>
StreamReply collect(const QList<JSONValue> &events, Read read)
{
    StreamReply reply;
    for (const JSONValue &event : events) {
        if (event.isObject())
            read(event, reply);
    }
    return reply;
}

void appendText(StreamReply &reply, const std::optional<QString> &text)
{
    if (text)
        reply.text += *text;
}

void noteFinish(StreamReply &reply, const std::optional<QString> &reason)
{
    if (reason)
        reply.finishReason = reason;
}

// --- The default transport ---------------------------------------------------

struct ReadState {
    QByteArray body;
    bool capped = false;
    bool timedOut = false;
};

// Moves what has arrived into the body, up to the cap; past it the reply is
// aborted (from the event loop, not inside its own signal) and what was read
// stands.
void drain(QNetworkReply *reply, ReadState &state)
{
    while (!state.capped && reply->bytesAvailable() > 0) {
        const qint64 room = kBodyCap - state.body.size();
        if (room <= 0) {
            state.capped = true;
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
            return;
        }
        state.body += reply->read(room);
    }
}

// Errors Qt sets for an HTTP answer it did get (4xx and 5xx statuses), as
// against a connection that failed on the way.
bool isHTTPAnswer(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::NoError
           || (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
           || error == QNetworkReply::ProtocolInvalidOperationError
           || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

QCoro::Task<Response> sendOverNetwork(Request request)
{
    QNetworkRequest outgoing(request.url);
    // Also on the manager; per request so no default can bring redirects back.
    outgoing.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto &[name, value] : std::as_const(request.headers))
        outgoing.setRawHeader(name, value);
    QNetworkReply *reply = request.body
                               ? profiles::networkManager()->sendCustomRequest(outgoing, request.method, *request.body)
                               : profiles::networkManager()->sendCustomRequest(outgoing, request.method);

    const auto state = std::make_shared<ReadState>();
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state] { drain(reply, *state); });
    QTimer::singleShot(request.timeout, reply, [reply, state] {
        state->timedOut = true;
        reply->abort();
    });
    co_await reply;
    drain(reply, *state);
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    reply->deleteLater();

    if (state->timedOut)
        throw TransportError(
            QStringLiteral("timed out after %1 s").arg(QString::number(double(request.timeout.count()) / 1000)));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || (!state->capped && !isHTTPAnswer(reply->error())))
        throw TransportError(reply->errorString());
    co_return Response{status.toInt(), state->body};
}

} // namespace

QString Outcome::description() const
{
    switch (which) {
    case Case::works: return QStringLiteral("works(%1 ms, %2 models)").arg(latencyMS).arg(modelCount);
    case Case::authFailed: return QStringLiteral("authFailed(%1)").arg(detail);
    case Case::wrongKeyType: return QStringLiteral("wrongKeyType(%1)").arg(detail);
    case Case::unreachable: return QStringLiteral("unreachable(%1)").arg(detail);
    case Case::starved: return QStringLiteral("starved(%1)").arg(detail);
    case Case::requestFailed: return QStringLiteral("requestFailed(%1, %2)").arg(status).arg(detail);
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<QByteArray> Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key == name)
            return value;
    }
    return std::nullopt;
}

Transport urlSessionTransport()
{
    return sendOverNetwork;
}

QCoro::Task<Outcome> probe(ModelProvider provider, QString endpoint, QString apiKey, QString model, Transport transport)
{
    if (apiKey.isEmpty())
        co_return Outcome::authFailed(QString::fromUtf8(kNoKeyMessage));
    // Qt writes header values as they are: a line break would end the key's
    // line and send what follows it (another pasted key, say) as headers.
    if (apiKey.contains(u'\r') || apiKey.contains(u'\n') || apiKey.contains(QChar(u'\0')))
        co_return Outcome::authFailed(QString::fromUtf8(kKeyLineBreakMessage));
    const std::optional<Request> models = modelsRequest(provider, endpoint, apiKey);
    if (!models)
        co_return Outcome::unreachable(QString::fromUtf8(kBadEndpointMessage));

    qint64 modelCount = 0;
    try {
        QCoro::Task<Response> listing = transport(*models);
        const Response listed = co_await listing;
        if (listed.status < 200 || listed.status > 299)
            co_return classifyError(listed.status, bodyObject(listed.body), provider);
        modelCount = countModels(listed.body).value_or(0);
    } catch (const std::exception &error) {
        co_return Outcome::unreachable(foundation::describe(error));
    }

    const std::optional<Request> chat = chatRequest(provider, endpoint, apiKey, model);
    if (!chat)
        co_return Outcome::unreachable(QString::fromUtf8(kBadEndpointMessage));
    QElapsedTimer clock;
    clock.start();
    Response answered;
    try {
        QCoro::Task<Response> asking = transport(*chat);
        answered = co_await asking;
    } catch (const std::exception &error) {
        co_return Outcome::unreachable(foundation::describe(error));
    }
    const qint64 latencyMS = clock.elapsed();
    if (answered.status < 200 || answered.status > 299)
        co_return classifyError(answered.status, bodyObject(answered.body), provider);
    co_return judgeReply(provider, answered.body, modelCount, latencyMS);
}

std::optional<QUrl> endpointURL(const QString &endpoint, const QString &path)
{
    QString base = endpoint;
    if (base.endsWith(u'/'))
        base.chop(1);
    const QString text = base + path;
    // White space anywhere makes no URL; QUrl would otherwise trim or encode it.
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return std::nullopt;
    // The host must be the endpoint's own: "https://" would otherwise become
    // "https://models" (and "https:///v1" the host "v1").
    const QString authority = base.mid(scheme.size() + 1);
    if (!authority.startsWith(QLatin1String("//")) || authority.size() < 3
        || QStringView(u"/?#").contains(authority.at(2)))
        return std::nullopt;
    return url;
}

void authorize(Request &request, ModelProvider provider, const QString &apiKey)
{
    if (provider == ModelProvider::anthropic) {
        request.headers.append(qMakePair(QByteArray("x-api-key"), apiKey.toUtf8()));
        request.headers.append(qMakePair(QByteArray("anthropic-version"), QByteArray("2023-06-01")));
    } else {
        request.headers.append(qMakePair(QByteArray("Authorization"), "Bearer " + apiKey.toUtf8()));
    }
}

std::optional<Request> modelsRequest(ModelProvider provider, const QString &endpoint, const QString &apiKey)
{
    const std::optional<QUrl> url = endpointURL(
        endpoint, provider == ModelProvider::anthropic ? QStringLiteral("/v1/models") : QStringLiteral("/models"));
    if (!url)
        return std::nullopt;
    Request request{*url, "GET", {}, std::nullopt, kModelsTimeout};
    authorize(request, provider, apiKey);
    return request;
}

std::optional<Request> chatRequest(ModelProvider provider, const QString &endpoint, const QString &apiKey,
                                   const QString &model)
{
    QJsonObject body{{"model", model}, {"stream", true}};
    if (provider == ModelProvider::openaiAPI) {
        body.insert("input", "hi");
        body.insert("max_output_tokens", 512);
    } else {
        body.insert("messages", QJsonArray{QJsonObject{{"role", "user"}, {"content", "hi"}}});
        body.insert("max_tokens", 512);
    }
    if (provider == ModelProvider::zai) {
        // The cheapest test z.ai offers.
        body.insert("thinking", QJsonObject{{"type", "enabled"}});
        body.insert("reasoning_effort", "low");
    }
    QString path;
    switch (provider) {
    case ModelProvider::anthropic: path = QStringLiteral("/v1/messages"); break;
    case ModelProvider::openaiAPI: path = QStringLiteral("/responses"); break;
    case ModelProvider::zai:
    case ModelProvider::nous: path = QStringLiteral("/chat/completions"); break;
    }
    const std::optional<QUrl> url = endpointURL(endpoint, path);
    if (!url)
        return std::nullopt;
    Request request{
        *url, "POST", {{"Content-Type", "application/json"}}, foundation::json::compact(body), kChatTimeout};
    authorize(request, provider, apiKey);
    return request;
}

std::optional<qint64> countModels(const QByteArray &body)
{
    const QJsonValue data = bodyObject(body).value(QLatin1String("data"));
    if (!data.isArray())
        return std::nullopt;
    return data.toArray().size();
}

Outcome classifyError(int status, const QJsonObject &object, ModelProvider provider)
{
    const QJsonValue errorValue = object.value(QLatin1String("error"));
    const QJsonObject error = errorValue.isObject() ? errorValue.toObject() : QJsonObject();
    // A numeric code is not read.
    const QString code = textMember(error, QStringLiteral("code")).value_or(QString());
    const QString type = textMember(error, QStringLiteral("type")).value_or(QString());
    QString message = textMember(error, QStringLiteral("message"))
                          .value_or(textMember(object, QStringLiteral("message"))
                                        .value_or(QStringLiteral("HTTP ") + QString::number(status)));
    if (const std::optional<QString> requestID = textMember(object, QStringLiteral("request_id")))
        message += QStringLiteral(" (request ") + *requestID + u')';

    if (provider == ModelProvider::zai && code == u"1113")
        return Outcome::wrongKeyType(QString::fromUtf8(kWrongKeyTypeMessage));
    if (status == 401 || code == u"401" || code == u"invalid_api_key" || type == u"authentication_error")
        return Outcome::authFailed(message);
    return Outcome::requestFailed(status, message);
}

QList<JSONValue> parseEvents(const QByteArray &body)
{
    QString text = foundation::text::decodeUtf8(body).value_or(QString());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QList<JSONValue> events;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1String("data:")))
            continue;
        const QString payload = foundation::text::trimSpaces(line.mid(5));
        if (payload.isEmpty() || payload == u"[DONE]")
            continue;
        std::optional<JSONValue> event = JSONValue::parse(payload.toUtf8());
        if (event && (event->isObject() || event->isArray()))
            events << std::move(*event);
    }
    return events;
}

std::optional<Outcome> streamError(const QList<JSONValue> &events, const QByteArray &body, ModelProvider provider)
{
    for (const JSONValue &event : events) {
        if (!event.isObject())
            continue;
        JSONValue candidate = event;
        if (!event.objectMember(QStringLiteral("error"))) {
            if (std::optional<JSONValue> response = event.objectMember(QStringLiteral("response")))
                candidate = std::move(*response);
        }
        if (candidate.objectMember(QStringLiteral("error")))
            return classifyError(200, candidate.foundationObject().toObject(), provider);
    }
    const std::optional<QJsonObject> whole = foundation::json::parseObject(body);
    if (whole && whole->value(QLatin1String("error")).isObject())
        return classifyError(200, *whole, provider);
    return std::nullopt;
}

StreamReply anthropicText(const QList<JSONValue> &events)
{
    return collect(events, [](const JSONValue &event, StreamReply &reply) {
        const std::optional<JSONValue> delta = event.objectMember(QStringLiteral("delta"));
        if (!delta)
            return;
        if (delta->stringMember(QStringLiteral("type")) == u"text_delta")
            appendText(reply, delta->stringMember(QStringLiteral("text")));
        noteFinish(reply, delta->stringMember(QStringLiteral("stop_reason")));
    });
}

StreamReply responsesText(const QList<JSONValue> &events)
{
    return collect(events, [](const JSONValue &event, StreamReply &reply) {
        if (event.stringMember(QStringLiteral("type")) == u"response.output_text.delta")
            appendText(reply, event.stringMember(QStringLiteral("delta")));
        if (const std::optional<JSONValue> response = event.objectMember(QStringLiteral("response")))
            noteFinish(reply, response->stringMember(QStringLiteral("status")));
    });
}

StreamReply chatCompletionsText(const QList<JSONValue> &events)
{
    return collect(events, [](const JSONValue &event, StreamReply &reply) {
        const std::optional<JSONValue> choices = event.member(QStringLiteral("choices"));
        if (!choices || !choices->isArray() || choices->toArray().isEmpty())
            return;
        const JSONValue &first = choices->toArray().first();
        if (!first.isObject())
            return;
        if (const std::optional<JSONValue> delta = first.objectMember(QStringLiteral("delta")))
            appendText(reply, delta->stringMember(QStringLiteral("content")));
        noteFinish(reply, first.stringMember(QStringLiteral("finish_reason")));
    });
}

Outcome judgeReply(ModelProvider provider, const QByteArray &body, qint64 modelCount, qint64 latencyMS)
{
    const QList<JSONValue> events = parseEvents(body);
    // An error beats any text.
    if (std::optional<Outcome> error = streamError(events, body, provider))
        return *error;
    StreamReply reply;
    switch (provider) {
    case ModelProvider::anthropic: reply = anthropicText(events); break;
    case ModelProvider::openaiAPI: reply = responsesText(events); break;
    case ModelProvider::zai:
    case ModelProvider::nous: reply = chatCompletionsText(events); break;
    }
    if (!reply.text.isEmpty())
        return Outcome::works(latencyMS, modelCount);
    if (reply.finishReason
        && std::find(std::begin(kStarvingReasons), std::end(kStarvingReasons), *reply.finishReason)
               != std::end(kStarvingReasons)) {
        return Outcome::starved(QStringLiteral("finish=") + *reply.finishReason
                                + QStringLiteral(" with empty content — raise the token cap"));
    }
    return Outcome::requestFailed(200, QStringLiteral("no content (finish=")
                                           + reply.finishReason.value_or(QStringLiteral("none")) + u')');
}

} // namespace profiles::ProviderProbe
