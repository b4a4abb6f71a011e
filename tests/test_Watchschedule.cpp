#include "engine/Watchschedule.h"

#include <gtest/gtest.h>

using namespace std::chrono;

TEST(Watchschedule, IntervalIsClampedToItsBounds)
{
    EXPECT_EQ(TWatchSchedule(0).Interval(), seconds(5));
    EXPECT_EQ(TWatchSchedule(-100).Interval(), seconds(5));
    EXPECT_EQ(TWatchSchedule(5).Interval(), seconds(5));
    EXPECT_EQ(TWatchSchedule(3600).Interval(), seconds(3600));
    EXPECT_EQ(TWatchSchedule(3601).Interval(), seconds(3600));
    EXPECT_EQ(TWatchSchedule().Interval(), seconds(60));
}

TEST(Watchschedule, NextRunIsOneIntervalAfterTheLastStart)
{
    TWatchSchedule schedule(60);
    EXPECT_EQ(schedule.DelayToNext(seconds(1000)), milliseconds(0));  // nothing started: at once
    schedule.RunStarted(seconds(1000));
    EXPECT_EQ(schedule.RunsStarted(), 1);
    // The run's own length is taken off the wait, not added to it.
    EXPECT_EQ(schedule.DelayToNext(seconds(1000) + milliseconds(2500)), milliseconds(57500));
    EXPECT_EQ(schedule.DelayToNext(seconds(1059)), milliseconds(1000));
    EXPECT_EQ(schedule.DelayToNext(seconds(1060)), milliseconds(0));
}

TEST(Watchschedule, ARunLongerThanTheIntervalIsFollowedAtOnce)
{
    TWatchSchedule schedule(5);
    schedule.RunStarted(seconds(10));
    EXPECT_EQ(schedule.DelayToNext(seconds(16)), milliseconds(0));
    EXPECT_EQ(schedule.DelayToNext(seconds(100)), milliseconds(0));
    // The next one counts from its own start, not from when it was due.
    schedule.RunStarted(seconds(100));
    EXPECT_EQ(schedule.DelayToNext(seconds(101)), milliseconds(4000));
    EXPECT_EQ(schedule.RunsStarted(), 2);
}

TEST(Watchschedule, APartOfAMillisecondLeftIsWaitedForWhole)
{
    TWatchSchedule schedule(5);
    schedule.RunStarted(microseconds(0));
    EXPECT_EQ(schedule.DelayToNext(microseconds(4'999'999)), milliseconds(1));
    EXPECT_EQ(schedule.DelayToNext(microseconds(4'998'001)), milliseconds(2));
}
