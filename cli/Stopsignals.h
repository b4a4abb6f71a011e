#pragma once
// SIGINT and SIGTERM as a request to stop: the run in progress winds down and
// the program ends with the status of its last complete run.

#include "cli/Clirun.h"

#include <signal.h>

#include <atomic>
#include <thread>

class TStopSignals {
public:
    // Blocks SIGINT and SIGTERM in the calling thread (make it first thing in
    // main, before any thread starts, so every thread inherits the mask) and
    // watches them on a thread of its own (sigwait); on the first, calls
    // stop.Request(). A second one ends the program at once, as if nothing
    // caught it: the way out when winding down hangs. A signal that was
    // ignored when the program started (a background job's SIGINT) stays
    // ignored. Destroy it in the thread that made it; that thread's mask is
    // then put back.
    explicit TStopSignals(TRunStop& stop);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    void Watch();

    TRunStop& FStop;
    sigset_t FWatched;
    sigset_t FPreviousMask;
    std::atomic<bool> FClosing{false};
    std::thread FThread;
};
