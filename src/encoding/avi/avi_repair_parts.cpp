#include "encoding/avi/avi_repair_parts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_fd_io.h"
#include "encoding/avi/avi_header.h"
#include "encoding/avi/avi_odml.h"

namespace {

constexpr char kVideoChunkId[] = "00db";
constexpr char kAudioChunkId[] = "01wb";
constexpr int kPartHeadBytes = 24;
constexpr int kVideoListAt = 88;  // the first stream list in the header
constexpr std::int64_t kPartOffsetRange = 0xFFFFFFFFLL;

std::int64_t avi_data_start(const AviPartsWalk::Part& part) {
    return part.start == 0 ? AVI_HEADER_BYTES : part.start + kPartHeadBytes;
}

// Puts the part's chunks in its streams' standard indexes, as the writer indexes them. The walk
// keeps each chunk's offset in 32 bits; within a part it is found again from the part's start.
bool avi_index_part(const AviPartsWalk::Part& part, avi_file* fields) {
    const std::int64_t base = avi_data_start(part) - 4;
    const std::vector<unsigned char>& index = part.walk.index;
    for (std::size_t at = 0; at + AVI_INDEX_ENTRY_BYTES <= index.size();
         at += AVI_INDEX_ENTRY_BYTES) {
        avi_stream* stream = avi_find_stream(fields, reinterpret_cast<const char*>(&index[at]));
        if (stream == nullptr) {
            continue;
        }
        const std::uint32_t low = avi_load_u32le(&index[at + 8]);
        const std::int64_t pos = part.start + std::uint32_t(low - std::uint32_t(part.start));
        // Sound chunks are all keys; a frame is one when idx1 says so.
        const bool key = stream != &fields->streams[0] ||
                         (avi_load_u32le(&index[at + 4]) & AVI_KEYFRAME_FLAG) != 0;
        if (avi_push_part_entry(stream, std::uint32_t(pos + 8 - base),
                                avi_load_u32le(&index[at + 12]), key) != 0) {
            return false;
        }
    }
    return true;
}

// The bytes that close a part after its data: its streams' standard indexes, and idx1 in the
// first.
std::vector<unsigned char> avi_part_tail(const AviPartsWalk::Part& part, const avi_file* fields) {
    std::vector<unsigned char> tail;
    for (int s = 0; s < fields->stream_count; ++s) {
        avi_append_part_index(&fields->streams[s], avi_data_start(part) - 4, &tail);
    }
    if (part.start == 0) {
        unsigned char head[8];
        std::memcpy(head, "idx1", 4);
        avi_store_u32le(head + 4, std::uint32_t(part.walk.index.size()));
        tail.insert(tail.end(), head, head + 8);
        tail.insert(tail.end(), part.walk.index.begin(), part.walk.index.end());
    }
    return tail;
}

std::int64_t avi_tail_bytes(const AviPartsWalk::Part& part) {
    std::int64_t bytes = 0;
    for (const std::int64_t entries : {part.walk.frames, part.walk.audio_chunks}) {
        bytes += entries > 0 ? 32 + 8 * entries : 0;
    }
    return bytes + (part.start == 0 ? 8 + std::int64_t(part.walk.index.size()) : 0);
}

bool avi_part_begins_at(int fd, std::int64_t pos) {
    unsigned char head[kPartHeadBytes];
    return avi_read_at(fd, pos, head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "AVIX", 4) == 0 && std::memcmp(head + 12, "LIST", 4) == 0 &&
           std::memcmp(head + 20, "movi", 4) == 0;
}

bool avi_write_head(int fd, std::int64_t start, std::int64_t movi_end, std::int64_t end) {
    unsigned char head[kPartHeadBytes];
    std::memcpy(head, "RIFF", 4);
    avi_store_u32le(head + 4, std::uint32_t(end - start - 8));
    std::memcpy(head + 8, "AVIX", 4);
    std::memcpy(head + 12, "LIST", 4);
    avi_store_u32le(head + 16, std::uint32_t(movi_end - start - 20));
    std::memcpy(head + 20, "movi", 4);
    return avi_write_all_at(fd, start, head, sizeof head);
}

// Where stream s's list begins in the header; -1 when a length read puts it outside.
int avi_stream_list_at(const unsigned char* header, int s) {
    if (s == 0) {
        return kVideoListAt;
    }
    const std::uint32_t video_list = avi_load_u32le(header + kVideoListAt + 4);
    return video_list < AVI_HEADER_BYTES ? kVideoListAt + 8 + int(video_list) : -1;
}

}  // namespace

int avi_audio_list_at(const unsigned char* header) {
    return avi_stream_list_at(header, 1);
}

AviPartsWalk avi_walk_parts(int fd, AviChunkWalk first, std::int64_t file_size, bool with_audio,
                            const std::atomic<bool>* cancel) {
    AviPartsWalk walk;
    walk.parts.push_back({0, std::move(first)});
    // A part was closed by the writer when the next one begins right after its indexes; else
    // the walk stopped at the index of an interrupted repair (or of an unfinished switch).
    while (walk.parts.back().walk.next_part) {
        const AviPartsWalk::Part& last = walk.parts.back();
        const std::int64_t next = last.walk.data_end + avi_tail_bytes(last);
        if (!avi_part_begins_at(fd, next)) {
            break;
        }
        AviChunkWalk part = avi_walk_frame_chunks(fd, next + kPartHeadBytes, file_size,
                                                  next + kPartOffsetRange, with_audio, cancel);
        walk.cancelled = part.cancelled;
        walk.out_of_memory = part.out_of_memory;
        if (walk.cancelled || walk.out_of_memory) {
            return walk;
        }
        walk.parts.push_back({next, std::move(part)});
        walk.first_closed = true;
    }
    if (walk.parts.size() > 1 && walk.parts.back().walk.index.empty()) {
        walk.parts.pop_back();  // begun, but no chunk in it: the writer's close takes it off
    }
    for (std::size_t i = 0; i < walk.parts.size(); ++i) {
        const AviPartsWalk::Part& part = walk.parts[i];
        const std::int64_t end = i + 1 < walk.parts.size() ? walk.parts[i + 1].start : file_size;
        walk.frames += part.walk.frames;
        walk.audio_chunks += part.walk.audio_chunks;
        walk.audio_bytes += part.walk.audio_bytes;
        walk.frames_readable_before += avi_count_readable_frames(fd, avi_data_start(part), end);
    }
    return walk;
}

