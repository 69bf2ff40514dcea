#include "foundation/json.h"
#include "testutil.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace foundation::json;

TEST(Json, CompactSortsKeysAtEveryDepthAndLeavesSlashes)
{
    const QJsonObject inner{{QStringLiteral("z"), 1}, {QStringLiteral("a"), QStringLiteral("x/y")}};
    const QJsonObject outer{{QStringLiteral("b"), QJsonArray{inner, 2.5, true, QJsonValue()}},
                            {QStringLiteral("a"), inner}};
    EXPECT_EQ(compact(outer), QByteArray(R"({"a":{"a":"x/y","z":1},"b":[{"a":"x/y","z":1},2.5,true,null]})"));
}

TEST(Json, ScalarsSerialiseOnTheirOwn)
{
    const std::pair<QJsonValue, QByteArray> cases[] = {
        {QJsonValue(), "null"},
        {QJsonValue(true), "true"},
        {QJsonValue(false), "false"},
        {QJsonValue(42), "42"},
        {QJsonValue(-7.25), "-7.25"},
        {QJsonValue(1e21), "1e+21"},
        {QJsonValue(QStringLiteral("a/\"b\"\n—")), "\"a/\\\"b\\\"\\n—\""},
        {QJsonValue(QJsonArray{}), "[]"},
        {QJsonValue(QJsonObject{}), "{}"},
    };
    for (const auto &[value, bytes] : cases)
        EXPECT_EQ(compact(value), bytes) << bytes.constData();
}

TEST(Json, EscapedSlashesForSharedFiles)
{
    EXPECT_EQ(withEscapedSlashes(compact(QJsonObject{{QStringLiteral("p"), QStringLiteral("a/b//c")}})),
              QByteArray(R"({"p":"a\/b\/\/c"})"));
}

TEST(Json, WholeIntegersInsideSixtyFourBits)
{
    struct Case {
        const char *json;
        std::optional<qint64> whole;
    };
    const Case cases[] = {
        {"0", 0},
        {"-0.0", 0},
        {"42", 42},
        {"-7", -7},
        {"3.0", 3},
        {"1e3", 1000},
        {"9007199254740993", 9007199254740993LL}, // exact beyond 2^53
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"9223372036854775808", std::nullopt},
        {"1e300", std::nullopt},
        {"0.5", std::nullopt},
        {"true", std::nullopt},
        {"\"1\"", std::nullopt},
        {"null", std::nullopt},
    };
    for (const Case &c : cases) {
        const QJsonValue value = QJsonDocument::fromJson(QByteArray("[") + c.json + "]").array().at(0);
        EXPECT_EQ(wholeInteger(value), c.whole) << c.json;
    }
    EXPECT_EQ(wholeInteger(-9223372036854775808.0), std::numeric_limits<qint64>::min());
    EXPECT_EQ(wholeInteger(9223372036854775808.0), std::nullopt);
    EXPECT_EQ(wholeInteger(std::nan("")), std::nullopt);
    EXPECT_EQ(wholeInteger(-1.5), std::nullopt);
}
