#pragma once
// The sound of one source laid out on the recording's timeline. Position n is the sample frame
// heard n / kSampleRate seconds after the recording's first frame. Blocks come stamped with the
// position of their first frame, measured on the clock of the video frames; a block that
// continues the previous one within kSnapFrames is placed right after it (stamps jitter by a
// few milliseconds) is placed right after it; when the stamps stay off by more than kSnapFrames
// on average (the source's clock drifts against the frames'), the stream moves by that much.
// A block more than kJumpFrames away is placed where its stamp says. A gap (a suspended or
// vanished source) becomes silence, an overlap replaces what came before. Sound thus stays
// within about kSnapFrames of the clock, however long the recording runs.
// No lock: the owner serialises Place and Take.

#include <cstdint>
#include <vector>

#include "audio/audio_format.h"

class CAudioTimeline {
public:
    static constexpr int64_t kSnapFrames = audio_format::kSampleRate / 100;  // 10 ms
    static constexpr int64_t kJumpFrames = audio_format::kSampleRate / 20;   // 50 ms

    // Lays count sample frames (interleaved, kChannels each) whose first one belongs at stamp.
    // What falls before Taken() is dropped.
    void Place(int64_t stamp, const int16_t* samples, int64_t count);
    // Copies the frames from Taken() up to upTo into out (silence where nothing was placed) and
    // forgets them; Taken() becomes upTo. Nothing happens when upTo <= Taken().
    void Take(int64_t upTo, int16_t* out);
    // Positions before `position` are not wanted: Taken() becomes position.
    void DropBefore(int64_t position);

    int64_t Taken() const { return m_taken; }
    // The position after the last frame placed; Taken() before anything was placed.
    int64_t End() const { return m_taken + int64_t(m_samples.size()) / audio_format::kChannels; }

private:
    std::vector<int16_t> m_samples;  // the frames from m_taken on
    int64_t m_taken = 0;
    bool m_placedAny = false;
    int64_t m_streamEnd = 0;  // the stamp the next block of the stream is expected at
    int64_t m_drift = 0;      // how far the stamps are off from it, on average
};
