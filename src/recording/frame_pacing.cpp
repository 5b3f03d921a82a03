#include "recording/frame_pacing.h"

#include <algorithm>

namespace pacing {
namespace {
constexpr int64_t kNanosPerSecond = 1000000000;
}

Nanoseconds SlotTime(int64_t slot) {
    // Rounded up, so that a slot is never reported due before its exact time.
    return Nanoseconds((slot * kNanosPerSecond + kFramesPerSecond - 1) / kFramesPerSecond);
}

int64_t SlotsDue(Nanoseconds elapsed) {
    if (elapsed.count() < 0) {
        return 0;
    }
    return elapsed.count() * kFramesPerSecond / kNanosPerSecond + 1;
}

Step NextStep(int64_t framesWritten, Nanoseconds elapsed) {
    Step step;
    int64_t due = SlotsDue(elapsed);
    if (framesWritten >= due) {
        step.waitFor = SlotTime(framesWritten) - elapsed;
        return step;
    }
    step.grabFrame = true;
    // With nothing written yet there is no previous frame to repeat: the first grab fills
    // slot 0 and the loop catches up from there.
    step.repeatFrames = framesWritten == 0 ? 0 : due - framesWritten - 1;
    return step;
}

int64_t FramesToPadAtStop(int64_t framesWritten, Nanoseconds elapsed) {
    if (framesWritten == 0 || elapsed.count() <= 0) {
        return 0;
    }
    int64_t target = (elapsed.count() * kFramesPerSecond + kNanosPerSecond / 2) / kNanosPerSecond;
    return std::max<int64_t>(0, target - framesWritten);
}

}  // namespace pacing
