#include "cli/Clihabits.h"

#include "vqlib/Gbk.h"

#include <cstdio>

namespace {

std::string TargetOf(const TDNSDispInfo& item) { return TerminalText(GbkToUtf8(item.DomainIP)); }

std::string Milliseconds(std::chrono::microseconds elapsed)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(elapsed.count()) / 1000.0);
    return text;
}

}  // namespace

std::string TryLine(const TDNSDispInfo& item, int index, const TTryOutcome& outcome)
{
    return TargetOf(item) + " : [" + std::to_string(index + 1) + "], " +
           (outcome.Ok ? Milliseconds(outcome.Elapsed) : CauseCode(outcome)) + "\n";
}

std::string TargetList(const TRunReport& report, bool answered)
{
    std::string lines;
    for (const TItemResult& item : report.Items)
        if ((item.Info.State == tsDone) == answered)
            lines += TargetOf(item.Info) + "\n";
    return lines;
}
