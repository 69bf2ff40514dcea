#include "faketransport.h"

#include "engine/acpengineclient.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace testsupport {

using TransportError = engine::ACPEngineClient::TransportError;

QCoro::Task<bool> ended(QCoro::Task<> task)
{
    co_await std::move(task);
    co_return true;
}

FakeTransport::FakeTransport(QString profile, Script script) : profile(std::move(profile)), script(std::move(script)) {}

void FakeTransport::start()
{
    ++starts;
    if (script.launchError)
        throw engine::LaunchError(*script.launchError);
}

QCoro::Task<std::optional<JSONValue>> FakeTransport::request(QString method, std::optional<JSONValue> params,
                                                             std::chrono::milliseconds timeout)
{
    requests.push_back({method, params, timeout});
    if (closes > 0)
        throw TransportError(QStringLiteral("engine closed before ") + method);
    auto waiter = std::make_shared<Waiter>();
    waiter->method = method;
    m_waiting.push_back(waiter);
    if (method == QLatin1String("initialize") && script.initialize == Initialize::answer) {
        answer(method, script.answer);
    } else if (method == QLatin1String("initialize") && script.initialize == Initialize::error) {
        fail(method, script.error);
    } else if (const auto scripted = script.answers.constFind(method); scripted != script.answers.cend()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [waiter, result = *scripted] {
                if (!waiter->done)
                    settle(*waiter, result, std::nullopt);
            },
            Qt::QueuedConnection);
    }
    co_await Await{waiter.get()};
    if (waiter->error)
        throw TransportError(*waiter->error);
    co_return waiter->result;
}

void FakeTransport::notify(const QString &method, const std::optional<JSONValue> &params)
{
    notified.push_back({method, params, std::chrono::milliseconds(0)});
}

void FakeTransport::close()
{
    ++closes;
    for (const auto &waiter : std::exchange(m_waiting, {}))
        if (!waiter->done)
            settle(*waiter, std::nullopt, QStringLiteral("engine closed"));
}

bool FakeTransport::answer(const QString &method, const std::optional<JSONValue> &result)
{
    return settleFirst(method, result, std::nullopt);
}

bool FakeTransport::fail(const QString &method, const QString &error)
{
    return settleFirst(method, std::nullopt, error);
}

qsizetype FakeTransport::waiting() const
{
    return std::count_if(m_waiting.begin(), m_waiting.end(), [](const auto &waiter) { return !waiter->done; });
}

qsizetype FakeTransport::waiting(const QString &method) const
{
    return std::count_if(m_waiting.begin(), m_waiting.end(),
                         [&](const auto &waiter) { return !waiter->done && waiter->method == method; });
}

QStringList FakeTransport::requestMethods() const
{
    QStringList methods;
    for (const Request &request : requests)
        methods << request.method;
    return methods;
}

void FakeTransport::sendNotification(const QString &method, const std::optional<JSONValue> &params) const
{
    if (m_onMessage)
        m_onMessage(method, params);
}

void FakeTransport::writeStderrLine(const QString &line) const
{
    if (m_onStderrLine)
        m_onStderrLine(line);
}

void FakeTransport::crash() const
{
    if (m_onCrash)
        m_onCrash();
}

bool FakeTransport::settleFirst(const QString &method, const std::optional<JSONValue> &result,
                                const std::optional<QString> &error)
{
    prune();
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if ((*it)->method != method)
            continue;
        const std::shared_ptr<Waiter> waiter = *it;
        m_waiting.erase(it);
        settle(*waiter, result, error);
        return true;
    }
    return false;
}

void FakeTransport::settle(Waiter &waiter, const std::optional<JSONValue> &result, const std::optional<QString> &error)
{
    waiter.done = true;
    waiter.result = result;
    waiter.error = error;
    if (const std::coroutine_handle<> handle = waiter.handle)
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
}

void FakeTransport::prune()
{
    std::erase_if(m_waiting, [](const auto &waiter) { return waiter->done; });
}

} // namespace testsupport
