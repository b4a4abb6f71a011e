#pragma once
// A clock for tests: pauses between tries pass at once and are only written
// down; the ticks are the real ones until a test sets them.

#include "vqlib/Vqtick.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

class TTestClock final : public TClock {
public:
    uint64_t Milliseconds() override
    {
        std::lock_guard lock(FMutex);
        if (FTicks)
            return *FTicks;
        using namespace std::chrono;
        return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
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

    // From now on the ticks stand at ms until set or advanced again.
    void SetTicks(uint64_t ms)
    {
        std::lock_guard lock(FMutex);
        FTicks = ms;
    }
    void Advance(std::chrono::milliseconds by)
    {
        std::lock_guard lock(FMutex);
        FTicks = FTicks.value_or(0) + static_cast<uint64_t>(by.count());
    }

    // Every pause taken so far, in the order they began.
    std::vector<std::chrono::milliseconds> Pauses() const
    {
        std::lock_guard lock(FMutex);
        return FPauses;
    }

private:
    mutable std::mutex FMutex;
    std::optional<uint64_t> FTicks;
    std::vector<std::chrono::milliseconds> FPauses;
};
