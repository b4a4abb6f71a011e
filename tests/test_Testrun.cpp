#include "engine/Testrun.h"
#include "engine/Icmpecho.h"
#include "engine/Thread.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Asuser.h"
#include "tests/support/Heldlookups.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Testclock.h"
#include "tests/support/Waitfor.h"
#include "vqlib/Vqhttp.h"
#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <iterator>

#include <condition_variable>
#include <map>
#include <set>
#include <utility>

namespace {

using namespace std::chrono_literals;
using TElapsed = std::chrono::microseconds;

const std::string kResolveFailedNote = "\xD3\xF2\xC3\xFB\xBD\xE2\xCE\xF6IP\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC\xA1\xA3";

// Tries that wait until the test lets an item through.
class TGates {
public:
    void Open(const std::string& name)
    {
        std::lock_guard lock(FMutex);
        FOpen.insert(name);
        FChanged.notify_all();
    }
    void OpenAll()
    {
        std::lock_guard lock(FMutex);
        FAll = true;
        FChanged.notify_all();
    }
    TTryOperation Try()
    {
        return [this](const TDNSDispInfo& item, const std::string&, TElapsed& elapsed, const std::atomic<bool>& abort) {
            std::unique_lock lock(FMutex);
            ++FTries[item.Name];
            while (!FAll && !FOpen.count(item.Name) && !abort.load())
                FChanged.wait_for(lock, 5ms);
            elapsed = 10ms;
            return !abort.load();
        };
    }
    int Tries(const std::string& name)
    {
        std::lock_guard lock(FMutex);
        return FTries[name];
    }
    int TotalTries()
    {
        std::lock_guard lock(FMutex);
        int total = 0;
        for (const auto& [name, tries] : FTries)
            total += tries;
        return total;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::set<std::string> FOpen;
    std::map<std::string, int> FTries;
    bool FAll = false;
};

class TestRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Run.Listener.ItemStarted = [this](TDNSDispInfo& item) { Started.push_back(item.Name); };
        Run.Listener.ItemReported = [this](TDNSDispInfo& item) {
            Reported.push_back(item.Name);
            // What the window does on every report: read every record.
            for (const TDNSDispInfo& any : Items)
                Sum += any.State + any.AvgTime + any.FailCount;
        };
        Run.Listener.Completed = [this] { ++Completions; };
    }

    void AddItems(int count, int8_t method = dtPing)
    {
        for (int i = 0; i < count; ++i) {
            TDNSDispInfo item;
            item.Name = "item" + std::to_string(Items.size());
            item.DomainIP = "127.0.0.1";
            item.DoType = method;
            Items.push_back(item);
        }
    }
    int CountInState(uint8_t state) const
    {
        int count = 0;
        for (const TDNSDispInfo& item : Items)
            count += item.State == state;
        return count;
    }
    bool RunUntil(const std::function<bool()>& done) { return Executor.RunUntil(done, 30s); }

    TQueueUiExecutor Executor;
    TUiExecutorScope Scope{Executor};
    TTestClock Clock;
    TClockScope ClockScope{Clock};
    std::vector<TDNSDispInfo> Items;
    TTestRun Run{Items, 5000, 5};
    std::vector<std::string> Started;
    std::vector<std::string> Reported;
    int Completions = 0;
    double Sum = 0;
};

TEST_F(TestRunTest, TwentyStartFirstThenOnePerReportAndTheRunEndsOnce)
{
    AddItems(25);
    TGates gates;
    Run.SetTryOperation(gates.Try());
    Run.Execute();

    EXPECT_EQ(Started.size(), 20u);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(Items[i].State, i < 20 ? tsTesting : tsWaiting) << i;
    EXPECT_EQ(Run.RunningCount(), 20);

    // Each report starts the next waiting item, in list order.
    for (int finished = 0; finished < 5; ++finished) {
        gates.Open("item" + std::to_string(finished));
        ASSERT_TRUE(RunUntil([&] { return Reported.size() == size_t(finished + 1); }));
        EXPECT_EQ(Started.size(), size_t(21 + finished));
        EXPECT_EQ(Started.back(), "item" + std::to_string(20 + finished));
        EXPECT_EQ(Run.RunningCount(), 20);
        EXPECT_EQ(Run.FinishedCount(), finished + 1);
        EXPECT_EQ(CountInState(tsWaiting), 4 - finished);
        EXPECT_EQ(Completions, 0);
    }
    gates.OpenAll();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(Reported.size(), 25u);
    EXPECT_EQ(CountInState(tsDone), 25);
    EXPECT_FALSE(Run.Running());
    EXPECT_EQ(Run.RunningCount(), 0);
    EXPECT_EQ(Run.FinishedCount(), 25);
    // Nothing more arrives after the end.
    Executor.WaitAndRun(300ms);
    EXPECT_EQ(Completions, 1);
    EXPECT_EQ(Reported.size(), 25u);
}

