#include "capture/recording_blink.h"

bool CRecordingBlink::IsLitAt(uint32_t now) {
    m_bRestarted = false;
    if (!m_bStarted) {
        m_bStarted = true;
        m_dwStamp = now;
    }
    const uint32_t elapsed = now - m_dwStamp;  // unsigned: correct across the wrap
    if (elapsed < kDarkMs) {
        return false;
    }
    if (elapsed >= kCycleMs) {
        m_dwStamp = now;
        m_bRestarted = true;
    }
    return true;
}

uint32_t CRecordingBlink::MsUntilNextStep(uint32_t now) const {
    if (m_bRestarted) {
        return kFrameMs;
    }
    const uint32_t elapsed = now - m_dwStamp;
    return elapsed < kDarkMs ? kDarkMs - elapsed : kCycleMs - elapsed;
}
