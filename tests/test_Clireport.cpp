#include "cli/Clireport.h"

#include "tests/support/Textlines.h"
#include "vqlib/Gbk.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>


namespace {

using namespace std::chrono_literals;

TDNSDispInfo Item(const std::string& nameUtf8, const std::string& host, int8_t doType, uint8_t state,
                  double avg, int32_t failed)
{
    TDNSDispInfo info;
    info.Name = Utf8ToGbk(nameUtf8).value();
    info.DomainIP = host;
    info.DoType = doType;
    info.State = state;
    info.AvgTime = avg;
    info.FailCount = failed;
    return info;
}

TRunReport SampleReport()
{
    TRunReport report;
    report.PlanName = Utf8ToGbk("家里").value();
    report.Items.push_back({Item("网关", "127.0.0.1", dtPing, tsDone, 12.3456, 2),
                            {10ms, std::nullopt, 15ms, 12036us, std::nullopt}, {}, {}});
    report.Items.push_back({Item("a,\"b\"", "127.0.0.2", dtHomePage, tsNoResponse, 0, 5), TTryTimes(5), {}, {}});
    report.Items.push_back({Item("dns", "127.0.0.3", dtDNSQuery, tsDone, 7.5, 0), {7ms, 8ms, 7ms, 8ms, 7500us}, {}, {}});
    return report;
}

TTryOutcome Failed(TTryCause cause)
{
    TTryOutcome outcome;
    outcome.Cause = cause;
    return outcome;
}

THttpTry Fetch(int resolveUs, int connectUs, int tlsUs, int processingUs, int transferUs, int status, int64_t bytes)
{
    THttpTry fetch;
    fetch.Resolve = std::chrono::microseconds(resolveUs);
    fetch.Connect = std::chrono::microseconds(connectUs);
    fetch.Tls = std::chrono::microseconds(tlsUs);
    fetch.Processing = std::chrono::microseconds(processingUs);
    fetch.Transfer = std::chrono::microseconds(transferUs);
    fetch.Status = status;
    fetch.Address = "127.0.0.1";
    fetch.BodyBytes = bytes;
    return fetch;
}

TTryOutcome Fetched(const THttpTry& fetch)
{
    TTryOutcome outcome;
    outcome.Ok = true;
    outcome.Http = fetch;
    outcome.Elapsed = fetch.Resolve + fetch.Connect + fetch.Tls + fetch.Processing + fetch.Transfer;
    return outcome;
}

TItemResult WithOutcomes(TDNSDispInfo info, TTryOutcomes outcomes)
{
    TTryTimes times = TimesOf(outcomes);
    return {std::move(info), std::move(times), std::move(outcomes), {}};
}

// A Ping that was refused and timed out, a page answered twice and refused
// once, and a page over TLS whose certificate had expired.
TRunReport ReportWithOutcomes()
{
    TRunReport report;
    report.TestTimes = 3;
    TDNSDispInfo ping = Item("gw", "127.0.0.1", dtPing, tsDone, 1, 2);
    ping.IP = "127.0.0.1";
    TTryOutcome echo;
    echo.Ok = true;
    echo.Elapsed = 1ms;
    report.Items.push_back(WithOutcomes(ping, {echo, Failed(TTryCause::Refused), Failed(TTryCause::Timeout)}));
    TTryOutcome refusedFetch = Failed(TTryCause::Refused);
    refusedFetch.Http = Fetch(10, 0, 0, 0, 0, 0, 0);
    report.Items.push_back(WithOutcomes(Item("page", "127.0.0.1:8080", dtHomePage, tsDone, 2, 1),
                                        {Fetched(Fetch(100, 200, 0, 1000, 700, 200, 2048)), refusedFetch,
                                         Fetched(Fetch(300, 400, 0, 1500, 300, 404, 1024))}));
    TTryOutcome expired = Failed(TTryCause::TlsExpired);
    expired.Http = Fetch(0, 100, 250, 0, 0, 0, 0);
    report.Items.push_back(WithOutcomes(Item("tls", "https://127.0.0.1:8443/", dtHomePage, tsNoResponse, 0, 1),
                                        {expired, std::nullopt, std::nullopt}));
    return report;
}

TEST(Clireport, CsvAppendsEachTrysCauseAndAPagesMeans)
{
    const std::vector<std::string> lines = TextLines(FormatCsv(ReportWithOutcomes()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find(",try3_ms,try1_cause,try2_cause,try3_cause,resolve_ms,connect_ms,tls_ms,processing_ms,"
                            "transfer_ms,status,body_bytes,rate_kbps,tries_made,stopped\r"),
              std::string::npos)
        << lines[0];
    // A Ping: its causes, and nothing of pages.
    EXPECT_NE(lines[1].find(",1.000,,,,refused,timeout,,,,,,,,,3,false\r"), std::string::npos) << lines[1];
    // The means of the two answered fetches (the refused one has no answer);
    // no tls phase over plain HTTP; the last answer's status and size; all
    // 3072 bytes over all 4.5 ms.
    EXPECT_NE(lines[2].find(",,refused,,0.200,0.300,,1.250,0.500,404,1024,666.67,3,false\r"), std::string::npos) << lines[2];
    // No answer: a cause, and no means.
    EXPECT_NE(lines[3].find(",tls_expired,,,,,,,,,,,3,false\r"), std::string::npos) << lines[3];
}

TEST(Clireport, JsonGivesEachTrysOutcomeAndAPagesFigures)
{
    const auto json = nlohmann::ordered_json::parse(FormatJson(ReportWithOutcomes()));
    const auto& ping = json["items"][0];
    EXPECT_EQ(ping["address"], "127.0.0.1");
    EXPECT_EQ(ping["outcomes"].dump(), R"([{"ok":true},{"ok":false,"cause":"refused"},{"ok":false,"cause":"timeout"}])");
    EXPECT_FALSE(ping.contains("http"));

    const auto& page = json["items"][1];
    EXPECT_EQ(page["address"], "127.0.0.1");  // where the fetches connected
    const auto& first = page["outcomes"][0];
    EXPECT_EQ(first["ok"], true);
    EXPECT_FALSE(first.contains("cause"));
    EXPECT_FALSE(first.contains("tls_ms"));
    EXPECT_EQ(first["status"], 200);
    EXPECT_EQ(first["body_bytes"], 2048);
    EXPECT_DOUBLE_EQ(first["rate_kbps"].get<double>(), 1000.0);  // 2 KiB in 2 ms
    double sum = 0;
    for (const char* phase : {"resolve_ms", "connect_ms", "processing_ms", "transfer_ms"})
        sum += first[phase].get<double>();
    EXPECT_DOUBLE_EQ(sum, page["tries_ms"][0].get<double>());
    // A fetch with no answer tells how far it got, and no status.
    EXPECT_EQ(page["outcomes"][1]["cause"], "refused");
    EXPECT_EQ(page["outcomes"][1]["resolve_ms"], 0.01);
    EXPECT_FALSE(page["outcomes"][1].contains("status"));
    EXPECT_EQ(page["outcomes"][2]["status"], 404);
    EXPECT_EQ(page["http"].dump(), R"({"resolve_ms":0.2,"connect_ms":0.3,"processing_ms":1.25,"transfer_ms":0.5,)"
                                   R"("status":404,"body_bytes":1024,"rate_kbps":666.67})");

    const auto& tls = json["items"][2];
    EXPECT_EQ(tls["outcomes"][0]["cause"], "tls_expired");
    EXPECT_EQ(tls["outcomes"][0]["tls_ms"], 0.25);
    EXPECT_TRUE(tls["outcomes"][1].is_null());  // not made
    EXPECT_FALSE(tls.contains("http"));
    // The fields of earlier versions stay first, as they were.
    const std::string text = FormatJson(ReportWithOutcomes());
    EXPECT_NE(text.find("\"tries_ms\": [1.000, null, null], \"address\": \"127.0.0.1\", \"outcomes\": ["),
              std::string::npos)
        << text;
}

TEST(Clireport, JsonGivesTheCertificatesExpiryAsIsoTime)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    THttpTry fetch = Fetch(1, 1, 1, 1, 1, 200, 0);
    fetch.CertExpiry = 1798761600;  // 2027-01-01T00:00:00Z
    TRunReport report;
    report.TestTimes = 1;
    report.Items.push_back(WithOutcomes(Item("tls", "HTTPS://127.0.0.1/", dtHomePage, tsDone, 0.005, 0), {Fetched(fetch)}));
    const auto json = nlohmann::ordered_json::parse(FormatJson(report));
    EXPECT_EQ(json["items"][0]["outcomes"][0]["cert_expires"], "2027-01-01T00:00:00+00:00");
    EXPECT_EQ(json["items"][0]["http"]["cert_expires"], "2027-01-01T00:00:00+00:00");
    EXPECT_EQ(json["items"][0]["http"]["tls_ms"], 0.001);
    EXPECT_NE(FormatCsv(report).find(",0.001,0.001,0.001,0.001,0.001,200,0,0.00,1,false\r"), std::string::npos)
        << FormatCsv(report);
    ::unsetenv("TZ");
    ::tzset();
}

TEST(Clireport, DisplayWidthCountsWideCharactersTwice)
{
    EXPECT_EQ(DisplayWidth("abc"), 3);
    EXPECT_EQ(DisplayWidth("网关"), 4);
    EXPECT_EQ(DisplayWidth("耗时(毫秒)"), 10);
    EXPECT_EQ(DisplayWidth("\xE7\xBD"), 2);  // a cut sequence: one column per byte
}

TEST(Clireport, TableAlignsColumnsByTerminalWidth)
{
    std::vector<std::string> lines = TextLines(FormatTable(SampleReport()));
    ASSERT_EQ(lines.size(), 7u);
    // The host column starts at the same terminal column in every row.
    auto hostColumn = [](const std::string& line, const std::string& host) {
        return DisplayWidth(line.substr(0, line.find(host)));
    };
    EXPECT_EQ(hostColumn(lines[0], "域名/IP地址"), hostColumn(lines[1], "127.0.0.1"));
    EXPECT_EQ(hostColumn(lines[1], "127.0.0.1"), hostColumn(lines[2], "127.0.0.2"));
    EXPECT_NE(lines[1].find("  12.35  "), std::string::npos);
    EXPECT_NE(lines[1].find("失败率2/5"), std::string::npos);
    EXPECT_NE(lines[2].find("没响应"), std::string::npos);
    EXPECT_NE(lines[3].find("DNS查询"), std::string::npos);  // as the window shows a DNS item
    EXPECT_EQ(lines[5], "测速项总数: 3");
    EXPECT_EQ(lines[6], "平均耗时: 9.92");  // (12.3456 + 7.5) / 2
}

TEST(Clireport, TableWithoutAnAnswerShowsNoAverage)
{
    TRunReport report;
    report.Items.push_back({Item("x", "127.0.0.1", dtPing, tsNoResponse, 0, 5), TTryTimes(5), {}, {}});
    EXPECT_NE(FormatTable(report).find("平均耗时: -\n"), std::string::npos);
}

// A stopped run: an item that finished, one cut short after two of five
// tries, one never begun. Every format says it stopped and how far each got.
TRunReport StoppedReport()
{
    TRunReport report = SampleReport();
    report.Aborted = true;
    report.Items.resize(2);
    report.Items[1] = {Item("cut", "127.0.0.2", dtPing, tsNoResponse, 0, 2), TTryTimes(5), {}, 2};
    report.Items[1].Outcomes = {Failed(TTryCause::Timeout), Failed(TTryCause::Refused), std::nullopt, std::nullopt,
                                std::nullopt};
    report.Items.push_back({Item("later", "127.0.0.3", dtPing, tsWaiting, 0, 0), TTryTimes(5), {}, 0});
    return report;
}

TEST(Clireport, AStoppedRunSaysSoAndHowFarEachItemGot)
{
    const TRunReport report = StoppedReport();
    const std::vector<std::string> table = TextLines(FormatTable(report));
    ASSERT_EQ(table.size(), 8u);
    EXPECT_EQ(table[1].find("已测"), std::string::npos) << table[1];  // finished
    EXPECT_NE(table[2].find("失败率2/2 已测2/5次"), std::string::npos) << table[2];
    EXPECT_NE(table[3].find("待测速  已测0/5次"), std::string::npos) << table[3];
    EXPECT_EQ(table[6], "平均耗时: 12.35");  // of the answered items only
    EXPECT_EQ(table[7], "已停止: 已测完 1/3 项");

    const auto json = nlohmann::ordered_json::parse(FormatJson(report));
    EXPECT_EQ(json["stopped"], true);
    EXPECT_FALSE(json["items"][0].contains("tries_made"));
    EXPECT_EQ(json["items"][1]["tries_made"], 2);
    EXPECT_EQ(json["items"][1]["failed"], 2);
    EXPECT_EQ(json["items"][2]["tries_made"], 0);
    EXPECT_EQ(json["items"][2]["state"], "waiting");
    EXPECT_FALSE(nlohmann::ordered_json::parse(FormatJson(SampleReport())).contains("stopped"));

    const std::vector<std::string> csv = TextLines(FormatCsv(report));
    ASSERT_EQ(csv.size(), 4u);
    EXPECT_NE(csv[1].find(",5,true\r"), std::string::npos) << csv[1];
    EXPECT_NE(csv[2].find(",timeout,refused,,,,,,,,,,,,2,true\r"), std::string::npos) << csv[2];
    EXPECT_NE(csv[3].find(",0,true\r"), std::string::npos) << csv[3];
}

// Parses a time as the stream writes it; the offset is given back.
std::time_t ParsedIsoTime(const std::string& text, std::string& offset)
{
    std::tm fields{};
    const char* rest = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &fields);
    if (!rest)
        return -1;
    offset = rest;
    int hours = 0, minutes = 0;
    char sign = 0;
    if (std::sscanf(rest, "%c%2d:%2d", &sign, &hours, &minutes) != 3)
        return -1;
    return ::timegm(&fields) - (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
}

TEST(Clireport, AWatchedRunCarriesItsNumberAndStartTime)
{
    ::setenv("TZ", "XST+05:30", 1);  // 05:30 west of Greenwich: -05:30
    ::tzset();
    TRunReport report = SampleReport();
    report.Started = std::chrono::system_clock::from_time_t(1798761600) + 250ms;  // 2027-01-01T00:00:00Z
    const auto json = nlohmann::ordered_json::parse(FormatWatchedJsonLine(report, 7));
    EXPECT_EQ(json.begin().key(), "run");
    EXPECT_EQ(json["run"], 7);
    EXPECT_EQ(json["started"], "2026-12-31T18:30:00-05:30");
    std::string offset;
    EXPECT_EQ(ParsedIsoTime(json["started"], offset), 1798761600);
    EXPECT_EQ(offset, "-05:30");
    EXPECT_EQ(json["items"], nlohmann::ordered_json::parse(FormatJson(report))["items"]);

    const std::vector<std::string> first = TextLines(FormatWatchedCsv(report, 1, true));
    ASSERT_EQ(first.size(), 4u);
    const std::string header = TextLines(FormatCsv(report))[0];
    EXPECT_EQ(first[0], header.substr(0, header.size() - 1) + ",run,started\r");
    for (size_t row = 1; row < first.size(); ++row)
        EXPECT_NE(first[row].find(",false,1,2026-12-31T18:30:00-05:30\r"), std::string::npos) << first[row];
    const std::vector<std::string> later = TextLines(FormatWatchedCsv(report, 2, false));
    ASSERT_EQ(later.size(), 3u);  // no header again
    EXPECT_NE(later[0].find(",false,2,2026-12-31T18:30:00-05:30\r"), std::string::npos) << later[0];
    ::unsetenv("TZ");
    ::tzset();
}

TEST(Clireport, CsvQuotesWhatNeedsQuoting)
{
    std::vector<std::string> lines = TextLines(FormatCsv(SampleReport()));
    ASSERT_EQ(lines.size(), 4u);
    // The columns readers knew come first, as they were; the new ones follow.
    EXPECT_EQ(lines[0], "name,host,method_code,method,state,average_ms,failed,tries,fastest_ms,slowest_ms,"
                        "mean_ms,stddev_ms,try1_ms,try2_ms,try3_ms,try4_ms,try5_ms,"
                        "try1_cause,try2_cause,try3_cause,try4_cause,try5_cause,"
                        "resolve_ms,connect_ms,tls_ms,processing_ms,transfer_ms,status,body_bytes,rate_kbps,"
                        "tries_made,stopped\r");
    // Without outcomes (a record of an older version) the new columns stay empty.
    EXPECT_EQ(lines[1], "网关,127.0.0.1,0,Ping,done,12.35,2,5,10.000,15.000,12.345,2.053,10.000,,15.000,12.036,,,,,,,,,,,,,,,5,false\r");
    EXPECT_EQ(lines[2], "\"a,\"\"b\"\"\",127.0.0.2,1,取首页内容,no_response,,5,5,,,,,,,,,,,,,,,,,,,,,,,5,false\r");
    EXPECT_EQ(lines[3], "dns,127.0.0.3,2,DNS查询,done,7.50,0,5,7.000,8.000,7.500,0.447,7.000,8.000,7.000,8.000,7.500,,,,,,,,,,,,,,5,false\r");
}

TEST(Clireport, JsonLeavesOutWhatIsAbsent)
{
    std::string json = FormatJson(SampleReport());
    EXPECT_NE(json.find("\"plan\": \"家里\""), std::string::npos);
    EXPECT_NE(json.find("\"average_ms\": 9.92,"), std::string::npos);
    EXPECT_NE(json.find("\"name\": \"a,\\\"b\\\"\""), std::string::npos);
    size_t failed = json.find("\"state\": \"no_response\"");
    ASSERT_NE(failed, std::string::npos);
    std::string failedItem = json.substr(failed, json.find('}', failed) - failed);
    EXPECT_EQ(failedItem.find("average_ms"), std::string::npos);
    EXPECT_EQ(failedItem.find("fastest_ms"), std::string::npos);
    EXPECT_EQ(failedItem.find("stddev_ms"), std::string::npos);
    EXPECT_NE(failedItem.find("\"tries_ms\": [null, null, null, null, null]"), std::string::npos);
    EXPECT_NE(json.find("\"failed\": 2, \"tries\": 5, \"fastest_ms\": 10.000, \"slowest_ms\": 15.000, "
                        "\"mean_ms\": 12.345, \"stddev_ms\": 2.053, \"tries_ms\": [10.000, null, 15.000, 12.036, null]}"),
              std::string::npos)
        << json;

    TRunReport empty;
    EXPECT_EQ(FormatJson(empty), "{\n  \"plan\": \"\",\n  \"average_ms\": null,\n  \"items\": []\n}\n");
}

// Each method by its own name in every format; the code stays as stored.
TEST(Clireport, EveryFormatNamesEachMethod)
{
    const auto json = nlohmann::ordered_json::parse(FormatJson(SampleReport()));
    const std::vector<std::string> csv = TextLines(FormatCsv(SampleReport()));
    const std::vector<std::string> table = TextLines(FormatTable(SampleReport()));
    const std::vector<std::pair<int, std::string>> expected{{0, "Ping"}, {1, "取首页内容"}, {2, "DNS查询"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& [code, method] = expected[i];
        EXPECT_EQ(json["items"][i]["method_code"], code);
        EXPECT_EQ(json["items"][i]["method"], method);
        EXPECT_NE(csv[i + 1].find("," + std::to_string(code) + "," + method + ","), std::string::npos) << csv[i + 1];
        EXPECT_NE(table[i + 1].find(method), std::string::npos) << table[i + 1];
    }
    EXPECT_EQ(table[3].find("Ping"), std::string::npos);
}

TEST(Clireport, CsvAndJsonGiveSubMillisecondTriesThreeDecimals)
{
    TRunReport report;
    report.Items.push_back({Item("lo", "127.0.0.1", dtPing, tsDone, 0.0426, 0), {43us, 41us, 44us, 42us, 43us}, {}, {}});
    const std::vector<std::string> lines = TextLines(FormatCsv(report));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "lo,127.0.0.1,0,Ping,done,0.04,0,5,0.041,0.044,0.043,0.001,0.043,0.041,0.044,0.042,0.043,,,,,,,,,,,,,,5,false\r");
    EXPECT_NE(FormatJson(report).find("\"tries_ms\": [0.043, 0.041, 0.044, 0.042, 0.043]"), std::string::npos);
    EXPECT_NE(FormatTable(report).find("   0.04"), std::string::npos);  // the window's "%7.2f"
}

TEST(Clireport, TerminalTextEscapesWhatATerminalWouldObey)
{
    EXPECT_EQ(TerminalText("plain 网关 a\\b"), "plain 网关 a\\b");
    EXPECT_EQ(TerminalText("a\x1b[2Jb"), "a\\x1b[2Jb");
    EXPECT_EQ(TerminalText(std::string("\0\t\r\n\x7f", 5)), "\\x00\\x09\\x0d\\x0a\\x7f");
    EXPECT_EQ(TerminalText("\xC2\x9B" "31m"), "\\u009b31m");           // C1 CSI written as UTF-8
    EXPECT_EQ(TerminalText("\x9B" "31m"), "\\x9b31m");                  // the same as a stray byte
    EXPECT_EQ(TerminalText("abc\xE2\x80\xAE" "gpj.exe"), "abc\\u202egpj.exe");  // right-to-left override
    EXPECT_EQ(TerminalText("\xE2\x81\xA6x\xE2\x81\xA9"), "\\u2066x\\u2069");
}

TEST(Clireport, TableShowsControlCharactersEscapedAndCsvJsonExact)
{
    TRunReport report;
    TDNSDispInfo hostile = Item("x\x1b]0;owned\x07y", "127.0.0.1\x1b[2J", dtPing, tsDone, 1.5, 0);
    hostile.Note = "n\r";
    report.Items.push_back({hostile, {1500us}, {}, {}});
    report.Items.push_back({Item("plain", "127.0.0.2", dtPing, tsDone, 2.5, 0), {2500us}, {}, {}});

    const std::string table = FormatTable(report);
    for (char c : table)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << "raw control byte " << int(c);
    std::vector<std::string> lines = TextLines(table);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("x\\x1b]0;owned\\x07y  127.0.0.1\\x1b[2J  Ping", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("n\\x0d"), std::string::npos);
    // Columns stay aligned with the escapes in place.
    EXPECT_EQ(lines[1].find("Ping"), lines[2].find("Ping"));

    EXPECT_NE(FormatCsv(report).find("x\x1b]0;owned\x07y,127.0.0.1\x1b[2J,"), std::string::npos);
    EXPECT_NE(FormatJson(report).find("\"name\": \"x\\u001b]0;owned\\u0007y\""), std::string::npos);
}

TEST(Clireport, JsonLineIsTheRunsValueWithoutLayout)
{
    const std::string line = FormatJsonLine(SampleReport());
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.rfind("{\"plan\":\"家里\",\"average_ms\":9.92,\"items\":[{\"name\":\"网关\",", 0), 0u) << line;
    EXPECT_NE(line.find("\"tries_ms\":[10.000,null,15.000,12.036,null]}"), std::string::npos) << line;
    EXPECT_EQ(line.find(": "), std::string::npos);
    EXPECT_EQ(nlohmann::ordered_json::parse(line), nlohmann::ordered_json::parse(FormatJson(SampleReport())));
}

