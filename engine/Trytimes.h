#pragma once
// The time of each try of a run's items, and the figures made from them.

#include "engine/Calcspendingthread.h"
#include "engine/Dnsdispinfo.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

// Each try's time, in the order of the tries; none for a failed try or one
// not made.
using TTryTimes = std::vector<std::optional<std::chrono::microseconds>>;
// How each try ended, in the order of the tries; none for a try not made.
using TTryOutcomes = std::vector<std::optional<TTryOutcome>>;

// The times of the tries that succeeded.
TTryTimes TimesOf(const TTryOutcomes& outcomes);

// The address an item was measured at: its resolved IP, or for a home page,
// which resolves its host itself, the address its last try that reached a
// server connected to. Empty when there is none.
std::string MeasuredAddress(const TDNSDispInfo& item, const TTryOutcomes& outcomes);

// The figures of an item's successful tries, in ms; the standard deviation
// is the population's (the jitter of these tries).
struct TTryFigures {
    double Fastest = 0;
    double Mean = 0;
    double Slowest = 0;
    double StdDev = 0;
};

// None when no try succeeded. Every figure of an item, wherever it is shown,
// comes from here: the worker's average is this mean.
std::optional<TTryFigures> TryFigures(const TTryTimes& tries);

// The verdict of a run: the plain mean of the averages of the items that
// answered (those with a value); none when none did.
std::optional<double> MeanOfAverages(const std::vector<std::optional<double>>& averages);

// Gathers a run's tries as its workers report them, from any thread. Items
// are known by their address in the run, which stays put while it runs.
class TTryLog {
public:
    explicit TTryLog(int tries = 5);

    // The observer to hand to the run; it must not outlive this log.
    TTryObserver Observer();
    void Add(const TDNSDispInfo& item, int index, const TTryOutcome& outcome);
    void Clear();
    // As many places as tries; empty ones for tries failed or not made.
    TTryTimes Tries(const TDNSDispInfo& item) const;
    // As many places as tries; empty ones for tries not made.
    TTryOutcomes Outcomes(const TDNSDispInfo& item) const;

private:
    const int FTries;
    mutable std::mutex FMutex;
    std::map<const TDNSDispInfo*, TTryOutcomes> FByItem;
};
