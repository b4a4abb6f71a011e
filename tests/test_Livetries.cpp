#include "engine/Livetries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TClock = TLiveTries::TClock;

const TClock::time_point kStart = TClock::time_point(std::chrono::hours(500000));

std::vector<TClock::time_point> EndsOf(const std::vector<TLiveTries::TPoint>& points)
{
    std::vector<TClock::time_point> ends;
    for (const TLiveTries::TPoint& point : points)
        ends.push_back(point.Ended);
    return ends;
}

// Late reports land in their place; failed tries are kept with no time;
// a range is inclusive at both ends and per item.
TEST(Livetries, ReadsARangeInTimeOrderWithFailuresKept)
{
    TLiveTries tries;
    tries.Add("甲", kStart + 1s, 10ms);
    tries.Add("甲", kStart + 3s, std::nullopt);
    tries.Add("甲", kStart + 2s, 20ms);
    tries.Add("乙", kStart + 2s, 5ms);
    EXPECT_EQ(EndsOf(tries.Points("甲", kStart, kStart + 10s)),
              (std::vector<TClock::time_point>{kStart + 1s, kStart + 2s, kStart + 3s}));
    const auto middle = tries.Points("甲", kStart + 2s, kStart + 3s);
    ASSERT_EQ(middle.size(), 2u);
    EXPECT_EQ(middle[0].Time, 20ms);
    EXPECT_FALSE(middle[1].Time);
    EXPECT_EQ(tries.Points("乙", kStart, kStart + 10s).size(), 1u);
    EXPECT_TRUE(tries.Points("丙", kStart, kStart + 10s).empty());
    EXPECT_TRUE(tries.Points("甲", kStart + 10s, kStart).empty());
    EXPECT_EQ(tries.PointCount(), 4u);
    tries.Clear();
    EXPECT_EQ(tries.PointCount(), 0u);
}

// The visitor sees what Points() copies; the version moves with each change
// a reader must draw, and not with a prune that drops nothing.
TEST(Livetries, VisitsInOrderAndVersionsEachChange)
{
    TLiveTries tries;
    const uint64_t empty = tries.Version();
    tries.Add("甲", kStart + 2s, 20ms);
    tries.Add("甲", kStart + 1s, std::nullopt);
    tries.Add("甲", kStart + 9s, 5ms);
    const uint64_t added = tries.Version();
    EXPECT_NE(added, empty);
    std::vector<TClock::time_point> visited;
    tries.ForEachPoint("甲", kStart, kStart + 5s, [&](const TLiveTries::TPoint& point) { visited.push_back(point.Ended); });
    EXPECT_EQ(visited, EndsOf(tries.Points("甲", kStart, kStart + 5s)));
    EXPECT_EQ(visited, (std::vector<TClock::time_point>{kStart + 1s, kStart + 2s}));
    tries.ForEachPoint("乙", kStart, kStart + 5s, [&](const TLiveTries::TPoint&) { ADD_FAILURE(); });

    tries.Prune(kStart + 1h);
    EXPECT_EQ(tries.Version(), added);
    tries.Prune(kStart + 2h + 5s);
    EXPECT_NE(tries.Version(), added);
    const uint64_t pruned = tries.Version();
    tries.Clear();
    EXPECT_NE(tries.Version(), pruned);
}

// What ended more than two hours before now goes; the rest stays.
TEST(Livetries, PrunesByAge)
{
    TLiveTries tries;
    tries.Add("甲", kStart, 1ms);
    tries.Add("甲", kStart + 1h, 1ms);
    tries.Add("乙", kStart + 10min, std::nullopt);
    tries.Prune(kStart + 2h + 30min);
    EXPECT_EQ(EndsOf(tries.Points("甲", kStart - 1h, kStart + 5h)), (std::vector<TClock::time_point>{kStart + 1h}));
    EXPECT_TRUE(tries.Points("乙", kStart - 1h, kStart + 5h).empty());
    EXPECT_EQ(tries.PointCount(), 1u);
}

// Three hours of 20 items tried every 5 s, pruned as the chart does: the
// count levels off at two hours' worth.
TEST(Livetries, TheCountStopsGrowingOnceTheWindowIsFull)
{
    TLiveTries tries;
    constexpr int kItems = 20;
    const size_t full = size_t(kItems) * (2 * 3600 / 5 + 1);
    for (auto now = kStart; now <= kStart + 3h; now += 5s) {
        for (int item = 0; item < kItems; ++item)
            tries.Add(std::to_string(item), now, item % 7 == 0 ? std::nullopt : std::optional(3ms));
        tries.Prune(now);
        EXPECT_LE(tries.PointCount(), full);
    }
    EXPECT_EQ(tries.PointCount(), full);
}

// Workers add concurrently while the chart reads and prunes (run under TSan).
TEST(Livetries, AddsFromSeveralThreads)
{
    TLiveTries tries;
    constexpr int kThreads = 4, kEach = 2000;
    std::vector<std::thread> workers;
    for (int thread = 0; thread < kThreads; ++thread)
        workers.emplace_back([&tries, thread] {
            for (int i = 0; i < kEach; ++i)
                tries.Add(thread % 2 ? "甲" : "乙", kStart + std::chrono::milliseconds(i), 1ms);
        });
    for (int i = 0; i < 200; ++i) {
        (void)tries.Points("甲", kStart, kStart + 1h);
        tries.Prune(kStart);
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(tries.PointCount(), size_t(kThreads * kEach));
    const auto points = tries.Points("甲", kStart, kStart + 1h);
    EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                               [](const auto& a, const auto& b) { return a.Ended < b.Ended; }));
}

}  // namespace
