#include "cli/Clirun.h"

#include "tests/support/Httpserver.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Testclock.h"
#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

TDNSDispInfo PingItem(const std::string& name, const std::string& host)
{
    TDNSDispInfo item;
    item.Name = name;
    item.DomainIP = host;
    item.DoType = dtPing;
    return item;
}

// The names a lookup was asked for, from the threads that look them up.
struct TAsked {
    std::mutex Mutex;
    std::vector<std::string> Names;
};

// orvel-cli's run asks the one host lookup for its names, like the window's.
TEST(RunPlan, NamesGoThroughTheHostLookup)
{
    TTestClock clock;
    TClockScope clockScope(clock);
    auto asked = std::make_shared<TAsked>();
    THostLookupScope lookup([asked](const std::string& host) -> std::optional<std::string> {
        std::lock_guard lock(asked->Mutex);
        asked->Names.push_back(host);
        if (host == "box.test")
            return "127.0.0.1";
        return std::nullopt;
    });
    int reports = 0;
    TRunReport report = RunPlan("plan", {PingItem("box", "box.test"), PingItem("lost", "lost.test")}, {},
                                [&reports](int finished, int total) {
                                    EXPECT_EQ(finished, ++reports);
                                    EXPECT_EQ(total, 2);
                                });
    std::sort(asked->Names.begin(), asked->Names.end());  // looked up at once, answered in any order
    EXPECT_EQ(asked->Names, (std::vector<std::string>{"box.test", "lost.test"}));
    EXPECT_EQ(reports, 2);
    ASSERT_EQ(report.Items.size(), 2u);
    EXPECT_EQ(report.Items[0].Info.IP, "127.0.0.1");
    EXPECT_EQ(report.Items[0].Info.Note, "IP[127.0.0.1] ");
    const TDNSDispInfo& lost = report.Items[1].Info;
    EXPECT_EQ(lost.IP, "");
    EXPECT_EQ(lost.Note, "\xD3\xF2\xC3\xFB\xBD\xE2\xCE\xF6IP\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC\xA1\xA3");  // 域名解析IP地址失败。
    EXPECT_EQ(lost.State, tsNoResponse);
    EXPECT_EQ(lost.FailCount, 5);
    EXPECT_EQ(report.Items[1].Tries, TTryTimes(5));  // no try was made
}

// Every try's own time is kept, in the order of the tries, to the microsecond.
TEST(RunPlan, KeepsTheTimeOfEveryTry)
{
    ClearProxyEnvironment();
    TTestClock clock;
    TClockScope clockScope(clock);
    THttpServer server;
    THttpServer::TResponse page;
    page.DelayMs = 5;
    server.SetResponse(page);
    TDNSDispInfo item = PingItem("page", server.HostPort());
    item.DoType = dtHomePage;
    TRunReport report = RunPlan("plan", {item}, {}, {});
    ASSERT_EQ(report.Items.size(), 1u);
    const TItemResult& result = report.Items[0];
    ASSERT_EQ(result.Info.State, tsDone);
    ASSERT_EQ(result.Tries.size(), 5u);
    std::chrono::microseconds sum{0};
    for (const auto& time : result.Tries) {
        ASSERT_TRUE(time);
        EXPECT_GE(*time, std::chrono::milliseconds(5));
        sum += *time;
    }
    const double mean = std::chrono::duration<double, std::milli>(sum).count() / 5;
    EXPECT_DOUBLE_EQ(result.Info.AvgTime, mean);
}

}  // namespace
