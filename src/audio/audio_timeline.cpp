#include "audio/audio_timeline.h"

#include <algorithm>
#include <cstdlib>

using audio_format::kChannels;

void CAudioTimeline::Place(int64_t stamp, const int16_t* samples, int64_t count) {
    const int64_t off = stamp - m_streamEnd;
    if (m_placedAny && std::llabs(off) <= kJumpFrames) {
        m_drift += (off - m_drift) / 4;
        stamp = m_streamEnd;
        if (std::llabs(m_drift) > kSnapFrames) {
            stamp += m_drift;
            m_drift = 0;
        }
    } else {
        m_drift = 0;
    }
    m_placedAny = true;
    m_streamEnd = stamp + count;
    const int64_t skip = std::max<int64_t>(0, m_taken - stamp);
    if (skip >= count) {
        return;
    }
    const int64_t first = stamp + skip;
    // Silence up to the block, or the end of what it replaces.
    m_samples.resize(size_t(first - m_taken) * kChannels, 0);
    m_samples.insert(m_samples.end(), samples + skip * kChannels, samples + count * kChannels);
}

void CAudioTimeline::Take(int64_t upTo, int16_t* out) {
    if (upTo <= m_taken) {
        return;
    }
    const size_t wanted = size_t(upTo - m_taken) * kChannels;
    const size_t have = std::min(wanted, m_samples.size());
    std::copy(m_samples.begin(), m_samples.begin() + have, out);
    std::fill(out + have, out + wanted, 0);
    DropBefore(upTo);
}

void CAudioTimeline::DropBefore(int64_t position) {
    if (position <= m_taken) {
        return;
    }
    const size_t gone = std::min(size_t(position - m_taken) * kChannels, m_samples.size());
    m_samples.erase(m_samples.begin(), m_samples.begin() + gone);
    m_taken = position;
}
