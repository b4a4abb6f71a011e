#pragma once
// orvel-cli --watch: a run every period until asked to stop.

#include "cli/Clirun.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Calls runOnce(stop) every period, or right after a run that took longer
// (the next period counts from there: late runs are not made up for), hands
// each completed (not Aborted) report to completed(), and once stop is
// requested returns the exit status of the last completed run (1 when none).
int RunWatch(std::chrono::milliseconds period, TRunStop& stop, const std::function<TRunReport(TRunStop&)>& runOnce,
             const std::function<void(const TRunReport&)>& completed);

// What a watch's runs measured, item by item, for the summary printed when
// it stops, as ping's statistics after its replies.
class TWatchSummary {
public:
    // A completed run, or a stopped one with the tries it made; a run that
    // made no try is not counted.
    void Add(const TRunReport& report);
    int Runs() const { return FRuns; }
    // The runs counted, then per item the tries, the failed ones, and the
    // fastest, mean and slowest answer, as a table.
    std::string Format() const;

private:
    struct TItemTotals {
        std::string Name, Host;  // UTF-8, for the terminal
        int8_t Method = 0;
        int64_t Tries = 0;
        int64_t Failed = 0;
        int64_t Answered = 0;
        double SumMs = 0.0;
        double FastestMs = 0.0;
        double SlowestMs = 0.0;
    };
    void AddItem(const TItemResult& item, int32_t testTimes, TItemTotals& totals);

    std::vector<TItemTotals> FItems;
    int FRuns = 0;
    bool FLastStopped = false;
};