// A stored name is GBK; bytes that are none must not reach a JSON reader raw.
TEST(Clireport, NamesThatAreNoGbkGiveReplacementCharacters)
{
    TRunReport report;
    report.PlanName = "p\xff";
    TDNSDispInfo info = Item("x", "127.0.0.1", dtPing, tsNoResponse, 0, 1);
    info.Name = "\x81" "0\xc0";  // a lead byte without its trail, and one at the end
    report.Items.push_back({info, TTryTimes(1), {}, {}});
    report.TestTimes = 1;
    for (const std::string& json : {FormatJson(report), FormatJsonLine(report)}) {
        EXPECT_NE(json.find("\"p\xEF\xBF\xBD\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"\xEF\xBF\xBD" "0\xEF\xBF\xBD\""), std::string::npos) << json;
        EXPECT_NO_THROW(nlohmann::json::parse(json)) << json;
    }
    EXPECT_NE(FormatCsv(report).find("\n\xEF\xBF\xBD" "0\xEF\xBF\xBD,"), std::string::npos);

    // The history holds UTF-8, which a damaged file may not.
    TRunSummary run;
    run.Plan = "h\xfe";
    const std::string history = FormatHistoryJson({run});
    EXPECT_NE(history.find("\"plan\": \"h\xEF\xBF\xBD\""), std::string::npos) << history;
    EXPECT_NO_THROW(nlohmann::json::parse(history));
}

// Data for scripts: line breaks quoted as they are, nothing taken for a formula.
TEST(Clireport, CsvKeepsLineBreaksAndFormulasAsTheyAre)
{
    TRunReport report;
    report.TestTimes = 1;
    report.Items.push_back({Item("=1+1", "a\r\nb", dtPing, tsNoResponse, 0, 1), TTryTimes(1), {}, {}});
    EXPECT_NE(FormatCsv(report).find("\r\n=1+1,\"a\r\nb\",0,"), std::string::npos) << FormatCsv(report);
}

}  // namespace
