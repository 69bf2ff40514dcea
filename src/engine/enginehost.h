#pragma once
// The owner of the application's engine connections: one long-lived chat
// engine on the profile "pennora", and at most one one-shot engine at a time
// (one Pass or Blind Read) on a profile its caller names. It starts each
// engine, performs the "initialize" handshake, notices a chat engine whose
// version differs from the last engine check, and hands everything the
// connections report over to the main thread before passing it on.
//
// Lives on the main thread. Its coroutines suspend there during handshakes
// and one-shot bodies; each of them checks that the host still exists after
// every suspension, so a host destroyed meanwhile is never touched.

#include "engine/enginetransport.h"
#include "foundation/error.h"
#include "foundation/jsonvalue.h"

#include <QCoro/QCoroTask>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace engine {

// "com.quendalstudio.Pennora.acp": the engine connections' log.
Q_DECLARE_LOGGING_CATEGORY(acpLog)

class EngineHost : public QObject {
    Q_OBJECT
public:
    using TransportMaker = std::function<std::shared_ptr<EngineTransport>(const QString &profile)>;
    using VersionProvider = std::function<std::optional<QString>()>;
    using NotificationCallback = std::function<void(const QString &method, const std::optional<JSONValue> &params)>;
    using CrashCallback = std::function<void()>;
    using StderrLineCallback = std::function<void(const QString &line)>;

    // The outcome of starting the chat engine.
    struct ChatStart {
        struct Up {
            std::optional<QString> version; // as the engine reported it in the handshake
            std::optional<QString> note;    // the version-drift note
            bool operator==(const Up &) const = default;
        };
        struct Failed {
            QString reason;
            bool operator==(const Failed &) const = default;
        };
        std::variant<Up, Failed> value;

        static ChatStart up(std::optional<QString> version, std::optional<QString> note)
        {
            return {Up{std::move(version), std::move(note)}};
        }
        static ChatStart failed(QString reason) { return {Failed{std::move(reason)}}; }
        bool isUp() const { return std::holds_alternative<Up>(value); }
        bool operator==(const ChatStart &) const = default;
    };

    // Every failure of startOneShot() before its body runs.
    class HostError : public foundation::Error {
    public:
        using Error::Error;
    };

    static constexpr std::chrono::milliseconds defaultHandshakeTimeout = std::chrono::seconds(15);
    static const QString chatProfile;

    explicit EngineHost(QObject *parent = nullptr);
    // Closes every connection it holds, one still in its handshake included.
    ~EngineHost() override;

    // Makes the connection for an engine start. The default makes an
    // ACPEngineClient for binaryPath as it is at the call (empty when unset or
    // when the host is gone).
    TransportMaker makeTransport;
    // The engine executable; startChat() and startOneShot() refuse without it.
    std::optional<QString> binaryPath;
    // The engine version of the last check; recordedEngineVersion by default.
    VersionProvider recordedVersionProvider;
    // Every notification of either engine, on the main thread.
    NotificationCallback onNotification;
    // The chat engine ended unexpectedly, on the main thread.
    CrashCallback onCrash;
    // One standard-error line of the chat engine, on the main thread.
    StderrLineCallback onStderrLine;
    // The time-out of every "initialize".
    std::chrono::milliseconds handshakeTimeout = defaultHandshakeTimeout;

    // The running chat connection: set only after a successful handshake.
    const std::shared_ptr<EngineTransport> &chat() const { return m_chat; }
    // The running one-shot connection: set before its start, cleared on
    // every way out of startOneShot().
    const std::shared_ptr<EngineTransport> &oneShot() const { return m_oneShot; }

    // "engineVersion" of state.json in the application data folder; none when
    // the file is missing, cannot be decoded or holds no version.
    static std::optional<QString> recordedEngineVersion();
    // The params of every "initialize".
    static const JSONValue &initializeParams();
    // A version up to its first "+", or the whole text without one.
    static QString versionCore(const QString &version);
    // The note for a running version whose core differs from the recorded
    // one (logged at critical level); none otherwise.
    std::optional<QString> versionDriftNote(const std::optional<QString> &running) const;

    // Sends "initialize" and answers "agentInfo"."version" of the answer when
    // it is a text. Throws what the request throws.
    QCoro::Task<std::optional<QString>> handshake(std::shared_ptr<EngineTransport> connection);

    // Starts the chat engine and performs its handshake; never throws.
    QCoro::Task<ChatStart> startChat();

    // Runs body on a fresh one-shot engine for profile and answers its
    // result; the engine is closed and oneShot() cleared on every way out.
    // body takes an EngineTransport & and answers a QCoro::Task<T>. Throws
    // HostError when the engine cannot be had, and what body throws.
    template<typename Body>
    auto startOneShot(QString profile, Body body) -> std::invoke_result_t<Body &, EngineTransport &>;

    // Closes the chat engine, running or still in its handshake. Blocks while
    // the connection closes.
    void stopChat();
    // Closes both engines.
    void shutdown();

private:
    // Steps before the body: refusals, start and handshake. Throws HostError.
    QCoro::Task<std::shared_ptr<EngineTransport>> openOneShot(QString profile);
    // Closes connection and clears oneShot() when it is still that one.
    void finishOneShot(const std::shared_ptr<EngineTransport> &connection);
    // A connection's callback for notifications: hands over to the main thread.
    EngineTransport::MessageCallback forwardMessages();

    std::shared_ptr<EngineTransport> m_chat;
    // The chat connection during its handshake, so a stop can close it.
    std::shared_ptr<EngineTransport> m_chatStarting;
    std::shared_ptr<EngineTransport> m_oneShot;
};

namespace detail {
template<typename>
struct TaskValue;
template<typename T>
struct TaskValue<QCoro::Task<T>> {
    using type = T;
};
} // namespace detail

template<typename Body>
auto EngineHost::startOneShot(QString profile, Body body) -> std::invoke_result_t<Body &, EngineTransport &>
{
    using Value = typename detail::TaskValue<std::invoke_result_t<Body &, EngineTransport &>>::type;
    const QPointer<EngineHost> self(this);
    QCoro::Task<std::shared_ptr<EngineTransport>> opening = openOneShot(std::move(profile));
    const std::shared_ptr<EngineTransport> connection = co_await std::move(opening);

    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<Value>, std::monostate, Value>> result;
    try {
        auto running = body(*connection);
        if constexpr (std::is_void_v<Value>)
            co_await std::move(running);
        else
            result.emplace(co_await std::move(running));
    } catch (...) {
        failure = std::current_exception();
    }
    // The host may be gone by now; its destructor has closed the connection.
    if (self)
        self->finishOneShot(connection);
    else
        connection->close();
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<Value>)
        co_return std::move(*result);
}

} // namespace engine
