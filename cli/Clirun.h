#pragma once
// Runs a plan's items with the engine, as the window's run does, and gathers
// the time of each item's every try.

#include "cli/Clireport.h"
#include "history/Runrecord.h"

#include <functional>

using TProgress = std::function<void(int finished, int total)>;

TRunReport RunPlan(const std::string& planName, std::vector<TDNSDispInfo> items, const TProgress& progress);

// The run as the history keeps it, in UTF-8.
TRunRecord RecordOf(const TRunReport& report);