// A program may measure fewer or more items at once than the window's twenty.
TEST_F(TestRunTest, AWorkerLimitBoundsTheItemsAtOnceAndTheReportsKeepItFull)
{
    for (int limit : {3, 25}) {
        Items.clear();
        Started.clear();
        Reported.clear();
        Completions = 0;
        AddItems(30);
        TGates gates;
        Run.SetTryOperation(gates.Try());
        Run.SetWorkerLimit(limit);
        Run.Execute();
        EXPECT_EQ(Run.RunningCount(), limit);
        gates.Open("item0");
        ASSERT_TRUE(RunUntil([&] { return Reported.size() == 1; }));
        EXPECT_EQ(Run.RunningCount(), limit);
        EXPECT_EQ(Started.back(), "item" + std::to_string(limit));
        gates.OpenAll();
        ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
        EXPECT_EQ(CountInState(tsDone), 30);
    }
}

TEST_F(TestRunTest, ManyQuickItemsEndExactlyOnceWithEveryItemReportedOnce)
{
    AddItems(60);
    std::atomic<int> observed{0};
    Run.SetTryOperation([](const TDNSDispInfo& item, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
        elapsed = std::chrono::milliseconds(item.Name.size());
        return item.Name.back() != '7';
    });
    Run.SetTryObserver([&](const TDNSDispInfo&, int, const TTryOutcome&) { ++observed; });
    Run.Execute();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(Completions, 1);
    EXPECT_EQ(Reported.size(), 60u);
    EXPECT_EQ(std::set<std::string>(Reported.begin(), Reported.end()).size(), 60u);
    EXPECT_EQ(observed.load(), 300);
    EXPECT_EQ(CountInState(tsNoResponse), 6);
    EXPECT_EQ(CountInState(tsDone), 54);
}

TEST_F(TestRunTest, AnEmptyListCompletesAtOnce)
{
    Run.Execute();
    EXPECT_EQ(Completions, 1);
    EXPECT_FALSE(Run.Running());
}

TEST_F(TestRunTest, NothingStartsBeforeTheRunBegins)
{
    AddItems(2);
    Run.StartWaitingItems(TTestRun::kFirstWorkers);
    EXPECT_TRUE(Started.empty());
    EXPECT_EQ(Completions, 0);
    EXPECT_EQ(CountInState(tsTesting), 0);
}

// The window keeps one run: each begins its counts from nothing again.
TEST_F(TestRunTest, ARunCanBeRepeatedAndCountsFromZeroEachTime)
{
    AddItems(3);
    Run.SetTryOperation([](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
        elapsed = 4ms;
        return true;
    });
    for (int round = 1; round <= 2; ++round) {
        Run.Execute();
        EXPECT_TRUE(Run.Running());
        EXPECT_EQ(Run.FinishedCount(), 0);
        ASSERT_TRUE(RunUntil([&] { return Completions == round; }));
        EXPECT_EQ(Run.FinishedCount(), 3);
        EXPECT_EQ(CountInState(tsDone), 3);
    }
    EXPECT_EQ(Reported.size(), 6u);
}

TEST_F(TestRunTest, ASingleItemsReportEndsTheRun)
{
    AddItems(1);
    Run.SetTryOperation([](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
        elapsed = 1ms;
        return true;
    });
    Run.Execute();
    EXPECT_EQ(Completions, 0);
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(Reported, std::vector<std::string>{"item0"});
}

TEST_F(TestRunTest, HostsOfPingAndDnsItemsAreResolvedAndHomePagesLeftAlone)
{
    THostLookupScope lookup([](const std::string& host) -> std::optional<std::string> {
        if (host == "good.test")
            return "192.0.2.1";
        return std::nullopt;
    });
    Items = {
        {"dotted", "127.0.0.1", dtPing, "mine", "", 0, tsDone, 0},
        {"named", "good.test", dtPing, "", "", 0, tsDone, 0},
        {"bad", "bad.test", dtPing, "old", "10.9.9.9", 0, tsDone, 0},
        {"page", "good.test", dtHomePage, "keep", "", 0, tsDone, 0},
        {"dns", "good.test", dtDNSQuery, "", "", 0, tsDone, 0},
    };
    bool resolved = false;
    Run.ResolveHosts([&resolved] { resolved = true; });
    ASSERT_TRUE(RunUntil([&] { return resolved; }));
    EXPECT_EQ(Items[0].IP, "127.0.0.1");
    EXPECT_EQ(Items[0].Note, "mine");
    EXPECT_EQ(Items[1].IP, "192.0.2.1");
    EXPECT_EQ(Items[1].Note, "IP[192.0.2.1] ");
    EXPECT_EQ(Items[2].IP, "");
    EXPECT_EQ(Items[2].Note, kResolveFailedNote);
    EXPECT_EQ(Items[3].IP, "");
    EXPECT_EQ(Items[3].Note, "keep");
    EXPECT_EQ(Items[4].IP, "192.0.2.1");
}

