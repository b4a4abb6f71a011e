// The watch loop with a stand-in for the run: when runs start, what is
// handed on, and the status it ends with. Times by the steady clock, with
// bounds generous enough for a loaded sanitizer build.

#include "cli/Watch.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A report whose exit status is the one given.
TRunReport ReportWithStatus(int status)
{
    TRunReport report;
    TItemResult item;
    item.Info.State = status == 0 ? tsDone : tsNoResponse;
    report.Items.push_back(item);
    return report;
}

TRunReport AbortedReport()
{
    TRunReport report = ReportWithStatus(0);
    report.Aborted = true;
    return report;
}

// The stand-in: each run takes its duration from the list and returns its
// report; after the last it requests the stop itself.
struct TScript {
    struct TStep {
        std::chrono::milliseconds Takes;
        TRunReport Report;
    };
    std::vector<TStep> Steps;
    std::vector<Clock::time_point> Starts;
    std::vector<int> Completed;  // the exit status of each report handed on

    TRunReport Run(TRunStop& stop)
    {
        Starts.push_back(Clock::now());
        const TStep& step = Steps.at(Starts.size() - 1);
        std::this_thread::sleep_for(step.Takes);
        if (Starts.size() == Steps.size())
            stop.Request();
        return step.Report;
    }

    int Watch(std::chrono::milliseconds period, TRunStop& stop)
    {
        return RunWatch(
            period, stop, [this](TRunStop& s) { return Run(s); },
            [this](const TRunReport& report) { Completed.push_back(ExitStatus(report)); });
    }

    Clock::duration Gap(size_t run) const { return Starts.at(run) - Starts.at(run - 1); }
};

TEST(Watch, StartsARunEveryPeriod)
{
    TScript script;
    for (int i = 0; i < 4; ++i)
        script.Steps.push_back({300ms, ReportWithStatus(0)});
    TRunStop stop;
    EXPECT_EQ(script.Watch(400ms, stop), 0);

    // From start to start: a period counted from the end of each run would
    // make the gaps 700 ms.
    ASSERT_EQ(script.Starts.size(), 4u);
    for (size_t run = 1; run < 4; ++run) {
        EXPECT_GE(script.Gap(run), 400ms) << run;
        EXPECT_LT(script.Gap(run), 650ms) << run;
    }
    EXPECT_EQ(script.Completed.size(), 4u);
}

TEST(Watch, ALongRunIsFollowedAtOnceAndNotMadeUpFor)
{
    TScript script;
    script.Steps = {{800ms, ReportWithStatus(0)}, {10ms, ReportWithStatus(0)}, {10ms, ReportWithStatus(0)}};
    TRunStop stop;
    script.Watch(400ms, stop);

    ASSERT_EQ(script.Starts.size(), 3u);
    EXPECT_GE(script.Gap(1), 800ms);
    EXPECT_LT(script.Gap(1), 800ms + 350ms) << "waited after a run longer than the period";
    EXPECT_GE(script.Gap(2), 400ms) << "the run after a late one started early to catch up";
}

TEST(Watch, EndsWithTheStatusOfTheLastCompletedRun)
{
    TScript script;
    script.Steps = {{0ms, ReportWithStatus(1)}, {0ms, ReportWithStatus(0)}, {0ms, AbortedReport()}};
    TRunStop stop;
    EXPECT_EQ(script.Watch(1ms, stop), 0);
    EXPECT_EQ(script.Completed, (std::vector<int>{1, 0})) << "an aborted run was handed on";

    TScript failing;
    failing.Steps = {{0ms, ReportWithStatus(0)}, {0ms, ReportWithStatus(1)}, {0ms, AbortedReport()}};
    TRunStop again;
    EXPECT_EQ(failing.Watch(1ms, again), 1);
}

TEST(Watch, ARunThatEndsAsTheStopComesStillCounts)
{
    TScript script;
    script.Steps = {{0ms, ReportWithStatus(1)}, {0ms, ReportWithStatus(0)}};  // the last requests the stop
    TRunStop stop;
    EXPECT_EQ(script.Watch(1ms, stop), 0);
    EXPECT_EQ(script.Completed, (std::vector<int>{1, 0}));
}

TEST(Watch, NoCompletedRunEndsWithOne)
{
    TScript script;
    script.Steps = {{0ms, AbortedReport()}};
    TRunStop stop;
    EXPECT_EQ(script.Watch(1ms, stop), 1);
    EXPECT_TRUE(script.Completed.empty());

    TScript never;
    TRunStop already;
    already.Request();
    EXPECT_EQ(never.Watch(1ms, already), 1);
    EXPECT_TRUE(never.Starts.empty());
}

TEST(Watch, AStopBetweenRunsEndsTheWaitAtOnce)
{
    TRunStop stop;
    int runs = 0;
    std::thread stopper;
    const Clock::time_point started = Clock::now();
    const int status = RunWatch(
        1h, stop,
        [&](TRunStop&) {
            ++runs;
            stopper = std::thread([&stop] {
                std::this_thread::sleep_for(100ms);
                stop.Request();
            });
            return ReportWithStatus(1);
        },
        [](const TRunReport&) {});
    stopper.join();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(runs, 1);
    EXPECT_LT(Clock::now() - started, 30s);
}

// Two runs and a stopped one: every try made counts, the figures of the
// answered ones; a stopped run that made no try is no run.
TEST(WatchSummary, CountsEveryTryMadeAndTheFiguresOfTheAnswers)
{
    const auto run = [](TTryTimes answering, int32_t failing, std::optional<int32_t> made) {
        TRunReport report;
        report.TestTimes = 2;
        report.Aborted = made.has_value();
        TItemResult up;
        up.Info.Name = "up";
        up.Info.DomainIP = "127.0.0.1";
        up.Tries = std::move(answering);
        up.TriesMade = made;
        TItemResult down;
        down.Info.Name = "down";
        down.Info.DomainIP = "127.0.0.2";
        down.Info.DoType = dtTCPConnect;
        down.Tries = TTryTimes(2);
        down.TriesMade = made ? std::optional<int32_t>(failing) : std::nullopt;
        report.Items = {up, down};
        return report;
    };
    TWatchSummary summary;
    summary.Add(run({3ms, 5ms}, 2, std::nullopt));
    summary.Add(run({1ms, std::nullopt}, 2, std::nullopt));
    summary.Add(run({TTryTimes(2)}, 0, 0));  // stopped before a try
    EXPECT_EQ(summary.Runs(), 2);
    summary.Add(run({4ms, std::nullopt}, 1, 1));  // stopped after the first try
    EXPECT_EQ(summary.Runs(), 3);
    const std::string text = summary.Format();
    EXPECT_EQ(text.substr(0, text.find('\n')), "测速次数: 3 (最后一次已停止)");
    const size_t rows = text.find('\n') + 1;
    EXPECT_EQ(text.substr(rows),
              AlignedColumns({{"名称", "域名/IP地址", "测速方式", "尝试次数", "失败次数", "最快(毫秒)", "平均(毫秒)",
                               "最慢(毫秒)"},
                              {"up", "127.0.0.1", "Ping", "5", "1", "1.00", "3.25", "5.00"},
                              {"down", "127.0.0.2", "TCP连接", "5", "5", "-", "-", "-"}},
                             3));
}

}  // namespace
