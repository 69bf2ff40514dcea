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
    // after the faults injected before), whatever they hold. A client may
    // send a request again after a connection broke without an answer.
    void injectFault(Route route, const Reply &reply, int times = 1);
    void clearFaults() { m_faults.clear(); }

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
    QHash<Route, QList<Reply>> m_faults;
    QList<QString> m_drafts;
    QList<QString> m_published;
    int m_uploads = 0;
};

} // namespace testsupport
