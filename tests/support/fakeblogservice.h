#pragma once
// A stand-in for the blog service over HTTPS on 127.0.0.1, for tests of the
// publishing client: the Micropub endpoint's create and publish, its
// configuration query, and the media endpoint's upload. It checks the bearer
// token, records every request byte for byte, and answers a route with an
// injected fault in place of its own answer when a test asks.

#include "loopbackhttpserver.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace testsupport {

class FakeBlogService : public QObject {
public:
    using Reply = LoopbackHttpServer::Reply;
    using Received = LoopbackHttpServer::Received;

    enum class Route { create, publish, config, media, unknown };

    // Accepts the bearer token "token".
    explicit FakeBlogService(QObject *parent = nullptr);

    // "https://127.0.0.1:<port>/micropub" and ".../micropub/media".
    QUrl endpoint() const;
    QUrl mediaEndpoint() const;
    // The only certificate that makes the service trusted.
    static QSslCertificate certificate();

    // Any other token (or none) is answered 401 with a Bearer challenge.
    void setToken(const QByteArray &token) { m_token = token; }

    // The next requests of the route are answered with reply (times times,
    // after the faults injected before, and after the route has answered
    // after more requests its own way), whatever they hold. A client may
    // send a request again after a connection broke without an answer.
    void injectFault(Route route, const Reply &reply, int times = 1, int after = 0);
    void clearFaults() { m_faults.clear(); }

    // The next uploads are hosted under these names (".../uploads/<name>"),
    // in order; then "<n>.png".
    void nameNextUploads(const QList<QString> &names) { m_uploadNames.append(names); }
    // Called with every request as it arrives, before it is answered.
    void setObserver(std::function<void(const Received &)> observer) { m_observer = std::move(observer); }

    // Every request, in order; and the route each one took.
    const QList<Received> &received() const { return m_server.received(); }
    static Route routeOf(const Received &request);
    // The entries created and published so far, by URL.
    const QList<QString> &drafts() const { return m_drafts; }
    const QList<QString> &published() const { return m_published; }

private:
    Reply respond(const Received &request);
    QString base() const;

    LoopbackHttpServer m_server;
    QByteArray m_token = "token";
    // None: the route answers its own way.
    QHash<Route, QList<std::optional<Reply>>> m_faults;
    QList<QString> m_uploadNames;
    std::function<void(const Received &)> m_observer;
    QList<QString> m_drafts;
    QList<QString> m_published;
    int m_uploads = 0;
};

} // namespace testsupport
