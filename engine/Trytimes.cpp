#include "engine/Trytimes.h"

#include <algorithm>
#include <cmath>

std::optional<TTryFigures> TryFigures(const TTryTimes& tries)
{
    std::vector<double> times;
    for (const auto& time : tries)
        if (time)
            times.push_back(std::chrono::duration<double, std::milli>(*time).count());
    if (times.empty())
        return std::nullopt;
    TTryFigures figures;
    figures.Fastest = *std::min_element(times.begin(), times.end());
    figures.Slowest = *std::max_element(times.begin(), times.end());
    double sum = 0;
    for (double time : times)
        sum += time;
    figures.Mean = sum / times.size();
    double squares = 0;
    for (double time : times)
        squares += (time - figures.Mean) * (time - figures.Mean);
    figures.StdDev = std::sqrt(squares / times.size());
    return figures;
}

TTryLog::TTryLog(int tries) : FTries(std::max(tries, 0)) {}

TTryObserver TTryLog::Observer()
{
    return [this](const TDNSDispInfo& item, int index, bool ok, std::chrono::microseconds elapsed) {
        Add(item, index, ok, elapsed);
    };
}

void TTryLog::Add(const TDNSDispInfo& item, int index, bool ok, std::chrono::microseconds elapsed)
{
    std::lock_guard lock(FMutex);
    TTryTimes& times = FByItem.try_emplace(&item, FTries).first->second;
    if (index < 0 || index >= FTries)
        return;
    if (ok)
        times[index] = elapsed;
    else
        times[index].reset();
}

void TTryLog::Clear()
{
    std::lock_guard lock(FMutex);
    FByItem.clear();
}

TTryTimes TTryLog::Tries(const TDNSDispInfo& item) const
{
    std::lock_guard lock(FMutex);
    const auto it = FByItem.find(&item);
    return it != FByItem.end() ? it->second : TTryTimes(FTries);
}
