#pragma once
// The recent tries of a plan's items for the live chart: per item, each try
// as the time it ended and its time (none: failed). Workers add from their
// threads; the chart reads on the UI thread. No clock inside: callers pass
// the times, so tests and benchmarks run on a clock of their own.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TLiveTries {
public:
    using TClock = std::chrono::system_clock;
    // The chart's longest window; older tries are of no use to it.
    static constexpr std::chrono::hours kKeep{2};

    struct TPoint {
        TClock::time_point Ended;
        std::optional<std::chrono::microseconds> Time;  // none: the try failed
    };

    // Any thread. A try ending before the item's last one is put in its
    // place, so reads stay in time order.
    void Add(const std::string& item, TClock::time_point ended, std::optional<std::chrono::microseconds> time);
    // Drops every try that ended before now - kKeep, and items left empty.
    void Prune(TClock::time_point now);
    void Clear();

    // The item's tries that ended in [from, to], in time order.
    std::vector<TPoint> Points(const std::string& item, TClock::time_point from, TClock::time_point to) const;
    // The same without a copy: visit(const TPoint&) for each, in time order,
    // under the lock.
    template <class TVisit>
    void ForEachPoint(const std::string& item, TClock::time_point from, TClock::time_point to, TVisit visit) const
    {
        const std::lock_guard lock(FMutex);
        const auto found = FByItem.find(item);
        if (found == FByItem.end())
            return;
        const std::deque<TPoint>& points = found->second;
        auto at = std::lower_bound(points.begin(), points.end(), from,
                                   [](const TPoint& p, TClock::time_point t) { return p.Ended < t; });
        for (; at != points.end() && at->Ended <= to; ++at)
            visit(*at);
    }
    // Of every item.
    size_t PointCount() const;
    // Changes with every try added, pruned or cleared: a reader that saw
    // the same version before has nothing new to draw.
    uint64_t Version() const;

private:
    mutable std::mutex FMutex;
    std::map<std::string, std::deque<TPoint>> FByItem;
    uint64_t FVersion = 0;
};
