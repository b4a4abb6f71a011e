#include "cli/Clijson.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(Clijson, FixedNumbersKeepTheirDecimals)
{
    const TJson numbers = {FixedNumber(12.3, 3), FixedNumber(0.0426, 2), FixedNumber(2.0536, 3), FixedNumber(7, 0),
                           FixedNumber(-0.5, 1)};
    EXPECT_EQ(JsonCompact(numbers), "[12.300,0.04,2.054,7,-0.5]");
    // Readers get numbers, not texts.
    EXPECT_EQ(nlohmann::json::parse(JsonCompact(numbers)), nlohmann::json::parse("[12.3, 0.04, 2.054, 7, -0.5]"));
}

TEST(Clijson, NumbersThatAreNoneBecomeNull)
{
    const TJson numbers = {FixedNumber(std::numeric_limits<double>::quiet_NaN(), 3),
                           FixedNumber(std::numeric_limits<double>::infinity(), 2), nullptr};
    EXPECT_EQ(JsonCompact(numbers), "[null,null,null]");
}

TEST(Clijson, CompactIsWhatDumpWrites)
{
    TJson value;
    value["name"] = "网关 \"q\" \\ \n\r\t\x1b";
    value["empty"] = TJson::object();
    value["list"] = {1, -2, true, nullptr, TJson::array(), {{"k", "v"}, {"a", {1, 2}}}};
    value["z"] = 3;  // stays after the others: the keys keep their order
    EXPECT_EQ(JsonCompact(value), value.dump());
    EXPECT_EQ(JsonCompact(value).rfind("{\"name\":", 0), 0u);
}

TEST(Clijson, IndentedBreaksTwoLevelsAndKeepsDeeperOnesOnTheirLine)
{
    TJson shallow;
    shallow["plan"] = "x";
    shallow["items"] = {1, 2};
    shallow["none"] = TJson::array();
    EXPECT_EQ(JsonIndented(shallow), shallow.dump(2));

    TJson deep;
    deep["runs"] = {{{"id", 4}, {"tries", {1, nullptr}}}, {{"id", 9}, {"tries", TJson::array()}}};
    EXPECT_EQ(JsonIndented(deep), "{\n  \"runs\": [\n"
                                  "    {\"id\": 4, \"tries\": [1, null]},\n"
                                  "    {\"id\": 9, \"tries\": []}\n"
                                  "  ]\n}");
    EXPECT_EQ(TJson::parse(JsonIndented(deep)), TJson::parse(JsonCompact(deep)));
}

TEST(Clijson, BytesThatAreNoUtf8BecomeReplacementCharacters)
{
    TJson value;
    value["a\xff"] = std::string("x\xe7\xbd\0y", 5);  // a stray byte; a cut sequence, then a zero
    const std::string expected = "{\"a\xEF\xBF\xBD\":\"x\xEF\xBF\xBD\\u0000y\"}";
    EXPECT_EQ(JsonCompact(value), expected);
    EXPECT_EQ(JsonIndented(value), "{\n  \"a\xEF\xBF\xBD\": \"x\xEF\xBF\xBD\\u0000y\"\n}");
    EXPECT_NO_THROW(TJson::parse(JsonCompact(value)));
}

}  // namespace
