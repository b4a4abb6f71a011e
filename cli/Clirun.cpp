#include "cli/Clirun.h"

#include "engine/Testrun.h"
#include "engine/Uiexecutor.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

namespace {

// Fastest and slowest successful try per item, told from the workers' threads.
class TTryStats {
public:
    void Add(const TDNSDispInfo* item, uint32_t ms)
    {
        std::lock_guard lock(FMutex);
        auto [it, added] = FByItem.try_emplace(item, ms, ms);
        if (!added) {
            it->second.first = std::min(it->second.first, ms);
            it->second.second = std::max(it->second.second, ms);
        }
    }
    void FillIn(const TDNSDispInfo* item, TItemResult& result)
    {
        std::lock_guard lock(FMutex);
        if (auto it = FByItem.find(item); it != FByItem.end()) {
            result.Fastest = it->second.first;
            result.Slowest = it->second.second;
        }
    }

private:
    std::mutex FMutex;
    std::map<const TDNSDispInfo*, std::pair<uint32_t, uint32_t>> FByItem;
};

}  // namespace

TRunReport RunPlan(const std::string& planName, std::vector<TDNSDispInfo> items, const TProgress& progress)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    TTryStats stats;
    int finished = 0;
    bool completed = false;
    bool pingDenied = false;
    {
        TTestRun run(items, TTestRun::kTryTimeout, TTestRun::kTriesPerItem);
        run.SetTryObserver([&stats](const TDNSDispInfo& item, int, bool ok, uint32_t ms) {
            if (ok)
                stats.Add(&item, ms);
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
        TItemResult result{info, {}, {}};
        stats.FillIn(&info, result);
        report.Items.push_back(std::move(result));
    }
    return report;
}
