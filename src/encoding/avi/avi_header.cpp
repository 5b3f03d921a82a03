#include "encoding/avi/avi_header.h"

#include <cstdint>
#include <cstring>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_odml.h"

namespace {

constexpr std::uint32_t kFlagHasIndex = 0x10;
constexpr std::uint32_t kFlagMustUseIndex = 0x20;
constexpr std::uint32_t kFlagWasCaptureFile = 0x10000;
constexpr int kVideoListBytes = 132;  // "strl" list: strh and strf, without the super index
constexpr int kAudioListBytes = 108;
constexpr int kMp3ListBytes = kAudioListBytes + 14;  // its format record is 30 bytes long
constexpr std::uint32_t kMp3FrameSamples = 1152;     // MPEG-1 Layer III
constexpr int kOdmlListBytes = 268;
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
    // A block of bytes filled in place by put (which gets its start).
    template <typename Put>
    void Block(int bytes, Put put) {
        if (Room(bytes)) {
            put(header_ + pos_);
            pos_ += bytes;
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

// Past its first part the header describes that part; the other parts have their own heads.
bool avi_has_parts(const avi_file* AVI) {
    return AVI->first_part_end > 0;
}

void PutMainHeader(HeaderCursor& out, const avi_file* AVI, std::uint32_t frame_time,
                   std::uint32_t flags, int header_list_end, std::uint32_t streams) {
    out.Id("RIFF");
    out.U32(std::uint32_t((avi_has_parts(AVI) ? AVI->first_part_end : AVI->file_pos) - 8));
    out.Id("AVI ");
    out.Id("LIST");
    out.U32(std::uint32_t(header_list_end) - 20);
    out.Id("hdrl");
    out.Id("avih");
    out.U32(56);
    out.U32(frame_time);
    out.U32(10000000);  // maximum bytes per second
    out.U32(0);         // padding granularity
    out.U32(flags);
    out.U32(std::uint32_t(avi_has_parts(AVI) ? AVI->first_part_frames : AVI->frame_count));
    out.U32(0);  // initial frames
    out.U32(streams);
    out.U32(0);  // suggested buffer size
    out.U32(std::uint32_t(AVI->width));
    out.U32(std::uint32_t(AVI->height));
    out.Zeros(16);
}

void PutVideoStreamList(HeaderCursor& out, const avi_file* AVI, std::uint32_t frame_time,
                        int super_index_bytes) {
    out.Id("LIST");
    out.U32(std::uint32_t(kVideoListBytes - 8 + super_index_bytes));
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

// The audio stream list up to its format record's first fields: the stream header counts
// `length` units of scale / rate seconds, each `sample_size` bytes (0: one chunk each).
void PutAudioStreamHead(HeaderCursor& out, const avi_file* AVI, int list_bytes, std::uint32_t scale,
                        std::uint32_t rate, std::uint32_t length, std::uint32_t sample_size,
                        int format_bytes) {
    out.Id("LIST");
    out.U32(std::uint32_t(list_bytes - 8));
    out.Id("strl");
    out.Id("strh");
    out.U32(64);
    out.Id("auds");
    out.U32(0);  // handler
    out.U32(0);  // flags
    out.U32(0);  // priority and language
    out.U32(0);  // initial frames
    out.U32(scale);
    out.U32(rate);
    out.U32(0);  // start
    out.U32(length);
    out.U32(0);            // suggested buffer size
    out.U32(0xFFFFFFFFu);  // quality: default
    out.U32(sample_size);
    out.Zeros(16);
    out.Id("strf");
    out.U32(std::uint32_t(format_bytes));
    out.U16(std::uint32_t(AVI->audio_format));
    out.U16(std::uint32_t(AVI->audio_channels));
    out.U32(std::uint32_t(AVI->audio_rate));
}

// MP3: one frame per chunk, each one unit of the stream's length, and the 30-byte
// MPEGLAYER3WAVEFORMAT that players expect.
void PutMp3StreamList(HeaderCursor& out, const avi_file* AVI, int super_index_bytes) {
    std::uint32_t chunks = std::uint32_t(AVI->audio_chunk_count);
    std::uint32_t frame_bytes = chunks != 0 ? std::uint32_t(AVI->audio_total / chunks) : 0;
    PutAudioStreamHead(out, AVI, kMp3ListBytes + super_index_bytes, kMp3FrameSamples,
                       std::uint32_t(AVI->audio_rate), chunks, 0, 30);
    out.U32(std::uint32_t(std::uint64_t(frame_bytes) * std::uint32_t(AVI->audio_rate) /
                          kMp3FrameSamples));  // average bytes per second
    out.U16(kMp3FrameSamples);                 // block align
    out.U16(0);                                // bits per sample
    out.U16(12);                               // bytes that follow
    out.U16(1);                                // MPEGLAYER3_ID_MPEG
    out.U32(2);                                // MPEGLAYER3_FLAG_PADDING_OFF
    out.U16(frame_bytes);                      // block size
    out.U16(1);                                // frames per block
    out.U16(0);                                // codec delay
}

void PutAudioStreamList(HeaderCursor& out, const avi_file* AVI, int super_index_bytes) {
    if (avi_audio_is_mp3(AVI)) {
        PutMp3StreamList(out, AVI, super_index_bytes);
        return;
    }
    long long sample_bytes = avi_sample_frame_bytes(AVI->audio_bits, AVI->audio_channels);
    // Only the low 32 bits are stored, so the product may wrap.
    std::uint32_t bytes_per_second = std::uint32_t(sample_bytes) * std::uint32_t(AVI->audio_rate);
    PutAudioStreamHead(out, AVI, kAudioListBytes + super_index_bytes, std::uint32_t(sample_bytes),
                       bytes_per_second, std::uint32_t(AVI->audio_total / sample_bytes),
                       std::uint32_t(sample_bytes), 16);
    out.U32(bytes_per_second);
    out.U16(std::uint32_t(sample_bytes));
    out.U16(std::uint32_t(AVI->audio_bits));
}

// A stream's super index: shown once the file is finished past its first part; until then
// a filler of its size, so that players read an unfinished file from its data.
void PutSuperIndex(HeaderCursor& out, const avi_stream* stream, int bytes, bool shown) {
    out.Block(bytes, [&](unsigned char* at) { avi_put_super_index(at, stream, bytes, shown); });
}

// The "odml" list with the frames of all parts, shown like the super indexes.
void PutOdmlList(HeaderCursor& out, const avi_file* AVI, bool shown) {
    out.Id(shown ? "LIST" : "JUNK");
    out.U32(kOdmlListBytes - 8);
    out.Id("odml");
    out.Id("dmlh");
    out.U32(kOdmlListBytes - 20);
    out.U32(shown ? std::uint32_t(AVI->frame_count) : 0);
    out.Zeros(kOdmlListBytes - 24);
}

}  // namespace

unsigned avi_frame_time_us(double fps) {
    if (!(fps >= 0.001)) {  // also refuses NaN
        return 0;
    }
    return static_cast<unsigned>(1000000.0 / fps + 0.5);
}

bool avi_audio_is_mp3(const avi_file* AVI) {
    return AVI->audio_format == 0x0055;
}

long long avi_sample_frame_bytes(int bits, int channels) {
    long long bytes = (static_cast<long long>(bits) + 7) / 8 * channels;
    return bytes != 0 ? bytes : 1;
}

bool avi_build_header(const avi_file* AVI, bool index_written, unsigned char* header) {
    std::memset(header, 0, AVI_HEADER_BYTES);
    // The audio stream is described from the first refresh on, before its first chunk, so that
    // an unfinished file always tells its sound's format.
    bool with_audio_list =
        AVI->audio_channels != 0 && (AVI->stream_count > 1 || AVI->audio_total != 0);
    int super_index_bytes = avi_super_index_bytes(AVI->stream_count);
    int header_list_end = 88 + kVideoListBytes + super_index_bytes + kOdmlListBytes;
    if (with_audio_list) {
        header_list_end +=
            (avi_audio_is_mp3(AVI) ? kMp3ListBytes : kAudioListBytes) + super_index_bytes;
    }
    int junk_length = kMoviListAt - header_list_end - 8;
    if (junk_length < 0) {
        return false;
    }
    bool indexes_shown = index_written && avi_has_parts(AVI);
    static const avi_stream kNoStream = {};

    std::uint32_t frame_time = avi_frame_time_us(AVI->fps);
    std::uint32_t flags = kFlagWasCaptureFile;
    if (index_written) {
        flags |= kFlagHasIndex;
        if (AVI->repeats_via_index == 1) {
            flags |= kFlagMustUseIndex;
        }
    }

    HeaderCursor out(header);
    PutMainHeader(out, AVI, frame_time, flags, header_list_end, with_audio_list ? 2 : 1);
    PutVideoStreamList(out, AVI, frame_time, super_index_bytes);
    PutSuperIndex(out, AVI->stream_count > 0 ? &AVI->streams[0] : &kNoStream, super_index_bytes,
                  indexes_shown);
    if (with_audio_list) {
        PutAudioStreamList(out, AVI, super_index_bytes);
        PutSuperIndex(out, AVI->stream_count > 1 ? &AVI->streams[1] : &kNoStream, super_index_bytes,
                      indexes_shown);
    }
    PutOdmlList(out, AVI, indexes_shown);
    out.Id("JUNK");
    out.U32(std::uint32_t(junk_length));
    out.SeekTo(kMoviListAt);
    out.Id("LIST");
    out.U32(std::uint32_t((avi_has_parts(AVI) ? AVI->first_movi_end : AVI->data_end) -
                          (AVI_HEADER_BYTES - 4)));
    out.Id("movi");
    return !out.Overflowed();
}
