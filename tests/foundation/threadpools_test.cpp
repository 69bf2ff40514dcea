#include "foundation/threadpools.h"

#include <gtest/gtest.h>

#include <QThreadPool>

#include <atomic>
#include <thread>

TEST(NamedPool, OneNameIsOnePoolWithTheSettingsOfItsFirstCall)
{
    using namespace std::chrono_literals;
    QThreadPool *pool = foundation::namedPool("test pool", {.maxThreads = 3, .expiry = 2s});
    EXPECT_NE(pool, QThreadPool::globalInstance());
    EXPECT_EQ(pool->maxThreadCount(), 3);
    EXPECT_EQ(pool->expiryTimeout(), 2000);
    EXPECT_EQ(foundation::namedPool("test pool", {.maxThreads = 1}), pool);
    EXPECT_EQ(pool->maxThreadCount(), 3);
    EXPECT_NE(foundation::namedPool("other test pool", {}), pool);

    EXPECT_EQ(foundation::commandPool()->maxThreadCount(), 4);
    EXPECT_EQ(foundation::commandPool()->threadPriority(), QThread::LowPriority);
}

TEST(NamedPool, AllPoolsAreWaitedForUntilNoneQueuedMoreWork)
{
    // The pool waited for first ("a…") gets its work only once the other
    // ("z…") has run a while; one wait per pool would miss it.
    using namespace std::chrono_literals;
    std::atomic<bool> done = false;
    foundation::namedPool("z first test pool", {})->start([&done] {
        std::this_thread::sleep_for(100ms);
        foundation::namedPool("a second test pool", {})->start([&done] {
            std::this_thread::sleep_for(50ms);
            done = true;
        });
    });
    foundation::waitForAllPools();
    EXPECT_TRUE(done);
}
