#include "platform/auto_reset_event.h"

#include <chrono>

void CAutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSet = true;
    }
    m_signalled.notify_one();
}

bool CAutoResetEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto isSet = [this] { return m_bSet; };
    if (timeoutMs == kInfinite) {
        m_signalled.wait(lock, isSet);
    } else if (!m_signalled.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet)) {
        return false;
    }
    m_bSet = false;
    return true;
}
