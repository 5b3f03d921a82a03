// Opening a file for reading: the top-level chunk walk, the header list, and the frame and
// audio tables built from the index. Every length and offset read from the file is checked
// against the file size or the buffer it refers to before it is used.
#include "encoding/avi/avi_reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_fd_io.h"
#include "encoding/avi/avi_header.h"
#include "encoding/avi/avi_index.h"
#include "encoding/avi/avi_writer.h"

namespace {

constexpr int kNoAudioStream = 99;
constexpr int kStreamHeaderBytes = 36;  // the part of "strh" read here
constexpr int kVideoFormatBytes = 12;
constexpr int kAudioFormatBytes = 16;

// One entry of a stream's super index: where a part's standard index chunk lies.
struct SuperEntry {
    std::int64_t offset;
    std::uint32_t size;
};

// A data chunk found through an index: its stream's id, where its data lies, its length.
struct Located {
    char id[4];
    std::int64_t data_offset;
    std::uint32_t length;
};

// What the top-level walk and the header list found.
struct FileScan {
    std::int64_t file_size = 0;
    unsigned char* header_list = nullptr;  // body of "hdrl" after its list type
    std::int64_t header_list_length = 0;
    bool has_header_list = false;
    bool has_movi = false;
    bool has_index = false;
    bool has_parts = false;               // a further "AVIX" part follows the first
    std::vector<SuperEntry> video_parts;  // the video stream's super index
    std::vector<SuperEntry> audio_parts;
};

// The kind of the stream whose "strh" came last, for the "strf" that follows it.
enum class StreamKind { kNone, kVideo, kAudio };

int avi_read_header_list(avi_file* AVI, FileScan& scan, std::int64_t body, std::int64_t length) {
    if (length > scan.file_size - body) {
        return AVI_ERR_READ;
    }
    scan.header_list = static_cast<unsigned char*>(std::malloc(std::size_t(length) + 1));
    if (scan.header_list == nullptr) {
        return AVI_ERR_NO_MEM;
    }
    if (!avi_read_at(AVI->fd, body, scan.header_list, std::size_t(length))) {
        return AVI_ERR_READ;
    }
    scan.header_list_length = length;
    scan.has_header_list = true;
    return 0;
}

int avi_read_index(avi_file* AVI, FileScan& scan, std::int64_t body, std::uint32_t length) {
    std::int64_t entries = length / AVI_INDEX_ENTRY_BYTES;
    std::int64_t bytes = entries * AVI_INDEX_ENTRY_BYTES;
    if (bytes > scan.file_size - body || entries > INT_MAX) {
        return AVI_ERR_READ;
    }
    AVI->index = static_cast<unsigned char*>(std::malloc(std::size_t(bytes) + 1));
    if (AVI->index == nullptr) {
        return AVI_ERR_NO_MEM;
    }
    if (!avi_read_at(AVI->fd, body, AVI->index, std::size_t(bytes))) {
        return AVI_ERR_READ;
    }
    AVI->index_count = AVI->index_capacity = int(entries);
    scan.has_index = true;
    return 0;
}

// Walks the top-level chunks after the RIFF form header; the first "hdrl", "movi" and
// "idx1" count, later ones are skipped.
int avi_scan_top_level(avi_file* AVI, FileScan& scan) {
    std::int64_t pos = 12;
    unsigned char chunk[8];
    while (pos + 8 <= scan.file_size && avi_read_at(AVI->fd, pos, chunk, 8)) {
        std::uint32_t length = avi_load_u32le(chunk + 4);
        std::int64_t body = pos + 8;
        std::int64_t next = body + avi_padded_length(length);
        if (avi_same_id(chunk, "LIST", 4) && length >= 4) {
            char type[4];
            if (!avi_read_at(AVI->fd, body, type, 4)) {
                return AVI_ERR_READ;
            }
            std::int64_t list_length = avi_padded_length(length) - 4;
            if (avi_same_id(type, "hdrl", 4) && !scan.has_header_list) {
                int error = avi_read_header_list(AVI, scan, body + 4, list_length);
                if (error != 0) {
                    return error;
                }
            } else if (avi_same_id(type, "movi", 4) && !scan.has_movi) {
                AVI->movi_data_offset = body + 4;
                scan.has_movi = true;
            }
        } else if (avi_same_id(chunk, "RIFF", 4)) {
            scan.has_parts = true;
        } else if (avi_same_id(chunk, "idx1", 4) && !scan.has_index) {
            int error = avi_read_index(AVI, scan, body, length);
            if (error != 0) {
                return error;
            }
        }
        pos = next;
    }
    if (!scan.has_header_list) {
        return AVI_ERR_NO_HDRL;
    }
    return scan.has_movi ? 0 : AVI_ERR_NO_MOVI;
}

void avi_take_video_stream(avi_file* AVI, const unsigned char* strh, int stream_no) {
    std::memcpy(AVI->compressor, strh + 4, 4);
    AVI->compressor[4] = '\0';
    std::uint32_t scale = avi_load_u32le(strh + 20);
    std::uint32_t rate = avi_load_u32le(strh + 24);
    if (scale != 0) {
        AVI->fps = double(rate) / double(scale);
    }
    std::uint32_t frames = avi_load_u32le(strh + 32);
    AVI->frame_count = frames > INT_MAX ? 0 : int(frames);
    AVI->video_stream_no = stream_no;
}

void avi_take_audio_stream(avi_file* AVI, const unsigned char* strh, int stream_no) {
    AVI->audio_total =
        avi_load_u32le(strh + 32) * avi_sample_frame_bytes(AVI->audio_bits, AVI->audio_channels);
    AVI->audio_stream_no = stream_no;
}

void avi_take_audio_format(avi_file* AVI, const unsigned char* strf) {
    AVI->audio_format = int(avi_load_u16le(strf));
    AVI->audio_channels = int(avi_load_u16le(strf + 2));
    AVI->audio_rate = int(avi_load_u32le(strf + 4));
    AVI->audio_bits = int(avi_load_u16le(strf + 14));
}

// The entries of a super index chunk's body ("indx": 4 longs per entry, an index of indexes).
std::vector<SuperEntry> avi_parse_super_index(const unsigned char* body, std::int64_t available) {
    std::vector<SuperEntry> parts;
    if (available < 24 || avi_load_u16le(body) != 4 || body[3] != 0) {
        return parts;
    }
    std::int64_t entries = std::min<std::int64_t>(avi_load_u32le(body + 4), (available - 24) / 16);
    for (std::int64_t i = 0; i < entries; ++i) {
        const unsigned char* entry = body + 24 + i * 16;
        std::uint64_t offset = avi_load_u32le(entry) | std::uint64_t(avi_load_u32le(entry + 4))
                                                           << 32;
        if (offset < (std::uint64_t(1) << 62)) {
            parts.push_back({std::int64_t(offset), avi_load_u32le(entry + 8)});
        }
    }
    return parts;
}

// Reads the stream headers, formats and super indexes out of the header list body. Streams
// are numbered in the order of their "strh" chunks; the first video and the first audio
// stream count.
int avi_parse_header_list(avi_file* AVI, FileScan& scan, const unsigned char* list,
                          std::int64_t length) {
    int stream_no = -1;
    bool has_video = false, has_video_format = false, has_audio = false;
    StreamKind last = StreamKind::kNone;
    StreamKind current = StreamKind::kNone;  // the stream of the last "strh"
    std::int64_t pos = 0;
    while (pos + 8 <= length) {
        const unsigned char* chunk = list + pos;
        if (avi_same_id(chunk, "LIST", 4)) {
            pos += 12;
            continue;
        }
        std::uint32_t chunk_length = avi_load_u32le(chunk + 4);
        std::int64_t available = std::min<std::int64_t>(chunk_length, length - pos - 8);
        const unsigned char* body = chunk + 8;
        StreamKind kind = StreamKind::kNone;
        if (avi_same_id(chunk, "strh", 4)) {
            ++stream_no;
            bool readable = available >= kStreamHeaderBytes;
            if (readable && !has_video && avi_same_id(body, "vids", 4)) {
                avi_take_video_stream(AVI, body, stream_no);
                has_video = true;
                kind = StreamKind::kVideo;
            } else if (readable && !has_audio && avi_same_id(body, "auds", 4)) {
                avi_take_audio_stream(AVI, body, stream_no);
                has_audio = true;
                kind = StreamKind::kAudio;
            }
            current = kind;
        } else if (avi_same_id(chunk, "indx", 4) && current != StreamKind::kNone) {
            (current == StreamKind::kVideo ? scan.video_parts : scan.audio_parts) =
                avi_parse_super_index(body, available);
        } else if (avi_same_id(chunk, "strf", 4)) {
            if (last == StreamKind::kVideo && available >= kVideoFormatBytes) {
                AVI->width = int(avi_load_u32le(body + 4));
                AVI->height = int(avi_load_u32le(body + 8));
                has_video_format = true;
            } else if (last == StreamKind::kAudio && available >= kAudioFormatBytes) {
                avi_take_audio_format(AVI, body);
            }
        }
        last = kind;
        pos += 8 + avi_padded_length(chunk_length);
    }
    if (!has_video || !has_video_format || AVI->frame_count == 0 || AVI->video_stream_no > 99) {
        return AVI_ERR_NO_VIDS;
    }
    if (AVI->audio_channels == 0 || AVI->audio_stream_no > 99) {
        AVI->audio_stream_no = kNoAudioStream;
    }
    return 0;
}

void avi_set_chunk_ids(avi_file* AVI) {
    char id[16];
    std::snprintf(id, sizeof id, "%02ddb", AVI->video_stream_no);
    std::memcpy(AVI->video_chunk_id, id, 4);
    std::snprintf(id, sizeof id, "%02dwb", AVI->audio_stream_no);
    std::memcpy(AVI->audio_chunk_id, id, 4);
}

const unsigned char* avi_index_entry(const avi_file* AVI, int i) {
    return AVI->index + std::size_t(i) * AVI_INDEX_ENTRY_BYTES;
}

bool avi_chunk_header_matches(const avi_file* AVI, std::int64_t at, const unsigned char* entry,
                              bool* readable) {
    unsigned char chunk[8];
    *readable = avi_read_at(AVI->fd, at, chunk, 8);
    return *readable && avi_same_id(chunk, entry, 4) &&
           avi_load_u32le(chunk + 4) == avi_load_u32le(entry + 12);
}

// Finds how the index offsets count, by looking at the chunk that the first video entry
// names. Sets *data_shift (offset to add for the data) or leaves it at -1 when neither way
// finds the chunk.
int avi_probe_index_offsets(const avi_file* AVI, std::int64_t* data_shift) {
    *data_shift = -1;
    int first_video = 0;
    while (first_video < AVI->index_count &&
           !avi_same_id(avi_index_entry(AVI, first_video), AVI->video_chunk_id, 3)) {
        ++first_video;
    }
    if (first_video == AVI->index_count) {
        return AVI_ERR_NO_VIDS;
    }
    const unsigned char* entry = avi_index_entry(AVI, first_video);
    std::int64_t offset = avi_load_u32le(entry + 8);
    bool readable = false;
    if (avi_chunk_header_matches(AVI, offset, entry, &readable)) {
        *data_shift = 8;  // offsets are absolute
        return 0;
    }
    if (!readable) {
        return AVI_ERR_READ;
    }
    if (avi_chunk_header_matches(AVI, offset + AVI->movi_data_offset - 4, entry, &readable)) {
        *data_shift = std::int64_t(AVI->movi_data_offset) + 4;  // offsets count from "movi"
        return 0;
    }
    return readable ? 0 : AVI_ERR_READ;
}

bool avi_is_stream_data_id(const unsigned char* id) {
    return avi_same_id(id + 2, "db", 2) || avi_same_id(id + 2, "dc", 2) ||
           avi_same_id(id + 2, "wb", 2);
}

// The data chunks found from the movi data to the end of the file, through every further
// part. A chunk whose data runs past the end of the file (a cut-off file) ends the walk.
int avi_rebuild_index(avi_file* AVI, std::int64_t file_size, std::vector<Located>* found) {
    std::int64_t pos = AVI->movi_data_offset;
    unsigned char chunk[8];
    while (pos + 8 <= file_size && avi_read_at(AVI->fd, pos, chunk, 8)) {
        if (avi_same_id(chunk, "LIST", 4) || avi_same_id(chunk, "RIFF", 4)) {
            pos += 12;
            continue;
        }
        std::uint32_t length = avi_load_u32le(chunk + 4);
        if (pos + 8 + std::int64_t(length) > file_size) {
            break;
        }
        if (avi_is_stream_data_id(chunk)) {
            Located entry{{}, pos + 8, length};
            std::memcpy(entry.id, chunk, 4);
            found->push_back(entry);
        }
        pos += 8 + avi_padded_length(length);
    }
    return 0;
}

// The chunks that the idx1 index names, its offsets counted as data_shift says.
void avi_take_idx1(const avi_file* AVI, std::int64_t data_shift, std::vector<Located>* found) {
    for (int i = 0; i < AVI->index_count; ++i) {
        const unsigned char* entry = avi_index_entry(AVI, i);
        Located chunk{{}, avi_load_u32le(entry + 8) + data_shift, avi_load_u32le(entry + 12)};
        std::memcpy(chunk.id, entry, 4);
        found->push_back(chunk);
    }
}

// The chunks that one part's standard index ("ix##": 2 longs per entry, an index of chunks)
// names; the top bit of an entry's size marks a chunk that is no key frame.
int avi_take_part_index(const avi_file* AVI, const SuperEntry& part, const char* id,
                        std::int64_t file_size, std::vector<Located>* found) {
    unsigned char head[32];
    if (part.offset + std::int64_t(sizeof head) > file_size ||
        !avi_read_at(AVI->fd, part.offset, head, sizeof head)) {
        return AVI_ERR_READ;
    }
    std::int64_t length = avi_load_u32le(head + 4);
    if (!avi_same_id(head, "ix", 2) || length < 24 || avi_load_u16le(head + 8) != 2 ||
        head[11] != 1 || part.offset + 8 + length > file_size) {
        errno = EIO;
        return AVI_ERR_READ;
    }
    std::int64_t entries = std::min<std::int64_t>(avi_load_u32le(head + 12), (length - 24) / 8);
    std::int64_t base = std::int64_t(avi_load_u32le(head + 20)) |
                        std::int64_t(avi_load_u32le(head + 24) & 0x3FFFFFFF) << 32;
    std::vector<unsigned char> table(std::size_t(entries) * 8);
    if (!table.empty() && !avi_read_at(AVI->fd, part.offset + 32, table.data(), table.size())) {
        return AVI_ERR_READ;
    }
    for (std::int64_t i = 0; i < entries; ++i) {
        const unsigned char* entry = table.data() + i * 8;
        Located chunk{{}, base + avi_load_u32le(entry), avi_load_u32le(entry + 4) & 0x7FFFFFFF};
        std::memcpy(chunk.id, id, 4);
        found->push_back(chunk);
    }
    return 0;
}

int avi_take_super_index(const avi_file* AVI, const std::vector<SuperEntry>& parts, const char* id,
                         std::int64_t file_size, std::vector<Located>* found) {
    for (const SuperEntry& part : parts) {
        int error = avi_take_part_index(AVI, part, id, file_size, found);
        if (error != 0) {
            return error;
        }
    }
    return 0;
}

bool avi_fits_file(const Located& chunk, std::int64_t file_size) {
    return chunk.length <= INT_MAX && chunk.data_offset >= 0 &&
           chunk.data_offset + std::int64_t(chunk.length) <= file_size;
}

int avi_count_entries(avi_file* AVI, const std::vector<Located>& chunks) {
    std::int64_t frames = 0, audio_chunks = 0;
    for (const Located& chunk : chunks) {
        if (avi_same_id(chunk.id, AVI->video_chunk_id, 3)) {
            ++frames;
        } else if (avi_same_id(chunk.id, AVI->audio_chunk_id, 4)) {
            ++audio_chunks;
        }
    }
    if (frames > INT_MAX || audio_chunks > INT_MAX) {
        return AVI_ERR_NO_MEM;
    }
    AVI->frame_count = int(frames);
    AVI->audio_chunk_count = int(audio_chunks);
    return AVI->frame_count > 0 ? 0 : AVI_ERR_NO_VIDS;
}

int avi_build_tables(avi_file* AVI, const std::vector<Located>& chunks, std::int64_t file_size) {
    int error = avi_count_entries(AVI, chunks);
    if (error != 0) {
        return error;
    }
    AVI->frame_table = static_cast<avi_frame_entry*>(
        std::malloc(std::size_t(AVI->frame_count) * sizeof(avi_frame_entry)));
    if (AVI->audio_chunk_count > 0) {
        AVI->audio_table = static_cast<avi_audio_entry*>(
            std::malloc(std::size_t(AVI->audio_chunk_count) * sizeof(avi_audio_entry)));
    }
    if (AVI->frame_table == nullptr ||
        (AVI->audio_chunk_count > 0 && AVI->audio_table == nullptr)) {
        return AVI_ERR_NO_MEM;
    }
    int frame = 0, audio_chunk = 0;
    std::int64_t audio_bytes = 0;
    for (const Located& chunk : chunks) {
        bool video = avi_same_id(chunk.id, AVI->video_chunk_id, 3);
        if (!video && !avi_same_id(chunk.id, AVI->audio_chunk_id, 4)) {
            continue;
        }
        if (!avi_fits_file(chunk, file_size)) {
            errno = EIO;
            return AVI_ERR_READ;
        }
        if (video) {
            AVI->frame_table[frame++] = {chunk.data_offset, std::int32_t(chunk.length)};
            continue;
        }
        AVI->audio_table[audio_chunk++] = {chunk.data_offset, std::int32_t(chunk.length),
                                           audio_bytes};
        audio_bytes += chunk.length;
    }
    AVI->audio_total = audio_bytes;
    return 0;
}

// Finds the file's chunks: through the super indexes of a file finished past its first part,
// through idx1 in a file of one part, else by walking the data (a file that was never
// finished, or whose index does not lead to its chunks).
int avi_find_chunks(avi_file* AVI, const FileScan& scan, std::vector<Located>* chunks) {
    if (!scan.video_parts.empty()) {
        int error = avi_take_super_index(AVI, scan.video_parts, AVI->video_chunk_id, scan.file_size,
                                         chunks);
        if (error == 0) {
            error = avi_take_super_index(AVI, scan.audio_parts, AVI->audio_chunk_id, scan.file_size,
                                         chunks);
        }
        return error;
    }
    std::int64_t data_shift = -1;
    if (AVI->index_count > 0 && !scan.has_parts) {
        int error = avi_probe_index_offsets(AVI, &data_shift);
        if (error != 0) {
            return error;
        }
    }
    if (data_shift < 0) {
        return avi_rebuild_index(AVI, scan.file_size, chunks);
    }
    avi_take_idx1(AVI, data_shift, chunks);
    return 0;
}

int avi_index_file(avi_file* AVI, const FileScan& scan) {
    std::vector<Located> chunks;
    int error = avi_find_chunks(AVI, scan, &chunks);
    if (error == 0) {
        error = avi_build_tables(AVI, chunks, scan.file_size);
    }
    if (error != 0) {
        return error;
    }
    AVI->next_frame = 0;
    return avi_seek_to(AVI->fd, AVI->movi_data_offset) ? 0 : AVI_ERR_READ;
}

int avi_parse_file(avi_file* AVI, int build_index) {
    FileScan scan;
    struct stat info;
    if (fstat(AVI->fd, &info) != 0) {
        return AVI_ERR_READ;
    }
    scan.file_size = info.st_size;
    unsigned char form[12];
    if (!avi_read_at(AVI->fd, 0, form, sizeof form)) {
        return AVI_ERR_READ;
    }
    if (!avi_same_id(form, "RIFF", 4) || !avi_same_id(form + 8, "AVI ", 4)) {
        return AVI_ERR_NO_AVI;
    }
    int error = avi_scan_top_level(AVI, scan);
    if (error == 0) {
        error = avi_parse_header_list(AVI, scan, scan.header_list, scan.header_list_length);
    }
    std::free(scan.header_list);
    if (error != 0) {
        return error;
    }
    avi_set_chunk_ids(AVI);
    if (!avi_seek_to(AVI->fd, AVI->movi_data_offset)) {
        return AVI_ERR_READ;
    }
    return build_index != 0 ? avi_index_file(AVI, scan) : 0;
}

}  // namespace

avi_file* AVI_open_for_reading(const char* name, int build_index) {
    auto* AVI = static_cast<avi_file*>(std::calloc(1, sizeof(avi_file)));
    if (AVI == nullptr) {
        AVI_last_error = AVI_ERR_NO_MEM;
        return nullptr;
    }
    AVI->mode = AVI_MODE_READ;
    AVI->fd = name != nullptr ? open(name, O_RDONLY | O_CLOEXEC) : -1;
    if (AVI->fd < 0) {
        int reason = errno;
        std::free(AVI);
        errno = reason;
        AVI_last_error = AVI_ERR_OPEN;
        return nullptr;
    }
    int error = avi_parse_file(AVI, build_index);
    if (error != 0) {
        int reason = errno;
        AVI_close_file(AVI);
        errno = reason;
        AVI_last_error = error;
        return nullptr;
    }
    return AVI;
}
