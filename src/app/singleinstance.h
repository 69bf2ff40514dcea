#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

namespace app {

// One running application per user: a lock file in the application data
// folder, and a local socket through which a second launch asks the first to
// raise its window.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &dataDir, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the running instance.
    bool acquire();
    // Asks the running instance to raise its window (best effort).
    void raiseRunning();

signals:
    void raiseRequested();

private:
    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace app
