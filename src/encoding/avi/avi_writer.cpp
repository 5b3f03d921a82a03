#include "encoding/avi/avi_writer.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_fd_io.h"
#include "encoding/avi/avi_header.h"
#include "encoding/avi/avi_index.h"

namespace {

constexpr char kVideoChunkId[] = "00db";
constexpr char kAudioChunkId[] = "01wb";
constexpr char kIndexChunkId[] = "idx1";

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

// Length of the file if it were closed after appending added_bytes of chunks and
// added_entries index entries: the data, then the idx1 chunk with every entry.
std::int64_t avi_closed_length(const avi_file* AVI, std::int64_t added_bytes, int added_entries) {
    return std::int64_t(AVI->file_pos) + added_bytes +
           std::int64_t(AVI_INDEX_ENTRY_BYTES) * (std::int64_t(AVI->index_count) + added_entries) +
           8;
}

// False, with AVI_ERR_SIZELIM, when those additions would take the closed file past the limit.
bool avi_room_for(const avi_file* AVI, std::int64_t added_bytes, int added_entries) {
    if (avi_closed_length(AVI, added_bytes, added_entries) > AVI_MAX_FILE_BYTES) {
        AVI_last_error = AVI_ERR_SIZELIM;
        return false;
    }
    return true;
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
    AVI->file_pos += int(avi_padded_length(length)) + 8;
    return 0;
}

int avi_put_indexed_chunk(avi_file* AVI, const char* id, std::uint32_t flags, const char* data,
                          int length) {
    if (length < 0 || (data == nullptr && length > 0)) {
        errno = EINVAL;
        AVI_last_error = AVI_ERR_WRITE;
        return -1;
    }
    if (!avi_room_for(AVI, avi_padded_length(length) + 8, 1)) {
        return -1;
    }
    if (avi_push_index_entry(AVI, id, flags, std::uint32_t(AVI->file_pos), std::uint32_t(length)) !=
        0) {
        return -1;
    }
    if (avi_append_chunk(AVI, id, data, length) != 0) {
        --AVI->index_count;  // the entry would point at data that is not there
        return -1;
    }
    return 0;
}

long long avi_monotonic_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Writes the header with the counts of the chunks written so far. The data goes to the disk
// first, so that even after a power cut the header never counts a chunk that is not there.
bool avi_refresh_header(avi_file* AVI) {
    avi_file progress = *AVI;
    progress.data_end = AVI->file_pos;
    unsigned char header[AVI_HEADER_BYTES];
    return avi_build_header(&progress, false, header) &&
           (fdatasync(AVI->fd) == 0 || errno == EINVAL) &&  // EINVAL: the file cannot sync
           avi_write_all_at(AVI->fd, 0, header, sizeof header);
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
    if (AVI->header_refresh_ms == 0) {
        // Held until the file is closed or the process ends, so that a repair started
        // meanwhile (another instance's start-up scan) leaves a file being written alone.
        flock(AVI->fd, LOCK_EX | LOCK_NB);
    }
    if (!avi_refresh_header(AVI)) {
        AVI_last_error = AVI_ERR_WRITE;
        return false;
    }
    AVI->header_refresh_ms = now;
    return true;
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

void AVI_set_audio_format(avi_file* AVI, int channels, int rate, int bits, int format) {
    if (AVI->mode != AVI_MODE_WRITE) {
        return;
    }
    AVI->audio_channels = channels;
    AVI->audio_rate = rate;
    AVI->audio_bits = bits;
    AVI->audio_format = format;
}

int AVI_put_video_frame(avi_file* AVI, const char* data, int length, int keyframe) {
    if (!avi_is_writable(AVI)) {
        return -1;
    }
    // An empty chunk repeats the previous picture; it decodes to nothing, so it is no key.
    std::uint32_t flags = (keyframe != 0 && length > 0) ? AVI_KEYFRAME_FLAG : 0;
    int chunk_pos = AVI->file_pos;
    if (avi_put_indexed_chunk(AVI, kVideoChunkId, flags, data, length) != 0) {
        return -1;
    }
    ++AVI->frame_count;
    if (!avi_refresh_header_when_due(AVI)) {
        // The frame is given back, as after a failed write: the next chunk overwrites it.
        ErrnoKeeper keep;
        --AVI->frame_count;
        --AVI->index_count;
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
    if (!avi_room_for(AVI, 0, 1)) {
        return -1;
    }
    if (avi_push_index_entry(AVI, kVideoChunkId, std::uint32_t(AVI->last_frame_flags),
                             std::uint32_t(AVI->last_frame_pos),
                             std::uint32_t(AVI->last_frame_len)) != 0) {
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
    if (avi_put_indexed_chunk(AVI, kAudioChunkId, 0, data, length) != 0) {
        return -1;
    }
    AVI->audio_total += length;
    AVI->audio_chunk_count += 1;
    return 0;
}

int AVI_room_left(avi_file* AVI) {
    if (AVI->mode != AVI_MODE_WRITE) {
        return 0;
    }
    return int(AVI_MAX_FILE_BYTES - avi_closed_length(AVI, 0, 0));
}

int AVI_get_audio_total(avi_file* AVI) {
    return AVI->audio_total;
}

int AVI_close_output_file(avi_file* AVI) {
    if (AVI->mode != AVI_MODE_WRITE) {
        AVI_last_error = AVI_ERR_NOT_PERM;
        return -1;
    }
    // A second call writes the same index and header again at the same place.
    if (AVI->data_end == 0) {
        AVI->data_end = AVI->file_pos;
    } else {
        AVI->file_pos = AVI->data_end;
        lseek(AVI->fd, AVI->data_end, SEEK_SET);
    }

    bool index_written = avi_append_chunk(AVI, kIndexChunkId, AVI->index,
                                          AVI->index_count * AVI_INDEX_ENTRY_BYTES) == 0;
    if (!index_written) {
        AVI_last_error = AVI_ERR_WRITE_INDEX;
    }

    unsigned char header[AVI_HEADER_BYTES];
    if (!avi_build_header(AVI, index_written, header) || !avi_seek_to(AVI->fd, 0) ||
        !avi_write_all(AVI->fd, header, sizeof header) || ftruncate(AVI->fd, AVI->file_pos) != 0) {
        AVI_last_error = AVI_ERR_CLOSE;
        return -1;
    }
    return index_written ? 0 : -1;
}

int AVI_close_file(avi_file* AVI) {
    if (AVI == nullptr) {
        return 0;
    }
    int result = AVI->mode == AVI_MODE_WRITE ? AVI_close_output_file(AVI) : 0;
    ErrnoKeeper keep;
    close(AVI->fd);
    std::free(AVI->index);
    std::free(AVI->frame_table);
    std::free(AVI->audio_table);
    std::free(AVI);
    return result;
}
