#pragma once
// Something that happens once and can be awaited from coroutines on the main
// thread: the end of a write its successor waits for, the end of a debounce.
// Waiters resume from the event loop, never inside the call that set it, so
// setting it from an edit runs no other write inside that edit.

#include <QCoro/QCoroTask>

#include <coroutine>
#include <vector>

namespace profiles {

class Latch {
public:
    struct Awaiter {
        Latch *latch;
        bool await_ready() const noexcept { return latch->m_set; }
        void await_suspend(std::coroutine_handle<> handle) { latch->m_waiters.push_back(handle); }
        void await_resume() const noexcept {}
    };

    bool isSet() const { return m_set; }
    Awaiter wait() { return {this}; }
    // Once: later calls do nothing.
    void set();

private:
    bool m_set = false;
    std::vector<std::coroutine_handle<>> m_waiters;
};

// Awaits the latch; the latch must outlive the wait.
QCoro::Task<void> await(Latch &latch);

} // namespace profiles
