#include "cli/Clirun.h"

// TODO: wired to the engine's run once it lands.
TRunReport RunPlan(const std::string& planName, std::vector<TDNSDispInfo> items, const TProgress&)
{
    TRunReport report;
    report.PlanName = planName;
    for (TDNSDispInfo& info : items)
        report.Items.push_back({std::move(info), {}, {}});
    return report;
}
