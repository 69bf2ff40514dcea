#include "engine/guardedcall.h"

#include "faketransport.h"
#include "foundation/error.h"

#include <gtest/gtest.h>

#include <QCoro/QCoroTimer>
#include <QObject>

#include <chrono>
#include <memory>
#include <stdexcept>

using engine::CallResult;
using engine::guardedCall;
using testsupport::Running;

namespace {

using namespace std::chrono_literals;

// Answers value after a turn of the event loop, or throws what fail names.
QCoro::Task<int> later(int value, int fail)
{
    co_await QCoro::sleepFor(1ms);
    if (fail == 1)
        throw foundation::Error(QStringLiteral("the engine went away"));
    if (fail == 2)
        throw std::runtime_error("plain failure");
    co_return value;
}

// What guardedCall gave, as a text a test can compare.
QCoro::Task<QString> outcome(std::shared_ptr<QObject> owner, int fail, bool dropOwner)
{
    const QPointer<QObject> guard(owner.get());
    auto calling = guardedCall(guard, [fail] { return later(7, fail); });
    if (dropOwner)
        owner.reset();
    const std::optional<CallResult<int>> result = co_await std::move(calling);
    if (!result)
        co_return QStringLiteral("gone");
    if (result->failure)
        co_return QStringLiteral("failed: ") + *result->failure;
    co_return QStringLiteral("answer %1").arg(result->answer);
}

TEST(GuardedCall, GivesTheAnswerTheFailureTextOrNothingOnceTheOwnerIsGone)
{
    struct Case {
        int fail;
        bool dropOwner;
        QString expected;
    };
    const Case cases[] = {
        {0, false, QStringLiteral("answer 7")},
        {1, false, QStringLiteral("failed: the engine went away")},
        {2, false, QStringLiteral("failed: plain failure")},
        {0, true, QStringLiteral("gone")},
        {1, true, QStringLiteral("gone")},
    };
    for (const Case &c : cases) {
        Running<QString> running(outcome(std::make_shared<QObject>(), c.fail, c.dropOwner));
        EXPECT_EQ(running.value(), c.expected) << "fail " << c.fail << ", owner dropped " << c.dropOwner;
    }
}

} // namespace
