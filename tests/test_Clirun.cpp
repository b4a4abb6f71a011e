#include "cli/Clirun.h"

#include "tests/support/Testclock.h"
#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

namespace {

TDNSDispInfo PingItem(const std::string& name, const std::string& host)
{
    TDNSDispInfo item;
    item.Name = name;
    item.DomainIP = host;
    item.DoType = dtPing;
    return item;
}

// orvel-cli's run asks the one host lookup for its names, like the window's.
TEST(RunPlan, NamesGoThroughTheHostLookup)
{
    TTestClock clock;
    TClockScope clockScope(clock);
    std::vector<std::string> asked;
    THostLookupScope lookup([&asked](const std::string& host) -> std::optional<std::string> {
        asked.push_back(host);
        if (host == "box.test")
            return "127.0.0.1";
        return std::nullopt;
    });
    int reports = 0;
    TRunReport report = RunPlan("plan", {PingItem("box", "box.test"), PingItem("lost", "lost.test")},
                                [&reports](int finished, int total) {
                                    EXPECT_EQ(finished, ++reports);
                                    EXPECT_EQ(total, 2);
                                });
    EXPECT_EQ(asked, (std::vector<std::string>{"box.test", "lost.test"}));
    EXPECT_EQ(reports, 2);
    ASSERT_EQ(report.Items.size(), 2u);
    EXPECT_EQ(report.Items[0].Info.IP, "127.0.0.1");
    EXPECT_EQ(report.Items[0].Info.Note, "IP[127.0.0.1] ");
    const TDNSDispInfo& lost = report.Items[1].Info;
    EXPECT_EQ(lost.IP, "");
    EXPECT_EQ(lost.Note, "\xD3\xF2\xC3\xFB\xBD\xE2\xCE\xF6IP\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC\xA1\xA3");  // 域名解析IP地址失败。
    EXPECT_EQ(lost.State, tsNoResponse);
    EXPECT_EQ(lost.FailCount, 5);
}

}  // namespace