TEST_F(TestRunTest, IPv6LiteralsAreMeasuredAsTypedAndNamesShowTheirIPv6Address)
{
    std::mutex askedLock;  // names are looked up on several threads at once
    std::vector<std::string> asked;
    THostLookupScope lookup([&](const std::string& host) -> std::vector<std::string> {
        std::lock_guard hold(askedLock);
        asked.push_back(host);
        if (host == "six.test")
            return {"2001:db8::6"};
        if (host == "both.test")
            return {"2001:db8::6", "192.0.2.4"};
        return {};
    });
    Items = {
        {"literal", "::1", dtPing, "mine", "", 0, tsDone, 0},
        {"six", "six.test", dtPing, "", "", 0, tsDone, 0},
        {"both", "both.test", dtPing, "", "", 0, tsDone, 0},
        {"dns", "2001:db8::53", dtDNSQuery, "", "", 0, tsDone, 0},
        {"dns bracketed", "[2001:db8::53]", dtDNSQuery, "", "", 0, tsDone, 0},
        {"ping bracketed", "[::1]", dtPing, "", "", 0, tsDone, 0},
    };
    bool resolved = false;
    Run.ResolveHosts([&resolved] { resolved = true; });
    ASSERT_TRUE(RunUntil([&] { return resolved; }));
    EXPECT_EQ(Items[0].IP, "::1");
    EXPECT_EQ(Items[0].Note, "mine");
    EXPECT_EQ(Items[1].IP, "2001:db8::6");
    EXPECT_EQ(Items[1].Note, "IP[2001:db8::6] ");
    EXPECT_EQ(Items[2].IP, "192.0.2.4");
    EXPECT_EQ(Items[2].Note, "IP[192.0.2.4] ");
    EXPECT_EQ(Items[3].IP, "2001:db8::53");
    // A DNS server may be bracketed as in a web address; a Ping target is looked up as typed.
    EXPECT_EQ(Items[4].IP, "2001:db8::53");
    EXPECT_EQ(Items[4].Note, "");
    EXPECT_EQ(Items[5].IP, "");
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{"[::1]", "both.test", "six.test"}));
}

// -4 and -6: a name's address of that family only; a literal of the other
// family, or a DNS server or TCP host typed so that nothing can be taken from
// it, has nothing to measure. A DNS server's port stays in its text.
TEST_F(TestRunTest, AFamilyKeepsNamesAndLiteralsToItsAddresses)
{
    THostLookupScope lookup([](const std::string& host) -> std::vector<std::string> {
        if (host == "both.test")
            return {"2001:db8::6", "192.0.2.4"};
        if (host == "four.test")
            return {"192.0.2.5"};
        return {};
    });
    const auto resolve = [this](int family) {
        Items = {
            {"both", "both.test", dtPing, "", "", 0, tsDone, 0},
            {"four", "four.test", dtPing, "", "", 0, tsDone, 0},
            {"v4", "127.0.0.1", dtPing, "", "", 0, tsDone, 0},
            {"v6", "::1", dtPing, "", "", 0, tsDone, 0},
            {"dns v4", "127.0.0.154", dtDNSQuery, "", "", 0, tsDone, 0},
            {"dns port", "both.test:5353", dtDNSQuery, "", "", 0, tsDone, 0},
            {"dns v6 port", "[::1]:5353", dtDNSQuery, "", "", 0, tsDone, 0},
            {"dns bad", "[::1]:0", dtDNSQuery, "", "old", 0, tsDone, 0},
            {"tcp", "[::1]:22", dtTCPConnect, "", "", 0, tsDone, 0},
        };
        Run.SetAddressFamily(family);
        bool resolved = false;
        Run.ResolveHosts([&resolved] { resolved = true; });
        EXPECT_TRUE(RunUntil([&] { return resolved; }));
        std::vector<std::string> addresses;
        for (const TDNSDispInfo& item : Items)
            addresses.push_back(item.IP);
        return addresses;
    };
    EXPECT_EQ(resolve(AF_UNSPEC), (std::vector<std::string>{"192.0.2.4", "192.0.2.5", "127.0.0.1", "::1", "127.0.0.154",
                                                            "192.0.2.4", "::1", "", "::1"}));
    EXPECT_EQ(resolve(AF_INET6),
              (std::vector<std::string>{"2001:db8::6", "", "", "::1", "", "2001:db8::6", "::1", "", "::1"}));
    EXPECT_EQ(resolve(AF_INET), (std::vector<std::string>{"192.0.2.4", "192.0.2.5", "127.0.0.1", "", "127.0.0.154",
                                                          "192.0.2.4", "", "", ""}));
}

