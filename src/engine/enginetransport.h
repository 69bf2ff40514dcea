#pragma once
// What the rest of the program needs of one running engine: start it, send
// requests and notifications, hear its notifications, standard-error lines
// and unexpected end, and stop it. Connections are shared objects (held by
// std::shared_ptr); the only real one is ACPEngineClient, tests use others.

#include "foundation/error.h"
#include "foundation/jsonvalue.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace engine {

using foundation::JSONValue;

// A child that could not be launched; the message is the platform's.
class LaunchError : public foundation::Error {
public:
    using Error::Error;
};

class EngineTransport {
public:
    using CrashCallback = std::function<void()>;
    using StderrLineCallback = std::function<void(const QString &line)>;
    // params is none when the notification carried no "params".
    using MessageCallback = std::function<void(const QString &method, const std::optional<JSONValue> &params)>;

    virtual ~EngineTransport();

    // Set before start() and left alone while the child runs. They are
    // called on the connection's own thread, from its event loop.
    CrashCallback onCrash() const { return m_onCrash; }
    void setOnCrash(CrashCallback callback) { m_onCrash = std::move(callback); }
    StderrLineCallback onStderrLine() const { return m_onStderrLine; }
    void setOnStderrLine(StderrLineCallback callback) { m_onStderrLine = std::move(callback); }
    MessageCallback onMessage() const { return m_onMessage; }
    void setOnMessage(MessageCallback callback) { m_onMessage = std::move(callback); }

    // Throws LaunchError when the child cannot be launched.
    virtual void start() = 0;
    // Resolves with the answer's "result" (none when it had none); throws
    // ACPEngineClient::TransportError.
    virtual QCoro::Task<std::optional<JSONValue>> request(QString method, std::optional<JSONValue> params,
                                                          std::chrono::milliseconds timeout) = 0;
    virtual void notify(const QString &method, const std::optional<JSONValue> &params) = 0;
    virtual void close() = 0;

protected:
    CrashCallback m_onCrash;
    StderrLineCallback m_onStderrLine;
    MessageCallback m_onMessage;
};

} // namespace engine
