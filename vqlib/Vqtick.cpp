#include "vqlib/Vqtick.h"

namespace {

class TSteadyClock final : public TClock {
public:
    uint64_t Milliseconds() override
    {
        using namespace std::chrono;
        return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
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
    return static_cast<uint32_t>(CurrentClock().Milliseconds());  // wraps like a 32-bit tick counter
}

TClockScope::TClockScope(TClock& clock) : FScope(ClockHook(), &clock) {}
