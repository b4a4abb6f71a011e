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
    EXPECT_EQ(Message({"--format", "xml"}), "unknown format 'xml' (use table, csv, json or openmetrics)");
    EXPECT_EQ(Message({"--plan"}), "--plan needs a value");
    EXPECT_EQ(Message({"--dir="}), "--dir needs a folder");
    EXPECT_EQ(Message({"-x"}), "unknown argument '-x'");
    EXPECT_EQ(Message({"--list", "--plan", "x"}), "--list and --plan do not go together");
}

TEST(Clioptions, HistoryAndRecording)
{
    const TCliOptions options = Parse({"--history", "--since", "2026-12-08T10:00Z", "--plan", "家里"});
    EXPECT_TRUE(options.History);
    EXPECT_EQ(options.Since, ParseDate("2026-12-08T10:00Z"));
    EXPECT_FALSE(options.NoRecord);
    EXPECT_TRUE(Parse({"--no-record"}).NoRecord);
    EXPECT_EQ(Message({"--since", "2026-12-08"}), "--since goes with --history");
    EXPECT_EQ(Message({"--history", "--no-record"}), "--history and --no-record do not go together");
    EXPECT_EQ(Message({"--list", "--history"}), "--list and --history do not go together");
    EXPECT_EQ(Message({"--history", "--since"}), "--since needs a value");
    EXPECT_EQ(Message({"--history", "--since=today"}).rfind("bad date 'today'", 0), 0u);
}

