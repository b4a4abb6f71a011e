// The tries' outcomes as the history reads them, on arbitrary bytes: the
// first byte says how many tries the item has, each of the next ones whether
// a try succeeded (and the rest is the kept text). Nothing may crash or
// allocate beyond the limits, and what was read must be written and read
// again as it was.
#include "history/Outcomesjson.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t count = data[0] % 16;
    if (size < 1 + count)
        return 0;
    TTryTimes tries(count);
    for (size_t i = 0; i < count; ++i)
        if (data[1 + i] & 1)
            tries[i] = std::chrono::microseconds(data[1 + i] >> 1);
    const std::string_view text(reinterpret_cast<const char*>(data + 1 + count), size - 1 - count);
    const TTryOutcomes outcomes = OutcomesOfJson(text, tries);
    if (outcomes.empty())
        return 0;
    if (TimesOf(outcomes) != tries)
        std::abort();
    const std::string again = OutcomesJson(outcomes);
    if (OutcomesJson(OutcomesOfJson(again, tries)) != again)
        std::abort();
    return 0;
}
