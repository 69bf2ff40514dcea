#include "foundation/threadpools.h"

#include <gtest/gtest.h>

#include <QThreadPool>

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
