#pragma once
// How each try of an item ended, as the history keeps it beside the times: a
// JSON array with an entry per try, null for a try not made. Causes are kept
// by their stable code, so that a later version reads them, and a file that
// is damaged or made by hand is read with care.

#include "engine/Trytimes.h"

#include <cstddef>
#include <string>
#include <string_view>

// Beyond these the text is not read: no run makes them.
constexpr size_t kMaxKeptTries = 10'000;
constexpr size_t kMaxKeptBytesPerTry = 512;

// Empty for no outcomes.
std::string OutcomesJson(const TTryOutcomes& outcomes);

// The outcomes in text when they agree with tries, the item's times kept
// beside them: as many, succeeding where a time is and with that time. Empty
// otherwise, and for a text too long or not of this shape. Values out of
// range read as unknown; causes not known read as TTryCause::Other.
TTryOutcomes OutcomesOfJson(std::string_view text, const TTryTimes& tries);
