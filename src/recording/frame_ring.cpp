#include "recording/frame_ring.h"

void CFrameRing::Reset() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (Slot& slot : m_slots) {
        slot.state = State::kFree;
        slot.repeatsBefore = 0;
    }
    m_queueHead = 0;
    m_queueLength = 0;
    m_trailingRepeats = 0;
    m_reference = -1;
    m_bStop = false;
    m_bHalted = false;
    m_bGrabbingFinished = false;
}

bool CFrameRing::IsReusable(int slot) const {
    return m_slots[slot].state == State::kFree && slot != m_reference;
}

bool CFrameRing::WaitForStop(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_until(lock, until, [this] { return m_bStop || m_bHalted; });
}

bool CFrameRing::RefusesGrabs() const {
    // A stop does not keep out the first picture: a recording holds at least one.
    return m_bHalted || (m_bStop && m_reference >= 0);
}

int CFrameRing::AcquireFree() {
    std::unique_lock<std::mutex> lock(m_lock);
    int found = -1;
    m_changed.wait(lock, [this, &found] {
        if (RefusesGrabs()) {
            return true;
        }
        for (int i = 0; i < kSlotCount; ++i) {
            if (IsReusable(i)) {
                found = i;
                return true;
            }
        }
        return false;
    });
    if (RefusesGrabs()) {
        return -1;
    }
    m_slots[found].state = State::kFilling;
    return found;
}

void CFrameRing::Publish(int slot) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        Slot& s = m_slots[slot];
        s.state = State::kQueued;
        s.repeatsBefore = m_trailingRepeats;
        m_trailingRepeats = 0;
        m_queue[(m_queueHead + m_queueLength) % kSlotCount] = slot;
        ++m_queueLength;
        m_reference = slot;  // the previous reference becomes free once it is encoded
    }
    m_changed.notify_all();
}

void CFrameRing::Discard(int slot) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_slots[slot].state = State::kFree;
    }
    m_changed.notify_all();
}

void CFrameRing::PublishRepeats(int64_t count) {
    if (count <= 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bHalted) {
            return;
        }
        m_trailingRepeats += count;
    }
    m_changed.notify_all();
}

int CFrameRing::Reference() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reference;
}

void CFrameRing::FinishGrabbing() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bGrabbingFinished = true;
    }
    m_changed.notify_all();
}

bool CFrameRing::Take(Item* item) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(
        lock, [this] { return m_queueLength > 0 || m_trailingRepeats > 0 || m_bGrabbingFinished; });
    if (m_queueLength > 0) {
        const int slot = m_queue[m_queueHead];
        m_queueHead = (m_queueHead + 1) % kSlotCount;
        --m_queueLength;
        m_slots[slot].state = State::kEncoding;
        item->repeats = m_slots[slot].repeatsBefore;
        item->slot = slot;
        return true;
    }
    if (m_trailingRepeats > 0) {
        item->repeats = m_trailingRepeats;
        item->slot = -1;
        m_trailingRepeats = 0;
        return true;
    }
    return false;
}

void CFrameRing::Release(int slot) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_slots[slot].state = State::kFree;
    }
    m_changed.notify_all();
}

void CFrameRing::Halt() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bHalted = true;
        m_queueLength = 0;
        m_trailingRepeats = 0;
        for (Slot& slot : m_slots) {
            if (slot.state == State::kQueued) {
                slot.state = State::kFree;
            }
        }
    }
    m_changed.notify_all();
}

void CFrameRing::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStop = true;
    }
    m_changed.notify_all();
}
