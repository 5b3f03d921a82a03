#include "recording/frame_pacing.h"

#include <gtest/gtest.h>

using namespace pacing;
using std::chrono::milliseconds;

TEST(FramePacing, SlotsRepeatsAndPadding) {
    EXPECT_EQ(SlotsDue(Nanoseconds(0)), 1);
    EXPECT_EQ(SlotsDue(SlotTime(1) - Nanoseconds(1)), 1);
    EXPECT_EQ(SlotsDue(SlotTime(1)), 2);
    EXPECT_EQ(SlotsDue(milliseconds(1000)), 31);
    // No drift over a long recording: slot 108000 is exactly one hour in.
    EXPECT_EQ(SlotTime(108000), std::chrono::hours(1));
    EXPECT_EQ(SlotsDue(std::chrono::hours(1)), 108001);

    // On time: grab the first frame at once, then wait for the next slot.
    EXPECT_TRUE(NextStep(0, Nanoseconds(0)).grabFrame);
    const Step early = NextStep(1, milliseconds(10));
    EXPECT_FALSE(early.grabFrame);
    EXPECT_EQ(early.repeatFrames, 0);
    EXPECT_EQ(early.waitFor, SlotTime(1) - milliseconds(10));
    // Late: 10 frames written at 500 ms, slots 10..14 were missed and become repeats.
    const Step late = NextStep(10, milliseconds(500));
    EXPECT_TRUE(late.grabFrame);
    EXPECT_EQ(late.repeatFrames, 5);
    // A slow first grab has nothing to repeat yet; the next step catches up.
    EXPECT_EQ(NextStep(0, milliseconds(200)).repeatFrames, 0);
    EXPECT_EQ(NextStep(1, milliseconds(200)).repeatFrames, 5);

    // The stop pads the file to the recording's length, when there is a frame to repeat.
    EXPECT_EQ(FramesToPadAtStop(61, milliseconds(2000)), 0);
    EXPECT_EQ(FramesToPadAtStop(50, milliseconds(2000)), 10);
    EXPECT_EQ(FramesToPadAtStop(0, milliseconds(2000)), 0);
}
