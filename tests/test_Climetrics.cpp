#include "cli/Climetrics.h"

#include "vqlib/Gbk.h"
#include "vqlib/Vqfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using namespace std::chrono_literals;

TItemResult Item(const std::string& nameUtf8, const std::string& host, int8_t method, TTryTimes tries)
{
    TItemResult item;
    item.Info.Name = Utf8ToGbk(nameUtf8).value();
    item.Info.DomainIP = host;
    item.Info.DoType = method;
    item.Tries = std::move(tries);
    for (const auto& time : item.Tries)
        item.Info.FailCount += time ? 0 : 1;
    item.Info.State = item.Info.FailCount < static_cast<int32_t>(item.Tries.size()) ? tsDone : tsNoResponse;
    if (const std::optional<TTryFigures> figures = TryFigures(item.Tries))
        item.Info.AvgTime = figures->Mean;
    return item;
}

TRunReport SampleReport()
{
    TRunReport report;
    report.PlanName = Utf8ToGbk("家里").value();
    report.TestTimes = 3;
    report.Started = std::chrono::system_clock::time_point(1000s);
    report.Ended = report.Started + 1500ms;
    report.Items.push_back(Item("网关", "127.0.0.1", dtPing, {10ms, std::nullopt, 20ms}));
    report.Items.push_back(Item("a\"b\\c", "http://[::1]:8080/", dtHomePage, TTryTimes(3)));
    report.Items.push_back(Item("dns", "::1", dtDNSQuery, {1500us, 2500us, 2ms}));
    return report;
}

bool Has(const std::string& text, const std::string& line)
{
    const std::vector<std::string> lines = SplitFileLines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const std::string kGateway = R"(plan="家里",item="网关",host="127.0.0.1",method="ping")";
const std::string kPage = R"(plan="家里",item="a\"b\\c",host="http://[::1]:8080/",method="http")";
const std::string kDns = R"(plan="家里",item="dns",host="::1",method="dns")";

TEST(Climetrics, EveryItemsFiguresInSecondsWithEscapedLabels)
{
    const std::string text = FormatMetrics(SampleReport(), TMetricsFlavour::OpenMetrics);
    EXPECT_TRUE(Has(text, "orvel_item_mean_seconds{" + kGateway + "} 0.015")) << text;
    EXPECT_TRUE(Has(text, "orvel_item_fastest_seconds{" + kGateway + "} 0.01"));
    EXPECT_TRUE(Has(text, "orvel_item_slowest_seconds{" + kGateway + "} 0.02"));
    EXPECT_TRUE(Has(text, "orvel_item_tries{" + kGateway + "} 3"));
    EXPECT_TRUE(Has(text, "orvel_item_failed_tries{" + kGateway + "} 1"));
    EXPECT_TRUE(Has(text, "orvel_item_success{" + kGateway + "} 1"));
    // An item that never answered has no times, and says so.
    EXPECT_TRUE(Has(text, "orvel_item_mean_seconds{" + kPage + "} NaN"));
    EXPECT_TRUE(Has(text, "orvel_item_fastest_seconds{" + kPage + "} NaN"));
    EXPECT_TRUE(Has(text, "orvel_item_failed_tries{" + kPage + "} 3"));
    EXPECT_TRUE(Has(text, "orvel_item_success{" + kPage + "} 0"));
    EXPECT_TRUE(Has(text, "orvel_item_mean_seconds{" + kDns + "} 0.002"));
    EXPECT_TRUE(Has(text, "orvel_item_fastest_seconds{" + kDns + "} 0.0015"));
    // The run's average is the answered items' averages' mean: (15 + 2) / 2 ms.
    EXPECT_TRUE(Has(text, R"(orvel_run_average_seconds{plan="家里"} 0.0085)"));
    EXPECT_TRUE(Has(text, R"(orvel_run_duration_seconds{plan="家里"} 1.5)"));
}

