#include "fakeblogservice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace testsupport {

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

LoopbackHttpServer::Reply json(int status, const QJsonObject &body, Headers headers = {})
{
    headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return LoopbackHttpServer::answer(status, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

LoopbackHttpServer::Reply invalid(const QString &description)
{
    return json(400, {{"error", "invalid_request"}, {"error_description", description}});
}

QJsonObject bodyOf(const LoopbackHttpServer::Received &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

QString firstString(const QJsonValue &list)
{
    return list.toArray().first().toString();
}

} // namespace

FakeBlogService::FakeBlogService(QObject *parent) : QObject(parent), m_server(LoopbackHttpServer::Scheme::https, this)
{
    m_server.setResponder([this](const Received &request) { return respond(request); });
}

QString FakeBlogService::base() const
{
    return m_server.baseURL();
}

QUrl FakeBlogService::endpoint() const
{
    return QUrl(base() + QStringLiteral("/micropub"));
}

QUrl FakeBlogService::mediaEndpoint() const
{
    return QUrl(base() + QStringLiteral("/micropub/media"));
}

QSslCertificate FakeBlogService::certificate()
{
    return LoopbackHttpServer::testCertificate();
}

void FakeBlogService::injectFault(Route route, const Reply &reply, int times, int after)
{
    for (int i = 0; i < after; ++i)
        m_faults[route].append(std::nullopt);
    for (int i = 0; i < times; ++i)
        m_faults[route].append(reply);
}

FakeBlogService::Route FakeBlogService::routeOf(const Received &request)
{
    const QByteArray path = request.path();
    if (path == "/micropub/media" && request.method == "POST")
        return Route::media;
    if (path != "/micropub")
        return Route::unknown;
    if (request.method == "GET")
        return request.target.endsWith("?q=config") ? Route::config : Route::unknown;
    if (request.method != "POST")
        return Route::unknown;
    return bodyOf(request).value(QLatin1String("action")).toString() == u"update" ? Route::publish : Route::create;
}

FakeBlogService::Reply FakeBlogService::respond(const Received &request)
{
    const Route route = routeOf(request);
    if (m_observer)
        m_observer(request);
    if (QList<std::optional<Reply>> &faults = m_faults[route]; !faults.isEmpty()) {
        if (const std::optional<Reply> fault = faults.takeFirst())
            return *fault;
    }
    if (request.header("Authorization") != "Bearer " + m_token) {
        return json(401, {{"error", "invalid_token"}, {"error_description", "The app token was not accepted."}},
                    {{"WWW-Authenticate", R"(Bearer realm="micropub", error="invalid_token")"}});
    }
    switch (route) {
    case Route::create: {
        const QJsonObject body = bodyOf(request);
        const QJsonObject properties = body.value(QLatin1String("properties")).toObject();
        if (firstString(body.value(QLatin1String("type"))) != u"h-entry"
            || firstString(properties.value(QLatin1String("post-status"))) != u"draft")
            return invalid(QStringLiteral("Only drafts of h-entries are taken."));
        const QString url = base() + QStringLiteral("/posts/%1").arg(m_drafts.size() + 1);
        m_drafts.append(url);
        return json(202, {{"url", url}, {"preview", base() + QStringLiteral("/preview/%1").arg(m_drafts.size())}},
                    {{"Location", url.toUtf8()}});
    }
    case Route::publish: {
        const QJsonObject body = bodyOf(request);
        const QString url = body.value(QLatin1String("url")).toString();
        if (!m_drafts.contains(url))
            return invalid(QStringLiteral("There is no draft at that URL."));
        if (firstString(body.value(QLatin1String("replace")).toObject().value(QLatin1String("post-status")))
            != u"published")
            return invalid(QStringLiteral("Only post-status can be replaced."));
        m_published.append(url);
        return LoopbackHttpServer::answer(204, {});
    }
    case Route::config: return json(200, {{"media-endpoint", mediaEndpoint().toString()}});
    case Route::media: {
        const QByteArray type = request.header("Content-Type").value_or(QByteArray());
        if (!type.startsWith("multipart/form-data; boundary=") || !request.body.contains("name=\"file\""))
            return invalid(QStringLiteral("One file is expected in the field \"file\"."));
        ++m_uploads;
        const QString name =
            m_uploadNames.isEmpty() ? QStringLiteral("%1.png").arg(m_uploads) : m_uploadNames.takeFirst();
        const QString url = base() + QStringLiteral("/uploads/") + name;
        return json(202, {{"url", url}}, {{"Location", url.toUtf8()}});
    }
    case Route::unknown: break;
    }
    return json(404, {{"error", "not_found"}});
}

} // namespace testsupport
