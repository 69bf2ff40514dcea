#pragma once
// A small HTTP/1.1 server on 127.0.0.1 (a free port) for tests of network
// clients: it records every request and plays scripted replies in order,
// whole answers, streams written piece by piece, stalls, connections closed
// without a word and answers that are not HTTP. One request per connection;
// nothing is ever sent beyond the loopback interface.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
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
    };

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
    // Bytes as they are, then close.
    static Reply raw(const QByteArray &bytes);

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    ~LoopbackHttpServer() override;

    // "http://127.0.0.1:<port>"
    QString baseURL() const;
    void enqueue(const Reply &reply);
    // The reply once the queue is empty; a 404 unless set. Clients may send a
    // request again after a connection closed without an answer.
    void setFallback(const Reply &reply) { m_fallback = reply; }
    const QList<Received> &received() const { return m_received; }
    int connectionCount() const { return m_connections; }

private:
    void accept();
    void readFrom(QTcpSocket *socket);
    void play(QTcpSocket *socket, const Reply &reply, int piece);

    QTcpServer *m_server;
    QList<Reply> m_replies;
    Reply m_fallback = answer(404, "no scripted reply");
    QList<Received> m_received;
    int m_connections = 0;
};

} // namespace testsupport
