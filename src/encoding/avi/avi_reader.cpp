// Field getters, frame and audio reading on an input handle.
#include "encoding/avi/avi_reader.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <unistd.h>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_fd_io.h"

namespace {

bool avi_is_readable(avi_file* AVI) {
    if (AVI->mode != AVI_MODE_READ) {
        AVI_last_error = AVI_ERR_NOT_PERM;
        return false;
    }
    return true;
}

// The frame or audio table exists only when the file was opened with its index.
bool avi_has_table(const void* table) {
    if (table == nullptr) {
        AVI_last_error = AVI_ERR_NO_IDX;
        return false;
    }
    return true;
}

bool avi_is_frame(const avi_file* AVI, int frame) {
    return frame >= 0 && frame < AVI->frame_count;
}

// A frame or chunk number outside the tables: there is nothing there to read.
int avi_refuse_position() {
    errno = EINVAL;
    AVI_last_error = AVI_ERR_READ;
    return -1;
}

bool avi_skip(int fd, std::int64_t bytes) {
    return lseek(fd, static_cast<off_t>(bytes), SEEK_CUR) >= 0;
}

// Reads a chunk's data of the given length into buffer, then steps over its pad byte.
bool avi_read_chunk_data(int fd, char* buffer, std::uint32_t length) {
    return avi_read_all(fd, buffer, length) && ((length & 1) == 0 || avi_skip(fd, 1));
}

// Handles one chunk of a stream for AVI_fetch_next_chunk: found is the result for a chunk
// read, and its negation for one that did not fit.
int avi_take_next_chunk(int fd, std::uint32_t length, char* buffer, int size, int found) {
    if (std::int64_t(length) > std::int64_t(size < 0 ? 0 : size)) {
        avi_skip(fd, avi_padded_length(length));
        return -found;
    }
    return avi_read_chunk_data(fd, buffer, length) ? found : 0;
}

}  // namespace

int AVI_get_frame_count(avi_file* AVI) {
    return AVI->frame_count;
}

int AVI_get_width(avi_file* AVI) {
    return AVI->width;
}

int AVI_get_height(avi_file* AVI) {
    return AVI->height;
}

double AVI_get_fps(avi_file* AVI) {
    return AVI->fps;
}

const char* AVI_get_compressor(avi_file* AVI) {
    return AVI->compressor;
}

int AVI_get_audio_channels(avi_file* AVI) {
    return AVI->audio_channels;
}

int AVI_get_audio_bits(avi_file* AVI) {
    return AVI->audio_bits;
}

int AVI_get_audio_format(avi_file* AVI) {
    return AVI->audio_format;
}

int AVI_get_audio_rate(avi_file* AVI) {
    return AVI->audio_rate;
}

int AVI_get_frame_length(avi_file* AVI, int frame) {
    if (!avi_is_readable(AVI) || !avi_has_table(AVI->frame_table)) {
        return -1;
    }
    return avi_is_frame(AVI, frame) ? AVI->frame_table[frame].length : 0;
}

int AVI_rewind_movi(avi_file* AVI) {
    if (!avi_is_readable(AVI)) {
        return -1;
    }
    avi_seek_to(AVI->fd, AVI->movi_data_offset);
    AVI->next_frame = 0;
    AVI->audio_chunk_pos = 0;
    AVI->audio_byte_pos = 0;
    return 0;
}

int AVI_goto_frame(avi_file* AVI, int frame, int* frame_length) {
    if (!avi_is_readable(AVI) || !avi_has_table(AVI->frame_table)) {
        return -1;
    }
    if (frame < 0) {
        frame = 0;
    }
    if (frame >= AVI->frame_count) {
        return avi_refuse_position();
    }
    AVI->next_frame = frame;
    if (frame_length != nullptr) {
        *frame_length = AVI->frame_table[frame].length;
    }
    return 0;
}

