#include "cli/Clirecording.h"

#include "cli/Clireport.h"

TCliRecording::TCliRecording(std::string historyPath, TSay say, size_t waitingRuns)
    : FSay(std::move(say)), FRecorder(std::move(historyPath), waitingRuns)
{
}

void TCliRecording::Record(TRunRecord run)
{
    const THistoryRecorder::TQueued queued = FRecorder.Record(std::move(run), [this](std::optional<std::string> error) {
        std::lock_guard lock(FMutex);
        if (error && !std::exchange(FFailureTold, true))
            FFailure = std::move(error);
    });
    if (queued == THistoryRecorder::TQueued::DroppedOldest && !std::exchange(FDropSaid, true))
        FSay("orvel-cli: runs come faster than the history takes them; the oldest waiting ones are not recorded");
}

void TCliRecording::SayNews()
{
    std::optional<std::string> failure;
    {
        std::lock_guard lock(FMutex);
        failure.swap(FFailure);
    }
    if (failure)
        FSay("orvel-cli: the run was not recorded: " + TerminalText(*failure));
}

void TCliRecording::Finish(std::chrono::milliseconds within)
{
    const size_t givenUp = FRecorder.Finish(within);
    SayNews();
    if (givenUp == 1)
        FSay("orvel-cli: 1 run was not recorded: the history did not take it in time");
    else if (givenUp > 1)
        FSay("orvel-cli: " + std::to_string(givenUp) + " runs were not recorded: the history did not take them in time");
}
