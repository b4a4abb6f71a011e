#include "cli/Clirun.h"

#include "engine/Testrun.h"
#include "engine/Trytimes.h"
#include "engine/Uiexecutor.h"

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
        run.SetTryObserver(tries.Observer());
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
        report.Items.push_back({info, tries.Tries(info)});
    }
    return report;
}
