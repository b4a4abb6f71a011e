#include "engine/Watchschedule.h"

#include <algorithm>

int TWatchSchedule::ClampInterval(int seconds) { return std::clamp(seconds, kMinInterval, kMaxInterval); }

TWatchSchedule::TWatchSchedule(int seconds) : FInterval(ClampInterval(seconds)) {}

void TWatchSchedule::RunStarted(std::chrono::microseconds at)
{
    FLastStart = at;
    ++FRuns;
}

std::chrono::milliseconds TWatchSchedule::DelayToNext(std::chrono::microseconds now) const
{
    using namespace std::chrono;
    if (FRuns == 0)
        return milliseconds(0);
    const microseconds due = FLastStart + duration_cast<microseconds>(FInterval);
    if (now >= due)
        return milliseconds(0);
    // Rounded up: a timer that fires early would find the run not yet due.
    return ceil<milliseconds>(due - now);
}
