#include "foundation/json.h"
#include "testutil.h"

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
