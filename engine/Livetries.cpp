#include "engine/Livetries.h"

#include <algorithm>

namespace {

bool EndedBefore(const TLiveTries::TPoint& point, TLiveTries::TClock::time_point time)
{
    return point.Ended < time;
}

}  // namespace

void TLiveTries::Add(const std::string& item, TClock::time_point ended, std::optional<std::chrono::microseconds> time)
{
    const std::lock_guard lock(FMutex);
    std::deque<TPoint>& points = FByItem[item];
    ++FVersion;
    // Workers of one item may report a little out of order; almost always
    // this is the end.
    if (points.empty() || points.back().Ended <= ended) {
        points.push_back({ended, time});
        return;
    }
    const auto place = std::upper_bound(points.begin(), points.end(), ended,
                                        [](TClock::time_point t, const TPoint& p) { return t < p.Ended; });
    points.insert(place, {ended, time});
}

void TLiveTries::Prune(TClock::time_point now)
{
    const TClock::time_point oldest = now - kKeep;
    const std::lock_guard lock(FMutex);
    for (auto entry = FByItem.begin(); entry != FByItem.end();) {
        std::deque<TPoint>& points = entry->second;
        const auto keptFrom = std::lower_bound(points.begin(), points.end(), oldest, EndedBefore);
        if (keptFrom != points.begin())
            ++FVersion;
        points.erase(points.begin(), keptFrom);
        if (points.empty()) {
            entry = FByItem.erase(entry);
        } else {
            // A deque keeps the blocks it once had; once the window is full
            // its size stays level, and so does its memory.
            ++entry;
        }
    }
}

void TLiveTries::Clear()
{
    const std::lock_guard lock(FMutex);
    FByItem.clear();
    ++FVersion;
}

uint64_t TLiveTries::Version() const
{
    const std::lock_guard lock(FMutex);
    return FVersion;
}

std::vector<TLiveTries::TPoint> TLiveTries::Points(const std::string& item, TClock::time_point from,
                                                   TClock::time_point to) const
{
    const std::lock_guard lock(FMutex);
    const auto found = FByItem.find(item);
    if (found == FByItem.end() || to < from)
        return {};
    const std::deque<TPoint>& points = found->second;
    const auto first = std::lower_bound(points.begin(), points.end(), from, EndedBefore);
    const auto last = std::upper_bound(first, points.end(), to,
                                       [](TClock::time_point t, const TPoint& p) { return t < p.Ended; });
    return {first, last};
}

size_t TLiveTries::PointCount() const
{
    const std::lock_guard lock(FMutex);
    size_t count = 0;
    for (const auto& [item, points] : FByItem)
        count += points.size();
    return count;
}
