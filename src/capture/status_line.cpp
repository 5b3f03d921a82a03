#include "capture/status_line.h"

bool CStatusLine::Set(const QString& text, const QString& fullText, bool lasting, uint32_t now) {
    const QString full = fullText.isEmpty() ? text : fullText;
    std::lock_guard<std::mutex> lock(m_lock);
    const bool unchanged =
        IsFreshAt(now) && m_strText == text && m_strFullText == full && m_bLasting == lasting;
    m_strText = text;
    m_strFullText = full;
    m_dwTick = now;
    m_bSet = true;
    m_bLasting = lasting;
    return !unchanged;
}

CStatusLine::State CStatusLine::At(uint32_t now) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!IsFreshAt(now)) {
        return State();
    }
    return State{true, m_strText, m_strFullText};
}

int CStatusLine::MsUntilExpiry(uint32_t now) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!IsFreshAt(now) || m_bLasting) {
        return -1;
    }
    return int(kShowMs - (now - m_dwTick)) + 1;  // gone once more than kShowMs have passed
}

bool CStatusLine::IsFreshAt(uint32_t now) const {
    // Unsigned difference: correct across the tick count's wrap-around.
    return m_bSet && (m_bLasting || now - m_dwTick <= kShowMs);
}
