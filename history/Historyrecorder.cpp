#include "history/Historyrecorder.h"

#include "history/Historydb.h"

#include <algorithm>

THistoryRecorder::THistoryRecorder(std::string path, size_t waitingRuns)
    : FPath(std::move(path)), FWaitingRuns(std::max<size_t>(waitingRuns, 1)), FThread([this] { Work(); })
{
}

THistoryRecorder::~THistoryRecorder()
{
    Close();
}

THistoryRecorder::TQueued THistoryRecorder::Record(TRunRecord run, TDone done)
{
    std::optional<std::pair<TRunRecord, TDone>> dropped;  // let go of outside the lock
    {
        std::lock_guard lock(FMutex);
        if (FClosing)
            return TQueued::Finished;
        if (FQueue.size() >= FWaitingRuns) {
            dropped = std::move(FQueue.front());
            FQueue.pop_front();
        }
        FQueue.emplace_back(std::move(run), std::move(done));
    }
    FWake.notify_one();
    return dropped ? TQueued::DroppedOldest : TQueued::Queued;
}

size_t THistoryRecorder::Finish(std::chrono::milliseconds within)
{
    std::deque<std::pair<TRunRecord, TDone>> givenUp;
    {
        std::unique_lock lock(FMutex);
        if (FClosing)
            return 0;
        const TClock::time_point deadline = TClock::now() + within;
        FDeadline = deadline;
        FIdle.wait_until(lock, deadline, [this] { return FQueue.empty() && !FWriting; });
        // Past the deadline no write begins: what waits now stays unwritten.
        givenUp.swap(FQueue);
        FIdle.wait(lock, [this] { return !FWriting; });
    }
    Close();
    return givenUp.size();
}

void THistoryRecorder::Close()
{
    {
        std::lock_guard lock(FMutex);
        FClosing = true;
    }
    FWake.notify_one();
    if (FThread.joinable())
        FThread.join();
}

void THistoryRecorder::Work()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        std::pair<TRunRecord, TDone> job;
        std::chrono::milliseconds busyTimeout{};
        if (!NextJob(lock, job, busyTimeout))
            return;
        FWriting = true;
        lock.unlock();
        Write(job, busyTimeout);
        job = {};
        lock.lock();
        FWriting = false;
        FIdle.notify_all();
    }
}

bool THistoryRecorder::NextJob(std::unique_lock<std::mutex>& lock, std::pair<TRunRecord, TDone>& job,
                               std::chrono::milliseconds& busyTimeout)
{
    for (;;) {
        const TClock::time_point now = TClock::now();
        const bool late = FDeadline && now >= *FDeadline;
        if (!FQueue.empty() && !late) {
            job = std::move(FQueue.front());
            FQueue.pop_front();
            busyTimeout = THistoryDb::kBusyTimeout;
            if (FDeadline)
                busyTimeout = std::min(busyTimeout, std::chrono::ceil<std::chrono::milliseconds>(*FDeadline - now));
            return true;
        }
        if (FClosing)
            return false;
        FWake.wait(lock);
    }
}

void THistoryRecorder::Write(std::pair<TRunRecord, TDone>& job, std::chrono::milliseconds busyTimeout)
{
    // Opened for each run and closed after it: a file that could not be
    // opened may be repaired or freed before the next run, and an idle
    // program holds no lock on it.
    std::optional<std::string> error;
    try {
        THistoryDb db(FPath, busyTimeout);
        db.Record(job.first);
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (!job.second)
        return;
    try {
        job.second(std::move(error));
    } catch (...) {
        // The caller's handler must not end the recorder's thread.
    }
}
