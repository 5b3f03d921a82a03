#include "encoding/avi/avi_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_fd_io.h"
#include "encoding/avi/avi_header.h"
#include "encoding/avi/avi_index.h"
#include "encoding/avi/avi_odml.h"

namespace {

constexpr char kVideoChunkId[] = "00db";
constexpr char kVideoIndexId[] = "ix00";
constexpr char kAudioChunkId[] = "01wb";
constexpr char kAudioIndexId[] = "ix01";
constexpr char kIndexChunkId[] = "idx1";
constexpr int kPartHeadBytes = 24;  // "RIFF" length "AVIX" "LIST" length "movi"
constexpr std::int64_t kSmallestPart = 16 * 1024;
// When a full disk or the file-size limit leaves no room for the index at close, the last
// chunks are given up, at least one byte of them at the first try and twice as many at each
// next one: few frames are lost, and a full disk's block granularity is soon passed.
constexpr int kCloseTries = 48;

// Keeps errno across cleanup calls, so the error texts name the call that failed.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }

private:
    int saved_;
};

bool avi_is_writable(avi_file* AVI) {
    // data_end is set once the index went out: the file then takes no more chunks.
    if (AVI->mode != AVI_MODE_WRITE || AVI->data_end != 0) {
        AVI_last_error = AVI_ERR_NOT_PERM;
        return false;
    }
    return true;
}

bool avi_in_first_part(const avi_file* AVI) {
    return AVI->first_part_end == 0;
}

// Where the open part's first chunk goes.
std::int64_t avi_part_data_start(const avi_file* AVI) {
    return avi_in_first_part(AVI) ? AVI_HEADER_BYTES : AVI->part_start + kPartHeadBytes;
}

// The offset a part's standard indexes count from: its "movi" list type.
std::int64_t avi_part_base(const avi_file* AVI) {
    return avi_part_data_start(AVI) - 4;
}

// Bytes the open part's indexes take when it is closed after one more chunk of `adding`
// (null: no chunk) and `added_entries` more idx1 entries.
std::int64_t avi_part_indexes_bytes(const avi_file* AVI, const avi_stream* adding,
                                    int added_entries) {
    std::int64_t bytes = 0;
    for (int i = 0; i < AVI->stream_count; ++i) {
        bytes += avi_part_index_bytes(&AVI->streams[i], &AVI->streams[i] == adding ? 1 : 0);
    }
    if (avi_in_first_part(AVI)) {
        bytes += 8 + std::int64_t(AVI_INDEX_ENTRY_BYTES) * (AVI->index_count + added_entries);
    }
    return bytes;
}

bool avi_part_fits(const avi_file* AVI, const avi_stream* adding, std::int64_t chunk_bytes,
                   int added_entries) {
    return AVI->file_pos - AVI->part_start + chunk_bytes +
               avi_part_indexes_bytes(AVI, adding, added_entries) <=
           AVI->part_bytes;
}

// The open part's indexes: each stream's standard index (once the file has more than one
// part) and, in the first part, the idx1 index after the movi list.
std::vector<unsigned char> avi_part_tail(const avi_file* AVI, bool standard_indexes,
                                         std::int64_t* movi_end) {
    std::vector<unsigned char> tail;
    if (standard_indexes) {
        for (int i = 0; i < AVI->stream_count; ++i) {
            avi_append_part_index(&AVI->streams[i], avi_part_base(AVI), &tail);
        }
    }
    *movi_end = AVI->file_pos + std::int64_t(tail.size());
    if (avi_in_first_part(AVI)) {
        std::size_t at = tail.size();
        std::size_t entries = std::size_t(AVI->index_count) * AVI_INDEX_ENTRY_BYTES;
        tail.resize(at + 8 + entries);
        std::memcpy(&tail[at], kIndexChunkId, 4);
        avi_store_u32le(&tail[at + 4], std::uint32_t(entries));
        if (entries > 0) {
            std::memcpy(&tail[at + 8], AVI->index, entries);
        }
    }
    return tail;
}

// The head of a further part: its RIFF length and its movi list's length.
void avi_build_part_head(const avi_file* AVI, std::int64_t movi_end, std::int64_t end,
                         unsigned char* head) {
    std::memcpy(head, "RIFF", 4);
    avi_store_u32le(head + 4, std::uint32_t(end - AVI->part_start - 8));
    std::memcpy(head + 8, "AVIX", 4);
    std::memcpy(head + 12, "LIST", 4);
    avi_store_u32le(head + 16, std::uint32_t(movi_end - AVI->part_start - 20));
    std::memcpy(head + 20, "movi", 4);
}

