#include "cli/Clioptions.h"

#include <gtest/gtest.h>

namespace {

TCliOptions Parse(std::vector<std::string> args) { return ParseCliOptions(args); }

TEST(Clioptions, DefaultsAndValues)
{
    TCliOptions none = Parse({});
    EXPECT_TRUE(none.Dir.empty());
    EXPECT_FALSE(none.Plan);
    EXPECT_EQ(none.Format, TOutputFormat::Table);
    EXPECT_FALSE(none.List);

    TCliOptions all = Parse({"--dir", "/tmp/x", "--plan=家里", "--format", "json"});
    EXPECT_EQ(all.Dir, "/tmp/x");
    EXPECT_EQ(all.Plan.value(), "家里");
    EXPECT_EQ(all.Format, TOutputFormat::Json);
    EXPECT_EQ(Parse({"--format=csv"}).Format, TOutputFormat::Csv);
    EXPECT_EQ(Parse({"--plan", ""}).Plan.value(), "");
    EXPECT_TRUE(Parse({"--list", "--dir", "d"}).List);
    EXPECT_TRUE(Parse({"--help"}).Help);
    EXPECT_TRUE(Parse({"--version"}).Version);
}

TEST(Clioptions, BadUsageNamesTheProblem)
{
    auto message = [](std::vector<std::string> args) {
        try {
            ParseCliOptions(args);
        } catch (const EUsageError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message({"--format", "xml"}), "unknown format 'xml' (use table, csv or json)");
    EXPECT_EQ(message({"--plan"}), "--plan needs a value");
    EXPECT_EQ(message({"--dir="}), "--dir needs a folder");
    EXPECT_EQ(message({"extra"}), "unknown argument 'extra'");
    EXPECT_EQ(message({"--list", "--plan", "x"}), "--list takes no --plan or --format");
}

}  // namespace
