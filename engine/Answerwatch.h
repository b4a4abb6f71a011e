#pragma once
// Which items of a plan stopped or started answering between two completed
// runs, for the desktop's notifications.

#include "engine/Dnsdispinfo.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One item of a completed run: its name (UTF-8) and whether any try of it
// succeeded (state tsDone).
struct TAnswerState {
    std::string Name;
    bool Answered = false;
};

// An item that answered in the previous run and does not now (Answered
// false, "down"), or the other way round (Answered true, "up").
struct TAnswerChange {
    std::string Name;
    bool Answered = false;

    bool operator==(const TAnswerChange&) const = default;
};

// The states of a completed run's items, names made UTF-8. Items that were
// not measured to the end (waiting, testing) are left out: they count as
// absent, not as down.
std::vector<TAnswerState> AnswerStates(const std::vector<TDNSDispInfo>& items);

class TAnswerWatch {
public:
    // The changes since the previous run of the same plan, in the order of
    // items. Nothing after a start, a Reset or another plan, nor for an item
    // the previous run did not have. Items of the same name are told apart
    // by their order among themselves.
    std::vector<TAnswerChange> RunCompleted(const std::string& planUtf8, const std::vector<TAnswerState>& items);

    // Forgets the previous run: the next one is compared with nothing.
    void Reset();

private:
    using TKey = std::pair<std::string, int>;  // name, n-th item of that name

    std::optional<std::string> FPlan;  // none: no run seen yet
    std::map<TKey, bool> FAnswered;
};