bool avi_write_part_head(const avi_file* AVI, std::int64_t movi_end, std::int64_t end) {
    // The first part's lengths are in the file header, and a part taken off has no head.
    if (avi_in_first_part(AVI) || end <= AVI->part_start) {
        return true;
    }
    unsigned char head[kPartHeadBytes];
    avi_build_part_head(AVI, movi_end, end, head);
    return avi_write_all_at(AVI->fd, AVI->part_start, head, sizeof head);
}

// Writes the header with the counts of the chunks written so far, and the open part's head.
// The data goes to the disk first, so that even after a power cut the header never counts a
// chunk that is not there.
bool avi_refresh_header(avi_file* AVI) {
    avi_file progress = *AVI;
    progress.data_end = AVI->file_pos;
    unsigned char header[AVI_HEADER_BYTES];
    return avi_build_header(&progress, false, header) &&
           (fdatasync(AVI->fd) == 0 || errno == EINVAL) &&  // EINVAL: the file cannot sync
           avi_write_all_at(AVI->fd, 0, header, sizeof header) &&
           avi_write_part_head(AVI, AVI->file_pos, AVI->file_pos);
}

// Closes the open part (its indexes at its end, its lengths right) and opens the next one,
// written in one go; nothing changes when that fails.
bool avi_begin_next_part(avi_file* AVI) {
    std::int64_t movi_end = 0;
    std::vector<unsigned char> tail = avi_part_tail(AVI, true, &movi_end);
    std::int64_t end = AVI->file_pos + std::int64_t(tail.size());
    std::size_t head_at = tail.size();
    tail.resize(head_at + kPartHeadBytes);
    if (!avi_write_all_at(AVI->fd, AVI->file_pos, tail.data(), tail.size()) ||
        !avi_write_part_head(AVI, movi_end, end)) {
        AVI_last_error = AVI_ERR_WRITE;
        return false;
    }
    if (avi_in_first_part(AVI)) {
        AVI->first_movi_end = movi_end;
        AVI->first_part_frames = AVI->frame_count;
        AVI->first_part_end = end;
    }
    avi_enter_part_indexes(AVI, AVI->file_pos);
    AVI->part_start = end;
    ++AVI->part_count;
    AVI->file_pos = end + kPartHeadBytes;
    avi_build_part_head(AVI, AVI->file_pos, AVI->file_pos, &tail[head_at]);
    lseek(AVI->fd, AVI->file_pos, SEEK_SET);
    // The closed part's lengths count from here on; the next refresh would also write them.
    if (avi_refresh_header(AVI)) {
        return true;
    }
    AVI_last_error = AVI_ERR_WRITE;
    return false;
}

// Makes room in the open part for one more chunk of chunk_bytes (with its index entries),
// beginning the next part when this one is full. False with AVI_ERR_SIZELIM when the last
// part the super indexes hold is full, or the chunk is larger than a part.
bool avi_make_room(avi_file* AVI, const avi_stream* adding, std::int64_t chunk_bytes) {
    if (avi_part_fits(AVI, adding, chunk_bytes, 1)) {
        return true;
    }
    if (AVI->file_pos == avi_part_data_start(AVI) ||
        AVI->part_count >= avi_max_parts(AVI->stream_count)) {
        AVI_last_error = AVI_ERR_SIZELIM;
        return false;
    }
    if (!avi_begin_next_part(AVI)) {
        return false;
    }
    if (!avi_part_fits(AVI, adding, chunk_bytes, 1)) {
        AVI_last_error = AVI_ERR_SIZELIM;
        return false;
    }
    return true;
}

// False, with EFBIG, when one more chunk of chunk_bytes would leave no room under the
// process's file-size limit for the indexes that finish the file.
bool avi_under_size_limit(const avi_file* AVI, const avi_stream* adding, std::int64_t chunk_bytes) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return true;
    }
    std::int64_t closed_end = AVI->file_pos + chunk_bytes + avi_part_indexes_bytes(AVI, adding, 1);
    if (std::uint64_t(closed_end) <= std::uint64_t(limit.rlim_cur)) {
        return true;
    }
    errno = EFBIG;
    AVI_last_error = AVI_ERR_WRITE;
    return false;
}

