#pragma once
// The test run: resolving the Ping and DNS items' hosts, keeping up to twenty
// workers busy, one report at a time, until the last has reported. It runs on
// the UI thread; the window and a program without one drive it alike, and
// hear of its progress through TTestRunListener.

#include "engine/Calcspendingthread.h"
#include "engine/Dnsdispinfo.h"
#include "engine/Hostresolution.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The host an item's text names, before the port of a TCP-connect or DNS
// item, without brackets; none when the text names nothing to measure.
std::optional<std::string> MeasuredHost(int8_t method, const std::string& text);

// Every callback runs on the UI thread, with the run's lock held; any of them
// may be left empty. What one throws does not stop the run: it goes on
// dispatching, and the first error is thrown again from the run's call that
// made the callback (a report, StartWaitingItems), once the run is in order.
struct TTestRunListener {
    std::function<void(TDNSDispInfo& item)> ItemStarted;   // went to testing
    std::function<void(TDNSDispInfo& item)> ItemReported;  // its results are in and counted
    std::function<void()> Completed;                       // the last report came in
};

class TTestRun {
public:
    static constexpr int kFirstWorkers = 20;    // started at the beginning
    static constexpr int kWorkersPerReport = 1; // started by each report
    static constexpr int32_t kTryTimeout = 5000; // ms, one try
    static constexpr int32_t kTriesPerItem = 5;

    // Starts a worker for item; throws when it cannot be created.
    using TWorkerStarter = std::function<void(TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout,
                                              int32_t times, TWorkerSetup setup)>;

    // items must not change while a run is in progress.
    TTestRun(std::vector<TDNSDispInfo>& items, int32_t timeout, int32_t times);
    // Shuts a run in progress down first.
    ~TTestRun();
    TTestRun(const TTestRun&) = delete;
    TTestRun& operator=(const TTestRun&) = delete;

    TTestRunListener Listener;

    // Seams: a fake try, a per-try observer (see TTryObserver), a starter.
    void SetTryOperation(TTryOperation tryOperation) { FTry = std::move(tryOperation); }
    void SetTryObserver(TTryObserver observer) { FOnTry = std::move(observer); }
    void SetWorkerStarter(TWorkerStarter starter) { FStarter = std::move(starter); }

    // A program without a window may change these before Execute.
    void SetPauseBetweenTries(std::chrono::milliseconds pause) { FPause = pause; }
    void SetHomePageLimit(std::chrono::milliseconds limit) { FHomePageLimit = limit; }
    // false: an item's last try is not followed by the pause.
    void SetPauseAfterLastTry(bool pause) { FPauseAfterLastTry = pause; }
    // The name DNS-query items ask their servers for, instead of DNSQueryHostName.
    void SetDnsQueryName(std::string name) { FDnsQueryName = std::move(name); }
    // A home page's status of 400 or more fails its try, as curl --fail.
    void SetFailOnHttpError(bool fail) { FFailOnHttpError = fail; }
    // AF_INET or AF_INET6: names are resolved to that family only, and a
    // literal address of the other has nothing to measure. AF_UNSPEC (the
    // default): an IPv4 address first, else an IPv6 one.
    void SetAddressFamily(int family) { FFamily = family; }
    // Items measured at once (kFirstWorkers unless set); at least one.
    void SetWorkerLimit(int limit) { FWorkerLimit = std::max(1, limit); }

    // The whole start of a run for a program without a window: ResolveHosts,
    // then Begin and StartWaitingItems(worker limit) once it has resolved.
    // The run then goes on as reports come in.
    void Execute();

