#include "vqlib/Vqtick.h"

#include "tests/support/Testclock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(TickCount, FollowsTheInstalledClockAndWrapsAt32Bits)
{
    TTestClock clock;
    TClockScope scope(clock);
    clock.SetTicks(0xFFFFFFFBull);
    const uint32_t t0 = GetTickCount();
    EXPECT_EQ(t0, 0xFFFFFFFBu);
    clock.Advance(10ms);
    EXPECT_EQ(GetTickCount(), 5u);
    EXPECT_EQ(GetTickCount() - t0, 10u);  // taken as unsigned 32-bit, right across the wrap
}

// Tries are timed to the microsecond by the installed clock.
TEST(Stopwatch, ReadsTheInstalledClockInMicroseconds)
{
    TTestClock clock;
    TClockScope scope(clock);
    clock.SetTicks(7);
    const TStopwatch watch;
    clock.Advance(43us);
    EXPECT_EQ(watch.Elapsed(), 43us);
    clock.Advance(2h);
    EXPECT_EQ(watch.Elapsed(), 2h + 43us);
}

// Every test hook is put back this way (vqlib/Vqhook.h).
TEST(TickCount, TheSystemClockIsBackWhenTheScopeEndsHoweverItEnds)
{
    TClock* system = &CurrentClock();
    TTestClock outer, inner;
    {
        TClockScope outerScope(outer);
        try {
            TClockScope innerScope(inner);
            EXPECT_EQ(&CurrentClock(), &inner);
            throw std::runtime_error("an assertion that ends the test");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(&CurrentClock(), &outer);
    }
    EXPECT_EQ(&CurrentClock(), system);
}

// The system clock's pause ends when it is told to stop, however long it was
// to be; a test clock's pause ends at once and is written down.
TEST(ClockPause, EndsEarlyWhenToldToStop)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        std::lock_guard lock(mutex);
        stop = true;
        changed.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(CurrentClock().Pause(changed, lock, 1h, [&] { return stop; }));
    }
    stopper.join();
    std::unique_lock lock(mutex);
    EXPECT_FALSE(CurrentClock().Pause(changed, lock, 1ms, [] { return false; }));

    TTestClock clock;
    TClockScope scope(clock);
    EXPECT_FALSE(CurrentClock().Pause(changed, lock, 1h, [] { return false; }));
    EXPECT_TRUE(CurrentClock().Pause(changed, lock, 1h, [] { return true; }));
    EXPECT_EQ(clock.Pauses(), std::vector<std::chrono::milliseconds>{1h});
}

}  // namespace
