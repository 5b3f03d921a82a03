#pragma once

#include <chrono>
#include <cstdint>

#include "encoding/avi_recorder.h"

// Frame timing of a recording. Frame n of the file shows the screen as it was at
// start + n / kFramesPerSecond; a frame slot whose time passed without a fresh grab is filled
// with a repeat of the previous frame, so the file plays in real time.
namespace pacing {

inline constexpr int64_t kFramesPerSecond = CAviRecorder::kFramesPerSecond;

using Nanoseconds = std::chrono::nanoseconds;

// Time of frame slot `slot` after the start.
Nanoseconds SlotTime(int64_t slot);

// Number of slots whose time has come at `elapsed` after the start (slot 0 is due at once).
int64_t SlotsDue(Nanoseconds elapsed);

// What the recording loop does next, given how many frames the file already holds.
struct Step {
    int64_t repeatFrames = 0;  // missed slots to fill with the previous frame
    bool grabFrame = false;    // grab and encode a fresh frame now
    Nanoseconds waitFor{0};    // otherwise: how long until the next slot is due
};
Step NextStep(int64_t framesWritten, Nanoseconds elapsed);

// Repeat frames to append when the recording stops at `elapsed`, so that the file lasts as
// long as the recording did (to the nearest frame).
int64_t FramesToPadAtStop(int64_t framesWritten, Nanoseconds elapsed);

}  // namespace pacing
