#include "profiles/latch.h"

#include <QCoreApplication>

#include <utility>

namespace profiles {

void Latch::set()
{
    if (m_set)
        return;
    m_set = true;
    for (const std::coroutine_handle<> handle : std::exchange(m_waiters, {}))
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
}

QCoro::Task<void> await(Latch &latch)
{
    // Named first: GCC 12 mishandles temporaries inside co_await.
    Latch::Awaiter waiting = latch.wait();
    co_await waiting;
}

} // namespace profiles
