#include "engine/Calcspendingthread.h"
#include "engine/Thread.h"
#include "engine/Trytimes.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Failingalloc.h"
#include "tests/support/Testclock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TElapsed = std::chrono::microseconds;

using TScript = std::vector<std::optional<std::chrono::microseconds>>;

// Scripted tries: nullopt is a failure, a value a success with that time.
TTryOperation Script(TScript tries, std::vector<std::string>* targets = nullptr)
{
    auto next = std::make_shared<size_t>(0);
    return [tries, next, targets](const TDNSDispInfo&, const std::string& target, TElapsed& elapsed,
                                  const std::atomic<bool>&) {
        if (targets)
            targets->push_back(target);
        const auto& outcome = tries.at((*next)++);
        if (outcome)
            elapsed = *outcome;
        return outcome.has_value();
    };
}

class CalcSpendingTest : public ::testing::Test {
protected:
    // Runs one worker to its report; the report must come on this thread.
    void Measure(TDNSDispInfo& item, TTryOperation tryOperation, TTryObserver observer = {},
                 std::shared_ptr<TWorkerControl> control = nullptr)
    {
        if (!control)
            control = std::make_shared<TWorkerControl>();
        TWorkerSetup setup;
        setup.Try = std::move(tryOperation);
        setup.OnTry = std::move(observer);
        setup.Control = control;
        bool reported = false;
        TCalcSpendingThread::Launch(
            &item,
            [&](TDNSDispInfo* finished) {
                EXPECT_EQ(finished, &item);
                EXPECT_EQ(std::this_thread::get_id(), UiThread);
                reported = true;
            },
            5000, 5, std::move(setup));
        ASSERT_TRUE(Executor.RunUntil([&] { return reported; }, 20s));
        ASSERT_TRUE(control->WaitNoneAlive(10s));  // the worker is gone
        TThread::JoinAll();
    }

    static TDNSDispInfo Item(int8_t method, std::string host, std::string ip)
    {
        TDNSDispInfo item;
        item.Name = "item";
        item.DomainIP = std::move(host);
        item.IP = std::move(ip);
        item.DoType = method;
        item.State = tsTesting;
        item.AvgTime = -1;
        return item;
    }

    std::thread::id UiThread = std::this_thread::get_id();
    TQueueUiExecutor Executor;
    TUiExecutorScope Scope{Executor};
    TTestClock Clock;
    TClockScope ClockScope{Clock};
};

using TPauses = std::vector<std::chrono::milliseconds>;

TEST_F(CalcSpendingTest, FiveSuccessesAverageToTheirMean)
{
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    Measure(item, Script({10ms, 20ms, 30ms, 40ms, 50ms}));
    EXPECT_EQ(item.State, tsDone);
    EXPECT_DOUBLE_EQ(item.AvgTime, 30.0);
    EXPECT_EQ(item.FailCount, 0);
    // A pause after every try, the last one included.
    EXPECT_EQ(Clock.Pauses(), TPauses(5, TCalcSpendingThread::kPauseBetweenTries));
}

TEST_F(CalcSpendingTest, FailedTriesCountAndStayOutOfTheAverage)
{
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    Measure(item, Script({15ms, std::nullopt, 25ms, std::nullopt, std::nullopt}));
    EXPECT_EQ(item.State, tsDone);
    EXPECT_DOUBLE_EQ(item.AvgTime, 20.0);
    EXPECT_EQ(item.FailCount, 3);
    EXPECT_EQ(Clock.Pauses().size(), 5u);  // failed tries are paused after too
}

// Whole milliseconds made 0.043 ms a 0 and 1.9 ms a 1; the sum and the
// average keep every microsecond.
TEST_F(CalcSpendingTest, SubMillisecondTriesAverageToTheMicrosecond)
{
    TDNSDispInfo item = Item(dtPing, "127.0.0.1", "127.0.0.1");
    Measure(item, Script({43us, 51us, std::nullopt, 40us, 1900us}));
    EXPECT_EQ(item.State, tsDone);
    EXPECT_EQ(item.FailCount, 1);
    EXPECT_DOUBLE_EQ(item.AvgTime, 0.5085);  // (43 + 51 + 40 + 1900) / 4 us

    TDNSDispInfo loopback = Item(dtPing, "127.0.0.1", "127.0.0.1");
    Measure(loopback, Script({43us, 41us, 44us, 42us, 45us}));
    EXPECT_DOUBLE_EQ(loopback.AvgTime, 0.043);
}

