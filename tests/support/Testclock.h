#pragma once
// A clock for tests: pauses between tries pass at once and are only written
// down; the time is the real one until a test sets it.

#include "vqlib/Vqtick.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

class TTestClock final : public TClock {
public:
    std::chrono::microseconds Now() override
    {
        std::lock_guard lock(FMutex);
        if (FTicks)
            return *FTicks;
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch());
    }

    bool Pause(std::condition_variable&, std::unique_lock<std::mutex>&, std::chrono::milliseconds pause,
               const std::function<bool()>& stop) override
    {
        if (stop())
            return true;
        std::lock_guard lock(FMutex);
        FPauses.push_back(pause);
        return false;
    }

    std::chrono::milliseconds PauseLength(std::chrono::milliseconds pause) override
    {
        std::lock_guard lock(FMutex);
        FPauses.push_back(pause);
        return std::chrono::milliseconds(0);
    }

    // From now on the clock stands at ms milliseconds until set or advanced again.
    void SetTicks(uint64_t ms)
    {
        std::lock_guard lock(FMutex);
        FTicks = std::chrono::milliseconds(ms);
    }
    void Advance(std::chrono::microseconds by)
    {
        std::lock_guard lock(FMutex);
        FTicks = FTicks.value_or(std::chrono::microseconds(0)) + by;
    }

    // Every pause taken so far, in the order they began.
    std::vector<std::chrono::milliseconds> Pauses() const
    {
        std::lock_guard lock(FMutex);
        return FPauses;
    }

private:
    mutable std::mutex FMutex;
    std::optional<std::chrono::microseconds> FTicks;
    std::vector<std::chrono::milliseconds> FPauses;
};