    // Fills IP (and Note for a name) of the Ping and DNS-query items, then
    // runs resolved. Literal addresses are filled at once; names are looked
    // up all at once on threads of their own (engine/Hostresolution.h), and
    // their items filled, and resolved run, on the UI thread when the last
    // has answered. With no name to look up, resolved runs before this
    // returns. A shutdown meanwhile drops the answers: the named items stay
    // as they were and resolved never runs.
    void ResolveHosts(std::function<void()> resolved);
    bool Resolving() const { return FResolving; }
    // Sets every item waiting and both counts to 0; the run is in progress
    // from here until Completed.
    void Begin();
    // Starts a worker for each of up to count waiting items, in list order;
    // completes the run when nothing is left to measure. An item whose worker
    // cannot be created waits again, for the next report (or, when none is
    // due, for the run's workers to end); only when none of the run's
    // workers is left does it end as if every try had failed.
    void StartWaitingItems(int count);

    // Stops dispatching, makes the workers give up after their current try,
    // cuts fetches off and waits until every worker is gone; their reports
    // meanwhile reach nobody. Returns at once when no worker runs.
    void Shutdown();

    bool Running() const { return FRunning; }  // begun and not completed
    int32_t RunningCount() const { return FRunningCount; }  // started, not yet reported
    int32_t FinishedCount() const { return FFinishedCount; }  // reported since Begin
    // A Ping try of the run begun last could open neither an ICMP datagram
    // socket nor a raw one for want of rights. UI thread; final once the run
    // has completed.
    bool PingDenied() const { return FControl && FControl->PingDenied(); }
    // The errno of the first try of that run that could get no descriptor,
    // socket buffer or memory (engine/Shortage.h); 0 while none.
    int Shortage() const { return FControl ? FControl->Shortage() : 0; }

private:
    // A failed start, tried once more after this pause when no worker of the
    // run is left, before its item is given up: a thread that has just ended
    // may still hold its place in the process limit for a moment.
    static constexpr std::chrono::milliseconds kStartRetryPause{10};
    // How long a retry waits for workers that have reported to end.
    static constexpr std::chrono::seconds kWorkerEndWait{5};

    // The workers' completion handler.
    void ItemFinished(TDNSDispInfo* item);
    void Dispatch(int count);
    // Calls a listener; what it throws is kept for RethrowListenerError.
    template <class... TArgs>
    void Tell(const std::function<void(TArgs&...)>& listener, TArgs&... args);
    void RethrowListenerError();
    bool StartWorker(TDNSDispInfo& item);
    bool WorkersRemain() const;
    bool PostRetry();
    void RetryWaitingItems();
    void GiveUp(TDNSDispInfo& item);
    void HostsResolved(const std::vector<TDNSDispInfo*>& named, const THostResolution::TAddresses& addresses);
    void Report(TDNSDispInfo& item);
    bool AnyWaiting() const;
    void CompleteWhenDone();

    std::vector<TDNSDispInfo>& FItems;
    int32_t FTimeout;
    int32_t FTimes;
    // Taken around every state change of dispatch and every report; the UI
    // thread takes it again inside a report, hence recursive.
    std::recursive_mutex FLock;
    int32_t FRunningCount = 0;
    size_t FNextWaiting = 0;  // no item before it waits
    int32_t FFinishedCount = 0;
    bool FRunning = false;
    bool FShutDown = false;
    std::shared_ptr<TWorkerControl> FControl;
    TTryOperation FTry;
    TTryObserver FOnTry;
    TWorkerStarter FStarter;
    std::optional<std::chrono::milliseconds> FPause;
    std::optional<std::chrono::milliseconds> FHomePageLimit;
    int FWorkerLimit = kFirstWorkers;
    bool FPauseAfterLastTry = true;
    std::optional<std::string> FDnsQueryName;
    bool FFailOnHttpError = false;
    int FFamily = AF_UNSPEC;
    bool FRetryPosted = false;
    bool FResolving = false;
    std::unique_ptr<THostResolution> FResolution;
    // What a posted retry reaches: this run, or nothing once it is destroyed.
    std::shared_ptr<TTestRun*> FSelf;
    std::exception_ptr FListenerError;  // the first since the last rethrow
};