// The list's average and the details' mean of the same tries are one figure,
// to the last bit: a table and its details never disagree in a digit.
TEST_F(CalcSpendingTest, TheAverageIsTheMeanOfTheTryFigures)
{
    const TScript script{1001us, 2002us, std::nullopt, 3337us, 9us};
    TDNSDispInfo item = Item(dtPing, "127.0.0.1", "127.0.0.1");
    Measure(item, Script(script));
    const std::optional<TTryFigures> figures = TryFigures(script);
    ASSERT_TRUE(figures);
    EXPECT_EQ(item.AvgTime, figures->Mean);
}

TEST_F(CalcSpendingTest, LongTriesAddUpWithoutWrapping)
{
    // Five tries of an hour each: more microseconds than 32 bits hold.
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    Measure(item, Script({1h, 1h, 1h, 1h, 1h}));
    EXPECT_DOUBLE_EQ(item.AvgTime, 3600000.0);
}

TEST_F(CalcSpendingTest, ZeroMillisecondsIsASuccess)
{
    TDNSDispInfo item = Item(dtPing, "127.0.0.1", "127.0.0.1");
    Measure(item, Script({0ms, 0ms, 0ms, std::nullopt, 0ms}));
    EXPECT_EQ(item.State, tsDone);
    EXPECT_DOUBLE_EQ(item.AvgTime, 0.0);
    EXPECT_EQ(item.FailCount, 1);
}

