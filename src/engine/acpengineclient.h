#pragma once
// The connection to one engine child ("hermes acp -p <profile>"): JSON-RPC
// 2.0, one compact JSON object per line each way, requests matched to their
// answers by integer id, a time-out per request, notifications and
// standard-error lines handed to callbacks, an unexpected end reported once.
//
// Threading: the object lives on one thread (the main thread) and does all
// its work on that thread's event loop, which stands in for a serial state
// queue: reading, matching, time-outs and crash reports never run at the same
// time. Writes go through QProcess's own buffer, so a full pipe never blocks
// the loop. The crash and standard-error callbacks and the resumption of
// waiting requests are posted to the loop rather than called from inside the
// reader, so they may call request() or close(), or release the connection,
// without re-entering it. The message callback is called from inside the
// reader, in the engine's order with the answers: it must only hand the
// message on (the engine host posts it to the loop).

#include "engine/enginetransport.h"
#include "foundation/jsonvalue.h"
#include "foundation/lineframer.h"

#include <QByteArrayView>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <map>
#include <memory>

class QProcess;
class QSocketNotifier;
class QTimer;

namespace engine {

class ACPEngineClient : public QObject, public EngineTransport {
    Q_OBJECT
public:
    // Every failure of a request; the message is the whole text shown.
    class TransportError : public foundation::Error {
    public:
        using Error::Error;
    };

    // A line may hold this many bytes before its line feed; longer lines are
    // dropped without being kept in memory.
    static constexpr qsizetype maxLineBytes = 1048576;
    // How long close() waits after SIGTERM before SIGKILL.
    static constexpr std::chrono::milliseconds terminateGrace{1000};
    // The text of the answer to any request from the engine.
    static QString serverRequestRefusal();

    // Prepares "<binaryPath> acp -p <profile>" with three pipes; the child
    // inherits this process's environment and working folder. Nothing runs.
    ACPEngineClient(const QString &binaryPath, const QString &profile, QObject *parent = nullptr);
    // Closes the connection when it is still open, so no child outlives it.
    ~ACPEngineClient() override;

    // Launches the child once; later calls return at once, also after a
    // failed launch. Throws LaunchError with the platform's message.
    void start() override;
    // Sends {"jsonrpc","id","method","params"} and waits for the answer or
    // the time-out. Throws TransportError.
    QCoro::Task<std::optional<JSONValue>> request(QString method, std::optional<JSONValue> params,
                                                  std::chrono::milliseconds timeout) override;
    // Fire and forget; sent also after close (and then dropped).
    void notify(const QString &method, const std::optional<JSONValue> &params) override;
    // Fails every waiting request with "engine closed", sends SIGTERM, waits
    // up to terminateGrace for the child's end, then SIGKILL. A killed child
    // is reaped from the event loop, so close() never blocks further.
    void close() override;

    // The running child's process id, 0 when none.
    qint64 processID() const;

    // Feeds bytes of the child's standard output. The pipe reader calls it;
    // tests call it to cut chunks at exact places.
    void ingest(QByteArrayView chunk);
    // Bytes of an unfinished line held right now.
    qsizetype bufferedBytes() const { return m_framer.bufferedBytes(); }

private:
    struct Pending;
    struct Awaiter;

    void send(const QByteArray &json);
    void handleLine(QByteArrayView line);
    void dispatch(const QJsonObject &message);
    void resolve(const std::shared_ptr<Pending> &pending);
    // Fails and resumes every waiting request with message.
    void failPending(const QString &message);
    void reportCrash(const QString &message);
    void expire(qint64 id, const QString &method, std::chrono::milliseconds timeout);
    void readStdout();
    void stdoutEnded();
    void stopStdoutReader();
    void closeStdout();
    void readStderr();
    void stopReading();
    // Runs fn later on this thread's event loop, unless this object is gone.
    void post(std::function<void()> fn);

    QProcess *m_process = nullptr;
    int m_stdoutFd = -1;
    QSocketNotifier *m_stdoutNotifier = nullptr;
    QTimer *m_eofGrace = nullptr;

    std::map<qint64, std::shared_ptr<Pending>> m_pending;
    foundation::LineFramer m_framer{maxLineBytes};
    // Set while the rest of an over-long line is skipped.
    qint64 m_currentID = 0;
    bool m_closed = false;
    bool m_started = false;
    bool m_crashed = false;
};

} // namespace engine
