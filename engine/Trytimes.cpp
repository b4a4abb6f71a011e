#include "engine/Trytimes.h"

#include <algorithm>
#include <cmath>

namespace {

double Milliseconds(std::chrono::microseconds time) { return std::chrono::duration<double, std::milli>(time).count(); }

}  // namespace

// Allocates nothing: the worker makes its average with it after memory may
// have run out.
std::optional<TTryFigures> TryFigures(const TTryTimes& tries)
{
    std::chrono::microseconds total{0};
    std::chrono::microseconds fastest = std::chrono::microseconds::max();
    std::chrono::microseconds slowest = std::chrono::microseconds::min();
    size_t count = 0;
    for (const auto& time : tries) {
        if (time) {
            total += *time;
            fastest = std::min(fastest, *time);
            slowest = std::max(slowest, *time);
            ++count;
        }
    }
    if (count == 0)
        return std::nullopt;
    TTryFigures figures;
    figures.Fastest = Milliseconds(fastest);
    figures.Slowest = Milliseconds(slowest);
    // Summed in whole microseconds, so that no try's rounding adds up.
    figures.Mean = Milliseconds(total) / static_cast<double>(count);
    double squares = 0;
    for (const auto& time : tries) {
        if (time) {
            const double difference = Milliseconds(*time) - figures.Mean;
            squares += difference * difference;
        }
    }
    figures.StdDev = std::sqrt(squares / static_cast<double>(count));
    return figures;
}

std::optional<double> MeanOfAverages(const std::vector<std::optional<double>>& averages)
{
    double sum = 0.0;
    int count = 0;
    for (const std::optional<double>& average : averages) {
        if (average) {
            sum += *average;
            ++count;
        }
    }
    if (count == 0)
        return std::nullopt;
    return sum / count;
}

TTryLog::TTryLog(int tries) : FTries(std::max(tries, 0)) {}

TTryObserver TTryLog::Observer()
{
    return [this](const TDNSDispInfo& item, int index, const TTryOutcome& outcome) { Add(item, index, outcome); };
}

void TTryLog::Add(const TDNSDispInfo& item, int index, const TTryOutcome& outcome)
{
    std::lock_guard lock(FMutex);
    TTryOutcomes& outcomes = FByItem.try_emplace(&item, FTries).first->second;
    if (index >= 0 && index < FTries)
        outcomes[index] = outcome;
}

void TTryLog::Clear()
{
    std::lock_guard lock(FMutex);
    FByItem.clear();
}

TTryTimes TTryLog::Tries(const TDNSDispInfo& item) const
{
    return TimesOf(Outcomes(item));
}

TTryOutcomes TTryLog::Outcomes(const TDNSDispInfo& item) const
{
    std::lock_guard lock(FMutex);
    const auto it = FByItem.find(&item);
    return it != FByItem.end() ? it->second : TTryOutcomes(FTries);
}

std::string MeasuredAddress(const TDNSDispInfo& item, const TTryOutcomes& outcomes)
{
    if (item.DoType != dtHomePage || !item.IP.empty())
        return item.IP;
    for (auto outcome = outcomes.rbegin(); outcome != outcomes.rend(); ++outcome)
        if (*outcome && (*outcome)->Http && !(*outcome)->Http->Address.empty())
            return (*outcome)->Http->Address;
    return {};
}

TTryTimes TimesOf(const TTryOutcomes& outcomes)
{
    TTryTimes times(outcomes.size());
    for (size_t i = 0; i < outcomes.size(); ++i)
        if (outcomes[i] && outcomes[i]->Ok)
            times[i] = outcomes[i]->Elapsed;
    return times;
}
