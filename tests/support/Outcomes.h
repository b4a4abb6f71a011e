#pragma once
// Try outcomes as tests write them.

#include "engine/Tryoutcome.h"

#include <chrono>
#include <cstdint>

inline TTryOutcome Succeeded(std::chrono::microseconds elapsed)
{
    TTryOutcome outcome;
    outcome.Ok = true;
    outcome.Elapsed = elapsed;
    return outcome;
}

inline TTryOutcome Failed(TTryCause cause, uint8_t rcode = 0)
{
    TTryOutcome outcome;
    outcome.Cause = cause;
    outcome.DnsRcode = rcode;
    return outcome;
}
