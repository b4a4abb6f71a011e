#pragma once
// Waiting on what a test expects to happen instead of sleeping for a guess:
// on a busy machine a fixed sleep is too short, on an idle one too long.

#include <chrono>
#include <functional>
#include <thread>

// True as soon as condition holds, false if it still does not at the
// deadline. It is asked at once, then every few milliseconds.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
