#include "foundation/threadpools.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QThreadPool>

#include <map>
#include <memory>

namespace foundation {

namespace {

// Never Qt's global pool: QtConcurrent and Qt itself fill it, and work queued
// behind theirs would wait for it. The pools are destroyed with Qt's other
// globals after main returns, once all of them are idle together, so no
// thread outlives the objects its work uses and no work starts on a pool that
// is already gone.
struct Pools {
    QMutex mutex;
    std::map<QByteArray, std::unique_ptr<QThreadPool>> byName;

    ~Pools() { waitUntilIdle(); }

    void waitUntilIdle()
    {
        for (bool waited = true; waited;) {
            waited = false;
            QList<QThreadPool *> all;
            {
                // Not held while waiting: the work waited for may ask for a pool.
                const QMutexLocker lock(&mutex);
                for (const auto &[name, pool] : byName)
                    all.append(pool.get());
            }
            for (QThreadPool *pool : all) {
                if (!pool->waitForDone(0)) {
                    pool->waitForDone();
                    waited = true;
                }
            }
        }
    }
};

Q_GLOBAL_STATIC(Pools, g_pools)

} // namespace

QThreadPool *namedPool(const char *name, const PoolSettings &settings)
{
    Pools *pools = g_pools();
    const QMutexLocker lock(&pools->mutex);
    std::unique_ptr<QThreadPool> &pool = pools->byName[QByteArray(name)];
    if (!pool) {
        pool = std::make_unique<QThreadPool>();
        pool->setObjectName(QString::fromLatin1(name));
        pool->setMaxThreadCount(settings.maxThreads);
        pool->setThreadPriority(settings.priority);
        pool->setExpiryTimeout(int(settings.expiry.count()));
    }
    return pool.get();
}

void waitForAllPools()
{
    g_pools()->waitUntilIdle();
}

QThreadPool *commandPool()
{
    static QThreadPool *const pool = namedPool("command", {.maxThreads = 4, .priority = QThread::LowPriority});
    return pool;
}

} // namespace foundation