// Writes one chunk (header, data, zero pad byte after odd lengths) at file_pos. On a failed
// write the file position goes back to file_pos so the next chunk overwrites the remains.
int avi_append_chunk(avi_file* AVI, const char* id, const void* data, int length) {
    unsigned char header[8];
    std::memcpy(header, id, 4);
    avi_store_u32le(header + 4, std::uint32_t(length));
    static const unsigned char pad = 0;
    bool written = avi_write_all(AVI->fd, header, sizeof header) &&
                   (length == 0 || avi_write_all(AVI->fd, data, std::size_t(length))) &&
                   ((length & 1) == 0 || avi_write_all(AVI->fd, &pad, 1));
    if (!written) {
        ErrnoKeeper keep;
        lseek(AVI->fd, AVI->file_pos, SEEK_SET);
        AVI_last_error = AVI_ERR_WRITE;
        return -1;
    }
    AVI->file_pos += avi_padded_length(length) + 8;
    return 0;
}

// Indexes the chunk at file_pos: in idx1 while in the first part, and in its stream's
// standard index of the open part.
int avi_index_chunk(avi_file* AVI, const char* id, avi_stream* stream, std::uint32_t flags,
                    bool key, std::int64_t chunk_pos, int length) {
    bool first_part = avi_in_first_part(AVI);
    if (first_part && avi_push_index_entry(AVI, id, flags, std::uint32_t(chunk_pos),
                                           std::uint32_t(length)) != 0) {
        return -1;
    }
    if (stream != nullptr &&
        avi_push_part_entry(stream, std::uint32_t(chunk_pos + 8 - avi_part_base(AVI)),
                            std::uint32_t(length), key) != 0) {
        if (first_part) {
            --AVI->index_count;
        }
        return -1;
    }
    return 0;
}

void avi_withdraw_index(avi_file* AVI, avi_stream* stream) {
    if (avi_in_first_part(AVI)) {
        --AVI->index_count;
    }
    if (stream != nullptr) {
        avi_drop_part_entries(stream, stream->part_entries - 1);
    }
}

int avi_put_indexed_chunk(avi_file* AVI, const char* id, std::uint32_t flags, bool key,
                          const char* data, int length) {
    if (length < 0 || (data == nullptr && length > 0)) {
        errno = EINVAL;
        AVI_last_error = AVI_ERR_WRITE;
        return -1;
    }
    avi_stream* stream = avi_find_stream(AVI, id);
    std::int64_t chunk_bytes = avi_padded_length(length) + 8;
    if (!avi_make_room(AVI, stream, chunk_bytes) ||
        !avi_under_size_limit(AVI, stream, chunk_bytes) ||
        avi_index_chunk(AVI, id, stream, flags, key, AVI->file_pos, length) != 0) {
        return -1;
    }
    if (avi_append_chunk(AVI, id, data, length) != 0) {
        avi_withdraw_index(AVI, stream);  // the entries would point at data that is not there
        return -1;
    }
    return 0;
}

long long avi_monotonic_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool avi_refresh_header_when_due(avi_file* AVI) {
    if (AVI->header_refresh_interval_ms < 0) {
        return true;
    }
    long long now = avi_monotonic_ms();
    if (AVI->header_refresh_ms != 0 &&
        now - AVI->header_refresh_ms < AVI->header_refresh_interval_ms) {
        return true;
    }
    if (!avi_refresh_header(AVI)) {
        AVI_last_error = AVI_ERR_WRITE;
        return false;
    }
    AVI->header_refresh_ms = now;
    return true;
}

// The start of the open part's last chunk that begins at or before `at`; the part's data
// start when none does.
std::int64_t avi_chunk_start_before(const avi_file* AVI, std::int64_t at) {
    std::int64_t found = avi_part_data_start(AVI);
    if (avi_in_first_part(AVI)) {  // idx1 names every chunk of the first part
        for (int i = 0; i < AVI->index_count; ++i) {
            std::int64_t start =
                avi_load_u32le(AVI->index + std::size_t(i) * AVI_INDEX_ENTRY_BYTES + 8);
            if (start <= at) {
                found = std::max(found, start);
            }
        }
        return found;
    }
    for (int s = 0; s < AVI->stream_count; ++s) {
        const avi_stream* stream = &AVI->streams[s];
        for (int i = 0; i < stream->part_entries; ++i) {
            std::int64_t start = avi_part_base(AVI) + avi_part_entry_offset(stream, i) - 8;
            if (start <= at) {
                found = std::max(found, start);
            }
        }
    }
    return found;
}

