#pragma once
// Reads a history on a thread of its own, so that whoever asks never waits
// for another program's hold on the file. Jobs run one after another in the
// order given; a job that finds the history busy runs again after a pause,
// until it gets through or the reader goes.

#include "history/Historydb.h"

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class THistoryReader {
public:
    // Runs on the reader's thread and hands its findings on from there.
    // Throws THistoryError; THistoryBusyError has it run again.
    using TJob = std::function<void(const THistoryDb&)>;
    enum class TProblem { Missing, Busy, Failed };
    // Runs on the reader's thread: the job could not be done (Missing,
    // Failed: it is dropped) or not yet (Busy: it runs again). reason is
    // what() of the error, for the user.
    using TReport = std::function<void(TProblem problem, const std::string& reason)>;

    static constexpr std::chrono::milliseconds kRetry{1000};
    // Short, so that a reader going away does not wait long on a busy file.
    static constexpr std::chrono::milliseconds kBusyWait{100};

    // path: the history; never created here.
    THistoryReader(std::string path, TReport report, std::chrono::milliseconds retry = kRetry,
                   std::chrono::milliseconds busyWait = kBusyWait);
    // Drops the jobs not begun and waits for the one running, which ends
    // within about twice busyWait once the file is busy.
    ~THistoryReader();
    THistoryReader(const THistoryReader&) = delete;
    THistoryReader& operator=(const THistoryReader&) = delete;

    void Post(TJob job);
    // Drops the jobs not begun, e.g. reads superseded by a new one, and the
    // running one if it is waiting to run again.
    void DropWaiting();

private:
    enum class TOutcome { Done, Busy };
    enum class TPause { Retry, Dropped, Stop };

    void Work();
    TOutcome RunOnce(const TJob& job);
    const THistoryDb* Opened();
    // drops: the count of drops when the job began.
    TPause PauseBeforeRetry(uint64_t drops);

    const std::string FPath;
    const TReport FReport;
    const std::chrono::milliseconds FRetry;
    const std::chrono::milliseconds FBusyWait;

    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<TJob> FJobs;
    bool FStopping = false;
    uint64_t FDrops = 0;

    std::unique_ptr<THistoryDb> FDb;  // the thread's alone
    std::thread FThread;              // last: it starts once the rest is there
};
