#include "cli/Watch.h"

#include "engine/Itemtexts.h"
#include "vqlib/Gbk.h"

#include <algorithm>

int RunWatch(std::chrono::milliseconds period, TRunStop& stop, const std::function<TRunReport(TRunStop&)>& runOnce,
             const std::function<void(const TRunReport&)>& completed)
{
    using Clock = std::chrono::steady_clock;
    int status = 1;
    while (!stop.Requested()) {
        const Clock::time_point started = Clock::now();
        const TRunReport report = runOnce(stop);
        if (!report.Aborted) {
            status = ExitStatus(report);
            completed(report);
        }
        const Clock::duration left = started + period - Clock::now();
        if (left > Clock::duration::zero() &&
            stop.WaitFor(std::chrono::ceil<std::chrono::milliseconds>(left)))
            break;
    }
    return status;
}

namespace {

int32_t MadeTries(const TRunReport& report)
{
    int32_t made = 0;
    for (const TItemResult& item : report.Items)
        made += TriesMade(item, report.TestTimes);
    return made;
}

}  // namespace

void TWatchSummary::Add(const TRunReport& report)
{
    if (MadeTries(report) == 0)
        return;
    ++FRuns;
    FLastStopped = report.Aborted;
    // Every run measures the same items; a longer list only adds at the end.
    if (FItems.size() < report.Items.size())
        FItems.resize(report.Items.size());
    for (size_t index = 0; index < report.Items.size(); ++index)
        AddItem(report.Items[index], report.TestTimes, FItems[index]);
}

void TWatchSummary::AddItem(const TItemResult& item, int32_t testTimes, TItemTotals& totals)
{
    totals.Name = TerminalText(GbkToUtf8(item.Info.Name));
    totals.Host = TerminalText(GbkToUtf8(item.Info.DomainIP));
    totals.Method = item.Info.DoType;
    const int32_t made = TriesMade(item, testTimes);
    totals.Tries += made;
    int32_t answered = 0;
    for (const std::optional<std::chrono::microseconds>& time : item.Tries) {
        if (!time)
            continue;
        const double ms = std::chrono::duration<double, std::milli>(*time).count();
        totals.FastestMs = totals.Answered == 0 ? ms : std::min(totals.FastestMs, ms);
        totals.SlowestMs = totals.Answered == 0 ? ms : std::max(totals.SlowestMs, ms);
        totals.SumMs += ms;
        ++totals.Answered;
        ++answered;
    }
    totals.Failed += made - answered;
}

std::string TWatchSummary::Format() const
{
    std::vector<std::vector<std::string>> rows{
        {"名称", "域名/IP地址", "测速方式", "尝试次数", "失败次数", "最快(毫秒)", "平均(毫秒)", "最慢(毫秒)"}};
    for (const TItemTotals& item : FItems) {
        const bool answered = item.Answered > 0;
        rows.push_back({item.Name, item.Host, MethodText(item.Method), std::to_string(item.Tries),
                        std::to_string(item.Failed), answered ? Fixed2(item.FastestMs) : "-",
                        answered ? Fixed2(item.SumMs / double(item.Answered)) : "-",
                        answered ? Fixed2(item.SlowestMs) : "-"});
    }
    return "测速次数: " + std::to_string(FRuns) + (FLastStopped ? " (最后一次已停止)" : "") + "\n" +
           AlignedColumns(rows, 3);
}