// Takes back the index entries of the chunks from `cut` on (and those written after them);
// the frames and audio bytes they held no longer count.
void avi_unindex_from(avi_file* AVI, std::int64_t cut) {
    int frames = 0, audio_chunks = 0;
    std::int64_t audio_bytes = 0, data_bytes = 0;
    bool first_part = avi_in_first_part(AVI);
    if (first_part) {
        int keep = 0;
        while (keep < AVI->index_count &&
               avi_load_u32le(AVI->index + std::size_t(keep) * AVI_INDEX_ENTRY_BYTES + 8) < cut) {
            ++keep;
        }
        for (int i = keep; i < AVI->index_count; ++i) {
            const unsigned char* entry = AVI->index + std::size_t(i) * AVI_INDEX_ENTRY_BYTES;
            std::uint32_t length = avi_load_u32le(entry + 12);
            data_bytes += length;
            if (std::memcmp(entry, kVideoChunkId, 4) == 0) {
                ++frames;
            } else {
                audio_bytes += length;
                ++audio_chunks;
            }
        }
        AVI->index_count = keep;
    }
    for (int s = 0; s < AVI->stream_count; ++s) {
        avi_stream* stream = &AVI->streams[s];
        int keep = 0;
        while (keep < stream->part_entries &&
               avi_part_base(AVI) + avi_part_entry_offset(stream, keep) - 8 < cut) {
            ++keep;
        }
        int dropped = stream->part_entries - keep;
        std::int64_t bytes = avi_drop_part_entries(stream, keep);
        if (!first_part) {
            bool video = std::memcmp(stream->chunk_id, kVideoChunkId, 4) == 0;
            frames += video ? dropped : 0;
            audio_chunks += video ? 0 : dropped;
            audio_bytes += video ? 0 : bytes;
            data_bytes += bytes;
        }
    }
    AVI->frame_count -= frames;
    AVI->frames_dropped += frames;
    AVI->data_bytes_dropped += data_bytes;
    AVI->audio_total -= audio_bytes;
    AVI->audio_chunk_count -= audio_chunks;
}

// Gives up the open part's last chunks, at least `bytes` of them, to make room for the index
// on a full disk or at the file-size limit. False when the part has no chunk left.
bool avi_drop_last_chunks(avi_file* AVI, std::int64_t bytes) {
    if (AVI->file_pos <= avi_part_data_start(AVI)) {
        return false;
    }
    std::int64_t cut = avi_chunk_start_before(AVI, AVI->file_pos - bytes);
    avi_unindex_from(AVI, cut);
    AVI->file_pos = cut;
    AVI->last_frame_pos = 0;
    return ftruncate(AVI->fd, cut) == 0;
}

// A further part that holds no chunk (the last ones were given up) is taken off the file.
void avi_remove_empty_part(avi_file* AVI) {
    if (avi_in_first_part(AVI) || AVI->file_pos > avi_part_data_start(AVI)) {
        return;
    }
    AVI->file_pos = AVI->part_start;
    --AVI->part_count;
    // The part before it keeps its own head, and the super indexes name it already.
    for (int s = 0; s < AVI->stream_count; ++s) {
        AVI->streams[s].part_entries = 0;
        AVI->streams[s].part_duration = 0;
    }
}

// Writes the open part's indexes, giving up its last chunks while a full disk or the
// file-size limit leaves no room for them. False (index not written) when that fails.
bool avi_write_last_indexes(avi_file* AVI, std::int64_t* movi_end, std::int64_t* end) {
    std::int64_t bytes_to_free = 1;
    for (int attempt = 0;; ++attempt) {
        avi_remove_empty_part(AVI);
        std::vector<unsigned char> tail = avi_part_tail(AVI, !avi_in_first_part(AVI), movi_end);
        *end = AVI->file_pos + std::int64_t(tail.size());
        if (avi_write_all_at(AVI->fd, AVI->file_pos, tail.data(), tail.size())) {
            return true;
        }
        bool no_room = errno == ENOSPC || errno == EFBIG || errno == EDQUOT;
        if (!no_room || attempt == kCloseTries || !avi_drop_last_chunks(AVI, bytes_to_free)) {
            *movi_end = *end = AVI->file_pos;
            return false;
        }
        bytes_to_free *= 2;
    }
}

}  // namespace

avi_file* AVI_create_output_file(const char* name) {
    const int fd = name != nullptr ? open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666) : -1;
    if (fd < 0) {
        AVI_last_error = AVI_ERR_OPEN;
        return nullptr;
    }
    return AVI_open_output_fd(fd);
}