TEST_F(TestRunTest, AnUnresolvedItemEndsWithoutResponseAndTheRunGoesOn)
{
    THostLookupScope lookup([](const std::string&) { return std::optional<std::string>(); });
    AddItems(2);
    Items[1].DomainIP = "bad.test";
    std::atomic<int> tries{0};
    Run.SetTryOperation([&](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
        ++tries;
        elapsed = 2ms;
        return true;
    });
    Run.Execute();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(Items[0].State, tsDone);
    EXPECT_EQ(Items[1].State, tsNoResponse);
    EXPECT_EQ(Items[1].FailCount, 5);
    EXPECT_EQ(tries.load(), 5);
}

// "hostN.test" is 192.0.2.N; a name that begins with "bad" has no address.
std::shared_ptr<THeldLookups> SlowNameServer()
{
    return std::make_shared<THeldLookups>([](const std::string& host) -> std::optional<std::string> {
        if (host.starts_with("bad"))
            return std::nullopt;
        return "192.0.2." + host.substr(4, host.find('.') - 4);
    });
}

// Names looked up one after another would hold the UI thread for the sum of
// their lookups. Here they are all asked before any answers, the UI thread
// goes on meanwhile, and no worker starts before the last has answered.
TEST_F(TestRunTest, ASlowResolutionLooksEveryNameUpAtOnceWhileTheUiThreadGoesOn)
{
    auto server = SlowNameServer();
    THostLookupScope lookup(server->Lookup());
    AddItems(40);
    for (int i = 0; i < 40; ++i)
        Items[i].DomainIP = (i % 10 == 9 ? "bad." : "host") + std::to_string(i) + ".test";
    Items[0].DomainIP = "127.0.0.9";
    Run.SetTryOperation([](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
        elapsed = 1ms;
        return true;
    });
    std::vector<std::string> ipsAtFirstStart;
    Run.Listener.ItemStarted = [&](TDNSDispInfo& item) {
        if (ipsAtFirstStart.empty())
            for (const TDNSDispInfo& any : Items)
                ipsAtFirstStart.push_back(any.IP);
        Started.push_back(item.Name);
    };
    Run.Execute();
    EXPECT_TRUE(Run.Resolving());
    // Served by this thread while every lookup waits: a task posted now runs.
    bool served = false;
    Executor.Post([&served] { served = true; });
    ASSERT_TRUE(RunUntil([&] { return served; }));
    ASSERT_TRUE(server->WaitFor([](int inFlight, int) { return inFlight == 39; }));
    EXPECT_TRUE(Started.empty());
    EXPECT_EQ(Items[0].IP, "127.0.0.9");  // a literal needs no lookup
    EXPECT_EQ(Items[1].IP, "");
    server->Open();

    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_FALSE(Run.Resolving());
    EXPECT_EQ(server->MostInFlight(), 39);
    ASSERT_EQ(ipsAtFirstStart.size(), 40u);
    for (int i = 1; i < 40; ++i) {
        const bool bad = i % 10 == 9;
        EXPECT_EQ(ipsAtFirstStart[i], bad ? "" : "192.0.2." + std::to_string(i)) << i;
        EXPECT_EQ(Items[i].Note, bad ? kResolveFailedNote : "IP[192.0.2." + std::to_string(i) + "] ") << i;
        EXPECT_EQ(Items[i].State, bad ? tsNoResponse : tsDone) << i;
    }
}

TEST_F(TestRunTest, ShuttingDownDuringTheResolutionLeavesTheLookupsAndTheItemsAlone)
{
    auto server = SlowNameServer();
    THostLookupScope lookup(server->Lookup());
    AddItems(3);
    for (TDNSDispInfo& item : Items) {
        item.DomainIP = "host1.test";
        item.Note = "before";
        item.IP = "10.0.0.1";
    }
    Run.Execute();
    ASSERT_TRUE(server->WaitFor([](int inFlight, int) { return inFlight == 3; }));
    Run.Shutdown();  // returns while every lookup is still waiting
    EXPECT_EQ(server->Answered(), 0);
    EXPECT_FALSE(Run.Resolving());
    server->Open();
    ASSERT_TRUE(server->WaitFor([](int, int answered) { return answered == 3; }));
    Executor.RunUntil([] { return false; }, 100ms);
    EXPECT_TRUE(Started.empty());
    EXPECT_EQ(Completions, 0);
    for (const TDNSDispInfo& item : Items) {
        EXPECT_EQ(item.Note, "before");
        EXPECT_EQ(item.IP, "10.0.0.1");
    }
}

TEST_F(TestRunTest, AWorkerThatCannotBeCreatedWaitsForTheNextReport)
{
    AddItems(3);
    int attempts = 0;
    Run.SetTryOperation([](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
        elapsed = 5ms;
        return true;
    });
    Run.SetWorkerStarter([&](TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout, int32_t times,
                             TWorkerSetup setup) {
        if (attempts++ == 1)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        TCalcSpendingThread::Launch(item, std::move(onFinish), timeout, times, std::move(setup));
    });
    Run.Execute();
    // The walk stops at the failure: the item waits, and so does the next.
    EXPECT_EQ(Started, std::vector<std::string>{"item0"});
    EXPECT_EQ(Items[1].State, tsWaiting);
    EXPECT_EQ(Items[2].State, tsWaiting);
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(Completions, 1);
    EXPECT_EQ(CountInState(tsDone), 3);
    EXPECT_EQ(Reported.size(), 3u);
    EXPECT_EQ(attempts, 4);
}