TEST(Climetrics, OpenMetricsHasUnitsAndEndsWithEofThePrometheusFormatNeither)
{
    const std::string open = FormatMetrics(SampleReport(), TMetricsFlavour::OpenMetrics);
    const std::string old = FormatMetrics(SampleReport(), TMetricsFlavour::Prometheus004);
    EXPECT_TRUE(Has(open, "# TYPE orvel_item_mean_seconds gauge"));
    EXPECT_TRUE(Has(open, "# UNIT orvel_item_mean_seconds seconds"));
    EXPECT_FALSE(Has(open, "# UNIT orvel_item_tries seconds"));
    EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");
    EXPECT_EQ(open.find("# EOF"), open.size() - 6);  // only at the end
    EXPECT_TRUE(Has(old, "# TYPE orvel_item_mean_seconds gauge"));
    EXPECT_EQ(old.find("# UNIT"), std::string::npos);
    EXPECT_EQ(old.find("# EOF"), std::string::npos);
    // The samples are the same.
    std::string samples;
    for (const std::string& line : SplitFileLines(open))
        if (line[0] != '#')
            samples += line + "\n";
    std::string oldSamples;
    for (const std::string& line : SplitFileLines(old))
        if (line[0] != '#')
            oldSamples += line + "\n";
    EXPECT_EQ(samples, oldSamples);
}

// A scraper refuses a whole exposition that repeats a series.
TEST(Climetrics, RepeatedItemsGetNamesOfTheirOwn)
{
    TRunReport report;
    report.TestTimes = 1;
    for (int i = 0; i < 3; ++i)
        report.Items.push_back(Item("lo", "127.0.0.1", dtPing, {1ms}));
    report.Items.push_back(Item("lo", "127.0.0.1", dtDNSQuery, {1ms}));  // another method: its own series
    const std::string text = FormatMetrics(report, TMetricsFlavour::OpenMetrics);
    EXPECT_TRUE(Has(text, R"(orvel_item_success{plan="",item="lo",host="127.0.0.1",method="ping"} 1)")) << text;
    EXPECT_TRUE(Has(text, R"x(orvel_item_success{plan="",item="lo (2)",host="127.0.0.1",method="ping"} 1)x"));
    EXPECT_TRUE(Has(text, R"x(orvel_item_success{plan="",item="lo (3)",host="127.0.0.1",method="ping"} 1)x"));
    EXPECT_TRUE(Has(text, R"(orvel_item_success{plan="",item="lo",host="127.0.0.1",method="dns"} 1)"));
    // No item answered: the run's average is not a number either.
    report.Items = {Item("x", "127.0.0.1", dtPing, TTryTimes(1))};
    EXPECT_TRUE(Has(FormatMetrics(report, TMetricsFlavour::OpenMetrics), R"(orvel_run_average_seconds{plan=""} NaN)"));
}

TTryOutcome Fetched(int status, int64_t expiry, std::chrono::microseconds each)
{
    TTryOutcome outcome;
    outcome.Ok = true;
    THttpTry fetch;
    fetch.Resolve = fetch.Connect = fetch.Tls = fetch.Processing = fetch.Transfer = each;
    fetch.Status = status;
    fetch.CertExpiry = expiry;
    outcome.Http = fetch;
    outcome.Elapsed = 5 * each;
    return outcome;
}

// Pages: one over TLS answered twice, one over HTTP whose server went on to
// answer 500, and one never answered.
TRunReport PagesReport()
{
    TRunReport report = SampleReport();
    report.Items[1].Outcomes = {std::nullopt, std::nullopt, std::nullopt};
    TItemResult tls = Item("tls", "https://127.0.0.1:8443/", dtHomePage, {5ms, 10ms});
    tls.Outcomes = {Fetched(200, 1798761600, 1ms), Fetched(200, 1798761600, 2ms)};
    report.Items.push_back(tls);
    TItemResult plain = Item("plain", "127.0.0.1:8080", dtHomePage, {5ms, 5ms});
    plain.Outcomes = {Fetched(200, 0, 1ms), Fetched(500, 0, 1ms)};
    report.Items.push_back(plain);
    return report;
}

