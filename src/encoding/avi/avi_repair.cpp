#include "encoding/avi/avi_repair.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_fd_io.h"
#include "encoding/avi/avi_header.h"

namespace {

constexpr char kVideoChunkId[] = "00db";
constexpr char kIndexChunkId[] = "idx1";
constexpr char kCompressor[] = "xvid";
constexpr std::uint32_t kFlagHasIndex = 0x10;
constexpr std::uint32_t kFlagMustUseIndex = 0x20;
// Bytes of a frame searched for its first picture: the stream headers before it are short.
constexpr std::size_t kPictureSearchBytes = 512;

enum class HeaderKind { kForeign, kNoHeader, kUnfinished, kFinished };

// Closes the descriptor (which also drops its lock) when the repair is done with it.
class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

// The header fields this program writes, read back into a record the header builder takes.
void avi_read_header_fields(const unsigned char* header, avi_file* fields) {
    std::memset(fields, 0, sizeof *fields);
    std::uint32_t frame_time = avi_load_u32le(header + 32);
    fields->fps = frame_time != 0 ? 1000000.0 / frame_time : 0.0;
    fields->width = int(avi_load_u32le(header + 64));
    fields->height = int(avi_load_u32le(header + 68));
    std::memcpy(fields->compressor, header + 112, 4);
    fields->frame_count = int(avi_load_u32le(header + 48));
    fields->file_pos = avi_load_u32le(header + 4) + 8LL;
    fields->data_end = avi_load_u32le(header + 2040) + 2044LL;
    fields->repeats_via_index = (avi_load_u32le(header + 44) & kFlagMustUseIndex) != 0 ? 1 : 0;
}

// This program's recordings carry exactly the header its writer builds from a handful of
// fields: one "xvid" video stream, fixed lists and filler. Rebuilding the header from the
// fields read back and comparing every byte tells them from any other program's AVI.
HeaderKind avi_classify_header(const unsigned char* header, avi_file* fields) {
    if (std::all_of(header, header + AVI_HEADER_BYTES, [](unsigned char b) { return b == 0; })) {
        return HeaderKind::kNoHeader;
    }
    avi_read_header_fields(header, fields);
    bool indexed = (avi_load_u32le(header + 44) & kFlagHasIndex) != 0;
    unsigned char expected[AVI_HEADER_BYTES];
    if (std::memcmp(fields->compressor, kCompressor, 4) != 0 ||
        !avi_build_header(fields, indexed, expected) ||
        std::memcmp(expected, header, AVI_HEADER_BYTES) != 0) {
        return HeaderKind::kForeign;
    }
    return indexed ? HeaderKind::kFinished : HeaderKind::kUnfinished;
}

// A finished file ends with its idx1 chunk right after the data, as its header says.
bool avi_finished_file_is_whole(int fd, const avi_file& fields, std::int64_t file_size) {
    unsigned char chunk[8];
    return file_size == fields.file_pos && fields.data_end + 8 <= file_size &&
           avi_read_at(fd, fields.data_end, chunk, sizeof chunk) &&
           std::memcmp(chunk, kIndexChunkId, 4) == 0 &&
           avi_load_u32le(chunk + 4) == std::uint64_t(file_size - fields.data_end - 8) &&
           avi_load_u32le(chunk + 4) % AVI_INDEX_ENTRY_BYTES == 0;
}

// Whether the first MPEG-4 picture (video object plane, start code 00 00 01 B6) in data is
// intra coded, that is a key frame; its coding type is the top two bits after the code.
// -1 when no picture starts in data.
int avi_picture_is_intra(const unsigned char* data, std::size_t length) {
    static const unsigned char kPictureStart[] = {0, 0, 1, 0xB6};
    const unsigned char* end = data + length;
    const unsigned char* found = std::search(data, end, kPictureStart, kPictureStart + 4);
    if (end - found < 5) {
        return -1;
    }
    return (found[4] >> 6) == 0 ? 1 : 0;
}

bool avi_frame_is_key(int fd, std::int64_t data_at, std::uint32_t length) {
    std::vector<unsigned char> data(std::min<std::size_t>(length, kPictureSearchBytes));
    int intra = -1;
    if (avi_read_at(fd, data_at, data.data(), data.size())) {
        intra = avi_picture_is_intra(data.data(), data.size());
    }
    if (intra < 0 && length > data.size()) {  // unusually long stream headers
        data.resize(length);
        if (avi_read_at(fd, data_at, data.data(), data.size())) {
            intra = avi_picture_is_intra(data.data(), data.size());
        }
    }
    return intra == 1;
}

// The complete frames from the end of the header on, in the order written.
struct FrameWalk {
    std::vector<unsigned char> index;  // their idx1 entries
    int frames = 0;
    std::int64_t data_end = AVI_HEADER_BYTES;  // end of the last complete frame, pad included
    bool pad_missing = false;                  // the file ends before that frame's pad byte
};

// Walks the "00db" chunks until the file ends, a chunk is incomplete, or something else
// starts (the index of an interrupted repair, or garbage). A repeat frame (no data) is no key.
FrameWalk avi_walk_frames(int fd, std::int64_t file_size) {
    FrameWalk walk;
    std::int64_t pos = AVI_HEADER_BYTES;
    unsigned char chunk[8];
    while (pos + 8 <= file_size && avi_read_at(fd, pos, chunk, sizeof chunk) &&
           std::memcmp(chunk, kVideoChunkId, 4) == 0) {
        std::uint32_t length = avi_load_u32le(chunk + 4);
        std::int64_t data_end = pos + 8 + std::int64_t(length);
        if (data_end > file_size) {
            break;
        }
        bool key = length > 0 && avi_frame_is_key(fd, pos + 8, length);
        unsigned char entry[AVI_INDEX_ENTRY_BYTES];
        std::memcpy(entry, kVideoChunkId, 4);
        avi_store_u32le(entry + 4, key ? AVI_KEYFRAME_FLAG : 0);
        avi_store_u32le(entry + 8, std::uint32_t(pos));
        avi_store_u32le(entry + 12, length);
        walk.index.insert(walk.index.end(), entry, entry + sizeof entry);
        ++walk.frames;
        pos = data_end + avi_padded_length(length) - length;
        walk.data_end = pos;
        walk.pad_missing = pos > file_size;
    }
    return walk;
}

AviRepairReport avi_outcome(AviRepairOutcome outcome, const std::string& reason) {
    AviRepairReport report;
    report.outcome = outcome;
    report.reason = reason;
    return report;
}

AviRepairReport avi_io_failure(const char* what) {
    return avi_outcome(AviRepairOutcome::kFailed, std::string(what) + ": " + std::strerror(errno));
}

// What the file is, from its header, with the lock that keeps a running recording (which
// holds it) out of reach. *fields is filled for this program's headers.
AviRepairReport avi_inspect(int fd, avi_file* fields, std::int64_t* file_size) {
    struct stat info;
    if (fstat(fd, &info) != 0) {
        return avi_io_failure("cannot read the file");
    }
    if (!S_ISREG(info.st_mode)) {
        return avi_outcome(AviRepairOutcome::kRefused, "not a regular file");
    }
    *file_size = info.st_size;
    unsigned char header[AVI_HEADER_BYTES];
    if (info.st_size < AVI_HEADER_BYTES || !avi_read_at(fd, 0, header, sizeof header)) {
        return avi_outcome(AviRepairOutcome::kRefused, "not an AVI file");
    }
    HeaderKind kind = avi_classify_header(header, fields);
    if (kind == HeaderKind::kNoHeader) {
        return avi_outcome(AviRepairOutcome::kRefused,
                           "no header: the recording ended before its first frame");
    }
    if (kind == HeaderKind::kForeign) {
        bool avi = std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "AVI ", 4) == 0;
        return avi_outcome(AviRepairOutcome::kRefused,
                           avi ? "an AVI file that BrintelShot did not write" : "not an AVI file");
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return avi_outcome(AviRepairOutcome::kRefused, "the recording is still being written");
    }
    if (kind == HeaderKind::kFinished) {
        if (!avi_finished_file_is_whole(fd, *fields, info.st_size)) {
            return avi_outcome(AviRepairOutcome::kRefused,
                               "a finished recording whose length does not match its header");
        }
        return avi_outcome(AviRepairOutcome::kNothingToDo, "");
    }
    return avi_outcome(AviRepairOutcome::kRepaired, "");
}

