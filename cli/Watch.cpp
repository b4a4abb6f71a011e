#include "cli/Watch.h"

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
