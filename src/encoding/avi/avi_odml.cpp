#include "encoding/avi/avi_odml.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "encoding/avi/avi_bytes.h"

namespace {

constexpr int kIndexHeadBytes = 24;  // the fields before an index's entries
constexpr int kSuperEntryBytes = 16;
constexpr int kPartEntryBytes = 8;
constexpr std::uint32_t kNotKeyBit = 0x80000000u;
constexpr std::uint8_t kIndexOfIndexes = 0;
constexpr std::uint8_t kIndexOfChunks = 1;
// Header room the reservations share: the header less the fixed lists (one video stream of
// 220 bytes, the audio stream's at most 122 (MP3)), the odml list (268 bytes), a filler chunk's
// head and the movi list's head.
constexpr int kReservableBytes = AVI_HEADER_BYTES - 12 - 220 - 268 - 8;
constexpr int kAudioListBytes = 122;

void avi_put_index_head(unsigned char* at, int longs_per_entry, std::uint8_t type,
                        std::uint32_t entries, const char* chunk_id) {
    avi_store_u16le(at, std::uint32_t(longs_per_entry));
    at[2] = 0;  // sub type
    at[3] = type;
    avi_store_u32le(at + 4, entries);
    std::memcpy(at + 8, chunk_id, 4);
}

}  // namespace

avi_stream* avi_add_stream(avi_file* AVI, const char* chunk_id, const char* index_id,
                           int sample_bytes) {
    if (AVI->stream_count >= AVI_MAX_STREAMS) {
        return nullptr;
    }
    avi_stream* stream = &AVI->streams[AVI->stream_count++];
    std::memset(stream, 0, sizeof *stream);
    std::memcpy(stream->chunk_id, chunk_id, 4);
    std::memcpy(stream->index_id, index_id, 4);
    stream->sample_bytes = sample_bytes;
    return stream;
}

avi_stream* avi_find_stream(avi_file* AVI, const char* chunk_id) {
    for (int i = 0; i < AVI->stream_count; ++i) {
        if (std::memcmp(AVI->streams[i].chunk_id, chunk_id, 4) == 0) {
            return &AVI->streams[i];
        }
    }
    return nullptr;
}

void avi_free_streams(avi_file* AVI) {
    for (int i = 0; i < AVI->stream_count; ++i) {
        std::free(AVI->streams[i].part_index);
        AVI->streams[i].part_index = nullptr;
    }
}

int avi_max_parts(int stream_count) {
    int streams = stream_count > 1 ? stream_count : 1;
    int room = kReservableBytes - (streams - 1) * kAudioListBytes - streams * (8 + kIndexHeadBytes);
    int parts = room / (streams * kSuperEntryBytes);
    return parts < AVI_MAX_PARTS ? parts : AVI_MAX_PARTS;
}

int avi_super_index_bytes(int stream_count) {
    return 8 + kIndexHeadBytes + kSuperEntryBytes * avi_max_parts(stream_count);
}

void avi_put_super_index(unsigned char* at, const avi_stream* stream, int bytes, bool shown) {
    std::memset(at, 0, std::size_t(bytes));
    std::memcpy(at, shown ? "indx" : "JUNK", 4);
    avi_store_u32le(at + 4, std::uint32_t(bytes - 8));
    if (!shown) {
        return;
    }
    unsigned char* body = at + 8;
    avi_put_index_head(body, 4, kIndexOfIndexes, std::uint32_t(stream->parts), stream->chunk_id);
    unsigned char* entry = body + kIndexHeadBytes;
    for (int i = 0; i < stream->parts && entry + kSuperEntryBytes <= at + bytes; ++i) {
        const avi_super_entry& part = stream->super_index[i];
        avi_store_u32le(entry, std::uint32_t(part.offset));
        avi_store_u32le(entry + 4, std::uint32_t(std::uint64_t(part.offset) >> 32));
        avi_store_u32le(entry + 8, part.size);
        avi_store_u32le(entry + 12, part.duration);
        entry += kSuperEntryBytes;
    }
}

