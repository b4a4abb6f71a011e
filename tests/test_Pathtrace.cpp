// The path trace against chains of namespaces the tests build: the hops it
// lists must be the chain's own, in order, whatever stays silent.
#include "engine/Pathtrace.h"

#include "engine/Icmpecho.h"
#include "tests/support/Netns.h"
#include "tests/support/Pathchain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

int Report(int check, const std::string& what)
{
    std::fprintf(stderr, "check %d: %s\n", check, what.c_str());
    return check;
}

// Where namespaces of the chain cannot be made the test is skipped, as
// where the test's own cannot (RUN_IN_NAMESPACE's 124).
int NoChain(const TPathChain& chain)
{
    std::fprintf(stderr, "no chain: %s\n", chain.Why().c_str());
    return 124;
}

// Runs a trace to the end; the last report.
class TTraceRun {
public:
    TTraceRun(const std::string& target, int rounds, std::chrono::milliseconds interval, int maxHops = 30)
    {
        TPathSetup setup;
        FOk = ParseAddress(target, setup.Target);
        setup.Rounds = rounds;
        setup.Interval = interval;
        setup.Timeout = 500ms;
        setup.MaxHops = maxHops;
        if (FOk)
            FTrace = std::make_unique<TPathTrace>(setup, [this](const TPathReport& report) {
                std::lock_guard lock(FMutex);
                ++FUpdates;
                FLast = report;
                FChanged.notify_all();
            });
    }

    // The last report once finished; false when it took longer than limit.
    bool Wait(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(FMutex);
        return FOk && FChanged.wait_for(lock, limit, [this] { return FLast.Finished; });
    }

    bool WaitForUpdates(int updates, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(FMutex);
        return FOk && FChanged.wait_for(lock, limit, [&] { return FUpdates >= updates; });
    }

    void Stop() { FTrace->Stop(); }

    TPathReport Last()
    {
        std::lock_guard lock(FMutex);
        return FLast;
    }

private:
    bool FOk = false;
    std::mutex FMutex;
    std::condition_variable FChanged;
    TPathReport FLast;
    int FUpdates = 0;
    std::unique_ptr<TPathTrace> FTrace;  // last: destroyed first, so no update comes after the rest is gone
};

// Hop (1-based) as the chain has it: its address, or silent when empty.
std::string Shown(const TPathHop& hop) { return hop.Silent() ? std::string() : AddressText(hop.Addresses.front()); }

// The hops listed must be the chain's, the silent one empty, each answering
// one answered every request.
int CheckHops(const TPathReport& report, const TPathChain& chain, int family, int listed, int silentHop, int rounds,
              const std::vector<int>& answeredBy)
{
    if (static_cast<int>(report.Hops.size()) != listed)
        return Report(20, "listed " + std::to_string(report.Hops.size()) + " hops");
    for (int hop = 1; hop <= listed; ++hop) {
        const TPathHop& seen = report.Hops[static_cast<size_t>(hop - 1)];
        const int answering = answeredBy.empty() ? hop : answeredBy[static_cast<size_t>(hop - 1)];
        const std::string expected = hop == silentHop ? std::string() : chain.HopAddress(answering, family);
        if (seen.Hop != hop || Shown(seen) != expected || seen.Addresses.size() > 1)
            return Report(21, "hop " + std::to_string(hop) + " is " + Shown(seen) + ", not " + expected);
        if (seen.Sent != static_cast<unsigned>(rounds))
            return Report(22, "hop " + std::to_string(hop) + " sent " + std::to_string(seen.Sent));
        const unsigned answered = hop == silentHop ? 0u : seen.Sent;
        if (seen.Received != answered)
            return Report(23, "hop " + std::to_string(hop) + " answered " + std::to_string(seen.Received));
        if (seen.Received && (seen.Best.count() <= 0 || seen.Best > seen.Worst || seen.MeanMicroseconds < seen.Best.count()
                              || seen.MeanMicroseconds > seen.Worst.count() || seen.StdDevMicroseconds < 0))
            return Report(24, "hop " + std::to_string(hop) + " has figures out of order");
    }
    return 0;
}

struct TCase {
    TPathChainSetup Chain;
    int Family = AF_INET;
    int MaxHops = 30;
    bool Raw = false;  // no datagram ICMP sockets: a raw one (root)
    int Listed = 4;
    int SilentHop = 0;
    bool Reached = true;
    std::vector<int> AnsweredBy;  // the chain's hop whose address answers at each hop; empty: the hop itself
};

