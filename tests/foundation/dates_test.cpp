#include "foundation/dates.h"
#include "testutil.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace foundation::dates;

TEST(Dates, UtcStampDropsFractionsAndReadsBackStrictly)
{
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7, 890), QTimeZone::utc());
    EXPECT_EQ(utcStamp(when), QStringLiteral("2026-03-04T05:06:07Z"));
    EXPECT_EQ(utcStamp(when.toOffsetFromUtc(3600)), QStringLiteral("2026-03-04T05:06:07Z"));

    const auto read = parseUtcStamp(QStringLiteral("2026-03-04T05:06:07Z"));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->toSecsSinceEpoch(),
              QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), QTimeZone::utc()).toSecsSinceEpoch());

    for (const char *bad : {"2026-03-04T05:06:07.5Z", "2026-03-04T05:06:07+00:00", "2026-03-04 05:06:07Z",
                            "2026-02-30T05:06:07Z", "2026-03-04T25:06:07Z", "2026-3-4T05:06:07Z", "",
                            " 2026-03-04T05:06:07Z", "2026-03-04T05:06:07z", "2026-03-04T05:06:07Z\n"})
        EXPECT_FALSE(parseUtcStamp(QString::fromUtf8(bad))) << bad;
}

TEST(Dates, LocalStampsUseThePatternInTheCLocale)
{
    const QDateTime when(QDate(2026, 12, 10), QTime(9, 5, 3), QTimeZone::systemTimeZone());
    EXPECT_EQ(localStamp(when, QStringLiteral("yyyy-MM-dd-HHmmss")), QStringLiteral("2026-12-10-090503"));
    EXPECT_EQ(localStamp(when, QStringLiteral("yyyyMMdd")), QStringLiteral("20261210"));

    const auto read = parseLocalStamp(QStringLiteral("2026-12-10-090503"), QStringLiteral("yyyy-MM-dd-HHmmss"));
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, when);
    for (const char *bad : {"2026-12-10-09053", "2026-13-10-090503", "2026-12-10-0905030", "2026-12-10T090503", "x"})
        EXPECT_FALSE(parseLocalStamp(QString::fromUtf8(bad), QStringLiteral("yyyy-MM-dd-HHmmss"))) << bad;
}

TEST(Dates, ReferenceDateSeconds)
{
    const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(ref), 0.0);
    EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(ref.addSecs(-1)), -1.0);
    EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(ref.addMSecs(86400500)), 86400.5);
    EXPECT_EQ(fromSecondsSinceReferenceDate(86400.5), ref.addMSecs(86400500));
}
