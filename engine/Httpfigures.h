#pragma once
// What a home page's tries tell beyond their times: the phases of each fetch,
// the server's answer, and the figures of an item made from them.

#include "engine/Tryoutcome.h"
#include "engine/Trytimes.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct THttpPhase {
    const char* Name;  // as the blackbox exporter names it
    std::chrono::microseconds THttpTry::*Time;
    bool HttpsOnly;
};

inline constexpr std::array<THttpPhase, 5> kHttpPhases{{{"resolve", &THttpTry::Resolve, false},
                                                        {"connect", &THttpTry::Connect, false},
                                                        {"tls", &THttpTry::Tls, true},
                                                        {"processing", &THttpTry::Processing, false},
                                                        {"transfer", &THttpTry::Transfer, false}}};

// A home page's target that is fetched over TLS ("https://" in any case).
bool IsHttpsTarget(const std::string& target);

// The phases' sum: the try's time when it succeeded.
std::chrono::microseconds FetchTime(const THttpTry& fetch);

// The body's KiB per second of the whole fetch; none without an answer or time.
std::optional<double> RateKBps(const THttpTry& fetch);

// A try the server answered, with a status of any kind.
bool Answered(const std::optional<TTryOutcome>& outcome);

// The figures of an item's answered tries: the mean of each phase (in
// kHttpPhases' order) and the rate of all their bytes over all their time;
// status, body size, address and certificate expiry are the last answer's.
struct THttpFigures {
    std::array<double, kHttpPhases.size()> PhaseMs{};
    std::optional<double> RateKBps;
    int Status = 0;
    int64_t BodyBytes = 0;
    std::string Address;
    int64_t CertExpiry = 0;  // Unix seconds; 0: none
    int Answered = 0;
};

// None when no try was answered.
std::optional<THttpFigures> HttpFigures(const TTryOutcomes& outcomes);