std::uint32_t avi_chunk_duration(const avi_stream* stream, std::uint32_t length) {
    return stream->sample_bytes > 0 ? length / std::uint32_t(stream->sample_bytes) : 1;
}

int avi_push_part_entry(avi_stream* stream, std::uint32_t from_base, std::uint32_t length,
                        bool key) {
    if (stream->part_entries >= stream->part_capacity) {
        if (stream->part_capacity > INT_MAX / 2 - AVI_INDEX_GROWTH) {
            AVI_last_error = AVI_ERR_NO_MEM;
            return -1;
        }
        int capacity = stream->part_capacity + AVI_INDEX_GROWTH;
        void* grown = std::realloc(stream->part_index, std::size_t(capacity) * kPartEntryBytes);
        if (grown == nullptr) {
            AVI_last_error = AVI_ERR_NO_MEM;
            return -1;
        }
        stream->part_index = static_cast<unsigned char*>(grown);
        stream->part_capacity = capacity;
    }
    unsigned char* entry = stream->part_index + std::size_t(stream->part_entries) * kPartEntryBytes;
    avi_store_u32le(entry, from_base);
    avi_store_u32le(entry + 4, key ? length : length | kNotKeyBit);
    ++stream->part_entries;
    stream->part_duration += avi_chunk_duration(stream, length);
    return 0;
}

std::uint32_t avi_part_entry_offset(const avi_stream* stream, int i) {
    return avi_load_u32le(stream->part_index + std::size_t(i) * kPartEntryBytes);
}

std::int64_t avi_drop_part_entries(avi_stream* stream, int keep) {
    std::int64_t bytes = 0;
    for (int i = keep; i < stream->part_entries; ++i) {
        std::uint32_t size =
            avi_load_u32le(stream->part_index + std::size_t(i) * kPartEntryBytes + 4) & ~kNotKeyBit;
        bytes += size;
        stream->part_duration -= avi_chunk_duration(stream, size);
    }
    if (keep < stream->part_entries) {
        stream->part_entries = keep;
    }
    return bytes;
}

std::int64_t avi_part_index_bytes(const avi_stream* stream, int added) {
    std::int64_t entries = std::int64_t(stream->part_entries) + added;
    return entries > 0 ? 8 + kIndexHeadBytes + kPartEntryBytes * entries : 0;
}

std::int64_t avi_enter_part_indexes(avi_file* AVI, std::int64_t at) {
    for (int i = 0; i < AVI->stream_count; ++i) {
        avi_stream* stream = &AVI->streams[i];
        std::int64_t bytes = avi_part_index_bytes(stream, 0);
        if (bytes > 0 && stream->parts < AVI_MAX_PARTS) {
            stream->super_index[stream->parts++] = {at, std::uint32_t(bytes),
                                                    stream->part_duration};
        }
        at += bytes;
        stream->part_entries = 0;
        stream->part_duration = 0;
    }
    return at;
}

void avi_append_part_index(const avi_stream* stream, std::int64_t base,
                           std::vector<unsigned char>* out) {
    std::int64_t bytes = avi_part_index_bytes(stream, 0);
    if (bytes == 0) {
        return;
    }
    std::size_t at = out->size();
    out->resize(at + std::size_t(bytes));
    unsigned char* chunk = out->data() + at;
    std::memcpy(chunk, stream->index_id, 4);
    avi_store_u32le(chunk + 4, std::uint32_t(bytes - 8));
    avi_put_index_head(chunk + 8, 2, kIndexOfChunks, std::uint32_t(stream->part_entries),
                       stream->chunk_id);
    avi_store_u32le(chunk + 20, std::uint32_t(base));
    avi_store_u32le(chunk + 24, std::uint32_t(std::uint64_t(base) >> 32));
    avi_store_u32le(chunk + 28, 0);
    std::memcpy(chunk + 8 + kIndexHeadBytes, stream->part_index,
                std::size_t(stream->part_entries) * kPartEntryBytes);
}
