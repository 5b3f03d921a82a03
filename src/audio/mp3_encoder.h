#pragma once
// MP3 at a constant bit rate through libmp3lame, handed out one whole frame at a time (each
// frame becomes one audio chunk of the file). No tag frame is written: the stream holds sound
// frames only, each kMp3FrameBytes long and kSamplesPerMp3Frame sample frames of sound.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct lame_global_struct;

class CMp3Encoder {
public:
    // Takes one MP3 frame; false stops the encoding (Encode then fails).
    using FrameSink = std::function<bool(const unsigned char* frame, int bytes)>;

    CMp3Encoder() = default;
    ~CMp3Encoder();
    CMp3Encoder(const CMp3Encoder&) = delete;
    CMp3Encoder& operator=(const CMp3Encoder&) = delete;

    // Starts an encoder for audio_format's sound. False, with the reason, when it cannot.
    bool Open(std::string* error);
    void Close();

    // Encodes count interleaved stereo sample frames; every frame completed goes to sink.
    bool Encode(const int16_t* samples, int64_t count, const FrameSink& sink);

    // How many sample frames of silence a decoder puts before the first sample encoded: the
    // encoder's own delay plus the decoder's.
    int Delay() const { return m_delay; }
    // MP3 frames handed out since Open.
    int64_t FramesOut() const { return m_framesOut; }

private:
    bool HandOutFrames(const FrameSink& sink);

    lame_global_struct* m_lame = nullptr;
    int m_delay = 0;
    int64_t m_framesOut = 0;
    std::vector<unsigned char> m_output;   // lame's output buffer
    std::vector<unsigned char> m_pending;  // encoded bytes not yet a whole frame
};
