#include "capture/recording_blink.h"

namespace {
constexpr uint32_t kDarkMs = 200;
constexpr uint32_t kCycleMs = 300;
}  // namespace

bool CRecordingBlink::IsLitAt(uint32_t now) {
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
    }
    return true;
}