// A listener that fails (memory ran out in the window's list, say) does not
// stop the run: dispatch goes on, the run completes, and the error reaches
// the report that made the call.
TEST_F(TestRunTest, AListenerThatThrowsNeitherStopsDispatchNorHidesItsError)
{
    AddItems(3);
    std::vector<TItemFinished> reports;
    std::vector<TDNSDispInfo*> measured;
    Run.SetWorkerLimit(1);
    Run.SetWorkerStarter([&](TDNSDispInfo* item, TItemFinished onFinish, int32_t, int32_t, TWorkerSetup) {
        measured.push_back(item);
        reports.push_back(std::move(onFinish));
    });
    Run.Listener.ItemReported = [this](TDNSDispInfo& item) {
        Reported.push_back(item.Name);
        throw std::bad_alloc();
    };
    Run.Listener.Completed = [this] {
        ++Completions;
        throw std::runtime_error("completion failed");
    };
    Run.Execute();
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(reports.size(), i + 1) << "the next item was not started";
        measured[i]->State = tsDone;
        EXPECT_THROW(reports[i](measured[i]), std::bad_alloc);  // the first error of the report
    }
    EXPECT_EQ(Reported, (std::vector<std::string>{"item0", "item1", "item2"}));
    EXPECT_EQ(Completions, 1);
    EXPECT_FALSE(Run.Running());
}

