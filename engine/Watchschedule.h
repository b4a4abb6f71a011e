#pragma once
// When the next of a series of watched runs starts: one interval after the
// start of the run before it, or at once when that run took longer.

#include <chrono>

class TWatchSchedule {
public:
    static constexpr int kMinInterval = 5;     // s
    static constexpr int kMaxInterval = 3600;  // s
    static constexpr int kDefaultInterval = 60;

    static int ClampInterval(int seconds);

    // seconds is clamped to kMinInterval..kMaxInterval.
    explicit TWatchSchedule(int seconds = kDefaultInterval);

    std::chrono::seconds Interval() const { return FInterval; }
    // A run of the series started at at (any monotonic clock's time).
    void RunStarted(std::chrono::microseconds at);
    int RunsStarted() const { return FRuns; }
    // From now until the next run is due; zero when it is overdue or when no
    // run has started yet.
    std::chrono::milliseconds DelayToNext(std::chrono::microseconds now) const;

private:
    std::chrono::seconds FInterval;
    std::chrono::microseconds FLastStart{0};
    int FRuns = 0;
};
