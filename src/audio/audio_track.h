#pragma once
// The sound track of one recording: the chosen sources (none, the desktop's sound, the
// microphone, or both mixed), their sound laid on the video's timeline and encoded as MP3.
// The track's length follows the video: Pump brings the sound up to the frames written so far,
// Finish makes it exactly as long as the video.
//
// Threads: Open and Close on the caller's thread; Begin on the grab thread at the first
// frame's moment; Pump, Finish and TakeLossNotice on the encode thread; Pause and Resume from
// any thread. The sources' own threads stamp and store the sound.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/mp3_encoder.h"
#include "audio/pulse_audio_source.h"

enum class AudioChoice { kNone, kDesktop, kMicrophone, kBoth };

// "none", "desktop", "mic", "both"; the parse is false for anything else.
bool ParseAudioChoice(const std::string& text, AudioChoice* choice);
const char* AudioChoiceName(AudioChoice choice);

class CAudioTrack {
public:
    using Clock = std::chrono::steady_clock;
    using FrameSink = CMp3Encoder::FrameSink;

    // How long the track waits for late sound before it writes silence in its place.
    static constexpr std::chrono::milliseconds kLateSound{200};

    CAudioTrack() = default;
    ~CAudioTrack();
    CAudioTrack(const CAudioTrack&) = delete;
    CAudioTrack& operator=(const CAudioTrack&) = delete;

    // Opens the chosen sources and the encoder. False, with the reason ("no microphone"),
    // when any of them cannot be opened; kNone opens nothing and succeeds.
    bool Open(AudioChoice choice, std::string* error);
    void Close();
    bool IsOpen() const { return !m_sources.empty(); }

    // The first frame is taken at `zero`: the track's first sample is the sound of that moment.
    void Begin(Clock::time_point zero);
    void Pause(Clock::time_point at);
    void Resume(Clock::time_point at);

    // Writes the MP3 frames whose sound lies before `position` (in sample frames of the video's
    // time) and has had kLateSound to come. False when the sink refused a frame.
    bool Pump(int64_t position, const FrameSink& sink);
    // Writes the rest up to `position`, the video's end, after waiting kLateSound at most for
    // it: the track then holds position / kSamplesPerMp3Frame frames, rounded to the nearest.
    bool Finish(int64_t position, const FrameSink& sink);
    // A line about a source lost since the last call ("microphone lost: ..."), or "".
    std::string TakeLossNotice();

private:
    // Mixes the sources from where the track stands up to upTo and encodes the result.
    bool EncodeUpTo(int64_t upTo, const FrameSink& sink);

    std::vector<std::unique_ptr<CPulseAudioSource>> m_sources;
    std::vector<bool> m_lossReported;
    CMp3Encoder m_encoder;
    int64_t m_encodedUpTo = 0;  // timeline position up to which sound went to the encoder
    std::vector<int16_t> m_mix;
    std::vector<int16_t> m_piece;
};
