#include "encoding/avi/avi_repair_parts.h"

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
constexpr char kVideoIndexId[] = "ix00";
constexpr int kPartHeadBytes = 24;
constexpr int kSuperIndexAt = 220;  // the video stream's super index in the header
constexpr std::int64_t kPartOffsetRange = 0xFFFFFFFFLL;

std::int64_t avi_data_start(const AviPartsWalk::Part& part) {
    return part.start == 0 ? AVI_HEADER_BYTES : part.start + kPartHeadBytes;
}

// The part's frames as the writer indexes them: its standard index (and, in the first part,
// idx1 after it). The walk keeps each frame's offset in 32 bits; within a part it is found
// again from the part's start.
avi_stream avi_part_stream(const AviPartsWalk::Part& part, bool* ok) {
    avi_stream stream{};
    std::memcpy(stream.chunk_id, kVideoChunkId, 4);
    std::memcpy(stream.index_id, kVideoIndexId, 4);
    const std::int64_t base = avi_data_start(part) - 4;
    const std::vector<unsigned char>& index = part.walk.index;
    *ok = true;
    for (std::size_t at = 0; at + AVI_INDEX_ENTRY_BYTES <= index.size() && *ok;
         at += AVI_INDEX_ENTRY_BYTES) {
        const std::uint32_t low = avi_load_u32le(&index[at + 8]);
        const std::int64_t pos = part.start + std::uint32_t(low - std::uint32_t(part.start));
        *ok = avi_push_part_entry(&stream, std::uint32_t(pos + 8 - base),
                                  avi_load_u32le(&index[at + 12]),
                                  (avi_load_u32le(&index[at + 4]) & AVI_KEYFRAME_FLAG) != 0) == 0;
    }
    return stream;
}

// The bytes that close a part after its data: its standard index, and idx1 in the first.
std::vector<unsigned char> avi_part_tail(const AviPartsWalk::Part& part, avi_stream* stream) {
    std::vector<unsigned char> tail;
    avi_append_part_index(stream, avi_data_start(part) - 4, &tail);
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
    const std::int64_t entries = std::int64_t(part.walk.index.size()) / AVI_INDEX_ENTRY_BYTES;
    std::int64_t bytes = entries > 0 ? 32 + 8 * entries : 0;
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

}  // namespace

AviPartsWalk avi_walk_parts(int fd, AviChunkWalk first, std::int64_t file_size,
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
                                                  next + kPartOffsetRange, cancel);
        walk.cancelled = part.cancelled;
        walk.out_of_memory = part.out_of_memory;
        if (walk.cancelled || walk.out_of_memory) {
            return walk;
        }
        walk.parts.push_back({next, std::move(part)});
        walk.first_closed = true;
    }
    if (walk.parts.size() > 1 && walk.parts.back().walk.frames == 0) {
        walk.parts.pop_back();  // begun, but no frame in it: the writer's close takes it off
    }
    for (std::size_t i = 0; i < walk.parts.size(); ++i) {
        const AviPartsWalk::Part& part = walk.parts[i];
        const std::int64_t end = i + 1 < walk.parts.size() ? walk.parts[i + 1].start : file_size;
        walk.frames += part.walk.frames;
        walk.frames_readable_before += avi_count_readable_frames(fd, avi_data_start(part), end);
    }
    return walk;
}

bool avi_finish_parts(int fd, avi_file* fields, const AviPartsWalk& walk) {
    fields->stream_count = 1;
    avi_stream* video = &fields->streams[0];
    *video = avi_stream{};
    std::memcpy(video->chunk_id, kVideoChunkId, 4);
    std::int64_t end = 0;
    bool ok = true;
    for (std::size_t i = 0; i < walk.parts.size() && ok; ++i) {
        const AviPartsWalk::Part& part = walk.parts[i];
        for (const AviChunkEdit& edit : part.walk.edits) {
            ok = ok && avi_write_all_at(fd, edit.pos, edit.header, sizeof edit.header);
        }
        avi_stream stream = avi_part_stream(part, &ok);
        const std::vector<unsigned char> tail = avi_part_tail(part, &stream);
        const std::int64_t data_end = part.walk.data_end;
        const bool last = i + 1 == walk.parts.size();
        if (last) {  // its torn end goes, its missing pad byte comes back as a zero
            const std::int64_t kept = part.walk.pad_missing ? data_end - 1 : data_end;
            static const unsigned char zero = 0;
            ok = ok && ftruncate(fd, kept) == 0 &&
                 (!part.walk.pad_missing || avi_write_all_at(fd, kept, &zero, 1));
        }
        const std::int64_t movi_end = data_end + avi_part_index_bytes(&stream, 0);
        end = data_end + std::int64_t(tail.size());
        ok = ok && avi_write_all_at(fd, data_end, tail.data(), tail.size()) &&
             (part.start == 0 || avi_write_head(fd, part.start, movi_end, end));
        std::free(stream.part_index);
        if (part.start == 0) {
            fields->first_part_end = end;
            fields->first_movi_end = movi_end;
            fields->first_part_frames = part.walk.frames;
        }
        if (video->parts < AVI_MAX_PARTS) {
            video->super_index[video->parts++] = {data_end, std::uint32_t(movi_end - data_end),
                                                  std::uint32_t(part.walk.frames)};
        }
    }
    fields->frame_count = walk.frames;
    fields->file_pos = end;
    fields->data_end = fields->first_movi_end;
    fields->repeats_via_index = 0;
    unsigned char header[AVI_HEADER_BYTES];
    return ok && avi_build_header(fields, true, header) && fdatasync(fd) == 0 &&
           avi_write_all_at(fd, 0, header, sizeof header) && fdatasync(fd) == 0;
}

bool avi_read_parts_fields(const unsigned char* header, avi_file* fields) {
    const unsigned char* indx = header + kSuperIndexAt;
    if (std::memcmp(indx, "indx", 4) != 0) {
        return false;
    }
    fields->stream_count = 1;
    avi_stream* video = &fields->streams[0];
    std::memcpy(video->chunk_id, indx + 16, 4);
    const std::uint32_t parts = avi_load_u32le(indx + 12);
    for (std::uint32_t i = 0; i < parts && i < AVI_MAX_PARTS; ++i) {
        const unsigned char* entry = indx + 32 + 16 * i;
        video->super_index[video->parts++] = {
            std::int64_t(avi_load_u32le(entry)) | std::int64_t(avi_load_u32le(entry + 4)) << 32,
            avi_load_u32le(entry + 8), avi_load_u32le(entry + 12)};
    }
    fields->first_part_end = fields->file_pos;
    fields->first_movi_end = fields->data_end;
    fields->first_part_frames = fields->frame_count;
    fields->frame_count = int(avi_load_u32le(header + 140));
    return true;
}

bool avi_parts_file_is_whole(int fd, const avi_file& fields, std::int64_t file_size) {
    const avi_stream& video = fields.streams[0];
    if (video.parts == 0) {
        return false;
    }
    const avi_super_entry& last = video.super_index[video.parts - 1];
    char id[4];
    return last.offset + last.size == file_size && avi_read_at(fd, last.offset, id, 4) &&
           std::memcmp(id, "ix", 2) == 0;
}
