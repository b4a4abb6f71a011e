#pragma once
// A 32-bit millisecond tick counter from a monotonic clock; take differences
// as unsigned 32-bit values. The same clock times the pauses between tries,
// so a test that installs its own (TClockScope) waits for neither.

#include "vqlib/Vqhook.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds since some fixed point; never goes back.
    virtual uint64_t Milliseconds() = 0;
    // With lock held: waits on changed until stop() holds or pause has
    // passed, and returns stop().
    virtual bool Pause(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
                       std::chrono::milliseconds pause, const std::function<bool()>& stop) = 0;
};

// The installed clock: the system's monotonic one unless a test put its own.
TClock& CurrentClock();

uint32_t GetTickCount();

// Installs clock for one scope, the previous one again after; the clock must
// outlive every thread that reads it meanwhile.
class TClockScope {
public:
    explicit TClockScope(TClock& clock);

private:
    THookScope<TClock*> FScope;
};
