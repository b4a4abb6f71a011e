#include "cli/Clioptions.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cctype>

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

// As curl --fail: off unless given, a flag that takes no value.
TEST(Clioptions, FailMakesErrorStatusesFailures)
{
    EXPECT_FALSE(Parse({"--http", "127.0.0.1"}).Run.FailOnHttpError);
    EXPECT_TRUE(Parse({"--fail", "--http", "127.0.0.1"}).Run.FailOnHttpError);
    EXPECT_TRUE(Parse({"--http", "127.0.0.1", "--fail", "--watch", "1"}).Run.FailOnHttpError);
    EXPECT_EQ(Message({"--fail=yes"}), "--fail takes no value");
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
    const TCliOptions tcp = Parse({"--tcp", "host.test:443", "--tcp=[::1]:22"});
    ASSERT_EQ(tcp.Targets.size(), 2u);
    EXPECT_EQ(tcp.Targets[0].Method, dtTCPConnect);
    EXPECT_EQ(tcp.Targets[1].Text, "[::1]:22");
    for (const std::string bad : {"host.test", "::1:22", "[::1]"})
        EXPECT_EQ(Message({"--tcp", bad}).rfind("--tcp takes HOST:PORT or [IPV6]:PORT, not '" + bad + "'", 0), 0u) << bad;
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
    EXPECT_EQ(Parse({"--workers=65536", "-c", "1000", "-i", "3600000", "-t", "60000"}).Run.Workers, 65536);
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
    EXPECT_EQ(Message({"--workers", "65537"}), "--workers must be from 1 to 65536, not 65537");
    EXPECT_EQ(Message({"--workers", "4294967297"}), "--workers must be from 1 to 65536, not 4294967297");
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

// Each bound is taken at its edge and refused one past it, for the short
// and the long form alike.
TEST(Clioptions, EveryBoundAtAndPastItsEdge)
{
    struct TBound {
        std::string Option, Short;
        int64_t Low, High;
    };
    for (const TBound& bound : {TBound{"--count", "-c", 1, 1000}, TBound{"--interval", "-i", 0, 3600000},
                                TBound{"--timeout", "-t", 1, 60000}, TBound{"--workers", "", 1, 65536}}) {
        const std::string range = " must be from " + std::to_string(bound.Low) + " to " + std::to_string(bound.High);
        for (const int64_t edge : {bound.Low, bound.High}) {
            EXPECT_EQ(Message({bound.Option, std::to_string(edge)}), "accepted") << bound.Option;
            if (!bound.Short.empty()) {
                EXPECT_EQ(Message({bound.Short + std::to_string(edge)}), "accepted") << bound.Short;
            }
        }
        for (const int64_t past : {bound.Low - 1, bound.High + 1}) {
            EXPECT_EQ(Message({bound.Option + "=" + std::to_string(past)}),
                      bound.Option + range + ", not " + std::to_string(past));
            if (!bound.Short.empty()) {
                EXPECT_EQ(Message({bound.Short, std::to_string(past)}),
                          bound.Option + range + ", not " + std::to_string(past));
            }
        }
    }
    EXPECT_EQ(Parse({"--watch", "0.001"}).Watch, std::chrono::milliseconds(1));
    EXPECT_EQ(Message({"--watch", "0.0004"}), "--watch must be from 0.001 to 86400 seconds, not 0.0004");
    EXPECT_EQ(Message({"--watch", "86400.001"}), "--watch must be from 0.001 to 86400 seconds, not 86400.001");
    EXPECT_EQ(Message({"--watch", "1e3"}), "--watch takes seconds such as 10 or 0.5, not '1e3'");
    const auto port = [](const std::string& text) {
        return Parse({"--watch", "1", "--listen", text}).Listen.value().Port;
    };
    EXPECT_EQ(port(":0"), 0);
    EXPECT_EQ(port("65535"), 65535);
    EXPECT_EQ(Message({"--watch", "1", "--listen", "-1"}), "--listen's port must be from 0 to 65535, not -1");
}

// Numbers are decimal as written: leading zeros are no octal, and neither
// hex nor a sign is a number here.
TEST(Clioptions, NumbersAreDecimalOnly)
{
    EXPECT_EQ(Parse({"-c", "010"}).Run.Count, 10);
    EXPECT_EQ(Parse({"-i0010"}).Run.Interval, std::chrono::milliseconds(10));
    EXPECT_EQ(Parse({"--watch", "1", "--listen", ":010"}).Listen.value().Port, 10);
    EXPECT_EQ(Message({"-c", "0x10"}), "--count takes a whole number, not '0x10'");
    EXPECT_EQ(Message({"--workers", "+5"}), "--workers takes a whole number, not '+5'");
    EXPECT_EQ(Message({"-t", " 5"}), "--timeout takes a whole number, not ' 5'");
}

// A value given again replaces the one before; the forms of one option mix.
TEST(Clioptions, ShortAndLongFormsAndRepeats)
{
    EXPECT_EQ(Parse({"-c3", "--count", "4"}).Run.Count, 4);
    EXPECT_EQ(Parse({"--count=4", "-c", "3"}).Run.Count, 3);
    EXPECT_EQ(Parse({"--format", "csv", "--format=json"}).Format, TOutputFormat::Json);
    EXPECT_EQ(Parse({"--plan", "a", "--plan=b"}).Plan.value(), "b");
    EXPECT_EQ(Parse({"--plan="}).Plan.value(), "");
    EXPECT_TRUE(Parse({"--list", "--list"}).List);
    EXPECT_TRUE(Parse({"-h"}).Help);
    EXPECT_EQ(Parse({"--interval=5"}).Run.Interval, std::chrono::milliseconds(5));
    EXPECT_EQ(Parse({"-t", "7"}).Run.HomePageTimeout, std::chrono::milliseconds(7));
    EXPECT_EQ(Parse({"--watch", "2", "--listen=[::1]:0"}).Listen.value().Host, "::1");
    EXPECT_EQ(Message({"--list=yes"}), "--list takes no value");
    EXPECT_EQ(Message({"--ping="}), "--ping needs a target");
    EXPECT_EQ(Message({""}), "a target needs a target");
    EXPECT_EQ(Message({"::1", "-x"}), "unknown argument '-x'");
    EXPECT_EQ(Message({"--count-all"}), "unknown argument '--count-all'");
}

// A word is one target as typed, brackets and all, whatever follows it.
TEST(Clioptions, TargetsStayAsTyped)
{
    const TCliOptions options = Parse({"[::1]", "--http", "h.test/a,b", "c", "--dns", "[::1]"});
    ASSERT_EQ(options.Targets.size(), 4u);
    EXPECT_EQ(options.Targets[0].Text, "[::1]");
    EXPECT_EQ(options.Targets[1].Text, "h.test/a,b");
    EXPECT_EQ(options.Targets[2].Method, dtPing);
    EXPECT_EQ(options.Targets[3].Text, "[::1]");
    EXPECT_EQ(options.Targets[3].Method, dtDNSQuery);
}

// Every pair that may not be given together is refused, named in the order
// typed, and each option that needs another says which.
TEST(Clioptions, EveryExclusionAndRequirement)
{
    const std::vector<std::vector<std::string>> storeOptions{{"--plan", "p"}, {"--dir", "d"}, {"--list"}, {"--history"}};
    const std::vector<std::vector<std::string>> targets{{"::1"}, {"--ping", "::1"}, {"--http", "::1"}, {"--dns", "::1"}};
    const auto spoken = [](const std::vector<std::string>& args) { return args.size() == 1 && args[0][0] != '-' ? std::string("a target") : args[0]; };
    const auto together = [&](const std::vector<std::string>& first, const std::vector<std::string>& second) {
        std::vector<std::string> args = first;
        args.insert(args.end(), second.begin(), second.end());
        EXPECT_EQ(Message(args), spoken(first) + " and " + spoken(second) + " do not go together") << args[0];
    };
    for (const auto& target : targets)
        for (const auto& store : storeOptions) {
            together(target, store);
            together(store, target);
        }
    const std::vector<std::vector<std::string>> runOnly{{"--count", "2"},   {"--interval", "2"}, {"--timeout", "2"},
                                                         {"--workers", "2"}, {"--watch", "2"},    {"--no-record"},
                                                         {"--fail"}};
    for (const auto& run : runOnly) {
        together(run, {"--list"});
        together({"--history"}, run);
    }
    together({"--list"}, {"--plan", "p"});
    together({"--format", "csv"}, {"--list"});
    together({"--history"}, {"--list"});
    EXPECT_EQ(Message({"--dir", "d", "--plan", "p", "--history", "--format", "csv", "--since", "2026-01-01"}),
              "accepted");
    EXPECT_EQ(Message({"--listen", ":1", "--since", "2026-01-01"}), "--listen goes with --watch");
    EXPECT_EQ(Message({"--since=2026-01-01"}), "--since goes with --history");
}

// The help is made from the declarations: every option with its bounds and
// default, and what each needs.
TEST(Clioptions, HelpListsEveryOption)
{
    const std::string help = CliUsage();
    std::string flowing;  // the text with its line breaks and indents as single spaces
    for (const char c : help)
        if (!std::isspace(static_cast<unsigned char>(c)) || (!flowing.empty() && flowing.back() != ' '))
            flowing += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
    for (const std::string line :
         {"  TARGET ", "  --ping HOST ", "  --http TARGET ", "  --dns SERVER ", "  --tcp HOST:PORT ", "  -c, --count N ",
          "  -i, --interval MS ", "  -t, --timeout MS ", "  --workers N ", "  --dns-name NAME ", "  --format FMT ",
          "  --fail ", "  --watch SECONDS ", "  --listen ADDR:PORT ",
          "  --dir DIR ", "  --plan NAME ", "  --no-record ", "  --history ", "  --since DATE ", "  --list ",
          "  -q, --quiet ", "  -v, --verbose ", "  -a, --alive ", "  -u, --unreach ", "  -4, --ipv4 ", "  -6, --ipv6 ",
          "  -h, --help ", "  --version "})
        EXPECT_NE(help.find("\n" + line), std::string::npos) << line;
    for (const std::string note : {"(default 5; 1 to 1000)", "(default 100; 0 to 3600000)", "(default 5000; 1 to 60000)",
                                   "(default 20; 1 to 65536)", "(default www.example.com)", "with --watch: serve", "with --history: runs"})
        EXPECT_NE(flowing.find(note), std::string::npos) << note;
    size_t start = 0;
    for (size_t end = help.find('\n'); end != std::string::npos; start = end + 1, end = help.find('\n', start))
        EXPECT_LE(end - start, 100u) << help.substr(start, end - start);  // the usage lines are the widest
}

// The name DNS items ask for: labels of 1 to 63 bytes, 253 in all; absent
// unless given, so that the engine asks for its own.
TEST(Clioptions, DnsNameIsADnsNameOrAUsageError)
{
    EXPECT_FALSE(Parse({"--dns", "::1"}).Run.DnsQueryName);
    EXPECT_EQ(Parse({"--dns", "::1", "--dns-name", "probe.example.test"}).Run.DnsQueryName, "probe.example.test");
    EXPECT_EQ(Parse({"--dns-name=localhost", "::1"}).Run.DnsQueryName, "localhost");
    const std::string longest = std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') +
                                "." + std::string(61, 'd');  // 253 bytes
    EXPECT_EQ(Parse({"--dns-name", longest, "::1"}).Run.DnsQueryName, longest);
    EXPECT_EQ(Parse({"--dns-name", std::string(63, 'x'), "::1"}).Run.DnsQueryName, std::string(63, 'x'));

    for (const std::string& bad : {std::string(), std::string("a..b"), std::string(".a"), std::string("a."),
                                  std::string("a b"), std::string("a/b"), std::string("名字.test"),
                                  std::string(64, 'x'), longest + "d", std::string("a\0b", 3)}) {
        const std::string message = Message({"--dns-name", bad, "::1"});
        EXPECT_EQ(message.rfind("--dns-name takes a DNS name", 0), 0u) << bad << ": " << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_EQ(Message({"--dns-name"}), "--dns-name needs a value");
    EXPECT_EQ(Message({"--list", "--dns-name", "a.test"}), "--list and --dns-name do not go together");
}

// A target that cannot be measured is refused before anything is looked
// up, in one line naming the option and what is wrong.
TEST(Clioptions, EveryBadTargetIsBadUsage)
{
    const std::string host253 = std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') +
                                "." + std::string(61, 'd');
    const std::string host254 = host253 + "e";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--http", "http://[::1"}, "--http: 'http://[::1' is no web address"},
        {{"--http", "http://"}, "--http: 'http://' is no web address"},
        {{"--http", "[::1"}, "--http: '[::1' is no web address"},
        {{"--http", "ftp://h.test/"}, "--http takes http:// or https:// addresses, not 'ftp://h.test/'"},
        {{"--http", "FILE:///etc/passwd"}, "--http takes http:// or https:// addresses, not 'FILE:///etc/passwd'"},
        {{"--http", "h.test:0"}, "--http: the port of 'h.test:0' is not from 1 to 65535"},
        {{"--http", "https://h.test:65536/"}, "--http: the port of 'https://h.test:65536/' is not from 1 to 65535"},
        {{"--http", "http://[::1]:0/"}, "--http: the port of 'http://[::1]:0/' is not from 1 to 65535"},
        {{"--http", "http://" + host254 + "/"}, "--http: a host has at most 253 bytes"},
        {{"--http", "http://h.test/" + std::string(2035, 'p')}, "--http: a web address has at most 2048 bytes, not 2049"},
        {{"--http="}, "--http needs a target"},
        {{host254}, "a target: a host has at most 253 bytes, not 254"},
        {{"--ping", host254}, "--ping: a host has at most 253 bytes, not 254"},
        {{""}, "a target needs a target"},
        {{"http://[::1"}, "a target takes a host or IP address, not the web address 'http://[::1' (--http fetches a "
                          "home page)"},
        {{"--ping", "h.test/x"}, "--ping: 'h.test/x' is no host or IP address"},

        {{"--dns", "127.0.0.1:0"}, "--dns: the port of '127.0.0.1:0' is not from 1 to 65535"},
        {{"--dns", "[::1]:65536"}, "--dns: the port of '[::1]:65536' is not from 1 to 65535"},
        {{"--dns", "[::1"}, "--dns takes SERVER, SERVER:PORT or [IPV6]:PORT, not '[::1'"},
        {{"--dns", "a:b:c"}, "--dns takes SERVER, SERVER:PORT or [IPV6]:PORT, not 'a:b:c'"},
        {{"--dns", host254 + ":53"}, "--dns: a host has at most 253 bytes, not 254"},
        {{"--dns="}, "--dns needs a target"},
        {{"--tcp", "h.test:0"}, "--tcp: the port of 'h.test:0' is not from 1 to 65535"},
        {{"--tcp", "h.test:65536"}, "--tcp: the port of 'h.test:65536' is not from 1 to 65535"},
        {{"--tcp", host254 + ":80"}, "--tcp: a host has at most 253 bytes, not 254"},
        {{"--tcp", "[::1]:99999"}, "--tcp: the port of '[::1]:99999' is not from 1 to 65535"}};
    for (const auto& [args, line] : cases)
        EXPECT_EQ(Message(args), line) << args[0];
    // At the edges, and the forms that stay good.
    for (const std::vector<std::string>& good :
         {std::vector<std::string>{host253}, {"网页.test"}, {"::1"}, {"--ping", "fe80::1%lo"}, {"--http", "http://" + host253 + "/"},
          {"--http", "http://h.test/" + std::string(2034, 'p')}, {"--http", "HTTPS://h.test:65535/x?y=1"},
          {"--http", "127.0.0.1:1"}, {"--http", "[::1]:8080"}, {"--http", "网页.test"},
          {"--dns", "127.0.0.1:5353"}, {"--dns", "[::1]:5353"}, {"--dns", "[::1]"}, {"--dns", "::1"},
          {"--dns", "dns.test"}, {"--tcp", host253 + ":80"}})
        EXPECT_EQ(Message(good), "accepted") << good.back();
}

// As ping and fping: -q, -v, -a, -u, -4 and -6.
TEST(Clioptions, PingAndFpingHabits)
{
    const TCliOptions none = Parse({"127.0.0.1"});
    EXPECT_FALSE(none.Quiet);
    EXPECT_FALSE(none.Verbose);
    EXPECT_EQ(none.TargetList, TCliOptions::TTargetList::None);
    EXPECT_EQ(none.Run.Family, AF_UNSPEC);
    EXPECT_TRUE(Parse({"-q", "127.0.0.1"}).Quiet);
    EXPECT_TRUE(Parse({"--verbose", "127.0.0.1"}).Verbose);
    EXPECT_EQ(Parse({"-a", "127.0.0.1"}).TargetList, TCliOptions::TTargetList::Answered);
    EXPECT_EQ(Parse({"--unreach", "127.0.0.1"}).TargetList, TCliOptions::TTargetList::Silent);
    EXPECT_EQ(Parse({"-4", "localhost"}).Run.Family, AF_INET);
    EXPECT_EQ(Parse({"--ipv6", "localhost"}).Run.Family, AF_INET6);
    const TCliOptions combined = Parse({"-qa6", "::1", "--tcp", "[::1]:22", "--http", "127.0.0.1"});
    EXPECT_TRUE(combined.Quiet);
    EXPECT_EQ(combined.TargetList, TCliOptions::TTargetList::Answered);
    EXPECT_EQ(combined.Run.Family, AF_INET6);
    const TCliOptions path = Parse({"-q", "-6", "--path", "localhost"});
    ASSERT_TRUE(path.Path);
    EXPECT_TRUE(path.Path->Quiet);
    EXPECT_EQ(path.Path->Family, AF_INET6);

    EXPECT_EQ(Message({"-q", "-v", "::1"}), "--quiet and --verbose do not go together");
    EXPECT_EQ(Message({"-a", "-u", "::1"}), "--alive and --unreach do not go together");
    EXPECT_EQ(Message({"-6", "-4", "::1"}), "--ipv6 and --ipv4 do not go together");
    EXPECT_EQ(Message({"-a", "--format", "csv", "::1"}), "--alive and --format do not go together");
    EXPECT_EQ(Message({"--watch", "1", "-u", "::1"}), "--watch and --unreach do not go together");
    EXPECT_EQ(Message({"--path", "::1", "-v"}), "--path and --verbose do not go together");
    EXPECT_EQ(Message({"--path", "::1", "-a"}), "--path and --alive do not go together");
    EXPECT_EQ(Message({"--history", "-q"}), "--history and --quiet do not go together");
    EXPECT_EQ(Message({"--list", "-4"}), "--list and --ipv4 do not go together");
    EXPECT_EQ(Message({"--quiet=1"}), "--quiet takes no value");
    // A literal address of the other family has nothing to measure.
    EXPECT_EQ(Message({"-4", "::1"}), "-4 and '::1' do not go together: it is an IPv6 address");
    EXPECT_EQ(Message({"-6", "--tcp", "127.0.0.1:22"}),
              "-6 and '127.0.0.1:22' do not go together: it is an IPv4 address");
    EXPECT_EQ(Message({"-4", "--dns", "[::1]:53"}), "-4 and '[::1]:53' do not go together: it is an IPv6 address");
    EXPECT_EQ(Message({"-4", "--path", "[::1]"}), "-4 and '[::1]' do not go together: it is an IPv6 address");
    EXPECT_EQ(Message({"-6", "--ping", "localhost", "--dns", "::1", "--tcp", "[::1]:22"}), "accepted");
}

// However the usage is bad, the message is one line that names the option.
TEST(Clioptions, EachBadUsageIsOneLineNamingTheOption)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"-c"}, "-c"},
        {{"--interval"}, "--interval"},
        {{"--watch", "x"}, "--watch"},
        {{"--history", "--since", "x"}, "date 'x'"},
        {{"--format", "x"}, "format"},
        {{"--dir", ""}, "--dir"},
        {{"--watch", "1", "--listen", "x:1"}, "--listen"},
        {{"--no-record=1"}, "--no-record"},
        {{"--version=1"}, "--version"},
        {{"--bogus"}, "--bogus"},
        {{"--list", "--workers", "3"}, "--workers"},
        {{"--listen", "1"}, "--listen"}};
    for (const auto& [args, name] : cases) {
        const std::string message = Message(args);
        EXPECT_NE(message, "accepted") << name;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_NE(message.find(name), std::string::npos) << message;
    }
}

}  // namespace
