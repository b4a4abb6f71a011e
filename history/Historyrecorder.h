#pragma once
// Writes completed runs into the history on a thread of its own, so that the
// caller never waits for the disk or for another program's lock.

#include "history/Runrecord.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

class THistoryRecorder {
public:
    // error: none when the run was recorded, else why not (for the user).
    using TDone = std::function<void(std::optional<std::string> error)>;

    // Runs that may wait while one is written. Each write may wait
    // THistoryDb::kBusyTimeout (5 s) for a history another program holds,
    // while orvel-cli --watch may hand in a run every second or faster; each
    // waiting run holds all its tries in memory. 64 rides out a lock of a
    // minute at one run a second, and a longer one costs the oldest runs, not
    // memory without end.
    static constexpr size_t kWaitingRuns = 64;

    enum class TQueued { Queued, DroppedOldest, Finished };

    // The database is opened on the first run handed in.
    explicit THistoryRecorder(std::string path, size_t waitingRuns = kWaitingRuns);
    // Waits for the runs still waiting: a run handed in is not lost at close
    // (unless Finish gave it up).
    ~THistoryRecorder();
    THistoryRecorder(const THistoryRecorder&) = delete;
    THistoryRecorder& operator=(const THistoryRecorder&) = delete;

    // Returns at once, whatever the history does; done is called on the
    // recorder's thread. When waitingRuns runs wait already, the oldest of
    // them is dropped to make room: its done is never called, and the result
    // says so. After Finish the run is not taken (Finished).
    TQueued Record(TRunRecord run, TDone done);

    // Gives the waiting runs `within` from now, in all, to be written: a write
    // begun from now on waits for a locked history only as long as is left,
    // and none begins after that. A write already under way keeps its own
    // wait (THistoryDb::kBusyTimeout), so with `within` no longer than that,
    // a locked history holds the caller at most that long. Returns how many
    // runs were given up unwritten (their done is never called); every done
    // has returned by then.
    size_t Finish(std::chrono::milliseconds within);

private:
    using TClock = std::chrono::steady_clock;

    void Work();
    // Under FMutex: the next run to write, with how long it may wait for a lock.
    bool NextJob(std::unique_lock<std::mutex>& lock, std::pair<TRunRecord, TDone>& job,
                 std::chrono::milliseconds& busyTimeout);
    void Write(std::pair<TRunRecord, TDone>& job, std::chrono::milliseconds busyTimeout);
    void Close();

    const std::string FPath;
    const size_t FWaitingRuns;
    std::mutex FMutex;
    std::condition_variable FWake;  // a run handed in, a deadline set, or closing
    std::condition_variable FIdle;  // a write has ended
    std::deque<std::pair<TRunRecord, TDone>> FQueue;
    std::optional<TClock::time_point> FDeadline;  // set by Finish
    bool FWriting = false;
    bool FClosing = false;
    std::thread FThread;
};
