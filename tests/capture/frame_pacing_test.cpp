#include "capture/frame_pacing.h"

#include <gtest/gtest.h>

using namespace pacing;
using std::chrono::milliseconds;

TEST(FramePacing, SlotsFollowThirtyPerSecond) {
    EXPECT_EQ(SlotsDue(Nanoseconds(0)), 1);
    EXPECT_EQ(SlotsDue(SlotTime(1) - Nanoseconds(1)), 1);
    EXPECT_EQ(SlotsDue(SlotTime(1)), 2);
    EXPECT_EQ(SlotsDue(milliseconds(1000)), 31);
    EXPECT_EQ(SlotTime(30), milliseconds(1000));
    // No drift over a long recording: slot 108000 is exactly one hour in.
    EXPECT_EQ(SlotTime(108000), std::chrono::hours(1));
    EXPECT_EQ(SlotsDue(std::chrono::hours(1)), 108001);
}

TEST(FramePacing, OnTimeLoopWaitsForTheNextSlot) {
    Step first = NextStep(0, Nanoseconds(0));
    EXPECT_TRUE(first.grabFrame);
    EXPECT_EQ(first.repeatFrames, 0);

    Step early = NextStep(1, milliseconds(10));
    EXPECT_FALSE(early.grabFrame);
    EXPECT_EQ(early.repeatFrames, 0);
    EXPECT_EQ(early.waitFor, SlotTime(1) - milliseconds(10));
}

TEST(FramePacing, MissedSlotsBecomeRepeatsBeforeTheFreshFrame) {
    // 10 frames written, now at 500 ms: slots 0..15 are due, 10..14 were missed.
    Step late = NextStep(10, milliseconds(500));
    EXPECT_TRUE(late.grabFrame);
    EXPECT_EQ(late.repeatFrames, 5);
    // A slow first grab: nothing to repeat yet, the next step catches up.
    EXPECT_EQ(NextStep(0, milliseconds(200)).repeatFrames, 0);
    EXPECT_EQ(NextStep(1, milliseconds(200)).repeatFrames, 5);
}

TEST(FramePacing, StopPadsTheFileToTheRecordingsLength) {
    EXPECT_EQ(FramesToPadAtStop(61, milliseconds(2000)), 0);  // already long enough
    EXPECT_EQ(FramesToPadAtStop(50, milliseconds(2000)), 10);
    EXPECT_EQ(FramesToPadAtStop(0, milliseconds(2000)), 0);  // nothing to repeat
}
