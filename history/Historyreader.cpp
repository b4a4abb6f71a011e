#include "history/Historyreader.h"

#include <filesystem>
#include <utility>

namespace {

// Looking must not leave an empty history behind, and a missing one is no
// error but a history without runs.
class TMissingHistory : public THistoryError {
public:
    using THistoryError::THistoryError;
};

}  // namespace

THistoryReader::THistoryReader(std::string path, TReport report, std::chrono::milliseconds retry,
                               std::chrono::milliseconds busyWait)
    : FPath(std::move(path)), FReport(std::move(report)), FRetry(retry), FBusyWait(busyWait),
      FThread([this] { Work(); })
{
}

THistoryReader::~THistoryReader()
{
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FStopping = true;
        FJobs.clear();
    }
    FWake.notify_all();
    FThread.join();
}

void THistoryReader::Post(TJob job)
{
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FJobs.push_back(std::move(job));
    }
    FWake.notify_all();
}

void THistoryReader::DropWaiting()
{
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FJobs.clear();
        ++FDrops;
    }
    FWake.notify_all();
}

void THistoryReader::Work()
{
    for (;;) {
        TJob job;
        uint64_t drops = 0;
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FWake.wait(lock, [this] { return FStopping || !FJobs.empty(); });
            if (FStopping)
                return;
            job = std::move(FJobs.front());
            FJobs.pop_front();
            drops = FDrops;
        }
        while (RunOnce(job) == TOutcome::Busy) {
            const TPause pause = PauseBeforeRetry(drops);
            if (pause == TPause::Stop)
                return;
            if (pause == TPause::Dropped)
                break;
        }
    }
}

THistoryReader::TOutcome THistoryReader::RunOnce(const TJob& job)
{
    // Nothing may leave the thread: it would end the program.
    try {
        job(*Opened());
    } catch (const THistoryBusyError& error) {
        FReport(TProblem::Busy, error.what());
        return TOutcome::Busy;
    } catch (const TMissingHistory& error) {
        FReport(TProblem::Missing, error.what());
    } catch (const std::exception& error) {
        FReport(TProblem::Failed, error.what());
    } catch (...) {
        FReport(TProblem::Failed, "unknown error");
    }
    return TOutcome::Done;
}

const THistoryDb* THistoryReader::Opened()
{
    if (!FDb) {
        std::error_code error;
        if (!std::filesystem::exists(FPath, error))
            throw TMissingHistory(FPath);
        FDb = std::make_unique<THistoryDb>(FPath, FBusyWait);
    }
    return FDb.get();
}

THistoryReader::TPause THistoryReader::PauseBeforeRetry(uint64_t drops)
{
    std::unique_lock<std::mutex> lock(FMutex);
    FWake.wait_for(lock, FRetry, [&] { return FStopping || FDrops != drops; });
    return FStopping ? TPause::Stop : FDrops != drops ? TPause::Dropped : TPause::Retry;
}
