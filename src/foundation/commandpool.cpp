#include "foundation/commandpool.h"

#include <QThread>
#include <QThreadPool>

namespace foundation {

namespace {
// A few at once: each mostly waits for its child.
constexpr int kMaxThreads = 4;
} // namespace

Q_GLOBAL_STATIC(QThreadPool, g_commandPool)

QThreadPool *commandPool()
{
    static QThreadPool *const pool = [] {
        QThreadPool *created = g_commandPool();
        created->setMaxThreadCount(kMaxThreads);
        // Background work: the writer's typing and the window come first.
        created->setThreadPriority(QThread::LowPriority);
        return created;
    }();
    return pool;
}

} // namespace foundation
