#include "encoding/avi/avi_header.h"

#include <cstdint>
#include <cstring>

#include "encoding/avi/avi_bytes.h"

namespace {

constexpr std::uint32_t kFlagHasIndex = 0x10;
constexpr std::uint32_t kFlagMustUseIndex = 0x20;
constexpr std::uint32_t kFlagWasCaptureFile = 0x10000;
constexpr int kEndWithoutAudio = 220;
constexpr int kEndWithAudio = 328;
constexpr int kMoviListAt = 2036;

// Sequential stores into the fixed header; a store that would run past the end is dropped
// and remembered.
class HeaderCursor {
public:
    explicit HeaderCursor(unsigned char* header) : header_(header) {}

    void Id(const char* id) {
        if (Room(4)) {
            std::memcpy(header_ + pos_, id, 4);
            pos_ += 4;
        }
    }
    void U32(std::uint32_t value) {
        if (Room(4)) {
            avi_store_u32le(header_ + pos_, value);
            pos_ += 4;
        }
    }
    void U16(std::uint32_t value) {
        if (Room(2)) {
            avi_store_u16le(header_ + pos_, value);
            pos_ += 2;
        }
    }
    void Zeros(int count) {
        for (int i = 0; i < count / 4; ++i) {
            U32(0);
        }
    }
    void SeekTo(int pos) { pos_ = pos; }
    int Pos() const { return pos_; }
    bool Overflowed() const { return overflowed_; }

private:
    bool Room(int bytes) {
        if (pos_ + bytes > AVI_HEADER_BYTES) {
            overflowed_ = true;
            return false;
        }
        return true;
    }

    unsigned char* header_;
    int pos_ = 0;
    bool overflowed_ = false;
};

void PutMainHeader(HeaderCursor& out, const avi_file* AVI, std::uint32_t frame_time,
                   std::uint32_t flags, int stream_lists_end) {
    out.Id("RIFF");
    out.U32(std::uint32_t(AVI->file_pos) - 8);
    out.Id("AVI ");
    out.Id("LIST");
    out.U32(std::uint32_t(stream_lists_end) - 20);
    out.Id("hdrl");
    out.Id("avih");
    out.U32(56);
    out.U32(frame_time);
    out.U32(10000000);  // maximum bytes per second
    out.U32(0);         // padding granularity
    out.U32(flags);
    out.U32(std::uint32_t(AVI->frame_count));
    out.U32(0);  // initial frames
    out.U32(AVI->audio_total != 0 ? 2 : 1);
    out.U32(0);  // suggested buffer size
    out.U32(std::uint32_t(AVI->width));
    out.U32(std::uint32_t(AVI->height));
    out.Zeros(16);
}

void PutVideoStreamList(HeaderCursor& out, const avi_file* AVI, std::uint32_t frame_time) {
    out.Id("LIST");
    out.U32(124);
    out.Id("strl");
    out.Id("strh");
    out.U32(64);
    out.Id("vids");
    out.Id(AVI->compressor);
    out.U32(0);  // flags
    out.U32(0);  // priority and language
    out.U32(0);  // initial frames
    out.U32(frame_time);
    out.U32(1000000);  // rate: rate / scale = frames per second
    out.U32(0);        // start
    out.U32(std::uint32_t(AVI->frame_count));
    out.U32(0);            // suggested buffer size
    out.U32(0xFFFFFFFFu);  // quality: default
    out.U32(0);            // sample size
    out.Zeros(16);         // frame rectangle
    out.Id("strf");
    out.U32(40);
    out.U32(40);  // bitmap header size
    out.U32(std::uint32_t(AVI->width));
    out.U32(std::uint32_t(AVI->height));
    out.U16(1);   // planes
    out.U16(24);  // bits per pixel
    out.Id(AVI->compressor);
    out.U32(std::uint32_t(AVI->width) * std::uint32_t(AVI->height));
    out.Zeros(16);
}

void PutAudioStreamList(HeaderCursor& out, const avi_file* AVI) {
    long long sample_bytes = avi_sample_frame_bytes(AVI->audio_bits, AVI->audio_channels);
    // Only the low 32 bits are stored, so the product may wrap.
    std::uint32_t bytes_per_second = std::uint32_t(sample_bytes) * std::uint32_t(AVI->audio_rate);
    out.Id("LIST");
    out.U32(100);
    out.Id("strl");
    out.Id("strh");
    out.U32(64);
    out.Id("auds");
    out.U32(0);  // handler
    out.U32(0);  // flags
    out.U32(0);  // priority and language
    out.U32(0);  // initial frames
    out.U32(std::uint32_t(sample_bytes));
    out.U32(bytes_per_second);
    out.U32(0);  // start
    out.U32(std::uint32_t(AVI->audio_total / sample_bytes));
    out.U32(0);            // suggested buffer size
    out.U32(0xFFFFFFFFu);  // quality: default
    out.U32(std::uint32_t(sample_bytes));
    out.Zeros(16);
    out.Id("strf");
    out.U32(16);
    out.U16(std::uint32_t(AVI->audio_format));
    out.U16(std::uint32_t(AVI->audio_channels));
    out.U32(std::uint32_t(AVI->audio_rate));
    out.U32(bytes_per_second);
    out.U16(std::uint32_t(sample_bytes));
    out.U16(std::uint32_t(AVI->audio_bits));
}

// MP3: one frame per chunk, each a "sample" of 1152 sample frames, with the 30-byte
// MPEGLAYER3WAVEFORMAT.
void PutMp3StreamList(HeaderCursor& out, const avi_file* AVI) {
    const std::uint32_t chunks = std::uint32_t(AVI->audio_chunk_count);
    const std::uint32_t frame_bytes = chunks != 0 ? std::uint32_t(AVI->audio_total) / chunks : 0;
    out.Id("LIST");
    out.U32(106);
    out.Id("strl");
    out.Id("strh");
    out.U32(56);
    out.Id("auds");
    out.U32(0);  // handler
    out.U32(0);  // flags
    out.U32(0);  // priority and language
    out.U32(0);  // initial frames
    out.U32(1152);
    out.U32(std::uint32_t(AVI->audio_rate));
    out.U32(0);  // start
    out.U32(chunks);
    out.U32(frame_bytes);  // suggested buffer size
    out.U32(0xFFFFFFFFu);  // quality: default
    out.U32(0);            // sample size: chunks vary
    out.Zeros(8);
    out.Id("strf");
    out.U32(30);
    out.U16(0x0055);
    out.U16(std::uint32_t(AVI->audio_channels));
    out.U32(std::uint32_t(AVI->audio_rate));
    out.U32(std::uint32_t(std::uint64_t(frame_bytes) * std::uint32_t(AVI->audio_rate) / 1152));
    out.U16(1152);  // block align
    out.U16(0);     // bits per sample
    out.U16(12);    // extra bytes
    out.U16(1);     // MPEGLAYER3_ID_MPEG
    out.U32(2);     // MPEGLAYER3_FLAG_PADDING_OFF
    out.U16(frame_bytes);
    out.U16(1);  // frames per block
    out.U16(0);  // codec delay
}

}  // namespace

