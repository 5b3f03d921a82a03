#pragma once

#include <QString>

#include <cstdint>
#include <mutex>

// The caption band's status text: what it says, when it was set, and whether it lasts until
// the next text (failures) or only one second. Set and read from any thread; the clock is
// passed in, so the expiry follows the caller's ticks.
class CStatusLine {
public:
    static constexpr uint32_t kShowMs = 1000;

    // What the caption shows at one moment.
    struct State {
        bool fresh = false;  // a text is shown
        QString text;        // the caption's text
        QString fullText;    // the whole of it, for the tooltip
    };

    // Stores a text set at tick now. fullText is the text in full where the caption shows a
    // shorter form (empty: the same as text). Returns true when what the caption shows
    // changes, false when the same text is only kept fresh.
    bool Set(const QString& text, const QString& fullText, bool lasting, uint32_t now);
    State At(uint32_t now) const;
    // Milliseconds from now until the shown text leaves the caption; -1 when none will (no
    // text shown, or a lasting one).
    int MsUntilExpiry(uint32_t now) const;

private:
    bool IsFreshAt(uint32_t now) const;  // with the lock held

    mutable std::mutex m_lock;
    QString m_strText;
    QString m_strFullText;
    uint32_t m_dwTick = 0;
    bool m_bSet = false;
    bool m_bLasting = false;
};
