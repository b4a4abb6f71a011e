#pragma once
// Host lookups held until the test lets them answer, or until a delay has
// passed: a slow name server behind the host-lookup seam, counting how many
// lookups wait at once. Made with std::make_shared and handed to the seam by
// Lookup(): a lookup that a run abandons may still be running after the test.

#include "vqlib/Vqnet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class THeldLookups : public std::enable_shared_from_this<THeldLookups> {
public:
    using TAnswer = std::function<std::optional<std::string>(const std::string& host)>;

    // Each lookup answers answer(host) once the gate opens or delay has passed.
    explicit THeldLookups(TAnswer answer, std::chrono::milliseconds delay = std::chrono::seconds(20))
        : FAnswer(std::move(answer)), FDelay(delay)
    {
    }

    // For THostLookupScope; holds this object for as long as a lookup runs.
    THostLookup Lookup()
    {
        return [self = shared_from_this()](const std::string& host) { return self->Answer(host); };
    }

    std::optional<std::string> Answer(const std::string& host)
    {
        std::unique_lock lock(FMutex);
        ++FStarted;
        FMostInFlight = std::max(FMostInFlight, ++FInFlight);
        if (FOpenAt > 0 && FInFlight >= FOpenAt)
            FOpen = true;
        FChanged.notify_all();
        FChanged.wait_for(lock, FDelay, [this] { return FOpen; });
        --FInFlight;
        ++FAnswered;
        FChanged.notify_all();
        return FAnswer(host);
    }

    void Open()
    {
        std::lock_guard lock(FMutex);
        FOpen = true;
        FChanged.notify_all();
    }
    // The gate opens by itself once this many lookups wait at once.
    void OpenAt(int inFlight)
    {
        std::lock_guard lock(FMutex);
        FOpenAt = inFlight;
    }

    // Waits up to 20 s until condition(in flight, answered) holds.
    bool WaitFor(const std::function<bool(int inFlight, int answered)>& condition)
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::seconds(20), [&] { return condition(FInFlight, FAnswered); });
    }

    int InFlight() const { return Read(FInFlight); }
    int MostInFlight() const { return Read(FMostInFlight); }
    int Started() const { return Read(FStarted); }
    int Answered() const { return Read(FAnswered); }

private:
    int Read(const int& counter) const
    {
        std::lock_guard lock(FMutex);
        return counter;
    }

    TAnswer FAnswer;
    std::chrono::milliseconds FDelay;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    bool FOpen = false;
    int FOpenAt = 0;
    int FInFlight = 0;
    int FMostInFlight = 0;
    int FStarted = 0;
    int FAnswered = 0;
};
