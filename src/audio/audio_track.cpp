#include "audio/audio_track.h"

#include <algorithm>

using audio_format::kChannels;
using audio_format::kSamplesPerMp3Frame;

namespace {
const char* const kChoiceNames[] = {"none", "desktop", "mic", "both"};
}  // namespace

bool ParseAudioChoice(const std::string& text, AudioChoice* choice) {
    for (int i = 0; i < 4; ++i) {
        if (text == kChoiceNames[i]) {
            *choice = static_cast<AudioChoice>(i);
            return true;
        }
    }
    return false;
}

const char* AudioChoiceName(AudioChoice choice) {
    return kChoiceNames[static_cast<int>(choice)];
}

CAudioTrack::~CAudioTrack() {
    Close();
}

bool CAudioTrack::Open(AudioChoice choice, std::string* error) {
    Close();
    if (choice == AudioChoice::kDesktop || choice == AudioChoice::kBoth) {
        m_sources.push_back(std::make_unique<CPulseAudioSource>(CPulseAudioSource::Kind::kDesktop));
    }
    if (choice == AudioChoice::kMicrophone || choice == AudioChoice::kBoth) {
        m_sources.push_back(
            std::make_unique<CPulseAudioSource>(CPulseAudioSource::Kind::kMicrophone));
    }
    for (auto& source : m_sources) {
        if (!source->Open(error)) {
            Close();
            return false;
        }
    }
    if (!m_sources.empty() && !m_encoder.Open(error)) {
        Close();
        return false;
    }
    m_lossReported.assign(m_sources.size(), false);
    // A decoder plays the encoder's delay as silence before the first sample: that much of the
    // start is left out, so that every sample plays at its own moment.
    m_encodedUpTo = m_encoder.Delay();
    return true;
}

void CAudioTrack::Close() {
    m_sources.clear();
    m_encoder.Close();
}

void CAudioTrack::Begin(Clock::time_point zero) {
    for (auto& source : m_sources) {
        source->Begin(zero, m_encodedUpTo);
    }
}

void CAudioTrack::Pause(Clock::time_point at) {
    for (auto& source : m_sources) {
        source->Pause(at);
    }
}

void CAudioTrack::Resume(Clock::time_point at) {
    for (auto& source : m_sources) {
        source->Resume(at);
    }
}

bool CAudioTrack::Pump(int64_t position, const FrameSink& sink) {
    if (m_sources.empty()) {
        return true;
    }
    const int64_t settled = m_sources.front()->PositionOf(Clock::now() - kLateSound);
    return EncodeUpTo(std::min(position, settled), sink);
}

bool CAudioTrack::Finish(int64_t position, const FrameSink& sink) {
    if (m_sources.empty()) {
        return true;
    }
    const Clock::time_point deadline = Clock::now() + kLateSound;
    for (auto& source : m_sources) {
        source->WaitFor(position, deadline);
    }
    // Whole frames, as many as come nearest to the video's length; what the last frame holds
    // beyond the sound is silence.
    const int64_t frames = (position + kSamplesPerMp3Frame / 2) / kSamplesPerMp3Frame;
    if (!EncodeUpTo(position, sink)) {
        return false;
    }
    const std::vector<int16_t> silence(size_t(kSamplesPerMp3Frame) * kChannels, 0);
    int64_t guard = 8;  // the encoder holds back at most a few frames
    while (m_encoder.FramesOut() < frames && guard-- > 0) {
        if (!m_encoder.Encode(silence.data(), kSamplesPerMp3Frame, [&](auto* data, int bytes) {
                return m_encoder.FramesOut() >= frames || sink(data, bytes);
            })) {
            return false;
        }
    }
    return m_encoder.FramesOut() >= frames;
}

bool CAudioTrack::EncodeUpTo(int64_t upTo, const FrameSink& sink) {
    if (upTo <= m_encodedUpTo) {
        return true;
    }
    const size_t samples = size_t(upTo - m_encodedUpTo) * kChannels;
    m_mix.assign(samples, 0);
    m_piece.resize(samples);
    for (auto& source : m_sources) {
        source->Take(upTo, m_piece.data());
        for (size_t i = 0; i < samples; ++i) {
            m_mix[i] = int16_t(std::clamp(m_mix[i] + m_piece[i], -32768, 32767));
        }
    }
    m_encodedUpTo = upTo;
    return m_encoder.Encode(m_mix.data(), int64_t(samples / kChannels), sink);
}

std::string CAudioTrack::TakeLossNotice() {
    std::string notice;
    for (size_t i = 0; i < m_sources.size(); ++i) {
        std::string reason;
        if (!m_lossReported[i] && m_sources[i]->IsLost(&reason)) {
            m_lossReported[i] = true;
            notice +=
                std::string(notice.empty() ? "" : "; ") + m_sources[i]->Name() + " lost: " + reason;
        }
    }
    return notice;
}
