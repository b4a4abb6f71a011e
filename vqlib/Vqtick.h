#pragma once
// The monotonic clock that times every try, in microseconds, and the 32-bit
// millisecond tick counter read from it (differences taken as unsigned 32-bit).
// The same clock times the pauses between tries, so a test that installs its
// own (TClockScope) waits for neither.

#include "vqlib/Vqhook.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class TClock {
public:
    virtual ~TClock() = default;
    // Time since some fixed point; never goes back.
    virtual std::chrono::microseconds Now() = 0;
    // With lock held: waits on changed until stop() holds or pause has
    // passed, and returns stop().
    virtual bool Pause(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
                       std::chrono::milliseconds pause, const std::function<bool()>& stop) = 0;
    // How long a pause that a timer waits out really lasts: pause itself,
    // or nothing on a clock whose pauses pass at once.
    virtual std::chrono::milliseconds PauseLength(std::chrono::milliseconds pause) { return pause; }
};

// The installed clock: the system's monotonic one unless a test put its own.
TClock& CurrentClock();

uint32_t GetTickCount();

// Times one interval by the installed clock, from its construction.
class TStopwatch {
public:
    TStopwatch() : FStart(CurrentClock().Now()) {}
    std::chrono::microseconds Elapsed() const { return CurrentClock().Now() - FStart; }

private:
    std::chrono::microseconds FStart;
};

// Installs clock for one scope, the previous one again after; the clock must
// outlive every thread that reads it meanwhile.
class TClockScope {
public:
    explicit TClockScope(TClock& clock);

private:
    THookScope<TClock*> FScope;
};