// Finishes the file in this order: cut the incomplete tail, append the index, push both to
// the disk, then write the final header. Until the header is written the file still reads
// as unfinished, and a new walk finds the same frames (it stops at the index or at the cut).
bool avi_finish(int fd, avi_file* fields, const FrameWalk& walk) {
    std::int64_t kept_end = walk.pad_missing ? walk.data_end - 1 : walk.data_end;
    std::vector<unsigned char> tail(walk.pad_missing ? 1 : 0, 0);
    unsigned char chunk[8];
    std::memcpy(chunk, kIndexChunkId, 4);
    avi_store_u32le(chunk + 4, std::uint32_t(walk.index.size()));
    tail.insert(tail.end(), chunk, chunk + sizeof chunk);
    tail.insert(tail.end(), walk.index.begin(), walk.index.end());

    fields->frame_count = walk.frames;
    fields->data_end = walk.data_end;
    fields->file_pos = kept_end + std::int64_t(tail.size());
    fields->repeats_via_index = 0;
    unsigned char header[AVI_HEADER_BYTES];
    return avi_build_header(fields, true, header) && ftruncate(fd, kept_end) == 0 &&
           avi_write_all_at(fd, kept_end, tail.data(), tail.size()) && fdatasync(fd) == 0 &&
           avi_write_all_at(fd, 0, header, sizeof header) && fdatasync(fd) == 0;
}

}  // namespace

