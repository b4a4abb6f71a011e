#include "cli/Clihabits.h"

#include "vqlib/Gbk.h"

#include <gtest/gtest.h>

namespace {

TDNSDispInfo Item(const std::string& hostUtf8, uint8_t state = tsDone)
{
    TDNSDispInfo item;
    item.Name = Utf8ToGbk("名字").value();
    item.DomainIP = Utf8ToGbk(hostUtf8).value();
    item.State = state;
    return item;
}

TEST(Clihabits, EachTryIsOneLineWithItsNumberAndTimeOrCause)
{
    TTryOutcome answered;
    answered.Ok = true;
    answered.Elapsed = std::chrono::microseconds(52);
    EXPECT_EQ(TryLine(Item("127.0.0.1"), 0, answered), "127.0.0.1 : [1], 0.052 ms\n");
    answered.Elapsed = std::chrono::microseconds(1234567);
    EXPECT_EQ(TryLine(Item("网页.test"), 4, answered), "网页.test : [5], 1234.567 ms\n");

    TTryOutcome failed;
    failed.Cause = TTryCause::Timeout;
    EXPECT_EQ(TryLine(Item("[::1]:22"), 1, failed), "[::1]:22 : [2], timeout\n");
    failed.Cause = TTryCause::DnsAnswer;
    failed.DnsRcode = 3;
    EXPECT_EQ(TryLine(Item("127.0.0.1:5353"), 2, failed), "127.0.0.1:5353 : [3], dns_nxdomain\n");
    // A host holding a line break stays on its line.
    EXPECT_EQ(TryLine(Item("a\nb"), 0, failed).find('\n'), TryLine(Item("a\nb"), 0, failed).size() - 1);
}

TEST(Clihabits, TargetListsSplitTheItemsByWhetherTheyAnswered)
{
    TRunReport report;
    for (const auto& [host, state] : std::vector<std::pair<std::string, uint8_t>>{
             {"127.0.0.1", tsDone}, {"127.0.0.2", tsNoResponse}, {"网页.test", tsDone}, {"[::1]:9", tsNoResponse}})
        report.Items.push_back({Item(host, state), {}, {}, {}});
    EXPECT_EQ(TargetList(report, true), "127.0.0.1\n网页.test\n");
    EXPECT_EQ(TargetList(report, false), "127.0.0.2\n[::1]:9\n");
    EXPECT_EQ(TargetList(TRunReport{}, true), "");
}

}  // namespace