// A starter that refuses while limit workers of the run are alive, as the
// process limit refuses a thread: a worker counts until it has ended, after
// its report.
TTestRun::TWorkerStarter LimitedStarter(int limit, std::atomic<int>& refused, std::atomic<int>& mostAlive)
{
    return [limit, &refused, &mostAlive](TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout, int32_t times,
                                          TWorkerSetup setup) {
        const int alive = setup.Control->Alive();
        if (alive >= limit) {
            ++refused;
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        mostAlive = std::max(mostAlive.load(), alive + 1);
        TCalcSpendingThread::Launch(item, std::move(onFinish), timeout, times, std::move(setup));
    };
}

TEST_F(TestRunTest, UnderALimitOfWorkersEveryItemIsStillMeasured)
{
    for (int limit : {1, 3}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        Items.clear();
        Reported.clear();
        Completions = 0;
        AddItems(12);
        std::atomic<int> refused{0}, mostAlive{0};
        TTestRun run(Items, 5000, 1);
        run.Listener = Run.Listener;
        run.SetTryOperation([](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
            elapsed = 3ms;
            return true;
        });
        run.SetWorkerStarter(LimitedStarter(limit, refused, mostAlive));
        run.Execute();
        ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
        EXPECT_EQ(Completions, 1);
        EXPECT_EQ(CountInState(tsDone), 12);
        EXPECT_EQ(Reported.size(), 12u);
        EXPECT_GT(refused.load(), 0);
        EXPECT_LE(mostAlive.load(), limit);
        if (limit > 1) {
            EXPECT_GT(mostAlive.load(), 1);  // the places come back, not one worker for ever
        }
    }
}

TEST_F(TestRunTest, WhenNoWorkerCanBeStartedItemsEndOneAtATimeAfterTheirOwnTries)
{
    AddItems(4);
    std::vector<std::string> tried;
    Run.SetWorkerStarter([&](TDNSDispInfo* item, TItemFinished, int32_t, int32_t, TWorkerSetup) {
        tried.push_back(item->Name);
        throw std::bad_alloc();
    });
    Run.Execute();
    EXPECT_EQ(Completions, 1);
    EXPECT_EQ(CountInState(tsNoResponse), 4);
    for (const TDNSDispInfo& item : Items)
        EXPECT_EQ(item.FailCount, 5) << item.Name;
    EXPECT_TRUE(Started.empty());
    EXPECT_EQ(Reported, (std::vector<std::string>{"item0", "item1", "item2", "item3"}));
    EXPECT_EQ(Run.FinishedCount(), 4);  // given up counts as finished
    // Each was tried, and once more, before it was given up.
    EXPECT_EQ(tried, (std::vector<std::string>{"item0", "item0", "item1", "item1", "item2", "item2", "item3", "item3"}));
}

TEST_F(TestRunTest, StartsThatFailWhileWorkersRunAreRetriedAndTheLateOnesStillEnd)
{
    // Starts fail from the third on until the first report; after it they
    // work again, and the items that waited are measured.
    AddItems(6);
    TGates gates;
    Run.SetTryOperation(gates.Try());
    bool refusing = true;
    Run.SetWorkerStarter([&](TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout, int32_t times,
                             TWorkerSetup setup) {
        if (refusing && setup.Control->Alive() >= 2)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        TCalcSpendingThread::Launch(item, std::move(onFinish), timeout, times, std::move(setup));
    });
    Run.Execute();
    EXPECT_EQ(Run.RunningCount(), 2);
    EXPECT_EQ(CountInState(tsWaiting), 4);
    refusing = false;
    gates.Open("item0");
    ASSERT_TRUE(RunUntil([&] { return Reported.size() == 1; }));
    // The report fills every free place, not only its own.
    EXPECT_EQ(Run.RunningCount(), 5);
    EXPECT_EQ(CountInState(tsWaiting), 0);
    gates.OpenAll();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(CountInState(tsDone), 6);
}

TEST_F(TestRunTest, ShutdownDuringARunStopsDispatchAndWaitsForTheWorkers)
{
    AddItems(25);
    TGates gates;  // never opened: every try waits for the abort
    Run.SetTryOperation(gates.Try());
    Run.Execute();
    ASSERT_EQ(Started.size(), 20u);
    ASSERT_TRUE(RunUntil([&] { return gates.TotalTries() == 20; }));  // every worker in its first try
    Run.Shutdown();
    EXPECT_TRUE(Reported.empty());
    EXPECT_EQ(Completions, 0);
    EXPECT_EQ(Run.RunningCount(), 0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(gates.Tries("item" + std::to_string(i)), 1) << i;
    EXPECT_EQ(CountInState(tsWaiting), 5);
    Run.Execute();  // a shut-down run starts nothing
    EXPECT_EQ(Started.size(), 20u);
    EXPECT_EQ(CountInState(tsWaiting), 5);
}

TEST_F(TestRunTest, HostileHomePagesFailTheirTriesWithinTheLimitsAndTheRunCompletes)
{
    ClearProxyEnvironment();
    vqlib::THttpLimits limits;
    limits.Stall = 400ms;
    limits.Overall = 800ms;
    vqlib::THttpLimitsScope limitsScope(limits);
    THttpServer drip, endless, stalled, fine;
    THttpServer::TResponse response;
    response.BodySize = 100000;
    response.DripBytesPerSecond = 12;
    drip.SetResponse(response);
    response = {};
    response.Endless = true;
    endless.SetResponse(response);
    response = {};
    response.BodySize = 100000;
    response.StallBody = true;
    stalled.SetResponse(response);
    response = {};
    response.BodySize = 1000;
    fine.SetResponse(response);
    AddItems(4, dtHomePage);
    Items[0].DomainIP = drip.HostPort();
    Items[1].DomainIP = endless.HostPort();
    Items[2].DomainIP = stalled.HostPort();
    Items[3].DomainIP = fine.HostPort();
    const auto start = std::chrono::steady_clock::now();
    Run.Execute();
    const bool completed = RunUntil([&] { return Completions > 0; });
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(completed);
    std::printf("run of hostile pages completed in %.2f s\n", std::chrono::duration<double>(took).count());
    // Five tries of at most the overall limit each; the pauses take no time here.
    EXPECT_LT(took, 5 * 800ms + 2s);
    EXPECT_EQ(Clock.Pauses().size(), 4u * 5);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Items[i].State, tsNoResponse) << i;
        EXPECT_EQ(Items[i].FailCount, 5) << i;
    }
    EXPECT_EQ(Items[3].State, tsDone);
    EXPECT_EQ(drip.Requests().size(), 5u);
}

TEST_F(TestRunTest, AnErrorStatusFailsTheTriesOnlyOfARunThatSaysSo)
{
    ClearProxyEnvironment();
    THttpServer server;
    THttpServer::TResponse error;
    error.Status = 500;
    error.BodySize = 10;
    server.SetResponse(error);
    AddItems(1, dtHomePage);
    Items[0].DomainIP = server.HostPort();
    Run.Execute();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(Items[0].State, tsDone);
    EXPECT_EQ(Items[0].FailCount, 0);

    Completions = 0;
    Run.SetFailOnHttpError(true);
    Run.Execute();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(Items[0].State, tsNoResponse);
    EXPECT_EQ(Items[0].FailCount, 5);
}

std::vector<TDNSDispInfo> LoopbackPingItems(size_t count)
{
    std::vector<TDNSDispInfo> items(count);
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].Name = "n" + std::to_string(i);
        items[i].DomainIP = "127.0.0.1";
    }
    return items;
}

