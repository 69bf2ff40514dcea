#pragma once
// The one way the engine code awaits a call that may fail: the call is made
// and awaited, what it throws becomes the text shown for it, and the caller
// hears nothing when the object that awaited it was destroyed meanwhile, so
// a step after the wait never touches a gone object.

#include "foundation/error.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QString>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace engine {

// What a call gave: its answer, or the text of its failure (answer then
// left as default-made).
template<typename T>
struct CallResult {
    T answer{};
    std::optional<QString> failure;
};

namespace detail {
template<typename>
struct CallValue;
template<typename T>
struct CallValue<QCoro::Task<T>> {
    using type = T;
};
} // namespace detail

// Calls make() (which answers a QCoro::Task<T>) and awaits it; a thrown
// std::exception becomes the failure's text. None when guard is gone after
// the wait. Keep the task this answers in a variable before awaiting it: GCC
// 12 destroys a lambda passed as a temporary inside co_await twice.
template<typename Owner, typename Make, typename T = typename detail::CallValue<std::invoke_result_t<Make &>>::type>
QCoro::Task<std::optional<CallResult<T>>> guardedCall(QPointer<Owner> guard, Make make)
{
    CallResult<T> result;
    try {
        result.answer = co_await make();
    } catch (const std::exception &error) {
        result.failure = foundation::describe(error);
    }
    if (!guard)
        co_return std::nullopt;
    co_return std::move(result);
}

} // namespace engine
