#pragma once
// Writes completed runs into the history on a thread of its own, so that the
// caller never waits for the disk or for another program's lock.

#include "history/Runrecord.h"

#include <condition_variable>
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

    // The database is opened on the first run handed in.
    explicit THistoryRecorder(std::string path);
    // Waits for the runs handed in: a run recorded is not lost at close.
    ~THistoryRecorder();
    THistoryRecorder(const THistoryRecorder&) = delete;
    THistoryRecorder& operator=(const THistoryRecorder&) = delete;

    // Returns at once; done is called on the recorder's thread.
    void Record(TRunRecord run, TDone done);

private:
    void Work();

    const std::string FPath;
    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::pair<TRunRecord, TDone>> FQueue;
    bool FClosing = false;
    std::thread FThread;
};