// A real run of Ping items on loopback, then of a home-page item on a
// refused port: the states after each, and whether the run found Ping
// without rights.
std::string RunPingThenHomePage(std::vector<TDNSDispInfo>& items)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    TTestClock clock;
    TClockScope clockScope(clock);
    TTestRun run(items, 1000, 5);
    int completions = 0;
    run.Listener.Completed = [&completions] { ++completions; };
    std::string result;
    for (int8_t method : {dtPing, dtHomePage}) {
        if (method == dtHomePage) {
            items.resize(1);
            items[0].DoType = dtHomePage;
            items[0].DomainIP = "127.0.0.1:" + std::to_string(THttpServer::RefusedPort());
        }
        run.Execute();
        if (!executor.RunUntil([&] { return completions > 0; }, 30s))
            return "the run did not complete";
        completions = 0;
        for (const TDNSDispInfo& item : items)
            result += std::to_string(item.State) + "/" + std::to_string(item.FailCount) + " ";
        result += run.PingDenied() ? "denied; " : "allowed; ";
    }
    return result;
}

TEST(TestRunPingRights, ARunTellsWhenItsPingItemsMayOpenNoSocket)
{
    ClearProxyEnvironment();
    const TUserRun run = RunWithoutPingRights("/", [] {
        std::vector<TDNSDispInfo> items = LoopbackPingItems(3);
        return RunPingThenHomePage(items);
    });
    if (!run.Ran)
        GTEST_SKIP() << run.SkipReason;
    // Every Ping item without a response, every try failed; the next run,
    // without Ping, starts afresh.
    EXPECT_EQ(run.Result, "3/5 3/5 3/5 denied; 3/5 allowed; ");
}

TEST(TestRunPingRights, ARunWithTheRightToASocketDeniesNothing)
{
    ClearProxyEnvironment();
    if (!TIcmpEcho().IsOpen())
        GTEST_SKIP() << "no ICMP socket may be opened here";
    std::vector<TDNSDispInfo> items = LoopbackPingItems(2);
    EXPECT_EQ(RunPingThenHomePage(items), "0/0 0/0 allowed; 3/5 allowed; ");
}

// Thousands of Ping tries in flight that nobody answers: stopping the run
// cuts them all off within the abort's sweep, not at their time limit.
TEST(TestRunLifetime, StoppingARunWithThousandsOfTriesInFlightEndsAtOnce)
{
    std::string why;
    const int rc = RunInOwnNetns(
        [] {
            if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647")
                || !WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"))
                return 124;
            TQueueUiExecutor executor;
            TUiExecutorScope scope(executor);
            constexpr int kItems = 3000;
            std::vector<TDNSDispInfo> items(kItems);
            for (int i = 0; i < kItems; ++i)
                items[static_cast<size_t>(i)].DomainIP = "127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
            TTestRun run(items, 5000, 5);
            run.SetWorkerLimit(kItems);
            run.Execute();
            if (!WaitFor([] { return EchoRequestsSent() >= kItems; }, 20s))
                return 1;
            const auto stopping = std::chrono::steady_clock::now();
            run.Shutdown();
            const auto took =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopping);
            std::fprintf(stderr, "%d tries in flight stopped in %lld ms\n", kItems, static_cast<long long>(took.count()));
            return took < 1s ? 0 : 2;
        },
        why);
    if (rc == -1 || rc == 124)
        GTEST_SKIP() << "no network namespace of our own: " << why;
    EXPECT_EQ(rc, 0) << "check " << rc << " failed in the namespace";
}

TEST(TestRunLifetime, DestroyingARunInProgressWaitsForItsWorkers)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    TTestClock clock;
    TClockScope clockScope(clock);
    std::vector<TDNSDispInfo> items = LoopbackPingItems(30);
    bool reported = false;
    std::atomic<int> tries{0};
    {
        TTestRun run(items, 5000, 5);
        run.Listener.ItemReported = [&](TDNSDispInfo&) { reported = true; };
        run.SetTryOperation([&tries](const TDNSDispInfo&, const std::string&, TElapsed& elapsed, const std::atomic<bool>&) {
            elapsed = 1ms;
            ++tries;
            return true;
        });
        run.Execute();
        // Workers that have tried have reports to queue.
        EXPECT_TRUE(WaitFor([&] { return tries >= 5; }, 10s));
    }
    // A worker outliving the run would report into freed memory (ASan) or
    // leave a report in the queue.
    EXPECT_FALSE(reported);
    EXPECT_FALSE(executor.WaitAndRun(200ms));
}

TEST_F(TestRunTest, HomePageItemsAgainstALoopbackServer)
{
    ClearProxyEnvironment();
    THttpServer server;
    THttpServer::TResponse page;
    page.BodySize = 2000;
    page.DelayMs = 5;
    server.SetResponse(page);
    AddItems(22, dtHomePage);
    for (TDNSDispInfo& item : Items)
        item.DomainIP = server.HostPort();
    Items.back().DomainIP = "127.0.0.1:" + std::to_string(THttpServer::RefusedPort());
    Run.Execute();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    EXPECT_EQ(CountInState(tsDone), 21);
    EXPECT_EQ(Items.back().State, tsNoResponse);
    EXPECT_EQ(server.Requests().size(), 21u * 5);
}


