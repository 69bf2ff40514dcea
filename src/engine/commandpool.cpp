#include "engine/commandpool.h"

#include <QThreadPool>

namespace engine {

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
        return created;
    }();
    return pool;
}

} // namespace engine
