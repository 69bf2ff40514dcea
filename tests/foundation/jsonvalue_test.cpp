#include "foundation/jsonvalue.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>

using foundation::JSONValue;

namespace {

JSONValue read(const char *json)
{
    const std::optional<JSONValue> value = JSONValue::parse(json);
    EXPECT_TRUE(value.has_value()) << json;
    return value.value_or(JSONValue());
}

} // namespace

TEST(JSONValue, ReaderKeepsBooleansApartFromNumbers)
{
    struct Case {
        const char *json;
        JSONValue expected;
    };
    const Case cases[] = {
        {"true", JSONValue(true)},
        {"false", JSONValue(false)},
        {"1", JSONValue(1)},
        {"0", JSONValue(0)},
        {"-2.5", JSONValue(-2.5)},
        {"null", JSONValue()},
        {R"("a/b")", JSONValue("a/b")},
        {R"([1,true,null,"x"])", JSONValue(JSONValue::Array{1, true, nullptr, "x"})},
        {R"({"b":{"c":[false]},"a":0})",
         JSONValue(JSONValue::Object{{"a", 0}, {"b", JSONValue::Object{{"c", JSONValue::Array{false}}}}})},
    };
    for (const Case &c : cases)
        EXPECT_EQ(read(c.json), c.expected) << c.json;

    EXPECT_EQ(read("true").kind(), JSONValue::Kind::boolean);
    EXPECT_EQ(read("1").kind(), JSONValue::Kind::number);
    EXPECT_NE(read("true"), read("1"));
    EXPECT_NE(read("false"), read("0"));
    EXPECT_NE(read("null"), read("0"));
}

TEST(JSONValue, EqualityFollowsContentNotKeyOrder)
{
    EXPECT_EQ(read(R"({"a":1,"b":[1,2]})"), read(R"({"b":[1,2],"a":1.0})"));
    EXPECT_NE(read(R"({"a":1})"), read(R"({"a":1,"b":null})"));
    EXPECT_NE(read("[1,2]"), read("[2,1]"));
    EXPECT_NE(read(R"("1")"), read("1"));
    EXPECT_EQ(JSONValue(), JSONValue(nullptr));
}

TEST(JSONValue, FoundationRoundTripAndCompactForm)
{
    const JSONValue value = read(R"({"path":"/a/b","id":7,"ratio":0.5,"ok":true,"none":null,"list":[{"z":1,"a":2}]})");
    EXPECT_EQ(JSONValue::fromFoundation(value.foundationObject()), value);
    // Whole numbers as integers, keys sorted at every depth, "/" unescaped.
    EXPECT_EQ(value.toCompactJson(),
              QByteArray(R"({"id":7,"list":[{"a":2,"z":1}],"none":null,"ok":true,"path":"/a/b","ratio":0.5})"));
    EXPECT_EQ(JSONValue("x").toCompactJson(), QByteArray(R"("x")"));
    EXPECT_EQ(JSONValue().toCompactJson(), QByteArray("null"));

    EXPECT_TRUE(JSONValue::fromFoundation(QJsonValue(QJsonValue::Undefined)).isNull());
    EXPECT_TRUE(JSONValue().foundationObject().isNull());
}

TEST(JSONValue, AccessorsAndMembers)
{
    const JSONValue value = read(R"({"a":{"b":"c"}})");
    ASSERT_TRUE(value.member("a").has_value());
    EXPECT_EQ(value.member("a")->member("b"), std::optional<JSONValue>(JSONValue("c")));
    EXPECT_FALSE(value.member("missing").has_value());
    EXPECT_FALSE(JSONValue(1).member("a").has_value());
    EXPECT_TRUE(JSONValue(1).toObject().isEmpty());
    EXPECT_TRUE(JSONValue("x").toArray().isEmpty());
}

TEST(JSONValue, OnlyFiniteNumbersAreEncodable)
{
    EXPECT_TRUE(read(R"({"a":[1,"x",null]})").isEncodable());
    EXPECT_FALSE(JSONValue(JSONValue::Object{{"a", JSONValue::Array{std::nan("")}}}).isEncodable());
    EXPECT_FALSE(JSONValue(std::numeric_limits<double>::infinity()).isEncodable());
}

TEST(JSONValue, ParseRejectsWhatIsNotOneValue)
{
    for (const char *bad : {"", "1,2", "[1", "{\"a\":}", "1],[2", "nul"})
        EXPECT_FALSE(JSONValue::parse(bad).has_value()) << bad;
}