TEST_F(TestRunTest, EachWorkersFetchesCarryAnAgentOfItsOwn)
{
    ClearProxyEnvironment();
    THttpServer server;
    AddItems(3, dtHomePage);
    for (TDNSDispInfo& item : Items)
        item.DomainIP = server.HostPort();
    Run.Execute();
    ASSERT_TRUE(RunUntil([&] { return Completions > 0; }));
    std::map<std::string, int> fetchesByAgent;
    for (const std::string& request : server.Requests())
        ++fetchesByAgent[THttpServer::HeaderValue(request, "User-Agent")];
    ASSERT_EQ(fetchesByAgent.size(), 3u);
    for (const auto& [agent, fetches] : fetchesByAgent) {
        EXPECT_EQ(agent.rfind("vqweb_", 0), 0u) << agent;
        EXPECT_EQ(fetches, 5) << agent;
    }
}

// Runs body in a forked child whose user may have spare threads more than the
// child has at its start (a sanitizer's runtime may keep threads of its own
// there), as RLIMIT_NPROC counts them. The limit binds neither root nor a
// user whose other processes already exceed it, so the child, when root,
// moves to a user id of its own first, in a network namespace of its own
// whose ping sockets it may open. Returns the body's exit code; -1 with why
// when the limit cannot be put in force here, 99 when the child had to be
// killed.
int RunWithThreadsToSpare(rlim_t spare, const std::function<int()>& body, std::string& why)
{
    if (geteuid() != 0) {
        why = "not root: cannot move to a user of our own, and the limit would count this user's other processes";
        return -1;
    }
    const pid_t child = fork();
    if (child < 0) {
        why = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    if (child == 0) {
        // A namespace of its own, where the user may open a ping socket.
        TThreadNetns netns;
        if (!netns.Ok() || !WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"))
            _exit(124);
        const uid_t user = 0x7ffe0000u + static_cast<uid_t>(getpid() & 0xffff);
        const rlim_t limit = static_cast<rlim_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                               std::filesystem::directory_iterator())) + spare;
        const rlimit cap{limit, limit};
        if (setrlimit(RLIMIT_NPROC, &cap) != 0 || setgroups(0, nullptr) != 0 || setresgid(user, user, user) != 0
            || setresuid(user, user, user) != 0)
            _exit(125);
        const int rc = body();
        TThread::JoinAll();
        _exit(rc);
    }
    int status = 0;
    if (!WaitFor([&] { return waitpid(child, &status, WNOHANG) != 0; }, 60s)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return 99;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 124) {
        why = "no network namespace of our own for the child";
        return -1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 125) {
        why = "cannot set the limit or change the user in the child";
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// 40 real Ping items on loopback under the limit; the starter only counts
// the creations the system refused.
int MeasureUnderTheLimit(bool expectAllMeasured)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    TTestClock clock;
    TClockScope clockScope(clock);
    std::vector<TDNSDispInfo> items = LoopbackPingItems(40);
    int refused = 0;
    int completions = 0;
    {
        TTestRun run(items, 5000, 1);
        run.SetWorkerStarter([&refused](TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout, int32_t times,
                                        TWorkerSetup setup) {
            try {
                TCalcSpendingThread::Launch(item, std::move(onFinish), timeout, times, std::move(setup));
            } catch (...) {
                ++refused;
                throw;
            }
        });
        run.Listener.Completed = [&completions] { ++completions; };
        run.Execute();
        if (!executor.RunUntil([&] { return completions > 0; }, 50s))
            return 1;
    }
    int done = 0, noResponse = 0;
    for (const TDNSDispInfo& item : items) {
        done += item.State == tsDone;
        noResponse += item.State == tsNoResponse && item.FailCount == 1;
    }
    std::fprintf(stderr, "under the limit: %d measured, %d without response, %d creations refused\n", done,
                 noResponse, refused);
    if (completions != 1)
        return 3;
    if (expectAllMeasured)
        return done == 40 && refused == 0 ? 0 : 4;
    if (refused == 0)
        return 2;  // the limit was not in force
    return noResponse == 40 ? 0 : 5;
}

TEST(TestRunUnderProcessLimit, TwentyItemsAtOnceNeedOneThreadAndWithoutAnyEveryItemEnds)
{
    // The try loop's thread is all a run needs besides its own: with two
    // threads to spare (one for a sanitizer's runtime) all twenty items at
    // once are measured, with none every item ends as failed, and the run
    // completes either way.
    for (const auto& [spare, allMeasured] : {std::pair{rlim_t{2}, true}, std::pair{rlim_t{0}, false}}) {
        std::string why;
        const int rc = RunWithThreadsToSpare(spare, [allMeasured] { return MeasureUnderTheLimit(allMeasured); }, why);
        if (rc == -1)
            GTEST_SKIP() << why;
        EXPECT_EQ(rc, 0) << spare << " threads to spare: check " << rc << " failed in the child (see stderr)";
    }
}

}  // namespace