// Bare targets are pinged, as ping and fping take hosts; each method option
// may be repeated, and the order typed is the order measured.
TEST(Clioptions, TargetsInTheOrderTyped)
{
    const TCliOptions options =
        Parse({"127.0.0.1", "--http", "https://[::1]:8443/", "--dns=::1", "--ping", "host.test", "--", "-odd"});
    ASSERT_EQ(options.Targets.size(), 5u);
    const std::vector<std::pair<int, std::string>> expected{
        {dtPing, "127.0.0.1"}, {dtHomePage, "https://[::1]:8443/"}, {dtDNSQuery, "::1"}, {dtPing, "host.test"},
        {dtPing, "-odd"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(options.Targets[i].Method, expected[i].first) << i;
        EXPECT_EQ(options.Targets[i].Text, expected[i].second) << i;
    }
    EXPECT_EQ(Message({"--http="}), "--http needs a target");
    EXPECT_EQ(Message({"--dns"}), "--dns needs a value");
    EXPECT_EQ(Message({"127.0.0.1", "--plan", "x"}), "a target and --plan do not go together");
    EXPECT_EQ(Message({"--dir", "d", "--ping", "::1"}), "--dir and --ping do not go together");
    EXPECT_EQ(Message({"--history", "::1"}), "--history and a target do not go together");
}

TEST(Clioptions, RunSettingsDefaultToTheWindowsValues)
{
    const TRunSettings defaults = Parse({"::1"}).Run;
    EXPECT_EQ(defaults.Count, 5);
    EXPECT_EQ(defaults.Interval, std::chrono::milliseconds(100));
    EXPECT_EQ(defaults.Timeout, std::chrono::milliseconds(5000));
    EXPECT_FALSE(defaults.HomePageTimeout);  // fetches keep their own limits
    EXPECT_EQ(defaults.Workers, 20);

    for (const auto& args : std::vector<std::vector<std::string>>{{"-c", "3", "-i", "0", "-t", "250"},
                                                                  {"-c3", "-i0", "-t250"},
                                                                  {"--count=3", "--interval", "0", "--timeout=250"}}) {
        const TRunSettings run = Parse(args).Run;
        EXPECT_EQ(run.Count, 3);
        EXPECT_EQ(run.Interval, std::chrono::milliseconds(0));
        EXPECT_EQ(run.Timeout, std::chrono::milliseconds(250));
        EXPECT_EQ(run.HomePageTimeout, std::chrono::milliseconds(250));
    }
    EXPECT_EQ(Parse({"--workers", "1"}).Run.Workers, 1);
    EXPECT_EQ(Parse({"--workers=256", "-c", "1000", "-i", "3600000", "-t", "60000"}).Run.Workers, 256);
}

TEST(Clioptions, RunSettingsOutOfBoundsOrNotNumbers)
{
    EXPECT_EQ(Message({"-c", "0"}), "--count must be from 1 to 1000, not 0");
    EXPECT_EQ(Message({"-c1001"}), "--count must be from 1 to 1000, not 1001");
    EXPECT_EQ(Message({"-c", "-1"}), "--count must be from 1 to 1000, not -1");
    EXPECT_EQ(Message({"-c", "99999999999999999999"}),
              "--count must be from 1 to 1000, not 99999999999999999999");
    EXPECT_EQ(Message({"-c", "3x"}), "--count takes a whole number, not '3x'");
    EXPECT_EQ(Message({"-c", ""}), "--count takes a whole number, not ''");
    EXPECT_EQ(Message({"-c"}), "-c needs a value");
    EXPECT_EQ(Message({"-i", "2.5"}), "--interval takes a whole number, not '2.5'");
    EXPECT_EQ(Message({"-i", "3600001"}), "--interval must be from 0 to 3600000, not 3600001");
    EXPECT_EQ(Message({"-t", "0"}), "--timeout must be from 1 to 60000, not 0");
    EXPECT_EQ(Message({"--workers", "257"}), "--workers must be from 1 to 256, not 257");
    EXPECT_EQ(Message({"--list", "-c", "2"}), "--list and --count do not go together");
    EXPECT_EQ(Message({"--history", "--watch", "5"}), "--history and --watch do not go together");
}

TEST(Clioptions, WatchAndListen)
{
    EXPECT_EQ(Parse({"--watch", "10"}).Watch, std::chrono::milliseconds(10000));
    EXPECT_EQ(Parse({"--watch=0.25"}).Watch, std::chrono::milliseconds(250));
    EXPECT_EQ(Parse({"--watch", "86400"}).Watch, std::chrono::hours(24));
    for (const std::string bad : {"0", "-1", "abc", "1e3", "86401", "0.0001", "nan", "inf", ""})
        EXPECT_EQ(Message({"--watch", bad}).rfind("--watch ", 0), 0u) << bad;

    const auto listen = [](const std::string& text) {
        const TListenAddress address = Parse({"--watch", "1", "--listen", text}).Listen.value();
        return address.Host + " " + std::to_string(address.Port);
    };
    EXPECT_EQ(listen("127.0.0.2:9100"), "127.0.0.2 9100");
    EXPECT_EQ(listen(":9100"), "127.0.0.1 9100");
    EXPECT_EQ(listen("9100"), "127.0.0.1 9100");
    EXPECT_EQ(listen("localhost:0"), "127.0.0.1 0");
    EXPECT_EQ(listen("[::1]:65535"), "::1 65535");
    EXPECT_EQ(listen("0.0.0.0:80"), "0.0.0.0 80");
    EXPECT_EQ(Message({"--watch", "1", "--listen", "[::1]"}), "--listen takes [IPV6]:PORT, not '[::1]'");
    EXPECT_EQ(Message({"--watch", "1", "--listen", "[host]:1"}), "--listen: 'host' is no IPv6 address");
    EXPECT_EQ(Message({"--watch", "1", "--listen", "example.test:1"}),
              "--listen takes an IP address or localhost, not 'example.test' (write an IPv6 address in brackets)");
    EXPECT_EQ(Message({"--watch", "1", "--listen", "::1:80"}).rfind("--listen takes an IP address", 0), 0u);
    EXPECT_EQ(Message({"--watch", "1", "--listen", ":65536"}), "--listen's port must be from 0 to 65535, not 65536");
    EXPECT_EQ(Message({"--listen", ":9100"}), "--listen goes with --watch");
    EXPECT_EQ(Message({"--history", "--format", "openmetrics"}), "--history has no openmetrics format");
}

}  // namespace
