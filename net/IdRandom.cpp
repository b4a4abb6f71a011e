#include "net/IdRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <limits>
#include <system_error>

namespace {

uint32_t RandomWord()
{
    uint32_t word = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&word);
    size_t filled = 0;
    while (filled < sizeof word) {
        const ssize_t got = getrandom(bytes + filled, sizeof word - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<size_t>(got);
    }
    return word;
}

}  // namespace

uint32_t RandomBelow(uint32_t range)
{
    if (range <= 1)
        return 0;
    // Words past the last whole multiple of range are drawn again, so that
    // the remainder favours no value.
    const uint32_t limit = std::numeric_limits<uint32_t>::max() - std::numeric_limits<uint32_t>::max() % range;
    uint32_t word = RandomWord();
    while (word >= limit)
        word = RandomWord();
    return word % range;
}
