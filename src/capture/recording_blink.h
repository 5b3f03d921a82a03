#pragma once

#include <cstdint>

// The frame band's blink while recording: dark (cut out, see-through) for 200 ms from the
// cycle's start, then lit (red) until 300 ms, when the band is lit once more and the next
// cycle starts; the dark phase then begins one recorded frame's time later, as when the band
// was repainted with every recorded frame at 30 frames per second. The clock is passed in,
// so the phases follow the caller's ticks.
class CRecordingBlink {
public:
    static constexpr uint32_t kDarkMs = 200;
    static constexpr uint32_t kCycleMs = 300;
    static constexpr uint32_t kFrameMs = 33;  // one frame at 30 frames per second

    // True when the band is lit at tick now; advances the cycle.
    bool IsLitAt(uint32_t now);
    // After IsLitAt(now): milliseconds until IsLitAt is to be asked again, when the band
    // changes or the cycle starts again.
    uint32_t MsUntilNextStep(uint32_t now) const;

private:
    bool m_bStarted = false;
    bool m_bRestarted = false;  // the last step started a cycle while lit
    uint32_t m_dwStamp = 0;
};