avi_file* AVI_open_output_fd(int fd) {
    auto* AVI = static_cast<avi_file*>(std::calloc(1, sizeof(avi_file)));
    if (AVI == nullptr) {
        ErrnoKeeper keep;
        close(fd);
        AVI_last_error = AVI_ERR_NO_MEM;
        return nullptr;
    }
    AVI->fd = fd;
    // Held until the file is closed or the process ends, so that a repair or a clean-up
    // started meanwhile (another instance's start-up scan) leaves a file being written alone.
    flock(fd, LOCK_EX | LOCK_NB);
    if (!avi_seek_to(fd, 0)) {
        ErrnoKeeper keep;
        close(fd);
        std::free(AVI);
        AVI_last_error = AVI_ERR_OPEN;
        return nullptr;
    }
    static const unsigned char zeros[AVI_HEADER_BYTES] = {};
    if (!avi_write_all(AVI->fd, zeros, sizeof zeros)) {
        ErrnoKeeper keep;
        close(AVI->fd);
        std::free(AVI);
        AVI_last_error = AVI_ERR_WRITE;
        return nullptr;
    }
    AVI->file_pos = AVI_HEADER_BYTES;
    AVI->mode = AVI_MODE_WRITE;
    AVI->header_refresh_interval_ms = AVI_HEADER_REFRESH_MS;
    AVI->part_bytes = AVI_PART_BYTES;
    AVI->part_count = 1;
    avi_add_stream(AVI, kVideoChunkId, kVideoIndexId, 0);
    return AVI;
}

void AVI_set_video_format(avi_file* AVI, int width, int height, double fps,
                          const char* compressor) {
    if (AVI->mode != AVI_MODE_WRITE) {
        return;
    }
    AVI->width = width;
    AVI->height = height;
    AVI->fps = fps;
    std::memset(AVI->compressor, 0, sizeof AVI->compressor);
    if (compressor != nullptr) {
        std::strncpy(AVI->compressor, compressor, 4);
    }
}

void AVI_set_header_refresh(avi_file* AVI, int interval_ms) {
    AVI->header_refresh_interval_ms = interval_ms;
}

void AVI_set_part_bytes(avi_file* AVI, std::int64_t bytes) {
    AVI->part_bytes = std::clamp(bytes, kSmallestPart, AVI_PART_BYTES);
}

void AVI_set_audio_format(avi_file* AVI, int channels, int rate, int bits, int format) {
    if (AVI->mode != AVI_MODE_WRITE) {
        return;
    }
    AVI->audio_channels = channels;
    AVI->audio_rate = rate;
    AVI->audio_bits = bits;
    AVI->audio_format = format;
    // MP3 is counted in frames, one per chunk.
    int sample_bytes = avi_audio_is_mp3(AVI) ? 0 : int(avi_sample_frame_bytes(bits, channels));
    if (avi_stream* audio = avi_find_stream(AVI, kAudioChunkId)) {
        audio->sample_bytes = sample_bytes;
    } else if (channels != 0 && AVI->file_pos == AVI_HEADER_BYTES) {
        avi_add_stream(AVI, kAudioChunkId, kAudioIndexId, sample_bytes);
    }
}

int AVI_refresh_header_now(avi_file* AVI) {
    if (!avi_is_writable(AVI)) {
        return -1;
    }
    if (AVI->header_refresh_interval_ms < 0 || AVI->header_refresh_ms == 0) {
        return 0;  // no refreshes, or nothing written yet: no header to bring up to date
    }
    if (!avi_refresh_header(AVI)) {
        AVI_last_error = AVI_ERR_WRITE;
        return -1;
    }
    AVI->header_refresh_ms = avi_monotonic_ms();
    return 0;
}

int AVI_put_video_frame(avi_file* AVI, const char* data, int length, int keyframe) {
    if (!avi_is_writable(AVI)) {
        return -1;
    }
    // An empty chunk repeats the previous picture; it decodes to nothing, so it is no key.
    bool key = keyframe != 0 && length > 0;
    std::uint32_t flags = key ? AVI_KEYFRAME_FLAG : 0;
    if (avi_put_indexed_chunk(AVI, kVideoChunkId, flags, key, data, length) != 0) {
        return -1;
    }
    std::int64_t chunk_pos = AVI->file_pos - avi_padded_length(length) - 8;
    ++AVI->frame_count;
    if (!avi_refresh_header_when_due(AVI)) {
        // The frame is given back, as after a failed write: the next chunk overwrites it.
        ErrnoKeeper keep;
        --AVI->frame_count;
        avi_withdraw_index(AVI, &AVI->streams[0]);
        AVI->file_pos = chunk_pos;
        lseek(AVI->fd, chunk_pos, SEEK_SET);
        return -1;
    }
    AVI->last_frame_pos = chunk_pos;
    AVI->last_frame_len = length;
    AVI->last_frame_flags = int(flags);
    return 0;
}

