#pragma once
// Any number of fetches in flight on one thread, driven by one curl multi
// handle: each is what THttp::GetURL does (options, limits, abort, errors),
// with the body read to its end and thrown away. The thread is made only
// while fetches are in flight, by a starter the owner gives, and ends by
// itself once none is left.

#include "vqlib/Vqhttp.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vqlib {

class THttpFetches {
public:
    // How the fetch ended; its Elapsed is from the fetch's start on its
    // thread by the installed clock (TStopwatch). Not Started: it failed
    // before it reached the network (aborted before, no memory).
    using TDone = std::function<void(THttpResult result)>;
    // Runs body on a new thread, made on the calling thread (so in its network
    // namespace); throws when it cannot.
    using TStarter = std::function<void(std::function<void()> body)>;

    explicit THttpFetches(TStarter starter);
    // Waits for the thread, which ends once every fetch is done: nothing may
    // be in flight that nobody will abort.
    ~THttpFetches();
    THttpFetches(const THttpFetches&) = delete;
    THttpFetches& operator=(const THttpFetches&) = delete;

    // From any thread. done is called exactly once, on the fetch thread, never
    // inside Start; a fetch ends, as a failure, within THttp::kAbortSlice of
    // *abort turning true. If Start throws (no thread or memory), done is never
    // called. userAgent empty: THttp's, from the calling thread.
    void Start(const std::string& url, const THttpLimits& limits, const std::atomic<bool>* abort, TDone done,
               const std::string& userAgent = {}, int family = AF_UNSPEC);
    // Makes the thread look at the abort flags now rather than at its next round.
    void Wake();
    // Whether the fetch thread is running (it may be about to end).
    bool Running() const;

private:
    struct TPending;
    class TLoop;
    void Run();
    std::deque<std::unique_ptr<TPending>> TakePending(void* multi);
    bool EndIfIdle(bool idle);

    TStarter FStarter;
    mutable std::mutex FMutex;
    std::condition_variable FEnded;
    std::deque<std::unique_ptr<TPending>> FPending;  // started, not yet taken by the thread
    bool FRunning = false;
    void* FMulti = nullptr;  // the running thread's, for waking it; null when it has none
};

}  // namespace vqlib
