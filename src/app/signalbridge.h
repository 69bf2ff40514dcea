#pragma once

#include <QObject>

class QSocketNotifier;

namespace app {

// Turns SIGTERM, SIGINT and SIGHUP into a queued signal on the main thread
// (a self-pipe read by a socket notifier), so they take the Quit path.
class SignalBridge : public QObject {
    Q_OBJECT
public:
    explicit SignalBridge(QObject *parent = nullptr);
    ~SignalBridge() override;

signals:
    void quitRequested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace app
