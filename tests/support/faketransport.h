#pragma once
// An engine connection in memory, scripted by the test, and a driver for the
// tasks that talk to it from the test's event loop.

#include "engine/enginehost.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <coroutine>
#include <memory>
#include <optional>
#include <vector>

namespace testsupport {

using foundation::JSONValue;

// A task run from the test's event loop, its outcome kept.
template<typename T>
class Running {
public:
    explicit Running(QCoro::Task<T> task)
        : m_state(std::make_shared<State>()), m_driver(drive(std::move(task), m_state))
    {}
    bool done() const { return m_state->done; }
    void wait()
    {
        EXPECT_TRUE(spinUntil([this] { return m_state->done; })) << "the task never ended";
    }
    T value()
    {
        wait();
        if (!m_state->value) {
            ADD_FAILURE() << "the task failed: " << m_state->error.value_or("<still running>").toStdString();
            return T();
        }
        return *m_state->value;
    }
    QString error()
    {
        wait();
        return m_state->error.value_or(QStringLiteral("<no error>"));
    }
    bool failedWithHostError()
    {
        wait();
        return m_state->hostError;
    }

private:
    struct State {
        bool done = false;
        std::optional<T> value;
        std::optional<QString> error;
        bool hostError = false;
    };
    static QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<State> state)
    {
        try {
            state->value.emplace(co_await std::move(task));
        } catch (const engine::EngineHost::HostError &error) {
            state->error = error.message();
            state->hostError = true;
        } catch (const foundation::Error &error) {
            state->error = error.message();
        }
        state->done = true;
    }

    std::shared_ptr<State> m_state;
    QCoro::Task<> m_driver;
};

// True once task has ended without an error: Running<bool> drives a task
// without a result.
QCoro::Task<bool> ended(QCoro::Task<> task);

// An engine in memory: it answers "initialize" as its script says, answers
// the methods its script names, keeps every other request waiting until the
// test answers it, and fails waiting requests when closed. Requests resume
// from the event loop, like the real connection's.
class FakeTransport : public engine::EngineTransport {
public:
    enum class Initialize { answer, error, silent };
    struct Script {
        std::optional<QString> launchError;
        Initialize initialize = Initialize::answer;
        std::optional<JSONValue> answer = JSONValue(JSONValue::Object());
        QString error = QStringLiteral("7: refused");
        // Every request of these methods is answered with this result, from
        // the event loop.
        QHash<QString, std::optional<JSONValue>> answers;
    };
    // A request or, with timeout 0, a notification the engine received.
    struct Request {
        QString method;
        std::optional<JSONValue> params;
        std::chrono::milliseconds timeout{0};
    };

    FakeTransport(QString profile, Script script);

    void start() override;
    QCoro::Task<std::optional<JSONValue>> request(QString method, std::optional<JSONValue> params,
                                                  std::chrono::milliseconds timeout) override;
    void notify(const QString &method, const std::optional<JSONValue> &params) override;
    void close() override;

    // Answers the oldest waiting request of method; false when none waits.
    bool answer(const QString &method, const std::optional<JSONValue> &result);
    bool fail(const QString &method, const QString &error);
    qsizetype waiting() const;
    qsizetype waiting(const QString &method) const;
    // The methods of the requests received, in order.
    QStringList requestMethods() const;

    // The engine's side, reported through the callbacks the owner installed,
    // as the real connection reports them.
    void sendNotification(const QString &method, const std::optional<JSONValue> &params) const;
    void writeStderrLine(const QString &line) const;
    void crash() const;

    const QString profile;
    const Script script;
    int starts = 0;
    int closes = 0;
    std::vector<Request> requests;
    std::vector<Request> notified;

private:
    struct Waiter {
        QString method;
        std::coroutine_handle<> handle;
        bool done = false;
        std::optional<JSONValue> result;
        std::optional<QString> error;
    };
    struct Await {
        Waiter *waiter;
        bool await_ready() const noexcept { return waiter->done; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { waiter->handle = handle; }
        void await_resume() const noexcept {}
    };

    bool settleFirst(const QString &method, const std::optional<JSONValue> &result,
                     const std::optional<QString> &error);
    static void settle(Waiter &waiter, const std::optional<JSONValue> &result, const std::optional<QString> &error);
    // Forgets the waiters answered meanwhile by the script.
    void prune();

    std::vector<std::shared_ptr<Waiter>> m_waiting;
};

} // namespace testsupport