AviRepairReport AVI_repair_recording(const std::string& path) {
    constexpr int kFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;  // a FIFO must not block the open
    int fd = open(path.c_str(), O_RDWR | kFlags);
    int write_error = fd < 0 ? errno : 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {  // it may still be refused or finished
        fd = open(path.c_str(), O_RDONLY | kFlags);
    }
    if (fd < 0) {
        return avi_io_failure("cannot open the file");
    }
    FdCloser closer(fd);
    avi_file fields;
    std::int64_t file_size = 0;
    AviRepairReport report = avi_inspect(fd, &fields, &file_size);
    if (report.outcome != AviRepairOutcome::kRepaired) {
        return report;
    }
    if (write_error != 0) {
        errno = write_error;
        return avi_io_failure("cannot write the file");
    }
    FrameWalk walk = avi_walk_frames(fd, file_size);
    char next[4];
    if (avi_read_at(fd, walk.data_end, next, sizeof next) && std::memcmp(next, "ix00", 4) == 0) {
        return avi_outcome(AviRepairOutcome::kRefused, "a recording of more than one part");
    }
    if (!avi_finish(fd, &fields, walk)) {
        return avi_io_failure("cannot write the file");
    }
    report.frames = walk.frames;
    report.seconds = fields.fps > 0 ? walk.frames / fields.fps : 0.0;
    report.bytes_kept = walk.data_end;
    report.bytes_dropped = std::max<std::int64_t>(0, file_size - walk.data_end);
    return report;
}

bool AVI_is_unfinished_recording(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    FdCloser closer(fd);
    avi_file fields;
    std::int64_t file_size = 0;
    return avi_inspect(fd, &fields, &file_size).outcome == AviRepairOutcome::kRepaired;
}

std::vector<std::string> AVI_find_unfinished_recordings(const std::string& folder,
                                                        const std::string& name_prefix) {
    static const std::string kSuffix = ".avi";
    std::vector<std::string> found;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() <= name_prefix.size() + kSuffix.size() ||
            name.compare(0, name_prefix.size(), name_prefix) != 0 ||
            name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
            continue;
        }
        std::string path = folder + (folder.empty() || folder.back() != '/' ? "/" : "") + name;
        if (AVI_is_unfinished_recording(path)) {
            found.push_back(path);
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}
