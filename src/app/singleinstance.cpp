#include "singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

SingleInstance::SingleInstance(const QString &dataDir, QObject *parent)
    : QObject(parent), m_socketPath(dataDir + QStringLiteral("/pennora.sock")),
      m_lockPath(dataDir + QStringLiteral("/pennora.lock"))
{}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_lockFd >= 0) {
        // Removed while still held, so that no later launch locks this inode.
        ::unlink(QFile::encodeName(m_lockPath).constData());
        ::close(m_lockFd);
    }
}

// A kernel lock rather than a lock file with a pid inside: the kernel
// releases it with the process, even after a crash, and taking it costs no
// disk sync on the way to the first window.
bool SingleInstance::lock(int waitMs)
{
    QDir().mkpath(QFileInfo(m_lockPath).absolutePath());
    const QByteArray path = QFile::encodeName(m_lockPath);
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // The holder that quit may have removed the file between our
            // open and our lock: only the file at the path counts.
            struct stat held {
            }, current{};
            if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &current) == 0 && held.st_dev == current.st_dev
                && held.st_ino == current.st_ino) {
                m_lockFd = fd;
                return true;
            }
            ::close(fd);
            continue;
        }
        ::close(fd);
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

bool SingleInstance::acquire()
{
    if (m_lockFd < 0 && !lock(200))
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
