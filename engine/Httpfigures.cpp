#include "engine/Httpfigures.h"

#include "engine/Measurehomepage.h"

#include <strings.h>

bool IsHttpsTarget(const std::string& target)
{
    return ::strncasecmp(HomePageURL(target).c_str(), "https://", 8) == 0;
}

std::chrono::microseconds FetchTime(const THttpTry& fetch)
{
    std::chrono::microseconds sum{0};
    for (const THttpPhase& phase : kHttpPhases)
        sum += fetch.*phase.Time;
    return sum;
}

namespace {

double Seconds(std::chrono::microseconds time) { return std::chrono::duration<double>(time).count(); }

std::optional<double> KBps(double bytes, std::chrono::microseconds time)
{
    if (time.count() <= 0)
        return std::nullopt;
    return bytes / 1024.0 / Seconds(time);
}

}  // namespace

std::optional<double> RateKBps(const THttpTry& fetch)
{
    if (fetch.Status == 0)
        return std::nullopt;
    return KBps(static_cast<double>(fetch.BodyBytes), FetchTime(fetch));
}

bool Answered(const std::optional<TTryOutcome>& outcome)
{
    return outcome && outcome->Http && outcome->Http->Status != 0;
}

std::optional<THttpFigures> HttpFigures(const TTryOutcomes& outcomes)
{
    THttpFigures figures;
    std::array<std::chrono::microseconds, kHttpPhases.size()> sums{};
    double bytes = 0;
    for (const std::optional<TTryOutcome>& outcome : outcomes) {
        if (!Answered(outcome))
            continue;
        const THttpTry& fetch = *outcome->Http;
        for (size_t i = 0; i < kHttpPhases.size(); ++i)
            sums[i] += fetch.*kHttpPhases[i].Time;
        bytes += static_cast<double>(fetch.BodyBytes);
        figures.Status = fetch.Status;
        figures.BodyBytes = fetch.BodyBytes;
        figures.Address = fetch.Address;
        figures.CertExpiry = fetch.CertExpiry;
        ++figures.Answered;
    }
    if (figures.Answered == 0)
        return std::nullopt;
    std::chrono::microseconds total{0};
    for (size_t i = 0; i < kHttpPhases.size(); ++i) {
        total += sums[i];
        figures.PhaseMs[i] = std::chrono::duration<double, std::milli>(sums[i]).count() / figures.Answered;
    }
    figures.RateKBps = KBps(bytes, total);
    return figures;
}
