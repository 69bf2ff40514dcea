#include "enginehost.h"

#include "engine/acpengineclient.h"
#include "engine/engineprobe.h"
#include "engine/guardedcall.h"

#include <QMetaObject>

namespace engine {

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(acpLog, "com.quendalstudio.Pennora.acp")

namespace {

// Connections may report from any thread: fn runs later on the host's own
// thread, and not at all once the host is gone.
void handOver(const QPointer<EngineHost> &host, std::function<void(EngineHost &)> fn)
{
    if (EngineHost *target = host.data()) {
        QMetaObject::invokeMethod(
            target,
            [host, fn = std::move(fn)] {
                if (host)
                    fn(*host);
            },
            Qt::QueuedConnection);
    }
}

// Starts connection; the error's text when it could not be launched.
std::optional<QString> launch(EngineTransport &connection)
{
    try {
        connection.start();
    } catch (const std::exception &error) {
        return foundation::describe(error);
    }
    return std::nullopt;
}

} // namespace

const QString EngineHost::chatProfile = u"pennora"_s;

EngineHost::EngineHost(QObject *parent) : QObject(parent), recordedVersionProvider(&EngineHost::recordedEngineVersion)
{
    makeTransport = [host = QPointer<EngineHost>(this)](const QString &profile) -> std::shared_ptr<EngineTransport> {
        const QString path = host ? host->binaryPath.value_or(QString()) : QString();
        return std::make_shared<ACPEngineClient>(path, profile);
    };
}

EngineHost::~EngineHost()
{
    shutdown();
}

std::optional<QString> EngineHost::recordedEngineVersion()
{
    const std::optional<EngineProbe::StateRecord> record = EngineProbe::readStateRecord();
    return record ? record->engineVersion : std::nullopt;
}

const JSONValue &EngineHost::initializeParams()
{
    static const JSONValue params(JSONValue::Object{
        {u"protocolVersion"_s, 1},
        {u"clientCapabilities"_s, JSONValue::Object()},
        {u"clientInfo"_s, JSONValue::Object{{u"name"_s, "Pennora"}, {u"title"_s, "Pennora"}, {u"version"_s, "0.1"}}},
    });
    return params;
}

QString EngineHost::versionCore(const QString &version)
{
    const qsizetype plus = version.indexOf(u'+');
    return plus < 0 ? version : version.left(plus);
}

std::optional<QString> EngineHost::versionDriftNote(const std::optional<QString> &running) const
{
    if (!running)
        return std::nullopt;
    const std::optional<QString> recorded = recordedVersionProvider ? recordedVersionProvider() : std::nullopt;
    if (!recorded || versionCore(*running) == versionCore(*recorded))
        return std::nullopt;
    qCCritical(acpLog, "engine version drift: running %s, recorded %s", qUtf8Printable(*running),
               qUtf8Printable(*recorded));
    return u"Engine "_s + *running + u" differs from the recorded "_s + *recorded;
}

QCoro::Task<std::optional<QString>> EngineHost::handshake(std::shared_ptr<EngineTransport> connection)
{
    QCoro::Task<std::optional<JSONValue>> request =
        connection->request(u"initialize"_s, initializeParams(), handshakeTimeout);
    const std::optional<JSONValue> answer = co_await std::move(request);
    // Only the answer is read from here on: the host may be gone.
    const std::optional<JSONValue> info = answer ? answer->member(u"agentInfo"_s) : std::nullopt;
    const std::optional<JSONValue> version = info ? info->member(u"version"_s) : std::nullopt;
    if (!version || !version->isString())
        co_return std::nullopt;
    co_return version->toString();
}

EngineTransport::MessageCallback EngineHost::forwardMessages()
{
    return [host = QPointer<EngineHost>(this)](const QString &method, const std::optional<JSONValue> &params) {
        handOver(host, [method, params](EngineHost &self) {
            if (const NotificationCallback callback = self.onNotification)
                callback(method, params);
        });
    };
}

QCoro::Task<EngineHost::ChatStart> EngineHost::startChat()
{
    // A start still in its handshake counts: two chat engines must never run.
    if (m_chat || m_chatStarting)
        co_return ChatStart::failed(u"chat engine already running"_s);
    if (!binaryPath)
        co_return ChatStart::failed(u"no engine binary path available"_s);

    const std::shared_ptr<EngineTransport> connection = makeTransport(chatProfile);
    const QPointer<EngineHost> self(this);
    connection->setOnMessage(forwardMessages());
    connection->setOnCrash([self] {
        handOver(self, [](EngineHost &host) {
            if (const CrashCallback callback = host.onCrash)
                callback();
        });
    });
    connection->setOnStderrLine([self](const QString &line) {
        handOver(self, [line](EngineHost &host) {
            if (const StderrLineCallback callback = host.onStderrLine)
                callback(line);
        });
    });

    if (const std::optional<QString> failure = launch(*connection)) {
        connection->close();
        co_return ChatStart::failed(u"spawn failed: "_s + *failure);
    }

    m_chatStarting = connection;
    auto handshaking = guardedCall(self, [this, connection] { return handshake(connection); });
    const std::optional<CallResult<std::optional<QString>>> shaken = co_await std::move(handshaking);
    if (!shaken || m_chatStarting != connection) {
        // stopChat(), shutdown() or the host's end closed it meanwhile; an
        // answer that came first does not bring it back.
        connection->close();
        co_return ChatStart::failed(u"chat engine stopped"_s);
    }
    m_chatStarting.reset();
    if (shaken->failure) {
        connection->close();
        co_return ChatStart::failed(u"handshake failed: "_s + *shaken->failure);
    }
    m_chat = connection;
    co_return ChatStart::up(shaken->answer, versionDriftNote(shaken->answer));
}

QCoro::Task<std::shared_ptr<EngineTransport>> EngineHost::openOneShot(QString profile)
{
    if (m_oneShot)
        throw HostError(u"one-shot engine already running"_s);
    if (!binaryPath)
        throw HostError(u"no engine binary path available"_s);

    const std::shared_ptr<EngineTransport> connection = makeTransport(profile);
    // Its standard error and unexpected end stay with it: its waiting
    // requests fail, and the body sees that.
    connection->setOnMessage(forwardMessages());
    // Recorded before the start, so a second one-shot is refused from now on.
    m_oneShot = connection;

    if (const std::optional<QString> failure = launch(*connection)) {
        finishOneShot(connection);
        throw HostError(u"spawn failed: "_s + *failure);
    }

    const QPointer<EngineHost> self(this);
    auto handshaking = guardedCall(self, [this, connection] { return handshake(connection); });
    const std::optional<CallResult<std::optional<QString>>> shaken = co_await std::move(handshaking);
    if (!shaken || m_oneShot != connection) {
        connection->close();
        throw HostError(u"one-shot engine stopped"_s);
    }
    if (shaken->failure) {
        finishOneShot(connection);
        throw HostError(u"handshake failed: "_s + *shaken->failure);
    }
    co_return connection;
}

void EngineHost::finishOneShot(const std::shared_ptr<EngineTransport> &connection)
{
    connection->close();
    // A shutdown during the body may have let another one-shot take its place.
    if (m_oneShot == connection)
        m_oneShot.reset();
}

void EngineHost::stopChat()
{
    // Cleared before closing, so nothing reached from close() sees them.
    if (const std::shared_ptr<EngineTransport> running = std::exchange(m_chat, nullptr))
        running->close();
    if (const std::shared_ptr<EngineTransport> starting = std::exchange(m_chatStarting, nullptr))
        starting->close();
}

void EngineHost::shutdown()
{
    stopChat();
    if (const std::shared_ptr<EngineTransport> oneShot = std::exchange(m_oneShot, nullptr))
        oneShot->close();
}

} // namespace engine