int TraceChain(const TCase& test)
{
    if (test.Raw && !WriteSysctl("net/ipv4/ping_group_range", "1 0"))
        return Report(1, "cannot close the ping socket range");
    if (TIcmpEcho(TIcmpEcho::TKind::Any, test.Family).Kind() != (test.Raw ? TIcmpEcho::TKind::Raw : TIcmpEcho::TKind::Datagram))
        return Report(2, "not the kind of ICMP socket wanted");
    TPathChain chain(test.Chain);
    if (!chain.Ok())
        return NoChain(chain);
    constexpr int kRounds = 3;
    TTraceRun run(chain.Destination(test.Family), kRounds, 50ms, test.MaxHops);
    if (!run.Wait(10s))
        return Report(4, "the trace did not finish");
    const TPathReport report = run.Last();
    if (report.Reached != test.Reached || report.Stopped || report.RoundsSent != kRounds
        || report.Failure != TTryCause::None)
        return Report(5, "the trace ended wrongly");
    return CheckHops(report, chain, test.Family, test.Listed, test.SilentHop, kRounds, test.AnsweredBy);
}

void RunCase(const TCase& test)
{
    RUN_IN_NAMESPACE([] { return true; }, [&test] { return TraceChain(test); });
}

}  // namespace

TEST(PathTrace, EveryHopOfTheChainAnswersInOrderOverBothFamiliesAndBothSocketKinds)
{
    for (int family : {AF_INET, AF_INET6})
        for (bool raw : {false, true}) {
            SCOPED_TRACE((family == AF_INET ? "IPv4" : "IPv6") + std::string(raw ? " raw" : " datagram"));
            TCase test;
            test.Family = family;
            test.Raw = raw;
            RunCase(test);
        }
}

TEST(PathTrace, ASilentRouterIsAHopWithoutAddressAndThePathGoesOn)
{
    for (int family : {AF_INET, AF_INET6}) {
        TCase test;
        test.Family = family;
        test.Chain.SilentRouter = 2;
        test.SilentHop = 2;
        RunCase(test);
    }
}

TEST(PathTrace, ASilentDestinationEndsThePathOneHopAfterTheLastThatAnswered)
{
    for (int family : {AF_INET, AF_INET6}) {
        TCase test;
        test.Family = family;
        test.Chain.SilentDestination = true;
        test.SilentHop = 4;
        test.Reached = false;
        RunCase(test);
    }
}

TEST(PathTrace, AHopThatSaysTheDestinationIsUnreachableEndsThePath)
{
    for (int family : {AF_INET, AF_INET6}) {
        // Router 2 answers hop 2 in time and every request it would forward
        // with an unreachable error of its own: the path ends at hop 3, router 2 again.
        TCase test;
        test.Family = family;
        test.Chain.RejectingRouter = 2;
        test.Listed = 3;
        test.Reached = false;
        test.AnsweredBy = {1, 2, 2};
        RunCase(test);
    }
}

TEST(PathTrace, AHopLimitShortOfTheDestinationListsOnlyTheHopsWithin)
{
    TCase test;
    test.MaxHops = 2;
    test.Listed = 2;
    test.Reached = false;
    RunCase(test);
}

TEST(PathTrace, AStopEndsTheTraceAtOnceWithoutCountingTheRequestsInFlightAsLost)
{
    RUN_IN_NAMESPACE([] { return true; }, [] {
        TPathChainSetup silent;
        silent.SilentDestination = true;
        TPathChain chain(silent);
        if (!chain.Ok())
            return NoChain(chain);
        // Never answered: hop 4's request is in flight whenever the stop comes.
        TTraceRun run(chain.Destination(AF_INET), 1000, 100ms, 6);
        if (!run.WaitForUpdates(3, 5s))
            return Report(2, "no rounds");
        const auto stopped = std::chrono::steady_clock::now();
        run.Stop();
        if (!run.Wait(2s) || std::chrono::steady_clock::now() - stopped > 500ms)
            return Report(3, "the stop took too long");
        const TPathReport report = run.Last();
        if (!report.Stopped || report.RoundsSent >= 1000)
            return Report(4, "not reported as stopped");
        for (const TPathHop& hop : report.Hops)
            if (!hop.Silent() && hop.Received != hop.Sent)
                return Report(5, "a request cut short by the stop counted as lost");
        return 0;
    });
}

TEST(PathTrace, LoopbackIsReachedAtTheFirstHopAndADestroyedTraceSendsNoMore)
{
    RUN_IN_NAMESPACE([] { return true; }, [] {
        {
            TTraceRun run("127.0.0.1", 2, 10ms);
            if (!run.Wait(5s))
                return Report(1, "the trace did not finish");
            const TPathReport report = run.Last();
            if (!report.Reached || report.Hops.size() != 1 || Shown(report.Hops[0]) != "127.0.0.1")
                return Report(2, "loopback not reached at hop 1");
        }
        unsigned long before = 0;
        {
            TTraceRun run("127.0.0.1", 1000, 20ms);
            if (!run.WaitForUpdates(2, 5s))
                return Report(3, "no rounds");
        }  // destroyed while running
        before = EchoRequestsSent();
        std::this_thread::sleep_for(200ms);
        if (EchoRequestsSent() != before)
            return Report(4, "requests were sent after the trace was destroyed");
        return 0;
    });
}
