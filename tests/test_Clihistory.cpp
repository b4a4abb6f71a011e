// The history side of orvel-cli: dates on the command line, the printed runs,
// and a run as it is handed to the history.

#include "cli/Clioptions.h"
#include "cli/Clireport.h"
#include "cli/Clirun.h"
#include "vqlib/Gbk.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

using namespace std::chrono_literals;
using TTimePoint = std::chrono::system_clock::time_point;

TTimePoint Utc(int64_t seconds) { return TTimePoint(std::chrono::seconds(seconds)); }

constexpr int64_t kDec8Utc = 1'796'688'000;  // 2026-12-08T00:00:00Z

// Local time is China's, eight hours ahead of UTC and without summer time;
// a POSIX rule needs no time zone files.
class Clihistory : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* tz = std::getenv("TZ"))
            FOldTz = tz;
        ::setenv("TZ", "CST-8", 1);
        ::tzset();
    }
    void TearDown() override
    {
        if (FOldTz)
            ::setenv("TZ", FOldTz->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    std::optional<std::string> FOldTz;
};

TEST_F(Clihistory, DatesInLocalTimeUnlessAnOffsetIsGiven)
{
    EXPECT_EQ(ParseDate("2026-12-08"), Utc(kDec8Utc - 8 * 3600));
    EXPECT_EQ(ParseDate("2026-12-08T13:05"), Utc(kDec8Utc + 5 * 3600 + 5 * 60));
    EXPECT_EQ(ParseDate("2026-12-08 13:05:07"), Utc(kDec8Utc + 5 * 3600 + 5 * 60 + 7));
    EXPECT_EQ(ParseDate("2026-12-08T13:05:07Z"), Utc(kDec8Utc + 13 * 3600 + 5 * 60 + 7));
    EXPECT_EQ(ParseDate("2026-12-08T13:05:07+08:00"), Utc(kDec8Utc + 5 * 3600 + 5 * 60 + 7));
    EXPECT_EQ(ParseDate("2026-12-08T00:00-0130"), Utc(kDec8Utc + 90 * 60));
    EXPECT_EQ(ParseDate("2026-12-08T00:00:00.25Z"), Utc(kDec8Utc) + 250ms);
    EXPECT_EQ(ParseDate("2024-02-29"), Utc(1'709'136'000));  // 2024-02-28T16:00:00Z
    // Beyond the clock's span: its ends, not a wrapped-around time.
    EXPECT_EQ(ParseDate("2999-01-01"), TTimePoint::max());
    EXPECT_EQ(ParseDate("0001-01-01T00:00Z"), TTimePoint::min());
}

TEST_F(Clihistory, BadDatesAreUsageErrors)
{
    for (const char* text : {"", "yesterday", "2026-12-8", "20261208", "2026-13-01", "2026-00-10", "2026-02-29",
                             "2026-04-31", "2026-12-08T24:00", "2026-12-08T12:60", "2026-12-08T13",
                             "2026-12-08T13:05+25:00", "2026-12-08T13:05 ", "2026-12-08Z"}) {
        try {
            ParseDate(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EUsageError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("bad date '" + std::string(text) + "'", 0), 0u);
        }
    }
}

std::vector<TRunSummary> Runs()
{
    return {{4, Utc(kDec8Utc), Utc(kDec8Utc) + 1500ms, "家里", 12.345, 2, 3},
            {9, Utc(kDec8Utc + 60), Utc(kDec8Utc + 62), "a,\"b\"", std::nullopt, 0, 1}};
}

TEST_F(Clihistory, HistoryInTheThreeFormats)
{
    EXPECT_EQ(FormatHistoryTable(Runs()), "开始时间             方案   平均耗时(毫秒)  响应/总数\n"
                                          "2026-12-08 08:00:00  家里            12.35  2/3\n"
                                          "2026-12-08 08:01:00  a,\"b\"               -  0/1\n"
                                          "\n测速次数: 2\n");
    EXPECT_EQ(FormatHistoryCsv(Runs()), "id,started,ended,plan,average_ms,answered,total\r\n"
                                        "4,2026-12-08T08:00:00+08:00,2026-12-08T08:00:01+08:00,家里,12.35,2,3\r\n"
                                        "9,2026-12-08T08:01:00+08:00,2026-12-08T08:01:02+08:00,\"a,\"\"b\"\"\",,0,1\r\n");
    EXPECT_EQ(FormatHistoryJson(Runs()),
              "{\n  \"runs\": [\n"
              "    {\"id\": 4, \"started\": \"2026-12-08T08:00:00+08:00\", \"ended\": \"2026-12-08T08:00:01+08:00\","
              " \"plan\": \"家里\", \"average_ms\": 12.35, \"answered\": 2, \"total\": 3},\n"
              "    {\"id\": 9, \"started\": \"2026-12-08T08:01:00+08:00\", \"ended\": \"2026-12-08T08:01:02+08:00\","
              " \"plan\": \"a,\\\"b\\\"\", \"average_ms\": null, \"answered\": 0, \"total\": 1}\n  ]\n}\n");
    EXPECT_EQ(FormatHistoryJson({}), "{\n  \"runs\": []\n}\n");
    EXPECT_EQ(FormatHistoryTable({}), "开始时间  方案  平均耗时(毫秒)  响应/总数\n\n测速次数: 0\n");
}

// A plan name with a terminal's escape is shown escaped in the table only.
TEST_F(Clihistory, TableEscapesControlCharactersInPlanNames)
{
    std::vector<TRunSummary> runs{{1, Utc(kDec8Utc), Utc(kDec8Utc), "x\x1b[2Jy", 1.0, 1, 1}};
    EXPECT_NE(FormatHistoryTable(runs).find("x\\x1b[2Jy"), std::string::npos);
    EXPECT_NE(FormatHistoryCsv(runs).find("x\x1b[2Jy"), std::string::npos);
}

TEST_F(Clihistory, RecordOfARunIsInUtf8WithEveryTry)
{
    TRunReport report;
    report.PlanName = Utf8ToGbk("办公室").value();
    report.Started = Utc(kDec8Utc);
    report.Ended = Utc(kDec8Utc) + 2s;
    TDNSDispInfo info;
    info.Name = Utf8ToGbk("网关").value();
    info.DomainIP = "gw.example";
    info.DoType = dtDNSQuery;
    info.IP = "127.0.0.7";
    report.Items.push_back({info, {1500us, std::nullopt}, {}, {}});
    const TRunRecord run = RecordOf(report);
    EXPECT_EQ(run.Plan, "办公室");
    EXPECT_EQ(run.Started, report.Started);
    EXPECT_EQ(run.Ended, report.Ended);
    ASSERT_EQ(run.Items.size(), 1u);
    EXPECT_EQ(run.Items[0].Name, "网关");
    EXPECT_EQ(run.Items[0].Host, "gw.example");
    EXPECT_EQ(run.Items[0].Method, dtDNSQuery);
    EXPECT_EQ(run.Items[0].Address, "127.0.0.7");
    EXPECT_EQ(run.Items[0].Tries, (TTryTimes{1500us, std::nullopt}));
}

}  // namespace
