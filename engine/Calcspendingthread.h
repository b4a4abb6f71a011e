#pragma once
// The measurement worker: one per item, a fixed number of tries by the
// item's method one after the other with a pause after each, one report back
// on the UI thread, then it deletes itself. It holds no thread: its tries and
// pauses wait on the try loop of its network namespace (engine/Tryloop.h),
// with every other worker's.

#include "engine/Dnsdispinfo.h"
#include "engine/Tryoutcome.h"
#include "engine/Uiexecutor.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TIdDNSResolver;
class TTryLoop;

// The completion handler; runs on the UI thread while the worker waits.
using TItemFinished = std::function<void(TDNSDispInfo* item)>;

// One try against target; true with its time in elapsed, from the monotonic
// clock. A seam for tests: it runs on a thread of its own, as it may block;
// abort turns true when the run is being shut down.
using TTryOperation = std::function<bool(const TDNSDispInfo& item, const std::string& target,
                                         std::chrono::microseconds& elapsed, const std::atomic<bool>& abort)>;

// Told of every try (index from 0) on the try loop's thread, and so
// concurrently with the UI thread: it must be thread-safe and quick. The item's texts
// may be read; its results are not written yet. An item with nothing to
// measure (its name did not resolve, no port) is told each try failed with why.
using TTryObserver = std::function<void(const TDNSDispInfo& item, int index, const TTryOutcome& outcome)>;

// Shared by a run and its workers: the request to stop and the count of
// workers still alive.
class TWorkerControl {
public:
    void Cancel();
    bool Cancelled() const { return FAbort.load(); }
    const std::atomic<bool>& AbortFlag() const { return FAbort; }
    // Waits the pause between tries by the installed clock (vqlib/Vqtick.h);
    // false at once when cancelled.
    bool Pause(std::chrono::milliseconds pause);
    int Alive() const;
    // A Ping try of a worker found no ICMP socket it had the right to open.
    // Any worker's thread may say so; whoever holds the control asks.
    void NotePingDenied() { FPingDenied.store(true); }
    bool PingDenied() const { return FPingDenied.load(); }
    // A try could not get a descriptor, socket buffers or memory
    // (engine/Shortage.h); the first such errno is kept, 0 while none.
    void NoteShortage(int error);
    int Shortage() const { return FShortage.load(); }
    // Waits until no worker is alive or timeout passes; true when none is.
    bool WaitNoneAlive(std::chrono::milliseconds timeout);

    // Counts one worker alive for its own lifetime.
    class TTicket {
    public:
        explicit TTicket(std::shared_ptr<TWorkerControl> control);
        ~TTicket();
        TTicket(const TTicket&) = delete;
        TTicket& operator=(const TTicket&) = delete;
        TWorkerControl* Control() const { return FControl.get(); }

    private:
        std::shared_ptr<TWorkerControl> FControl;
    };

private:
    std::atomic<bool> FAbort{false};
    std::atomic<bool> FPingDenied{false};
    std::atomic<int> FShortage{0};
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    int FAlive = 0;
};

// What a run adds to a worker beyond the item; every part may be left empty.
struct TWorkerSetup {
    TTryOperation Try;                         // empty: the item's own method
    TTryObserver OnTry;                        // empty: nobody listens
    std::shared_ptr<TWorkerControl> Control;   // null: never stopped
    std::optional<std::chrono::milliseconds> Pause;          // between tries; empty: kPauseBetweenTries
    std::optional<std::chrono::milliseconds> HomePageLimit;  // a whole fetch; empty: the HTTP defaults
    bool PauseAfterLastTry = true;  // false: the pause only between tries, as ping's -i
    std::optional<std::string> DnsQueryName;  // what a DNS query asks for; empty: DNSQueryHostName
    bool FailOnHttpError = false;  // a home page's status of 400 or more fails its try
    int Family = AF_UNSPEC;  // of the addresses a home page's name may resolve to
};

// The results of CalcSpending, applied to the item on the UI thread.
struct TSpendingResult {
    bool Ok = false;        // at least one try succeeded
    double Average = 0.0;   // ms, over the successful tries, when Ok
    int32_t FailCount = 0;
};

class TCalcSpendingThread final {
public:
    static constexpr std::chrono::milliseconds kPauseBetweenTries{100};

    // UI thread. Creates the worker with its resolver and starts it at once:
    // nobody holds it; it reports through onFinish, then deletes itself.
    // Throws when the worker cannot be created.
    static void Launch(TDNSDispInfo* info, TItemFinished onFinish, int32_t timeout, int32_t times,
                       TWorkerSetup setup = {});

    // Writes result into the item (UI thread, so nobody reads it meanwhile).
    static void ApplyResult(TDNSDispInfo& item, const TSpendingResult& result);

private:
    TCalcSpendingThread(TDNSDispInfo* info, TItemFinished onFinish, int32_t timeout, int32_t times,
                        TWorkerSetup setup);
    ~TCalcSpendingThread();
    TCalcSpendingThread(const TCalcSpendingThread&) = delete;
    TCalcSpendingThread& operator=(const TCalcSpendingThread&) = delete;

    // The steps on the loop's thread. The item is only read there; its
    // results are written in the report, on the UI thread.
    void Begin();
    void FailEveryTry(TTryCause cause) noexcept;
    void TellObserver(int index, const TTryOutcome& outcome) noexcept;
    void StartTry() noexcept;
    void StartMethodTry();
    void StartHomePageTry();
    void TryEnded(const TTryOutcome& outcome) noexcept;
    void AfterPause() noexcept;
    // Posts the report and lets the loop go; the worker may be gone on return.
    void Finish() noexcept;
    TSpendingResult Figures() const;
    void DoFinish(const TSpendingResult& result);
    bool Stopping() const;

    TDNSDispInfo* FInfo;
    std::unique_ptr<TIdDNSResolver> FResolver;  // a DNS-query item's
    TItemFinished FOnFinish;
    int32_t FTimeout;
    int32_t FTimes;
    std::shared_ptr<TWorkerControl> FControl;   // never null: a private one when none is given
    TWorkerControl::TTicket FTicket;            // alive until the resolver is gone
    TTryOperation FTry;
    TTryObserver FOnTry;
    std::chrono::milliseconds FPause;
    std::optional<std::chrono::milliseconds> FHomePageLimit;
    bool FPauseAfterLastTry;
    std::optional<std::string> FDnsQueryName;
    bool FFailOnHttpError;
    int FFamily;
    TTryLoop* FLoop;  // held from creation until Finish
    const std::string* FTarget = nullptr;  // the item's, which stays put meanwhile
    uint64_t FAgentNumber;  // its home-page fetches' user agent is "vqweb_" and it
    std::vector<std::optional<std::chrono::microseconds>> FTries;  // a TTryTimes
    int FIndex = 0;  // the try under way, or the next
    bool FBroken = false;  // an observer failed: the item's tries are not all known
    TSpendingResult FResult;
    // The report, made with the worker, so that sending it needs no memory.
    TUiExecutor::TReservedTask FReport;
};
