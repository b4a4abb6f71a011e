#include "vqlib/Vqtick.h"

namespace {

class TSteadyClock final : public TClock {
public:
    std::chrono::microseconds Now() override
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch());
    }
    bool Pause(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, std::chrono::milliseconds pause,
               const std::function<bool()>& stop) override
    {
        return changed.wait_for(lock, pause, stop);
    }
};

THook<TClock*>& ClockHook()
{
    // Never destroyed: a thread still running at exit may read the time.
    static THook<TClock*>* hook = new THook<TClock*>(new TSteadyClock);
    return *hook;
}

}  // namespace

TClock& CurrentClock() { return *ClockHook().Get(); }

uint32_t GetTickCount()
{
    using namespace std::chrono;
    // Wraps like a 32-bit tick counter.
    return static_cast<uint32_t>(duration_cast<milliseconds>(CurrentClock().Now()).count());
}

TClockScope::TClockScope(TClock& clock) : FScope(ClockHook(), &clock) {}