int AVI_repeat_last_frame(avi_file* AVI) {
    if (!avi_is_writable(AVI)) {
        return -1;
    }
    if (AVI->last_frame_pos == 0) {
        return 0;
    }
    avi_stream* video = &AVI->streams[0];
    if (!avi_make_room(AVI, video, 0)) {
        return -1;
    }
    if (AVI->last_frame_pos < avi_part_data_start(AVI)) {
        AVI_last_error = AVI_ERR_NOT_PERM;  // a part's index cannot point at an earlier part
        return -1;
    }
    if (avi_index_chunk(AVI, kVideoChunkId, video, std::uint32_t(AVI->last_frame_flags),
                        AVI->last_frame_flags != 0, AVI->last_frame_pos,
                        AVI->last_frame_len) != 0) {
        return -1;
    }
    ++AVI->frame_count;
    AVI->repeats_via_index = 1;
    return 0;
}

int AVI_put_audio_block(avi_file* AVI, const char* data, int length) {
    if (!avi_is_writable(AVI)) {
        return -1;
    }
    if (avi_put_indexed_chunk(AVI, kAudioChunkId, 0, true, data, length) != 0) {
        return -1;
    }
    AVI->audio_total += length;
    AVI->audio_chunk_count += 1;
    return 0;
}

std::int64_t AVI_room_left(avi_file* AVI) {
    if (AVI->mode != AVI_MODE_WRITE) {
        return 0;
    }
    std::int64_t in_part = AVI->part_bytes - (AVI->file_pos - AVI->part_start) -
                           avi_part_indexes_bytes(AVI, nullptr, 0);
    std::int64_t later_parts = avi_max_parts(AVI->stream_count) - AVI->part_count;
    return std::max<std::int64_t>(0, in_part) + later_parts * AVI->part_bytes;
}

std::int64_t AVI_get_audio_total(avi_file* AVI) {
    return AVI->audio_total;
}

int AVI_close_output_file(avi_file* AVI) {
    if (AVI->mode != AVI_MODE_WRITE) {
        AVI_last_error = AVI_ERR_NOT_PERM;
        return -1;
    }
    if (AVI->data_end != 0) {
        return 0;  // finished by an earlier call
    }
    // Cuts off what a failed write left past the data (on a full disk that frees its room).
    if (ftruncate(AVI->fd, AVI->file_pos) != 0) {
        AVI_last_error = AVI_ERR_CLOSE;
        return -1;
    }
    std::int64_t movi_end = 0, end = 0;
    bool index_written = avi_write_last_indexes(AVI, &movi_end, &end);
    if (!index_written) {
        AVI_last_error = AVI_ERR_WRITE_INDEX;
    } else if (!avi_in_first_part(AVI)) {
        avi_enter_part_indexes(AVI, AVI->file_pos);
    }
    AVI->data_end = movi_end;  // the end of the first part's movi list while there is one
    AVI->file_pos = end;

    unsigned char header[AVI_HEADER_BYTES];
    if (!avi_build_header(AVI, index_written, header) ||
        !avi_write_all_at(AVI->fd, 0, header, sizeof header) ||
        !avi_write_part_head(AVI, movi_end, end) || ftruncate(AVI->fd, end) != 0) {
        AVI_last_error = AVI_ERR_CLOSE;
        return -1;
    }
    lseek(AVI->fd, end, SEEK_SET);
    return index_written ? 0 : -1;
}

int AVI_close_file(avi_file* AVI) {
    if (AVI == nullptr) {
        return 0;
    }
    int result = AVI->mode == AVI_MODE_WRITE ? AVI_close_output_file(AVI) : 0;
    ErrnoKeeper keep;
    close(AVI->fd);
    avi_free_streams(AVI);
    std::free(AVI->index);
    std::free(AVI->frame_table);
    std::free(AVI->audio_table);
    std::free(AVI);
    return result;
}
