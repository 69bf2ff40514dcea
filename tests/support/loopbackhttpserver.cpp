#include "loopbackhttpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <stdexcept>
#include <sys/socket.h>

namespace testsupport {

namespace {

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
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

QByteArray readPem(const char *name)
{
    QFile file(QStringLiteral(PENNORA_TEST_TLS_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(std::string("loopback server: cannot read ") + name);
    return file.readAll();
}

QTcpServer *makeServer(LoopbackHttpServer::Scheme scheme, QObject *parent)
{
    if (scheme == LoopbackHttpServer::Scheme::http)
        return new QTcpServer(parent);
    auto *server = new QSslServer(parent);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(LoopbackHttpServer::testCertificate());
    tls.setPrivateKey(QSslKey(readPem("loopback-test-only-key.pem"), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(tls);
    return server;
}

} // namespace

QByteArray LoopbackHttpServer::Received::path() const
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

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

LoopbackHttpServer::Reply LoopbackHttpServer::reset()
{
    Reply reply;
    reply.resetAfter = true;
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::raw(const QByteArray &bytes)
{
    return {{{0, bytes}}, false};
}

LoopbackHttpServer::LoopbackHttpServer(QObject *parent) : LoopbackHttpServer(Scheme::http, parent) {}

LoopbackHttpServer::LoopbackHttpServer(Scheme scheme, QObject *parent)
    : QObject(parent), m_scheme(scheme), m_server(makeServer(scheme, this))
{
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("loopback server: cannot listen: " + m_server->errorString().toStdString());
    // A TLS connection is pending only once its handshake is done.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &LoopbackHttpServer::accept);
}

LoopbackHttpServer::~LoopbackHttpServer() = default;

QSslCertificate LoopbackHttpServer::testCertificate()
{
    static const QSslCertificate certificate(readPem("loopback-test-only-cert.pem"), QSsl::Pem);
    return certificate;
}

QString LoopbackHttpServer::baseURL() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_scheme == Scheme::https ? QLatin1String("https") : QLatin1String("http"))
        .arg(m_server->serverPort());
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
        // Over TLS the request may have come with the handshake.
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
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
    request.raw = socket->read(headEnd + 4);
    request.body = socket->read(length);
    request.raw += request.body;
    m_received.append(request);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);

    std::optional<Reply> picked = m_responder ? m_responder(request) : std::nullopt;
    if (!picked)
        picked = m_replies.isEmpty() ? m_fallback : m_replies.takeFirst();
    play(socket, *picked, 0);
}

void LoopbackHttpServer::play(QTcpSocket *socket, const Reply &reply, int piece)
{
    if (piece == reply.pieces.size()) {
        if (reply.resetAfter) {
            // No lingering: the close sends RST instead of FIN.
            const linger now{1, 0};
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            socket->abort();
        } else if (!reply.stallAfter) {
            socket->disconnectFromHost();
        }
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