unsigned avi_frame_time_us(double fps) {
    if (!(fps >= 0.001)) {  // also refuses NaN
        return 0;
    }
    return static_cast<unsigned>(1000000.0 / fps + 0.5);
}

long long avi_sample_frame_bytes(int bits, int channels) {
    long long bytes = (static_cast<long long>(bits) + 7) / 8 * channels;
    return bytes != 0 ? bytes : 1;
}

bool avi_build_header(const avi_file* AVI, bool index_written, unsigned char* header) {
    std::memset(header, 0, AVI_HEADER_BYTES);
    bool with_audio_list = AVI->audio_channels != 0 && AVI->audio_total != 0;
    const bool mp3 = AVI->audio_format == 0x0055;
    int lists_end = with_audio_list ? (mp3 ? 334 : kEndWithAudio) : kEndWithoutAudio;
    int junk_length = AVI_HEADER_BYTES - lists_end - 20;
    if (junk_length <= 0) {
        return false;
    }

    std::uint32_t frame_time = avi_frame_time_us(AVI->fps);
    std::uint32_t flags = kFlagWasCaptureFile;
    if (index_written) {
        flags |= kFlagHasIndex;
        if (AVI->repeats_via_index == 1) {
            flags |= kFlagMustUseIndex;
        }
    }

    HeaderCursor out(header);
    PutMainHeader(out, AVI, frame_time, flags, lists_end);
    PutVideoStreamList(out, AVI, frame_time);
    if (with_audio_list) {
        if (mp3) {
            PutMp3StreamList(out, AVI);
        } else {
            PutAudioStreamList(out, AVI);
        }
    }
    out.Id("JUNK");
    out.U32(std::uint32_t(junk_length));
    out.SeekTo(kMoviListAt);
    out.Id("LIST");
    out.U32(std::uint32_t(AVI->data_end) - (AVI_HEADER_BYTES - 4));
    out.Id("movi");
    return !out.Overflowed();
}
