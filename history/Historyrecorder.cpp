#include "history/Historyrecorder.h"

#include "history/Historydb.h"

#include <memory>

THistoryRecorder::THistoryRecorder(std::string path) : FPath(std::move(path)), FThread([this] { Work(); }) {}

THistoryRecorder::~THistoryRecorder()
{
    {
        std::lock_guard lock(FMutex);
        FClosing = true;
    }
    FWake.notify_one();
    FThread.join();
}

void THistoryRecorder::Record(TRunRecord run, TDone done)
{
    {
        std::lock_guard lock(FMutex);
        FQueue.emplace_back(std::move(run), std::move(done));
    }
    FWake.notify_one();
}

void THistoryRecorder::Work()
{
    // Opened for each run and closed after it: a file that could not be
    // opened may be repaired or freed before the next run, and an idle
    // program holds no lock on it.
    for (;;) {
        std::pair<TRunRecord, TDone> job;
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [this] { return FClosing || !FQueue.empty(); });
            if (FQueue.empty())
                return;
            job = std::move(FQueue.front());
            FQueue.pop_front();
        }
        std::optional<std::string> error;
        try {
            THistoryDb db(FPath);
            db.Record(job.first);
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        if (job.second) {
            try {
                job.second(std::move(error));
            } catch (...) {
                // The caller's handler must not end the recorder's thread.
            }
        }
    }
}
