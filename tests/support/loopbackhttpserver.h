#pragma once
// A small HTTP/1.1 server on 127.0.0.1 (a free port) for tests of network
// clients: it records every request and plays scripted replies in order (or
// as a responder picks them), whole answers, streams written piece by piece,
// stalls, connections closed without a word or reset, and answers that are not
// HTTP. Plain HTTP, or HTTPS with a test-only certificate that a client trusts
// only when told to. One request per connection; nothing is ever sent beyond
// the loopback interface.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QString>
#include <functional>
#include <optional>

class QTcpServer;
class QTcpSocket;

namespace testsupport {

class LoopbackHttpServer : public QObject {
public:
    struct Received {
        QByteArray method;
        // The request target as sent ("/v1/models?x=1").
        QByteArray target;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // Everything the client sent for this request, head and body, byte
        // for byte.
        QByteArray raw;

        // The target's path, without the query.
        QByteArray path() const;
        // A header's value, the name compared without case; none when absent.
        std::optional<QByteArray> header(const QByteArray &name) const;
    };

    // One reply: pieces written after their delays, then the connection is
    // closed, or left open with nothing more said when stallAfter is set.
    struct Reply {
        struct Piece {
            int delayMs = 0;
            QByteArray bytes;
        };
        QList<Piece> pieces;
        bool stallAfter = false;
        // After the pieces the connection is reset (RST), not closed.
        bool resetAfter = false;
    };

    enum class Scheme { http, https };
    // Picks the reply to a request; nothing leaves it to the queue.
    using Responder = std::function<std::optional<Reply>(const Received &)>;

    // A whole answer with Content-Length and "Connection: close".
    static Reply answer(int status, const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &headers = {});
    // Server-sent events: the head at once, then each chunk after gapMs; the
    // body ends when the connection closes.
    static Reply stream(const QList<QByteArray> &chunks, int gapMs = 0);
    static Reply redirect(int status, const QByteArray &location);
    // Reads the request and answers nothing, holding the connection.
    static Reply stall();
    // A head, then one body byte every gapMs for ever.
    static Reply trickle(int gapMs);
    // Closes the connection without a byte.
    static Reply closeAtOnce();
    // Resets the connection without a byte.
    static Reply reset();
    // Bytes as they are, then close.
    static Reply raw(const QByteArray &bytes);

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    explicit LoopbackHttpServer(Scheme scheme, QObject *parent = nullptr);
    ~LoopbackHttpServer() override;

    // The certificate an https server presents: for 127.0.0.1, self-signed,
    // for tests only.
    static QSslCertificate testCertificate();

    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>"
    QString baseURL() const;
    void enqueue(const Reply &reply);
    // Asked first for every request.
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // The reply once the queue is empty; a 404 unless set. Clients may send a
    // request again after a connection closed without an answer.
    void setFallback(const Reply &reply) { m_fallback = reply; }
    const QList<Received> &received() const { return m_received; }
    int connectionCount() const { return m_connections; }

private:
    void accept();
    void readFrom(QTcpSocket *socket);
    void play(QTcpSocket *socket, const Reply &reply, int piece);

    Scheme m_scheme;
    QTcpServer *m_server;
    Responder m_responder;
    QList<Reply> m_replies;
    Reply m_fallback = answer(404, "no scripted reply");
    QList<Received> m_received;
    int m_connections = 0;
};

} // namespace testsupport
