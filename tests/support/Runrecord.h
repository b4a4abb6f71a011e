#pragma once
// A run as the history keeps it, for the tests of what records runs.

#include "history/Historydb.h"

#include <chrono>
#include <cstdint>
#include <optional>

// Plan "p" started at this second, one second long, one item whose first
// try took 1 ms and whose second failed.
inline TRunRecord MakeRun(int64_t started)
{
    using namespace std::chrono_literals;
    TRunRecord run;
    run.Plan = "p";
    run.Started = std::chrono::system_clock::time_point(std::chrono::seconds(started));
    run.Ended = run.Started + 1s;
    run.Items.push_back({"a", "127.0.0.1", 0, "127.0.0.1", {1ms, std::nullopt}, {}});
    return run;
}
