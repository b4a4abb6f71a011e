// The resolution phase of a run against a slow name server: 200 names that
// each answer after 100 ms, looked up as a run does now (all at once, off the
// UI thread) and, side by side, one after another on the UI thread as runs did
// before. Prints how long each phase took and the longest time that a task
// posted to the UI thread meanwhile had to wait for it: the window's stall.
// The name server is the host-lookup seam; no query leaves the process.

#include "engine/Hostresolution.h"
#include "engine/Testrun.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Heldlookups.h"
#include "vqlib/Vqnet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNames = 200;
constexpr std::chrono::milliseconds kAnswerDelay{100};

double MsSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// Posts a task to the UI thread every 2 ms from a thread of its own; each
// task notes how long it waited to run.
class THeartbeat {
public:
    explicit THeartbeat(TUiExecutor& executor) : FExecutor(executor), FThread([this] { Beat(); }) {}
    ~THeartbeat() { Stop(); }

    // Stops the beats; the UI thread then runs those still queued.
    void Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        FExecutor.RunPending();
    }
    double LongestWaitMs() const { return FLongestWaitMs; }  // UI thread

private:
    void Beat()
    {
        while (!FStop) {
            const Clock::time_point posted = Clock::now();
            FExecutor.Post([this, posted] { FLongestWaitMs = std::max(FLongestWaitMs, MsSince(posted)); });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    TUiExecutor& FExecutor;
    std::atomic<bool> FStop{false};
    double FLongestWaitMs = 0;
    std::thread FThread;
};

struct TPhase {
    double Ms = 0;
    double StallMs = 0;
    double StartMs = 0;  // the call that starts the phase
    int Resolved = 0;
};

std::vector<TDNSDispInfo> NamedPingItems()
{
    std::vector<TDNSDispInfo> items(kNames);
    for (int i = 0; i < kNames; ++i) {
        items[i].Name = "item" + std::to_string(i);
        items[i].DomainIP = "host" + std::to_string(i) + ".bench";
        items[i].DoType = dtPing;
    }
    return items;
}

int CountResolved(const std::vector<TDNSDispInfo>& items)
{
    return static_cast<int>(std::count_if(items.begin(), items.end(), [](const auto& item) { return !item.IP.empty(); }));
}

// As runs did before: one name after another on the UI thread.
TPhase Sequential(TQueueUiExecutor& executor)
{
    std::vector<TDNSDispInfo> items = NamedPingItems();
    THeartbeat heartbeat(executor);
    const Clock::time_point start = Clock::now();
    TWASTool tool;
    for (TDNSDispInfo& item : items) {
        std::string ip;
        if (tool.ResolveHostIP(item.DomainIP, ip))
            item.IP = ip;
    }
    TPhase phase;
    phase.Ms = MsSince(start);
    heartbeat.Stop();
    phase.StallMs = heartbeat.LongestWaitMs();
    phase.Resolved = CountResolved(items);
    return phase;
}

// As a run does now, the UI thread serving its queue meanwhile.
TPhase Concurrent(TQueueUiExecutor& executor)
{
    std::vector<TDNSDispInfo> items = NamedPingItems();
    TTestRun run(items, TTestRun::kTryTimeout, TTestRun::kTriesPerItem);
    THeartbeat heartbeat(executor);
    bool resolved = false;
    const Clock::time_point start = Clock::now();
    run.ResolveHosts([&resolved] { resolved = true; });
    const double startMs = MsSince(start);
    executor.RunUntil([&resolved] { return resolved; }, std::chrono::minutes(2));
    TPhase phase;
    phase.Ms = MsSince(start);
    heartbeat.Stop();
    phase.StallMs = heartbeat.LongestWaitMs();
    phase.StartMs = startMs;
    phase.Resolved = CountResolved(items);
    return phase;
}

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    auto server = std::make_shared<THeldLookups>([](const std::string&) { return std::optional<std::string>("127.0.0.1"); },
                                                 kAnswerDelay);
    THostLookupScope lookup(server->Lookup());
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);

    std::printf("== resolution phase: %d names, each answered after %lld ms, at most %d lookups in flight ==\n",
                kNames, static_cast<long long>(kAnswerDelay.count()), THostResolution::kMaxInFlight);
    const TPhase now = Concurrent(executor);
    const int mostInFlight = server->MostInFlight();
    const TPhase before = Sequential(executor);
    std::printf("%-36s %10s %22s %9s\n", "", "phase", "longest UI-thread wait", "resolved");
    std::printf("%-36s %7.0f ms %19.1f ms %5d/%d\n", "all at once, off the UI thread", now.Ms, now.StallMs, now.Resolved,
                kNames);
    std::printf("%-36s %7.0f ms %19.1f ms %5d/%d\n", "one after another on the UI thread", before.Ms, before.StallMs,
                before.Resolved, kNames);
    std::printf("starting the lookups took the UI thread %.1f ms; most lookups in flight at once: %d\n", now.StartMs,
                mostInFlight);
    std::printf("phase %.1fx faster; targets: phase <= 500 ms, wait < 50 ms: %s\n", before.Ms / now.Ms,
                now.Ms <= 500 && now.StallMs < 50 ? "met" : "NOT met");
    return 0;
}
