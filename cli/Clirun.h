#pragma once
// Runs a plan's items with the engine, as the window's run does, and gathers
// the time of each item's every try.

#include "cli/Clireport.h"
#include "history/Runrecord.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

using TProgress = std::function<void(int finished, int total)>;

// How a run measures; the defaults are the window's fixed values.
struct TRunSettings {
    int32_t Count = 5;                        // tries per item
    std::chrono::milliseconds Interval{100};  // pause between tries, none after the last
    std::chrono::milliseconds Timeout{5000};  // one Ping or DNS try
    // A whole home-page fetch; empty: the HTTP client's own limits, as in the window.
    std::optional<std::chrono::milliseconds> HomePageTimeout;
    int Workers = 20;  // items measured at once
    std::optional<std::string> DnsQueryName;  // asked by DNS items; empty: the engine's own name
    bool FailOnHttpError = false;  // a home page's status of 400 or more fails its try, as curl --fail
    int Family = 0;  // AF_INET or AF_INET6: names resolved to that family only; 0 either
    // Told of each try as it ends, on the try loop's thread (TTryObserver); empty: nobody.
    std::function<void(const TDNSDispInfo& item, int index, const TTryOutcome& outcome)> EachTry;
    static constexpr int kMostWorkers = 65536;  // a /16 of addresses at once
};

// Stops a run from any thread: the run in progress shuts down, its tries in
// flight abort, and RunPlan returns a report with Aborted set. Once
// requested, it stays requested.
class TRunStop {
public:
    void Request();
    bool Requested() const;
    // Waits up to timeout or until requested; true when requested.
    bool WaitFor(std::chrono::milliseconds timeout) const;

private:
    friend class TRunStopHook;
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FRequested = false;
    std::function<void()> FOnRequest;  // set while a run is in progress
};

TRunReport RunPlan(const std::string& planName, std::vector<TDNSDispInfo> items, const TRunSettings& settings,
                   const TProgress& progress, TRunStop* stop = nullptr);

// One line for the user on what a run's tries ran out of (TRunReport::Shortage):
// the error and the limit that was reached, with the way to raise it.
std::string ShortageText(int error);

// 0 when every item answered at least once, else 1.
int ExitStatus(const TRunReport& report);

// The run as the history keeps it, in UTF-8.
TRunRecord RecordOf(const TRunReport& report);
