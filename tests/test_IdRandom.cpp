#include "net/IdRandom.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

TEST(IdRandom, StaysBelowTheRangeAndReachesEveryValue)
{
    EXPECT_EQ(RandomBelow(0), 0u);
    EXPECT_EQ(RandomBelow(1), 0u);
    std::vector<int> seen(3);
    for (int draw = 0; draw < 3000; ++draw) {
        const uint32_t value = RandomBelow(3);
        ASSERT_LT(value, 3u);
        ++seen[value];
    }
    // Each value comes about 1000 times; a stuck or biased source would not.
    for (int count : seen)
        EXPECT_GT(count, 800) << count;
    const uint32_t top = 0xFFFFFFFFu;
    for (int draw = 0; draw < 100; ++draw)
        EXPECT_LT(RandomBelow(top), top);
}

// Draws made one after the other, with no clock between them, still differ.
TEST(IdRandom, DrawsInTheSameInstantDiffer)
{
    std::set<uint32_t> values;
    for (int draw = 0; draw < 64; ++draw)
        values.insert(RandomBelow(62000));
    EXPECT_GE(values.size(), 60u);  // a repeat among 64 of 62000 is rare; five are not
}

}  // namespace
