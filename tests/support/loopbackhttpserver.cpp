#include "loopbackhttpserver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <stdexcept>

namespace testsupport {

namespace {

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

QByteArray head(int status, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    for (const auto &[name, value] : headers)
        text += name + ": " + value + "\r\n";
    return text + "\r\n";
}

} // namespace

std::optional<QByteArray> LoopbackHttpServer::Received::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

LoopbackHttpServer::Reply LoopbackHttpServer::answer(int status, const QByteArray &body,
                                                     const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QList<QPair<QByteArray, QByteArray>> all = headers;
    all.append({QByteArray("Content-Length"), QByteArray::number(body.size())});
    all.append({QByteArray("Connection"), QByteArray("close")});
    return {{{0, head(status, all) + body}}, false};
}

LoopbackHttpServer::Reply LoopbackHttpServer::stream(const QList<QByteArray> &chunks, int gapMs)
{
    Reply reply{{{0, head(200, {{"Content-Type", "text/event-stream"}, {"Connection", "close"}})}}, false};
    for (const QByteArray &chunk : chunks)
        reply.pieces.append({gapMs, chunk});
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::redirect(int status, const QByteArray &location)
{
    return answer(status, {}, {{"Location", location}});
}

LoopbackHttpServer::Reply LoopbackHttpServer::stall()
{
    return {{}, true};
}

LoopbackHttpServer::Reply LoopbackHttpServer::trickle(int gapMs)
{
    Reply reply{{{0, head(200, {{"Content-Type", "text/event-stream"}, {"Connection", "close"}})}}, true};
    // Long enough to outlast any deadline a test sets.
    for (int i = 0; i < 10000; ++i)
        reply.pieces.append({gapMs, ":"});
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::closeAtOnce()
{
    return {};
}

LoopbackHttpServer::Reply LoopbackHttpServer::raw(const QByteArray &bytes)
{
    return {{{0, bytes}}, false};
}

LoopbackHttpServer::LoopbackHttpServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("loopback server: cannot listen: " + m_server->errorString().toStdString());
    connect(m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::accept);
}

LoopbackHttpServer::~LoopbackHttpServer() = default;

QString LoopbackHttpServer::baseURL() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server->serverPort());
}

void LoopbackHttpServer::enqueue(const Reply &reply)
{
    m_replies.append(reply);
}

void LoopbackHttpServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackHttpServer::readFrom(QTcpSocket *socket)
{
    // The socket's buffer keeps the request until it is whole.
    const QByteArray pending = socket->peek(socket->bytesAvailable());
    const qsizetype headEnd = pending.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    Received request;
    const QList<QByteArray> lines = pending.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    if (const std::optional<QByteArray> declared = request.header("Content-Length"))
        length = declared->toLongLong();
    if (pending.size() < headEnd + 4 + length)
        return;
    socket->read(headEnd + 4);
    request.body = socket->read(length);
    m_received.append(request);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);

    const Reply reply = m_replies.isEmpty() ? m_fallback : m_replies.takeFirst();
    play(socket, reply, 0);
}

void LoopbackHttpServer::play(QTcpSocket *socket, const Reply &reply, int piece)
{
    if (piece == reply.pieces.size()) {
        if (!reply.stallAfter)
            socket->disconnectFromHost();
        return;
    }
    const Reply::Piece &next = reply.pieces[piece];
    const QPointer<QTcpSocket> guarded(socket);
    const auto write = [this, guarded, reply, piece] {
        if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
            return;
        guarded->write(reply.pieces[piece].bytes);
        play(guarded, reply, piece + 1);
    };
    if (next.delayMs == 0)
        write();
    else
        QTimer::singleShot(next.delayMs, socket, write);
}

} // namespace testsupport
