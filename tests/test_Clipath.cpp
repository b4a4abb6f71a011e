#include "cli/Clipath.h"

#include "cli/Clioptions.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>

#include <cstring>

using namespace std::chrono_literals;

namespace {

sockaddr_storage Address(const char* text)
{
    sockaddr_storage address{};
    EXPECT_TRUE(ParseAddress(text, address)) << text;
    return address;
}

TPathHop Hop(int number, std::vector<const char*> addresses, unsigned sent, std::vector<int> timesUs)
{
    TPathHop hop;
    hop.Hop = number;
    for (const char* address : addresses)
        hop.Addresses.push_back(Address(address));
    hop.Sent = sent;
    hop.Received = static_cast<unsigned>(timesUs.size());
    if (!timesUs.empty()) {
        hop.Last = std::chrono::microseconds(timesUs.back());
        hop.Best = std::chrono::microseconds(*std::min_element(timesUs.begin(), timesUs.end()));
        hop.Worst = std::chrono::microseconds(*std::max_element(timesUs.begin(), timesUs.end()));
        double sum = 0;
        for (int t : timesUs)
            sum += t;
        hop.MeanMicroseconds = sum / timesUs.size();
        hop.StdDevMicroseconds = 12.5;
    }
    return hop;
}

// Hop 1 answers, hop 2 is silent, hop 3 answers from two addresses, hop 4 is the destination.
TPathReport MadeUpReport()
{
    TPathReport report;
    report.Hops = {Hop(1, {"10.0.0.1"}, 4, {100, 200, 300, 400}), Hop(2, {}, 4, {}),
                   Hop(3, {"10.0.2.1", "10.0.2.9"}, 4, {1000, 1500, 2000}), Hop(4, {"192.0.2.7"}, 4, {2500})};
    report.Reached = true;
    report.RoundsSent = 4;
    report.Finished = true;
    return report;
}

TEST(Clipath, TheTableShowsEveryHopAlignedWithSilentHopsAndFurtherAddresses)
{
    const std::string table = FormatPathTable(MadeUpReport(), "example", "192.0.2.7", {});
    EXPECT_EQ(table.rfind("路由跟踪: example (192.0.2.7)\n", 0), 0u) << table;
    const size_t firstHop = table.find("\n1 ");
    ASSERT_NE(firstHop, std::string::npos) << table;
    EXPECT_EQ(table.find_first_not_of(' ', firstHop + 2), table.find("10.0.0.1")) << table;
    EXPECT_NE(table.find("???"), std::string::npos);
    // Mean of 100..400 µs, to the microsecond.
    EXPECT_NE(table.find("0.250"), std::string::npos);
    // The second address of hop 3 on a line of its own, without figures.
    const size_t second = table.find("10.0.2.9");
    ASSERT_NE(second, std::string::npos);
    const std::string line = table.substr(table.rfind('\n', second) + 1, table.find('\n', second) - table.rfind('\n', second) - 1);
    EXPECT_EQ(line.find_first_not_of(' '), line.find("10.0.2.9")) << line;
    EXPECT_EQ(line.find_last_not_of(' ') + 1, line.find("10.0.2.9") + 8) << line;
    EXPECT_NE(table.find("已到达目标\n"), std::string::npos);
    // Right-aligned figures end in the same column on every hop line with figures.
    std::vector<size_t> lengths;
    for (const char* address : {"10.0.0.1", "10.0.2.1", "192.0.2.7"}) {
        const size_t at = table.find(address, table.find('\n') + 1);  // past the title
        lengths.push_back(table.find('\n', at) - table.rfind('\n', at));
    }
    EXPECT_EQ(lengths[0], lengths[1]);
    EXPECT_EQ(lengths[1], lengths[2]);
}

TEST(Clipath, CsvAndJsonCarryTheSameFiguresWithNoneForASilentHop)
{
    const TPathReport report = MadeUpReport();
    const std::string csv = FormatPathCsv(report, {{"10.0.0.1", "gw.example"}});
    EXPECT_EQ(csv,
              "hop,address,name,loss_percent,sent,last_ms,mean_ms,best_ms,worst_ms,stdev_ms\r\n"
              "1,10.0.0.1,gw.example,0.0,4,0.400,0.250,0.100,0.400,0.013\r\n"
              "2,,,100.0,4,,,,,\r\n"
              "3,10.0.2.1,,25.0,4,2.000,1.500,1.000,2.000,0.013\r\n"
              "3,10.0.2.9,,,,,,,,\r\n"
              "4,192.0.2.7,,75.0,4,2.500,2.500,2.500,2.500,0.013\r\n");

    const nlohmann::json json = nlohmann::json::parse(FormatPathJson(report, "example", "192.0.2.7", 30, {}));
    EXPECT_EQ(json["target"], "example");
    EXPECT_EQ(json["address"], "192.0.2.7");
    EXPECT_EQ(json["reached"], true);
    EXPECT_EQ(json["rounds"], 4);
    EXPECT_EQ(json["max_hops"], 30);
    ASSERT_EQ(json["hops"].size(), 4u);
    EXPECT_EQ(json["hops"][0]["mean_ms"].get<double>(), 0.25);
    EXPECT_TRUE(json["hops"][1]["addresses"].empty());
    EXPECT_TRUE(json["hops"][1]["mean_ms"].is_null());
    EXPECT_EQ(json["hops"][1]["loss_percent"].get<double>(), 100.0);
    EXPECT_EQ(json["hops"][2]["addresses"], nlohmann::json::array({"10.0.2.1", "10.0.2.9"}));
    EXPECT_FALSE(json["hops"][0].contains("names"));
}

TEST(Clipath, NamesAreLookedUpOncePerAddressAndShownInPlaceOfIt)
{
    int lookups = 0;
    const TPathNames names = ReverseNames(MadeUpReport(), [&](const sockaddr_storage& address) -> std::optional<std::string> {
        ++lookups;
        if (AddressText(address) == "10.0.2.1")
            return "core\x1b[31m.example";
        return std::nullopt;
    });
    EXPECT_EQ(lookups, 4);
    ASSERT_EQ(names.size(), 1u);
    const std::string table = FormatPathTable(MadeUpReport(), "192.0.2.7", "192.0.2.7", names);
    // A name from the network is shown, never obeyed by the terminal.
    EXPECT_NE(table.find("core\\x1b[31m.example"), std::string::npos) << table;
    EXPECT_EQ(table.find("10.0.2.1 "), std::string::npos);
    EXPECT_EQ(table.rfind("路由跟踪: 192.0.2.7\n", 0), 0u);
    const nlohmann::json json = nlohmann::json::parse(FormatPathJson(MadeUpReport(), "x", "192.0.2.7", 30, names));
    EXPECT_EQ(json["hops"][2]["names"], nlohmann::json::array({"core\x1b[31m.example", nullptr}));
}

TEST(Clipath, OptionsHaveTheirOwnDefaultsAndTakeTheRunsWhenGiven)
{
    const TCliOptions plain = ParseCliOptions({"--path", "127.0.0.1"});
    ASSERT_TRUE(plain.Path);
    EXPECT_EQ(plain.Path->Host, "127.0.0.1");
    EXPECT_EQ(plain.Path->Rounds, 10);
    EXPECT_EQ(plain.Path->Interval, 1000ms);
    EXPECT_EQ(plain.Path->Timeout, 2000ms);
    EXPECT_EQ(plain.Path->MaxHops, 30);
    EXPECT_FALSE(plain.Path->Names);

    const TCliOptions given = ParseCliOptions(
        {"--path", "::1", "-c", "3", "-i", "50", "-t", "300", "--max-hops", "8", "--names", "--format", "json"});
    ASSERT_TRUE(given.Path);
    EXPECT_EQ(given.Path->Rounds, 3);
    EXPECT_EQ(given.Path->Interval, 50ms);
    EXPECT_EQ(given.Path->Timeout, 300ms);
    EXPECT_EQ(given.Path->MaxHops, 8);
    EXPECT_TRUE(given.Path->Names);
    EXPECT_EQ(given.Format, TOutputFormat::Json);
    EXPECT_FALSE(ParseCliOptions({"127.0.0.1"}).Path);
}

TEST(Clipath, BadPathUsageIsRefusedWithOneLine)
{
    const auto message = [](std::vector<std::string> args) -> std::string {
        try {
            ParseCliOptions(args);
        } catch (const EUsageError& error) {
            return error.what();
        }
        return "accepted";
    };
    EXPECT_EQ(message({"--max-hops", "5"}), "--max-hops goes with --path");
    EXPECT_EQ(message({"--names"}), "--names goes with --path");
    EXPECT_EQ(message({"--path", "127.0.0.1", "--format", "openmetrics"}), "--path has no openmetrics format");
    EXPECT_EQ(message({"--path", "127.0.0.1", "127.0.0.2"}), "--path and a target do not go together");
    EXPECT_EQ(message({"--path", "127.0.0.1", "--watch", "5"}), "--path and --watch do not go together");
    EXPECT_EQ(message({"--path", "127.0.0.1", "--list"}), "--path and --list do not go together");
    EXPECT_NE(message({"--path", "127.0.0.1", "--max-hops", "0"}), "accepted");
    EXPECT_NE(message({"--path", "127.0.0.1", "--max-hops", "256"}), "accepted");
    EXPECT_EQ(message({"--path", ""}), "--path needs a host");
}

}  // namespace
