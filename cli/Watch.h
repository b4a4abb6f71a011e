#pragma once
// orvel-cli --watch: a run every period until asked to stop.

#include "cli/Clirun.h"

#include <chrono>
#include <functional>

// Calls runOnce(stop) every period, or right after a run that took longer
// (the next period counts from there: late runs are not made up for), hands
// each completed (not Aborted) report to completed(), and once stop is
// requested returns the exit status of the last completed run (1 when none).
int RunWatch(std::chrono::milliseconds period, TRunStop& stop, const std::function<TRunReport(TRunStop&)>& runOnce,
             const std::function<void(const TRunReport&)>& completed);
