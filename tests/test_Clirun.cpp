#include "cli/Clirun.h"

#include "tests/support/Httpserver.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Testclock.h"
#include "tests/support/Waitfor.h"
#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

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

TDNSDispInfo PageItem(const std::string& name, const std::string& hostPort)
{
    TDNSDispInfo item = PingItem(name, hostPort);
    item.DoType = dtHomePage;
    return item;
}

// Count, pause, workers and the home-page limit reach every try; the window's
// fixed values stay the defaults.
TEST(RunPlan, SettingsShapeEveryItemsTries)
{
    ClearProxyEnvironment();
    TTestClock clock;
    TClockScope clockScope(clock);
    THttpServer server;
    THttpServer::TResponse page;
    page.DelayMs = 30;
    server.SetResponse(page);
    TRunSettings settings;
    settings.Count = 2;
    settings.Interval = std::chrono::milliseconds(250);
    settings.Workers = 1;
    const auto started = std::chrono::steady_clock::now();
    TRunReport report = RunPlan("plan", {PageItem("a", server.HostPort()), PageItem("b", server.HostPort())},
                                settings, {});
    // One item at a time: four fetches of 30 ms one after another.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(120));
    ASSERT_EQ(report.Items.size(), 2u);
    EXPECT_EQ(report.TestTimes, 2);
    for (const TItemResult& item : report.Items) {
        EXPECT_EQ(item.Info.State, tsDone);
        EXPECT_EQ(item.Tries.size(), 2u);
    }
    // Between each item's two tries, and none after its last, as ping's -i.
    EXPECT_EQ(clock.Pauses(), std::vector<std::chrono::milliseconds>(2, std::chrono::milliseconds(250)));

    // A page slower than the limit fails, and the try ends at the limit.
    page.DelayMs = 3000;
    server.SetResponse(page);
    settings.Count = 1;
    settings.HomePageTimeout = std::chrono::milliseconds(200);
    const auto limited = std::chrono::steady_clock::now();
    report = RunPlan("plan", {PageItem("slow", server.HostPort())}, settings, {});
    EXPECT_LT(std::chrono::steady_clock::now() - limited, std::chrono::milliseconds(2500));
    EXPECT_EQ(report.Items[0].Info.State, tsNoResponse);
    EXPECT_EQ(ExitStatus(report), 1);
}

// A stop from another thread ends tries in flight at once; a stop already
// requested ends the next run before it measures anything.
TEST(RunPlan, AStopAbortsTheRunInProgress)
{
    ClearProxyEnvironment();
    THttpServer server;
    THttpServer::TResponse page;
    page.DelayMs = 10000;
    server.SetResponse(page);
    TRunStop stop;
    std::thread stopper([&] {
        // Both tries in flight: the server holds their requests.
        EXPECT_TRUE(WaitFor([&] { return server.Requests().size() == 2; }, std::chrono::seconds(5)));
        stop.Request();
    });
    const auto started = std::chrono::steady_clock::now();
    TRunReport report = RunPlan("plan", {PageItem("a", server.HostPort()), PageItem("b", server.HostPort())},
                                TRunSettings{}, {}, &stop);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(report.Aborted);
    EXPECT_TRUE(stop.Requested());
    EXPECT_TRUE(stop.WaitFor(std::chrono::hours(1)));  // stays requested

    const auto again = std::chrono::steady_clock::now();
    report = RunPlan("plan", {PageItem("a", server.HostPort())}, TRunSettings{}, {}, &stop);
    EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::seconds(5));
    EXPECT_TRUE(report.Aborted);
}

// What a stop leaves: an item that reported as it was, one in flight with
// the tries it made (not the one the stop cut off), one not begun waiting.
TEST(RunPlan, AStopKeepsTheTriesMadeOfItemsInFlight)
{
    ClearProxyEnvironment();
    THttpServer server;
    THttpServer::TResponse page;
    server.SetResponse(page);
    TRunSettings settings;
    settings.Count = 3;
    settings.Interval = std::chrono::milliseconds(300);
    settings.Workers = 1;
    TRunStop stop;
    std::thread stopper([&] {
        // The first fetch answered, the second held until the stop.
        EXPECT_TRUE(WaitFor([&] { return server.Requests().size() == 1; }, std::chrono::seconds(5)));
        page.DelayMs = 10000;
        server.SetResponse(page);
        EXPECT_TRUE(WaitFor([&] { return server.Requests().size() == 2; }, std::chrono::seconds(5)));
        stop.Request();
    });
    TDNSDispInfo closed = PingItem("closed", "127.0.0.1:" + std::to_string(THttpServer::RefusedPort()));
    closed.DoType = dtTCPConnect;
    TRunReport report = RunPlan("plan", {closed, PageItem("a", server.HostPort()), PageItem("b", server.HostPort())},
                                settings, {}, &stop);
    stopper.join();
    ASSERT_TRUE(report.Aborted);
    ASSERT_EQ(report.Items.size(), 3u);

    const TItemResult& finished = report.Items[0];
    EXPECT_FALSE(finished.TriesMade);
    EXPECT_EQ(finished.Info.State, tsNoResponse);
    EXPECT_EQ(finished.Info.FailCount, 3);

    const TItemResult& cut = report.Items[1];
    ASSERT_EQ(cut.TriesMade, 1);
    EXPECT_EQ(cut.Info.State, tsDone);
    EXPECT_EQ(cut.Info.FailCount, 0);
    ASSERT_TRUE(cut.Tries.at(0));
    const double onlyTry = std::chrono::duration<double, std::milli>(*cut.Tries[0]).count();
    EXPECT_DOUBLE_EQ(cut.Info.AvgTime, onlyTry);
    EXPECT_FALSE(cut.Outcomes.at(1));  // cut off, not failed
    EXPECT_FALSE(cut.Tries.at(1));

    const TItemResult& waiting = report.Items[2];
    EXPECT_EQ(waiting.TriesMade, 0);
    EXPECT_EQ(waiting.Info.State, tsWaiting);
    EXPECT_EQ(ExitStatus(report), 1);  // not every item answered
}

TEST(RunPlan, ExitStatusIsZeroOnlyWhenEveryItemAnswered)
{
    TRunReport report;
    EXPECT_EQ(ExitStatus(report), 0);
    report.Items.resize(2);
    report.Items[0].Info.State = tsDone;
    report.Items[1].Info.State = tsDone;
    EXPECT_EQ(ExitStatus(report), 0);
    report.Items[1].Info.State = tsNoResponse;
    EXPECT_EQ(ExitStatus(report), 1);
}

}  // namespace
