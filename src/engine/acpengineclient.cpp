#include "acpengineclient.h"

#include "foundation/json.h"
#include "foundation/text.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <coroutine>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace engine {

namespace {

constexpr int errorMessageLimit = 500; // characters
// A child that closes its output while exiting is reported by its exit
// status; this is how long the end of output waits for that report.
constexpr std::chrono::milliseconds kEofGrace{250};
// The most close() spends writing out lines queued before it.
constexpr std::chrono::milliseconds kFlushLimit{100};

const QString kJsonRpc = QStringLiteral("jsonrpc");
const QString kID = QStringLiteral("id");
const QString kMethod = QStringLiteral("method");
const QString kParams = QStringLiteral("params");
const QString kResult = QStringLiteral("result");
const QString kError = QStringLiteral("error");

QString truncatedSeconds(std::chrono::milliseconds timeout)
{
    return QString::number(qint64(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()));
}

int timerMilliseconds(std::chrono::milliseconds timeout)
{
    return int(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT_MAX));
}

// Runs fn later from this thread's event loop; at once when there is none.
void queueOnLoop(std::function<void()> fn)
{
    if (QAbstractEventDispatcher *loop = QAbstractEventDispatcher::instance())
        QMetaObject::invokeMethod(loop, std::move(fn), Qt::QueuedConnection);
    else
        fn();
}

} // namespace

// One waiting request, resolved exactly once.
struct ACPEngineClient::Pending {
    std::coroutine_handle<> waiter;
    bool done = false;
    std::optional<JSONValue> result;
    std::optional<QString> error;
};

