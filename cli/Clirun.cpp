#include "cli/Clirun.h"

#include "engine/Testrun.h"
#include "engine/Trytimes.h"
#include "engine/Uiexecutor.h"
#include "vqlib/Gbk.h"

TRunReport RunPlan(const std::string& planName, std::vector<TDNSDispInfo> items, const TProgress& progress)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    const auto started = std::chrono::system_clock::now();
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
    report.Started = started;
    report.Ended = std::chrono::system_clock::now();
    for (const TDNSDispInfo& info : items) {
        report.Items.push_back({info, tries.Tries(info)});
    }
    return report;
}

TRunRecord RecordOf(const TRunReport& report)
{
    TRunRecord run;
    run.Started = report.Started;
    run.Ended = report.Ended;
    run.Plan = GbkToUtf8(report.PlanName);
    for (const TItemResult& item : report.Items) {
        const TDNSDispInfo& info = item.Info;
        run.Items.push_back({GbkToUtf8(info.Name), GbkToUtf8(info.DomainIP), info.DoType, GbkToUtf8(info.IP),
                             item.Tries});
    }
    return run;
}
