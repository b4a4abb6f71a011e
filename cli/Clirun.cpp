#include "cli/Clirun.h"

#include "engine/Testrun.h"
#include "engine/Uiexecutor.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

namespace {

// Each item's successful tries, told from the workers' threads.
class TTryLog {
public:
    explicit TTryLog(int32_t tries) : FTries(tries) {}
    void Add(const TDNSDispInfo* item, int index, std::chrono::microseconds elapsed)
    {
        std::lock_guard lock(FMutex);
        TTryTimes& times = FByItem.try_emplace(item, FTries).first->second;
        if (static_cast<size_t>(index) < times.size())
            times[index] = elapsed;
    }
    TTryTimes Times(const TDNSDispInfo* item)
    {
        std::lock_guard lock(FMutex);
        const auto it = FByItem.find(item);
        return it != FByItem.end() ? it->second : TTryTimes(FTries);
    }

private:
    int32_t FTries;
    std::mutex FMutex;
    std::map<const TDNSDispInfo*, TTryTimes> FByItem;
};

}  // namespace

TRunReport RunPlan(const std::string& planName, std::vector<TDNSDispInfo> items, const TProgress& progress)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    TTryLog tries(TTestRun::kTriesPerItem);
    int finished = 0;
    bool completed = false;
    bool pingDenied = false;
    {
        TTestRun run(items, TTestRun::kTryTimeout, TTestRun::kTriesPerItem);
        run.SetTryObserver([&tries](const TDNSDispInfo& item, int index, bool ok,
                                    std::chrono::microseconds elapsed) {
            if (ok)
                tries.Add(&item, index, elapsed);
        });
        run.Listener.ItemReported = [&](TDNSDispInfo&) {
            if (progress)
                progress(++finished, static_cast<int>(items.size()));
        };
        run.Listener.Completed = [&completed] { completed = true; };
        run.Execute();
        while (!executor.RunUntil([&completed] { return completed; }, std::chrono::minutes(1))) {
        }
        pingDenied = run.PingDenied();
    }

    TRunReport report;
    report.PlanName = planName;
    report.TestTimes = TTestRun::kTriesPerItem;
    report.PingDenied = pingDenied;
    for (const TDNSDispInfo& info : items) {
        report.Items.push_back({info, tries.Times(&info)});
    }
    return report;
}
