#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// An event that stays signalled until one waiter has seen it, then resets itself.
class CAutoResetEvent {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

    void Set();
    // True when the event was signalled within timeoutMs (and is now reset again).
    bool Wait(uint32_t timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_signalled;
    bool m_bSet = false;
};