TEST(Climetrics, AnsweredPagesGiveTheirPhasesStatusAndCertificate)
{
    const std::string text = FormatMetrics(PagesReport(), TMetricsFlavour::OpenMetrics);
    const std::string tls = R"(plan="家里",item="tls",host="https://127.0.0.1:8443/",method="http")";
    const std::string plain = R"(plan="家里",item="plain",host="127.0.0.1:8080",method="http")";
    EXPECT_TRUE(Has(text, "# TYPE orvel_item_http_phase_seconds gauge")) << text;
    EXPECT_TRUE(Has(text, "# UNIT orvel_item_http_phase_seconds seconds"));
    for (const char* phase : {"resolve", "connect", "tls", "processing", "transfer"})
        EXPECT_TRUE(Has(text, "orvel_item_http_phase_seconds{" + tls + ",phase=\"" + phase + "\"} 0.0015")) << phase;
    EXPECT_TRUE(Has(text, "orvel_item_http_phase_seconds{" + plain + ",phase=\"connect\"} 0.001"));
    EXPECT_EQ(text.find("orvel_item_http_phase_seconds{" + plain + ",phase=\"tls\"}"), std::string::npos);
    EXPECT_TRUE(Has(text, "orvel_item_http_status_code{" + tls + "} 200"));
    EXPECT_TRUE(Has(text, "orvel_item_http_status_code{" + plain + "} 500"));  // the last answer's
    // Every second of the timestamp, not six digits of it.
    EXPECT_TRUE(Has(text, "orvel_item_tls_cert_expiry_timestamp_seconds{" + tls + "} 1798761600"));
    EXPECT_EQ(text.find("orvel_item_tls_cert_expiry_timestamp_seconds{" + plain), std::string::npos);
    // Nothing for a page that never answered, nor for other methods.
    EXPECT_EQ(text.find("orvel_item_http_status_code{" + kPage), std::string::npos);
    EXPECT_EQ(text.find("orvel_item_http_status_code{" + kGateway), std::string::npos);
}

TEST(Climetrics, NoAnsweredPageNoPageFamilies)
{
    const std::string text = FormatMetrics(SampleReport(), TMetricsFlavour::OpenMetrics);
    EXPECT_EQ(text.find("orvel_item_http_"), std::string::npos);
    EXPECT_EQ(text.find("orvel_item_tls_"), std::string::npos);
}

TEST(Climetrics, LabelValuesEscapeBackslashQuoteAndLineBreak)
{
    EXPECT_EQ(MetricsLabelValue("a\\b\"c\nd\te"), "a\\\\b\\\"c\\nd\te");
    EXPECT_EQ(MetricsLabelValue("家里"), "家里");
}

// The format's own checker, where the machine has it; CI installs it.
TEST(Climetrics, PromtoolAcceptsBothFlavours)
{
    if (std::system("promtool --version >/dev/null 2>&1") != 0) {
        if (std::getenv("CI"))
            FAIL() << "promtool is missing; scripts/setup.sh test installs it";
        GTEST_SKIP() << "promtool is not installed";
    }
    TRunReport report = PagesReport();
    report.Items.push_back(Item("line\nbreak", "127.0.0.1", dtPing, {1ms, 2ms, 3ms}));
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("orvel-metrics-" + std::to_string(::getpid()));
    for (TMetricsFlavour flavour : {TMetricsFlavour::OpenMetrics, TMetricsFlavour::Prometheus004}) {
        std::ofstream(file, std::ios::binary) << FormatMetrics(report, flavour);
        const std::string command = "promtool check metrics < " + file.string() + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[512];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, got);
        EXPECT_EQ(::pclose(pipe), 0) << output;
        EXPECT_EQ(output, "");
    }
    std::filesystem::remove(file);
}

}  // namespace