TEST_F(CalcSpendingTest, AllTriesFailedEndsWithoutResponseAndKeepsTheOldAverage)
{
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    Measure(item, Script({std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(item.State, tsNoResponse);
    EXPECT_EQ(item.FailCount, 5);
    EXPECT_DOUBLE_EQ(item.AvgTime, -1);
}

TEST_F(CalcSpendingTest, AnEmptyTargetEndsAtOnceWithoutAnyTryOrPause)
{
    TDNSDispInfo item = Item(dtPing, "no.such.host", "");
    std::vector<std::string> targets;
    Measure(item, Script({1ms, 1ms, 1ms, 1ms, 1ms}, &targets));
    EXPECT_TRUE(Clock.Pauses().empty());
    EXPECT_TRUE(targets.empty());
    EXPECT_EQ(item.State, tsNoResponse);
    EXPECT_EQ(item.FailCount, 5);
}

// The observer hears why: each try failed, the name unresolved or the port missing.
TEST_F(CalcSpendingTest, AnEmptyTargetTellsEachTryWhyItFailed)
{
    for (const auto& [item, cause] :
         {std::pair{Item(dtPing, "no.such.host", ""), TTryCause::NameNotResolved},
          std::pair{Item(dtTCPConnect, "no.such.host:80", ""), TTryCause::NameNotResolved},
          std::pair{Item(dtTCPConnect, "127.0.0.1", ""), TTryCause::BadTarget}}) {
        TDNSDispInfo measured = item;
        std::mutex mutex;
        std::vector<std::pair<int, TTryCause>> seen;
        auto observer = [&](const TDNSDispInfo&, int index, const TTryOutcome& outcome) {
            std::lock_guard lock(mutex);
            EXPECT_FALSE(outcome.Ok);
            seen.emplace_back(index, outcome.Cause);
        };
        Measure(measured, Script({1ms, 1ms, 1ms, 1ms, 1ms}), observer);
        const std::vector<std::pair<int, TTryCause>> each{{0, cause}, {1, cause}, {2, cause}, {3, cause}, {4, cause}};
        EXPECT_EQ(seen, each) << item.DomainIP;
        EXPECT_TRUE(Clock.Pauses().empty());
    }
}

TEST_F(CalcSpendingTest, TheHomePageIsFetchedFromTheHostTextAndTheOthersFromTheAddress)
{
    struct TCase {
        int8_t Method;
        const char* Expected;
    };
    for (TCase c : {TCase{dtHomePage, "www.example.test/x"}, TCase{dtPing, "192.0.2.7"}, TCase{dtDNSQuery, "192.0.2.7"}}) {
        TDNSDispInfo item = Item(c.Method, "www.example.test/x", "192.0.2.7");
        std::vector<std::string> targets;
        Measure(item, Script({1ms, 2ms, 3ms, 4ms, 5ms}, &targets));
        EXPECT_EQ(targets, std::vector<std::string>(5, c.Expected)) << "method " << int(c.Method);
    }
}

TEST_F(CalcSpendingTest, TheObserverHearsOfEveryTry)
{
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    std::mutex mutex;
    std::vector<std::tuple<int, bool, std::chrono::microseconds>> seen;
    TTryObserver observer = [&](const TDNSDispInfo& tried, int index, const TTryOutcome& outcome) {
        EXPECT_EQ(tried.Name, "item");
        std::lock_guard lock(mutex);
        seen.emplace_back(index, outcome.Ok, outcome.Ok ? outcome.Elapsed : 0us);
    };
    Measure(item, Script({7ms, std::nullopt, 9ms, 11043us, std::nullopt}), observer);
    const std::vector<std::tuple<int, bool, std::chrono::microseconds>> expected{
        {0, true, 7ms}, {1, false, 0us}, {2, true, 9ms}, {3, true, 11043us}, {4, false, 0us}};
    EXPECT_EQ(seen, expected);
}

TEST_F(CalcSpendingTest, ResultsAreWrittenOnlyInTheReport)
{
    // While the worker measures, its record keeps what it had.
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    item.FailCount = 42;
    std::atomic<int> failCountDuringTries{0};
    TTryOperation tryOperation = [&](const TDNSDispInfo& tried, const std::string&, TElapsed& elapsed,
                                     const std::atomic<bool>&) {
        failCountDuringTries = tried.FailCount;
        elapsed = 3ms;
        return true;
    };
    Measure(item, tryOperation);
    EXPECT_EQ(failCountDuringTries.load(), 42);
    EXPECT_EQ(item.FailCount, 0);
    EXPECT_EQ(item.State, tsDone);
}

TEST_F(CalcSpendingTest, ACancelledWorkerStopsAfterItsCurrentTryAndStillReports)
{
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    auto control = std::make_shared<TWorkerControl>();
    std::atomic<int> tries{0};
    TTryOperation tryOperation = [&](const TDNSDispInfo&, const std::string&, TElapsed& elapsed,
                                     const std::atomic<bool>&) {
        if (++tries == 2)
            control->Cancel();
        elapsed = 4ms;
        return true;
    };
    Measure(item, tryOperation, {}, control);
    EXPECT_EQ(tries.load(), 2);
    EXPECT_EQ(Clock.Pauses().size(), 1u);  // none after the try that saw the request to stop
    EXPECT_EQ(item.State, tsDone);
    EXPECT_EQ(item.FailCount, 3);  // the tries not made count as failed
    EXPECT_TRUE(control->WaitNoneAlive(10s));
}

TEST_F(CalcSpendingTest, AWorkerWhoseReportThrowsIsGoneAllTheSame)
{
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    auto control = std::make_shared<TWorkerControl>();
    TWorkerSetup setup;
    setup.Try = Script({4ms, 4ms, 4ms, 4ms, 4ms});
    setup.Control = control;
    TCalcSpendingThread::Launch(
        &item, [](TDNSDispInfo*) { throw std::runtime_error("listener failed"); }, 5000, 5, std::move(setup));
    // The report's error reaches whoever serves the queue; a shutdown
    // waiting for the worker would otherwise wait for ever.
    EXPECT_THROW(Executor.RunUntil([] { return false; }, 10s), std::runtime_error);
    EXPECT_TRUE(control->WaitNoneAlive(10s));
    TThread::JoinAll();
}

TEST_F(CalcSpendingTest, AThrowingTryIsAFailedTry)
{
    TDNSDispInfo item = Item(dtPing, "10.0.0.1", "10.0.0.1");
    auto next = std::make_shared<int>(0);
    TTryOperation tryOperation = [next](const TDNSDispInfo&, const std::string&, TElapsed& elapsed,
                                        const std::atomic<bool>&) {
        if ((*next)++ % 2 == 0)
            throw std::runtime_error("socket error");
        elapsed = 8ms;
        return true;
    };
    Measure(item, tryOperation);
    EXPECT_EQ(item.State, tsDone);
    EXPECT_EQ(item.FailCount, 3);
    EXPECT_DOUBLE_EQ(item.AvgTime, 8.0);
}

// Memory that runs out where the worker's steps run: the item still
// reports, as failed, and the control says why. Without a test clock, whose pauses are
// recorded in memory: after the try that arms the failure nothing of the
// worker may allocate but what the item's end needs.
class WorkerOutOfMemoryTest : public ::testing::Test {
protected:
    void Measure(TDNSDispInfo& item, TTryOperation tryOperation, TTryObserver observer = {})
    {
        TWorkerSetup setup;
        setup.Try = std::move(tryOperation);
        setup.OnTry = std::move(observer);
        setup.Control = Control;
        setup.Pause = 0ms;
        bool reported = false;
        TCalcSpendingThread::Launch(&item, [&](TDNSDispInfo*) { reported = true; }, 5000, 5, std::move(setup));
        ASSERT_TRUE(Executor.RunUntil([&] { return reported; }, 10s)) << "the item never reported";
        ASSERT_TRUE(Control->WaitNoneAlive(10s));
        TThread::JoinAll();
    }

    static TDNSDispInfo Item()
    {
        TDNSDispInfo item;
        item.Name = "item";
        item.DomainIP = item.IP = "10.0.0.1";
        item.State = tsTesting;
        return item;
    }

    std::shared_ptr<TWorkerControl> Control = std::make_shared<TWorkerControl>();
    TQueueUiExecutor Executor;
    TUiExecutorScope Scope{Executor};
};

TTryOperation Answering(int failAllocationsFromTry)
{
    auto made = std::make_shared<int>(0);
    return [made, failAllocationsFromTry](const TDNSDispInfo&, const std::string&, TElapsed& elapsed,
                                          const std::atomic<bool>&) {
        if (++*made == failAllocationsFromTry)
            FailAllocationsOnThisThread();
        elapsed = 3ms;
        return true;
    };
}

TEST_F(WorkerOutOfMemoryTest, MemoryRunningOutInTheObserverFailsTheItemAndItIsReported)
{
    TDNSDispInfo item = Item();
    TTryLog log;
    // Observers run on the try loop's thread: memory runs out there, for
    // the log's first entry, and is back once the failure is on its way.
    TTryObserver logTry = log.Observer();
    Measure(item, Answering(0), [logTry](const TDNSDispInfo& tried, int index, const TTryOutcome& outcome) {
        FailAllocationsOnThisThread();
        try {
            logTry(tried, index, outcome);
        } catch (...) {
            FailNoAllocations();
            throw;
        }
        FailNoAllocations();
    });
    EXPECT_EQ(item.State, tsNoResponse);
    EXPECT_EQ(item.FailCount, 5);
    EXPECT_EQ(Control->Shortage(), ENOMEM);
}

TEST_F(WorkerOutOfMemoryTest, TheReportNeedsNoMemory)
{
    TDNSDispInfo item = Item();
    Measure(item, Answering(5));  // memory runs out during the last try
    EXPECT_EQ(item.State, tsDone);
    EXPECT_EQ(item.FailCount, 0);
    EXPECT_DOUBLE_EQ(item.AvgTime, 3.0);
    EXPECT_EQ(Control->Shortage(), 0);
}

TEST_F(WorkerOutOfMemoryTest, ATryThatFindsNoMemoryIsAFailedTryAndSaysSo)
{
    TDNSDispInfo item = Item();
    auto made = std::make_shared<int>(0);
    Measure(item, [made](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
        if (++*made == 2)
            throw std::bad_alloc();
        elapsed = 3ms;
        return true;
    });
    EXPECT_EQ(item.State, tsDone);
    EXPECT_EQ(item.FailCount, 1);
    EXPECT_EQ(Control->Shortage(), ENOMEM);
}

}  // namespace
