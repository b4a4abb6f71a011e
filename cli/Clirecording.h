#pragma once
// The runs of one orvel-cli invocation going into the history: one recorder
// for the program's life, so that a history another program holds delays the
// recording and never the next run. What went wrong is said in one line,
// each kind once.

#include "history/Historydb.h"
#include "history/Historyrecorder.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

class TCliRecording {
public:
    using TSay = std::function<void(const std::string& line)>;
    // At the end the runs still waiting get this long in all: no longer
    // than one run waits for a locked history.
    static constexpr std::chrono::milliseconds kFinishWithin = THistoryDb::kBusyTimeout;

    // say is called on the thread that calls the members below.
    TCliRecording(std::string historyPath, TSay say, size_t waitingRuns = THistoryRecorder::kWaitingRuns);

    // Never waits for the history; says so when a waiting run had to go.
    void Record(TRunRecord run);
    // Says a failure the recorder has told of since.
    void SayNews();
    // Waits for the runs handed in, at most `within` in all, and says what
    // was not recorded.
    void Finish(std::chrono::milliseconds within = kFinishWithin);

private:
    const TSay FSay;
    std::mutex FMutex;
    std::optional<std::string> FFailure;  // told by the recorder's thread, not said yet
    bool FFailureTold = false;            // under FMutex
    bool FDropSaid = false;
    THistoryRecorder FRecorder;  // last: its thread ends before the rest goes
};
