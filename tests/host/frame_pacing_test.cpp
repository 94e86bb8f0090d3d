// Tests of the frame loop's tick schedule.
#include "host/frame_pacing.h"

#include <gtest/gtest.h>

namespace {

constexpr double kTick = 1.0 / 60.0;

// Runs frames that each take `work` seconds from the first tick at 0 and
// returns when the frame after `frames` frames starts.
double StartOfFrame(int frames, double work) {
    double due = 0.0, now = 0.0;
    for (int i = 0; i < frames; ++i) {
        now = now < due ? due : now;  // wait for the tick
        now += work;                  // draw
        due = NextTickDue(due, now, kTick);
    }
    return now < due ? due : now;
}

}  // namespace

TEST(TickSchedule, OnTimeTicksKeepThePeriodsPhase) {
    EXPECT_DOUBLE_EQ(NextTickDue(1.0, 1.005, kTick), 1.0 + kTick);
    EXPECT_DOUBLE_EQ(NextTickDue(1.0, 1.0, kTick), 1.0 + kTick);
    // Frames shorter than the period: one per tick, no drift.
    EXPECT_NEAR(StartOfFrame(600, 0.004), 10.0, 1e-9);
}

TEST(TickSchedule, SlowFramesFollowEachOtherWithoutWaiting) {
    // A frame of 27 ms overruns its next tick: the following frame starts
    // when it ends, not a whole period later.
    EXPECT_DOUBLE_EQ(NextTickDue(1.0, 1.027, kTick), 1.027);
    EXPECT_NEAR(StartOfFrame(100, 0.027), 2.7, 1e-9);
}

TEST(TickSchedule, MissedTicksAreNotMadeUp) {
    // Stopped for ten seconds: one tick at once, then the period again
    // from there, not six hundred ticks in a burst.
    const double due = NextTickDue(1.0, 11.0, kTick);
    EXPECT_DOUBLE_EQ(due, 11.0);
    EXPECT_DOUBLE_EQ(NextTickDue(due, 11.001, kTick), 11.0 + kTick);
}
