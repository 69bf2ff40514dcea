#include "singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace app {

SingleInstance::SingleInstance(const QString &dataDir, QObject *parent)
    : QObject(parent), m_socketPath(dataDir + QStringLiteral("/pennora.sock")),
      m_lock(dataDir + QStringLiteral("/pennora.lock"))
{
    // A lock left by a crashed process is taken over through its pid check,
    // never by age.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

bool SingleInstance::acquire()
{
    if (!m_lock.tryLock(200))
        return false;
    m_server = new QLocalServer(this);
    QLocalServer::removeServer(m_socketPath);
    if (m_server->listen(m_socketPath)) {
        connect(m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server->nextPendingConnection()) {
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                emit raiseRequested();
            }
        });
    }
    return true;
}

void SingleInstance::raiseRunning()
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (socket.waitForConnected(1000)) {
        socket.write("raise\n");
        socket.waitForBytesWritten(1000);
        socket.disconnectFromServer();
    }
}

} // namespace app
