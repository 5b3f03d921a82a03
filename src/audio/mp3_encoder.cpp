#include "audio/mp3_encoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <climits>

#include "audio/audio_format.h"

namespace {
// A decoder's own delay (the synthesis filter bank), on top of the encoder's.
constexpr int kDecoderDelay = 529;
}  // namespace

CMp3Encoder::~CMp3Encoder() {
    Close();
}

bool CMp3Encoder::Open(std::string* error) {
    Close();
    m_lame = lame_init();
    if (m_lame == nullptr) {
        *error = "cannot start the MP3 encoder";
        return false;
    }
    lame_set_in_samplerate(m_lame, audio_format::kSampleRate);
    lame_set_out_samplerate(m_lame, audio_format::kSampleRate);
    lame_set_num_channels(m_lame, audio_format::kChannels);
    lame_set_mode(m_lame, JOINT_STEREO);
    lame_set_VBR(m_lame, vbr_off);
    lame_set_brate(m_lame, audio_format::kBitrateKbps);
    lame_set_quality(m_lame, 7);  // fast; the sound of a screen recording needs no more
    lame_set_bWriteVbrTag(m_lame, 0);
    if (lame_init_params(m_lame) < 0) {
        *error = "cannot start the MP3 encoder";
        Close();
        return false;
    }
    m_delay = lame_get_encoder_delay(m_lame) + kDecoderDelay;
    m_framesOut = 0;
    m_pending.clear();
    return true;
}

void CMp3Encoder::Close() {
    if (m_lame != nullptr) {
        lame_close(m_lame);
        m_lame = nullptr;
    }
}

bool CMp3Encoder::Encode(const int16_t* samples, int64_t count, const FrameSink& sink) {
    if (m_lame == nullptr) {
        return false;
    }
    constexpr int64_t kPiece = 4096;  // keeps lame's output buffer small
    for (int64_t done = 0; done < count; done += kPiece) {
        const int piece = int(std::min(kPiece, count - done));
        m_output.resize(size_t(piece) * 5 / 4 + 7200);  // lame's worst case
        const int bytes = lame_encode_buffer_interleaved(
            m_lame, const_cast<short*>(samples + done * audio_format::kChannels), piece,
            m_output.data(), int(m_output.size()));
        if (bytes < 0) {
            return false;
        }
        m_pending.insert(m_pending.end(), m_output.begin(), m_output.begin() + bytes);
        if (!HandOutFrames(sink)) {
            return false;
        }
    }
    return true;
}

bool CMp3Encoder::HandOutFrames(const FrameSink& sink) {
    constexpr size_t kFrame = audio_format::kMp3FrameBytes;
    size_t used = 0;
    for (; m_pending.size() - used >= kFrame; used += kFrame) {
        // Every frame starts with the sync bits; anything else means the sizes are not what
        // the format promises.
        if (m_pending[used] != 0xFF || (m_pending[used + 1] & 0xE0) != 0xE0 ||
            !sink(m_pending.data() + used, int(kFrame))) {
            return false;
        }
        ++m_framesOut;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + used);
    return true;
}
