#pragma once
// A completed run as the history keeps it.

#include "engine/Trytimes.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Texts are UTF-8.
struct TItemRecord {
    std::string Name;
    std::string Host;
    int Method = 0;       // the item's DoType
    std::string Address;  // the address measured; empty when it was not resolved
    TTryTimes Tries;
    // How each try ended, causes and phases; empty in runs recorded before
    // these were kept, and where the history's were damaged.
    TTryOutcomes Outcomes;
};

struct TRunRecord {
    int64_t Id = 0;  // given by the history
    std::chrono::system_clock::time_point Started, Ended;
    std::string Plan;
    std::vector<TItemRecord> Items;
};

// A run as the list of runs shows it.
struct TRunSummary {
    int64_t Id = 0;
    std::chrono::system_clock::time_point Started, Ended;
    std::string Plan;
    std::optional<double> Average;  // ms, MeanOfAverages of the items' TryFigures means
    int Answered = 0;
    int Total = 0;
};