// Holds a plain pointer: the request's frame keeps the entry alive, and GCC 12
// mishandles temporaries with destructors inside co_await.
struct ACPEngineClient::Awaiter {
    Pending *pending;
    bool await_ready() const noexcept { return pending->done; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { pending->waiter = handle; }
    void await_resume() const noexcept {}
};

QString ACPEngineClient::serverRequestRefusal()
{
    return QStringLiteral("Pennora M0 handles no server requests");
}

ACPEngineClient::ACPEngineClient(const QString &binaryPath, const QString &profile, QObject *parent)
    : QObject(parent), m_process(new QProcess(this))
{
    // A file path, never a name looked up on PATH.
    m_process->setProgram(binaryPath.isEmpty() ? QString() : QFileInfo(binaryPath).absoluteFilePath());
    m_process->setArguments({QStringLiteral("acp"), QStringLiteral("-p"), profile});
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    // Standard output gets a pipe of our own (see start()): QProcess tells
    // nobody when a running child closes its output.
    m_process->setStandardOutputFile(QProcess::nullDevice());
}

ACPEngineClient::~ACPEngineClient()
{
    close();
}

qint64 ACPEngineClient::processID() const
{
    return m_process ? m_process->processId() : 0;
}

void ACPEngineClient::start()
{
    if (m_started)
        return;
    // A closed connection stays closed: a child started now would have no
    // owner left to stop it.
    if (m_closed)
        throw LaunchError(QStringLiteral("engine connection already closed"));
    m_started = true;

    // Writing to an engine that has gone must fail as a write, not kill us.
    ::signal(SIGPIPE, SIG_IGN);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw LaunchError(QString::fromLocal8Bit(std::strerror(errno)));
    const int writeEnd = fds[1];
    m_process->setChildProcessModifier([writeEnd] {
        ::dup2(writeEnd, STDOUT_FILENO);
        // The engine must not outlive a crashed application.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    m_process->start(QIODevice::ReadWrite);
    const bool launched = m_process->waitForStarted(-1);
    ::close(writeEnd);
    if (!launched) {
        ::close(fds[0]);
        throw LaunchError(m_process->errorString());
    }
    m_stdoutFd = fds[0];
    ::fcntl(m_stdoutFd, F_SETFL, ::fcntl(m_stdoutFd, F_GETFL) | O_NONBLOCK);

    connect(m_process, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus) {
        // For a child ended by a signal Qt reports the signal's number.
        reportCrash(QStringLiteral("engine exited (code %1)").arg(exitCode));
    });
    connect(m_process, &QProcess::readyReadStandardError, this, &ACPEngineClient::readStderr);
    m_stdoutNotifier = new QSocketNotifier(m_stdoutFd, QSocketNotifier::Read, this);
    connect(m_stdoutNotifier, &QSocketNotifier::activated, this, &ACPEngineClient::readStdout);
}

QCoro::Task<std::optional<JSONValue>> ACPEngineClient::request(QString method, std::optional<JSONValue> params,
                                                               std::chrono::milliseconds timeout)
{
    const qint64 id = ++m_currentID;
    const JSONValue body = params.value_or(JSONValue(JSONValue::Object()));
    if (!body.isEncodable())
        throw TransportError(QStringLiteral("unencodable request: ") + method);
    QJsonObject message{
        {kJsonRpc, QStringLiteral("2.0")}, {kID, id}, {kMethod, method}, {kParams, body.foundationObject()}};
    const QByteArray json = foundation::json::compact(message);

    if (m_closed)
        throw TransportError(QStringLiteral("engine closed before ") + method);
    auto pending = std::make_shared<Pending>();
    m_pending.emplace(id, pending);
    send(json);
    // Not cancelled by the answer: it then finds nothing to expire.
    QTimer::singleShot(timerMilliseconds(timeout), this, [this, id, method, timeout] { expire(id, method, timeout); });

    co_await Awaiter{pending.get()};
    if (pending->error)
        throw TransportError(*pending->error);
    co_return pending->result;
}

void ACPEngineClient::notify(const QString &method, const std::optional<JSONValue> &params)
{
    const JSONValue body = params.value_or(JSONValue(JSONValue::Object()));
    if (!body.isEncodable())
        return;
    send(foundation::json::compact(
        QJsonObject{{kJsonRpc, QStringLiteral("2.0")}, {kMethod, method}, {kParams, body.foundationObject()}}));
}

void ACPEngineClient::send(const QByteArray &json)
{
    // A child that has ended takes nothing; such writes are dropped.
    if (!m_process || m_process->state() != QProcess::Running)
        return;
    m_process->write(json + '\n');
}

void ACPEngineClient::readStdout()
{
    char chunk[65536];
    const ssize_t n = ::read(m_stdoutFd, chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        stdoutEnded();
        return;
    }
    ingest(QByteArrayView(chunk, n));
}

void ACPEngineClient::stopStdoutReader()
{
    // Called from the notifier's own signal too: disable now, delete later.
    if (m_stdoutNotifier) {
        m_stdoutNotifier->setEnabled(false);
        m_stdoutNotifier->deleteLater();
        m_stdoutNotifier = nullptr;
    }
}

void ACPEngineClient::closeStdout()
{
    stopStdoutReader();
    if (m_stdoutFd >= 0) {
        ::close(m_stdoutFd);
        m_stdoutFd = -1;
    }
}

void ACPEngineClient::stdoutEnded()
{
    closeStdout();
    if (m_process->state() == QProcess::NotRunning)
        return; // the exit has been reported already
    m_eofGrace = new QTimer(this);
    m_eofGrace->setSingleShot(true);
    connect(m_eofGrace, &QTimer::timeout, this, [this] {
        // A child that has died by now is reported by its exit status (this
        // collects it at once when the loop has not yet).
        if (m_process->waitForFinished(0))
            return;
        reportCrash(QStringLiteral("engine stdout closed (EOF)"));
    });
    m_eofGrace->start(kEofGrace);
}

void ACPEngineClient::ingest(QByteArrayView chunk)
{
    // Overlong lines are dropped without a word: the engine gets no answer to them.
    m_framer.feed(chunk, [this](QByteArrayView line) { handleLine(line); });
}

void ACPEngineClient::handleLine(QByteArrayView line)
{
    if (line.isEmpty())
        return;
    const std::optional<QJsonObject> parsed = foundation::json::parseObject(line.toByteArray());
    if (!parsed)
        return;
    dispatch(*parsed);
}

void ACPEngineClient::dispatch(const QJsonObject &message)
{
    const QJsonValue idValue = message.value(kID);
    const QJsonValue methodValue = message.value(kMethod);

    if (methodValue.isString()) {
        if (!idValue.isUndefined() && !idValue.isNull()) {
            // A request from the engine, whatever the kind of its id: it
            // waits for an answer, so it gets the refusal.
            send(foundation::json::compact(
                QJsonObject{{kJsonRpc, QStringLiteral("2.0")},
                            {kID, idValue},
                            {kError, QJsonObject{{QStringLiteral("code"), -32601},
                                                 {QStringLiteral("message"), serverRequestRefusal()}}}}));
            return;
        }
        const QString method = methodValue.toString();
        std::optional<JSONValue> params;
        if (message.contains(kParams))
            params = JSONValue::fromFoundation(message.value(kParams));
        // Called from here, not posted: the owner's own hand-over to the loop
        // then queues it ahead of the resumption of a request whose answer
        // was read after it, so updates streamed before an answer arrive first.
        if (const MessageCallback callback = m_onMessage)
            callback(method, params);
        return;
    }

    const std::optional<qint64> id = foundation::json::wholeInteger(idValue);
    if (!id)
        return;
    const auto it = m_pending.find(*id);
    if (it == m_pending.end())
        return; // timed out already, or never ours
    const std::shared_ptr<Pending> pending = it->second;
    m_pending.erase(it);

    const QJsonValue errorValue = message.value(kError);
    if (errorValue.isObject()) {
        const QJsonObject error = errorValue.toObject();
        const qint64 code = foundation::json::wholeInteger(error.value(QStringLiteral("code"))).value_or(-1);
        const QJsonValue messageValue = error.value(QStringLiteral("message"));
        const QString text = messageValue.isString() ? messageValue.toString() : QStringLiteral("unknown error");
        pending->error =
            QString::number(code) + QStringLiteral(": ") + foundation::text::graphemePrefix(text, errorMessageLimit);
    } else if (message.contains(kResult)) {
        pending->result = JSONValue::fromFoundation(message.value(kResult));
    }
    resolve(pending);
}

void ACPEngineClient::resolve(const std::shared_ptr<Pending> &pending)
{
    if (pending->done)
        return;
    pending->done = true;
    if (!pending->waiter)
        return;
    // Resumed from the loop, not from inside the reader; the waiter must
    // resume even when this connection is gone by then.
    const std::coroutine_handle<> waiter = pending->waiter;
    queueOnLoop([waiter] { waiter.resume(); });
}

void ACPEngineClient::failPending(const QString &message)
{
    const auto pending = std::exchange(m_pending, {});
    for (const auto &[id, waiting] : pending) {
        waiting->error = message;
        resolve(waiting);
    }
}

void ACPEngineClient::reportCrash(const QString &message)
{
    if (m_closed || m_crashed)
        return;
    m_crashed = true;
    failPending(message);
    post([this] {
        if (const CrashCallback callback = m_onCrash)
            callback();
    });
}

void ACPEngineClient::expire(qint64 id, const QString &method, std::chrono::milliseconds timeout)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    const std::shared_ptr<Pending> pending = it->second;
    m_pending.erase(it);
    pending->error = method + QStringLiteral(" timed out after ") + truncatedSeconds(timeout) + QStringLiteral(" s");
    resolve(pending);
}

void ACPEngineClient::readStderr()
{
    const QByteArray chunk = m_process->readAllStandardError();
    if (chunk.isEmpty())
        return;
    // Chunk by chunk, as they come; a chunk that is not UTF-8 says nothing.
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(chunk);
    if (decoder.hasError())
        return;
    for (const QString &piece : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        post([this, piece] {
            if (const StderrLineCallback callback = m_onStderrLine)
                callback(piece);
        });
    }
}

void ACPEngineClient::stopReading()
{
    stopStdoutReader();
    delete m_eofGrace;
    m_eofGrace = nullptr;
    if (m_process)
        m_process->disconnect(this);
}

void ACPEngineClient::close()
{
    if (m_closed)
        return;
    m_closed = true;
    failPending(QStringLiteral("engine closed"));

    stopReading();

    if (m_process && m_process->state() != QProcess::NotRunning) {
        // Lines handed over before close go out first, as far as a short,
        // bounded wait allows (a child that reads nothing must not hold us).
        QDeadlineTimer flushing(kFlushLimit);
        while (m_process->bytesToWrite() > 0 && !flushing.hasExpired()
               && m_process->waitForBytesWritten(int(flushing.remainingTime()))) {}
        m_process->terminate();
        const QDeadlineTimer waited(terminateGrace);
        while (m_process->state() != QProcess::NotRunning && !waited.hasExpired())
            m_process->waitForFinished(10);
        if (m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            // Reaped from the event loop once the kill lands; close() does
            // not wait for it.
            QProcess *dying = std::exchange(m_process, nullptr);
            dying->setParent(nullptr);
            connect(dying, &QProcess::finished, dying, &QObject::deleteLater);
        }
    }
    if (m_process) {
        m_process->closeWriteChannel();
        m_process->closeReadChannel(QProcess::StandardError);
    }
    closeStdout();
}

void ACPEngineClient::post(std::function<void()> fn)
{
    QPointer<ACPEngineClient> self(this);
    queueOnLoop([self, fn = std::move(fn)] {
        if (self)
            fn();
    });
}

} // namespace engine