bool avi_finish_parts(int fd, avi_file* fields, const AviPartsWalk& walk) {
    const bool with_audio = fields->stream_count > 1;
    fields->stream_count = 0;
    avi_add_stream(fields, kVideoChunkId, "ix00", 0);
    if (with_audio) {
        avi_add_stream(fields, kAudioChunkId, "ix01",
                       avi_audio_is_mp3(fields) ? 0
                                                : int(avi_sample_frame_bytes(
                                                      fields->audio_bits, fields->audio_channels)));
    }
    std::int64_t end = 0;
    bool ok = true;
    for (std::size_t i = 0; i < walk.parts.size() && ok; ++i) {
        const AviPartsWalk::Part& part = walk.parts[i];
        for (const AviChunkEdit& edit : part.walk.edits) {
            ok = ok && avi_write_all_at(fd, edit.pos, edit.header, sizeof edit.header);
        }
        ok = ok && avi_index_part(part, fields);
        const std::vector<unsigned char> tail = avi_part_tail(part, fields);
        const std::int64_t data_end = part.walk.data_end;
        const bool last = i + 1 == walk.parts.size();
        if (last) {  // its torn end goes, its missing pad byte comes back as a zero
            const std::int64_t kept = part.walk.pad_missing ? data_end - 1 : data_end;
            static const unsigned char zero = 0;
            ok = ok && ftruncate(fd, kept) == 0 &&
                 (!part.walk.pad_missing || avi_write_all_at(fd, kept, &zero, 1));
        }
        const std::int64_t movi_end = avi_enter_part_indexes(fields, data_end);
        end = data_end + std::int64_t(tail.size());
        ok = ok && avi_write_all_at(fd, data_end, tail.data(), tail.size()) &&
             (part.start == 0 || avi_write_head(fd, part.start, movi_end, end));
        if (part.start == 0) {
            fields->first_part_end = end;
            fields->first_movi_end = movi_end;
            fields->first_part_frames = part.walk.frames;
        }
    }
    avi_free_streams(fields);
    fields->frame_count = walk.frames;
    fields->audio_chunk_count = walk.audio_chunks;
    fields->audio_total = walk.audio_bytes;
    fields->file_pos = end;
    fields->data_end = fields->first_movi_end;
    fields->repeats_via_index = 0;
    unsigned char header[AVI_HEADER_BYTES];
    return ok && avi_build_header(fields, true, header) && fdatasync(fd) == 0 &&
           avi_write_all_at(fd, 0, header, sizeof header) && fdatasync(fd) == 0;
}

bool avi_read_parts_fields(const unsigned char* header, avi_file* fields) {
    const int streams = fields->stream_count > 1 ? 2 : 1;
    const int super_bytes = avi_super_index_bytes(streams);
    for (int s = 0; s < streams; ++s) {
        const int list_at = avi_stream_list_at(header, s);
        const std::int64_t at =
            list_at < 0
                ? -1
                : list_at + 8 + std::int64_t(avi_load_u32le(header + list_at + 4)) - super_bytes;
        if (at < list_at || at + super_bytes > AVI_HEADER_BYTES ||
            std::memcmp(header + at, "indx", 4) != 0) {
            return false;
        }
        const unsigned char* indx = header + at;
        avi_stream* stream = &fields->streams[s];
        std::memcpy(stream->chunk_id, indx + 16, 4);
        const std::uint32_t parts = avi_load_u32le(indx + 12);
        for (std::uint32_t i = 0; i < parts && i < std::uint32_t(avi_max_parts(streams)); ++i) {
            const unsigned char* entry = indx + 32 + 16 * i;
            stream->super_index[stream->parts++] = {
                std::int64_t(avi_load_u32le(entry)) | std::int64_t(avi_load_u32le(entry + 4)) << 32,
                avi_load_u32le(entry + 8), avi_load_u32le(entry + 12)};
        }
    }
    fields->stream_count = streams;
    fields->first_part_end = fields->file_pos;
    fields->first_movi_end = fields->data_end;
    fields->first_part_frames = fields->frame_count;
    fields->frame_count = int(avi_load_u32le(header + 140));
    return true;
}

bool avi_parts_file_is_whole(int fd, const avi_file& fields, std::int64_t file_size) {
    // The last part's standard indexes end the file: the last of them, of whichever stream.
    std::int64_t index_end = 0, index_at = 0;
    for (int s = 0; s < std::max(fields.stream_count, 1); ++s) {
        const avi_stream& stream = fields.streams[s];
        if (stream.parts > 0) {
            const avi_super_entry& last = stream.super_index[stream.parts - 1];
            if (last.offset + last.size > index_end) {
                index_end = last.offset + last.size;
                index_at = last.offset;
            }
        }
    }
    char id[4];
    return index_end > 0 && index_end == file_size && avi_read_at(fd, index_at, id, 4) &&
           std::memcmp(id, "ix", 2) == 0;
}
