#pragma once
// How one try of any method ended, as its waiting side hands it back.

#include <atomic>
#include <chrono>
#include <cstdint>

// Why a try failed; None for one that succeeded (or whose cause is not told).
enum class TTryCause : uint8_t {
    None,
    Refused,      // the port is closed: a TCP reset, ICMP port unreachable
    Timeout,      // no answer within the try's time limit
    Unreachable,  // an ICMP error about the request, or no route
    DnsAnswer,    // the DNS server answered with an error code (DnsRcode)
    Aborted,      // the run was stopped
    Denied,       // no ICMP socket of either kind may be opened here
    Shortage,     // no descriptor, socket buffer or memory (Shortage)
    BadTarget,    // nothing that can be measured: no address, no port
    Other,
};

struct TTryOutcome {
    bool Ok = false;
    std::chrono::microseconds Elapsed{0};  // when Ok
    bool Denied = false;  // a Ping try: no ICMP socket of either kind may be opened here
    int Shortage = 0;     // errno of a shortage that failed the try (engine/Shortage.h); 0: none
    TTryCause Cause = TTryCause::None;
    uint8_t DnsRcode = 0;  // with TTryCause::DnsAnswer: SERVFAIL 2, NXDOMAIN 3, REFUSED 5, ...
};

// The cause a failed system call's errno stands for.
TTryCause CauseOfError(int error);
// What a try that waited until its deadline failed of: its time limit, or a
// stop of the run when abort has turned true.
TTryCause CauseAtDeadline(const std::atomic<bool>* abort);