int AVI_fetch_frame(avi_file* AVI, char* buffer) {
    if (!avi_is_readable(AVI) || !avi_has_table(AVI->frame_table)) {
        return -1;
    }
    if (!avi_is_frame(AVI, AVI->next_frame)) {
        return 0;
    }
    const avi_frame_entry& entry = AVI->frame_table[AVI->next_frame];
    if (!avi_read_at(AVI->fd, entry.offset, buffer, std::size_t(entry.length))) {
        AVI_last_error = AVI_ERR_READ;
        return -1;
    }
    ++AVI->next_frame;
    return entry.length;
}

int AVI_goto_audio_byte(avi_file* AVI, std::int64_t byte) {
    if (!avi_is_readable(AVI) || !avi_has_table(AVI->audio_table)) {
        return -1;
    }
    // A position past the end is the end: reading from there gives nothing.
    byte = byte < 0 ? 0 : (byte > AVI->audio_total ? AVI->audio_total : byte);
    int lo = 0, hi = AVI->audio_chunk_count;
    while (lo < hi - 1) {
        int mid = lo + (hi - lo) / 2;
        if (byte < AVI->audio_table[mid].bytes_before) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    AVI->audio_chunk_pos = lo;
    AVI->audio_byte_pos = int(byte - AVI->audio_table[lo].bytes_before);
    return 0;
}

int AVI_goto_audio_chunk(avi_file* AVI, int chunk, int* chunk_length) {
    if (!avi_is_readable(AVI) || !avi_has_table(AVI->audio_table)) {
        return -1;
    }
    if (chunk < 0 || chunk >= AVI->audio_chunk_count) {
        return avi_refuse_position();
    }
    AVI->audio_chunk_pos = chunk;
    AVI->audio_byte_pos = 0;
    if (chunk_length != nullptr) {
        *chunk_length = AVI->audio_table[chunk].length;
    }
    return 0;
}

int AVI_fetch_audio(avi_file* AVI, char* buffer, int count) {
    if (!avi_is_readable(AVI) || !avi_has_table(AVI->audio_table)) {
        return -1;
    }
    int total = 0;
    while (count > 0 && AVI->audio_chunk_pos < AVI->audio_chunk_count) {
        const avi_audio_entry& chunk = AVI->audio_table[AVI->audio_chunk_pos];
        int left = chunk.length - AVI->audio_byte_pos;
        if (left <= 0) {
            if (AVI->audio_chunk_pos == AVI->audio_chunk_count - 1) {
                break;
            }
            ++AVI->audio_chunk_pos;
            AVI->audio_byte_pos = 0;
            continue;
        }
        int take = count < left ? count : left;
        if (!avi_read_at(AVI->fd, std::int64_t(chunk.offset) + AVI->audio_byte_pos, buffer + total,
                         std::size_t(take))) {
            AVI_last_error = AVI_ERR_READ;
            return -1;
        }
        AVI->audio_byte_pos += take;
        total += take;
        count -= take;
    }
    return total;
}

int AVI_fetch_next_chunk(avi_file* AVI, char* video_buffer, int video_size, char* audio_buffer,
                         int audio_size, int* length) {
    if (AVI->mode != AVI_MODE_READ) {
        return 0;
    }
    unsigned char chunk[8];
    while (avi_read_all(AVI->fd, chunk, sizeof chunk)) {
        // Lists and further parts are entered: their chunks follow their type.
        if (avi_same_id(chunk, "LIST", 4) || avi_same_id(chunk, "RIFF", 4)) {
            if (!avi_skip(AVI->fd, 4)) {
                return 0;
            }
            continue;
        }
        std::uint32_t data_length = avi_load_u32le(chunk + 4);
        bool video = avi_same_id(chunk, AVI->video_chunk_id, 3);
        if (video || avi_same_id(chunk, AVI->audio_chunk_id, 4)) {
            if (length != nullptr) {
                *length = data_length > INT_MAX ? INT_MAX : int(data_length);
            }
            if (video) {
                ++AVI->next_frame;
                return avi_take_next_chunk(AVI->fd, data_length, video_buffer, video_size, 1);
            }
            return avi_take_next_chunk(AVI->fd, data_length, audio_buffer, audio_size, 2);
        }
        if (!avi_skip(AVI->fd, avi_padded_length(data_length))) {
            return 0;
        }
    }
    return 0;
}
