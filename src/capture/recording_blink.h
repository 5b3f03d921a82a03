#pragma once

#include <cstdint>

// The frame band's blink while recording: dark (colour key) for 200 ms from the cycle's
// start, then lit until the first paint at or after 300 ms, which is lit once more and
// starts the next cycle. The clock is passed in, so the phases follow the caller's ticks.
class CRecordingBlink {
public:
    // True when the band is lit (red) for a paint at tick now.
    bool IsLitAt(uint32_t now);

private:
    bool m_bStarted = false;
    uint32_t m_dwStamp = 0;
};
