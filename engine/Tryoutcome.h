#pragma once
// How one try of any method ended, as its waiting side hands it back.

#include <chrono>

struct TTryOutcome {
    bool Ok = false;
    std::chrono::microseconds Elapsed{0};  // when Ok
    bool Denied = false;  // a Ping try: no ICMP socket of either kind may be opened here
    int Shortage = 0;     // errno of a shortage that failed the try (engine/Shortage.h); 0: none
};
