#include "cli/Clioptions.h"

#include <gtest/gtest.h>

namespace {

TCliOptions Parse(std::vector<std::string> args) { return ParseCliOptions(args); }

// The usage error's message, or "accepted".
std::string Message(std::vector<std::string> args)
{
    try {
        ParseCliOptions(args);
    } catch (const EUsageError& error) {
        return error.what();
    }
    return "accepted";
}

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
    EXPECT_EQ(Message({"--format", "xml"}), "unknown format 'xml' (use table, csv or json)");
    EXPECT_EQ(Message({"--plan"}), "--plan needs a value");
    EXPECT_EQ(Message({"--dir="}), "--dir needs a folder");
    EXPECT_EQ(Message({"extra"}), "unknown argument 'extra'");
    EXPECT_EQ(Message({"--list", "--plan", "x"}), "--list takes no --plan or --format");
}

TEST(Clioptions, HistoryAndRecording)
{
    const TCliOptions options = Parse({"--history", "--since", "2026-12-08T10:00Z", "--plan", "家里"});
    EXPECT_TRUE(options.History);
    EXPECT_EQ(options.Since, ParseDate("2026-12-08T10:00Z"));
    EXPECT_FALSE(options.NoRecord);
    EXPECT_TRUE(Parse({"--no-record"}).NoRecord);
    EXPECT_EQ(Message({"--since", "2026-12-08"}), "--since goes with --history");
    EXPECT_EQ(Message({"--history", "--no-record"}), "--no-record goes with a run only");
    EXPECT_EQ(Message({"--list", "--history"}), "--list and --history do not go together");
    EXPECT_EQ(Message({"--history", "--since"}), "--since needs a value");
    EXPECT_EQ(Message({"--history", "--since=today"}).rfind("bad date 'today'", 0), 0u);
}

}  // namespace
