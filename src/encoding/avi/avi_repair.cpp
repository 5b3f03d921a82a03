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
#include "encoding/avi/avi_chunk_walk.h"
#include "encoding/avi/avi_fd_io.h"
#include "encoding/avi/avi_header.h"
#include "encoding/avi/avi_repair_parts.h"

namespace {

constexpr char kIndexChunkId[] = "idx1";
constexpr char kCompressor[] = "xvid";
constexpr std::uint32_t kFlagHasIndex = 0x10;
constexpr std::uint32_t kFlagMustUseIndex = 0x20;
// Header fields that count what was written so far: the writer refreshes them while it
// writes, and the repair writes them anew.
constexpr int kCountFields[] = {4, 48, 140, 2040};
// Places in the audio stream's list, from its start: its stream header's length and its format
// record. Its counts are the length and, for MP3, the bytes per second and per frame.
constexpr int kAudioLengthAt = 52;
constexpr int kAudioFormatAt = 92;
constexpr int kAudioCountFields[] = {kAudioLengthAt, kAudioFormatAt + 8, kAudioFormatAt + 24};
constexpr int kAudioListMinBytes = 108;  // a PCM list; MP3's is longer
// Where the movi list's head follows the header's lists and filler.
constexpr int kMoviListAt = 2036;
// A file of one RIFF part, finished: its sizes and index offsets are 32-bit.
constexpr std::int64_t kMaxSinglePartBytes = 0xFFFFFFFFLL;

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

// The audio stream of a header of two streams: its format, and its counts as the writer
// derives them from the sound chunks' total and number.
void avi_read_audio_fields(const unsigned char* header, avi_file* fields) {
    const int at = avi_audio_list_at(header);
    if (avi_load_u32le(header + 56) != 2 || at < 0 || at + kAudioListMinBytes > kMoviListAt) {
        return;
    }
    const unsigned char* format = header + at + kAudioFormatAt;
    fields->audio_format = int(avi_load_u16le(format));
    fields->audio_channels = int(avi_load_u16le(format + 2));
    fields->audio_rate = int(avi_load_u32le(format + 4));
    fields->audio_bits = int(avi_load_u16le(format + 14));
    const std::uint32_t length = avi_load_u32le(header + at + kAudioLengthAt);
    fields->audio_chunk_count = int(length);
    fields->audio_total =
        avi_audio_is_mp3(fields)
            ? std::int64_t(avi_load_u16le(format + 24)) * length
            : std::int64_t(length) *
                  avi_sample_frame_bytes(fields->audio_bits, fields->audio_channels);
    fields->stream_count = 2;
}

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
    avi_read_audio_fields(header, fields);
    avi_read_parts_fields(header, fields);  // a finished file of several parts
}

bool avi_all_zero(const unsigned char* bytes, std::size_t n) {
    return std::all_of(bytes, bytes + n, [](unsigned char b) { return b == 0; });
}

// This program's recordings carry exactly the header its writer builds from a handful of
// fields: one "xvid" video stream (and a sound stream), fixed lists and filler. Rebuilding the
// header from the fields read back and comparing every byte tells them from any other
// program's AVI. The counts of an unfinished file, and its filler, may be damaged: the repair
// writes them anew.
HeaderKind avi_classify_header(const unsigned char* header, avi_file* fields) {
    if (avi_all_zero(header, AVI_HEADER_BYTES)) {
        return HeaderKind::kNoHeader;
    }
    avi_read_header_fields(header, fields);
    bool indexed = (avi_load_u32le(header + 44) & kFlagHasIndex) != 0;
    unsigned char expected[AVI_HEADER_BYTES];
    if (std::memcmp(fields->compressor, kCompressor, 4) != 0 ||
        !avi_build_header(fields, indexed, expected)) {
        return HeaderKind::kForeign;
    }
    if (std::memcmp(expected, header, AVI_HEADER_BYTES) == 0) {
        return indexed ? HeaderKind::kFinished : HeaderKind::kUnfinished;
    }
    for (int at : kCountFields) {
        std::memcpy(expected + at, header + at, 4);
    }
    const int audio_at = fields->stream_count > 1 ? avi_audio_list_at(header) : -1;
    for (int at : kAudioCountFields) {
        if (audio_at >= 0 && audio_at + at + 4 <= kMoviListAt) {
            std::memcpy(expected + audio_at + at, header + audio_at + at, 4);
        }
    }
    // The bodies of the fillers (the reserved indexes among them) mean nothing while the file
    // is unfinished; a damaged byte there is no reason to give up.
    for (int at = 0; at + 8 <= kMoviListAt; at += 2) {
        const std::int64_t end = at + 8 + std::int64_t(avi_load_u32le(expected + at + 4));
        if (std::memcmp(expected + at, "JUNK", 4) == 0 && end <= kMoviListAt) {
            std::memcpy(expected + at + 8, header + at + 8, std::size_t(end - at - 8));
            at = int(end) - 2;
        }
    }
    return !indexed && std::memcmp(expected, header, AVI_HEADER_BYTES) == 0
               ? HeaderKind::kUnfinished
               : HeaderKind::kForeign;
}

// A finished file ends with its idx1 chunk right after the data, as its header says.
bool avi_finished_file_is_whole(int fd, const avi_file& fields, std::int64_t file_size) {
    if (fields.first_part_end > 0) {
        return avi_parts_file_is_whole(fd, fields, file_size);
    }
    unsigned char chunk[8];
    return file_size == fields.file_pos && fields.data_end + 8 <= file_size &&
           avi_read_at(fd, fields.data_end, chunk, sizeof chunk) &&
           std::memcmp(chunk, kIndexChunkId, 4) == 0 &&
           avi_load_u32le(chunk + 4) == std::uint64_t(file_size - fields.data_end - 8) &&
           avi_load_u32le(chunk + 4) % AVI_INDEX_ENTRY_BYTES == 0;
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

// Finishes the file in this order: mend the damaged chunk headers, cut the incomplete tail,
// append the index, push all of it to the disk, then write the final header. Until the header
// is written the file still reads as unfinished, and a new walk finds the same frames (it
// stops at the index or at the cut, and reads the mended headers as they are meant).
bool avi_finish(int fd, avi_file* fields, const AviChunkWalk& walk) {
    for (const AviChunkEdit& edit : walk.edits) {
        if (!avi_write_all_at(fd, edit.pos, edit.header, sizeof edit.header)) {
            return false;
        }
    }
    std::int64_t kept_end = walk.pad_missing ? walk.data_end - 1 : walk.data_end;
    unsigned char tail[9] = {0};  // the missing pad byte, if any, then the idx1 chunk header
    unsigned char* chunk = tail + (walk.pad_missing ? 1 : 0);
    std::memcpy(chunk, kIndexChunkId, 4);
    avi_store_u32le(chunk + 4, std::uint32_t(walk.index.size()));
    const std::size_t tail_bytes = std::size_t(chunk + 8 - tail);

    fields->frame_count = walk.frames;
    fields->audio_chunk_count = walk.audio_chunks;
    fields->audio_total = walk.audio_bytes;
    fields->data_end = walk.data_end;
    fields->file_pos = walk.data_end + 8 + std::int64_t(walk.index.size());
    fields->repeats_via_index = 0;
    unsigned char header[AVI_HEADER_BYTES];
    return avi_build_header(fields, true, header) && ftruncate(fd, kept_end) == 0 &&
           avi_write_all_at(fd, kept_end, tail, tail_bytes) &&
           avi_write_all_at(fd, walk.data_end + 8, walk.index.data(), walk.index.size()) &&
           fdatasync(fd) == 0 && avi_write_all_at(fd, 0, header, sizeof header) &&
           fdatasync(fd) == 0;
}

// Refused: the repair would keep fewer frames than a plain reader finds in the file now.
AviRepairReport avi_keeps_fewer(int kept, int readable) {
    return avi_outcome(AviRepairOutcome::kRefused,
                       "it would keep " + std::to_string(kept) + " frames of the " +
                           std::to_string(readable) + " a player reads now");
}

// A file whose first part was closed and a next one begun: every part is finished as the
// writer's close would have finished it.
AviRepairReport avi_repair_parts(int fd, avi_file* fields, const AviPartsWalk& parts,
                                 std::int64_t file_size) {
    if (parts.cancelled) {
        return avi_outcome(AviRepairOutcome::kFailed, "cancelled");
    }
    if (parts.out_of_memory) {
        return avi_outcome(AviRepairOutcome::kRefused, "not enough memory to index it");
    }
    if (parts.frames < parts.frames_readable_before) {
        return avi_keeps_fewer(parts.frames, parts.frames_readable_before);
    }
    if (!avi_finish_parts(fd, fields, parts)) {
        return avi_io_failure("cannot write the file");
    }
    AviRepairReport report = avi_outcome(AviRepairOutcome::kRepaired, "");
    report.frames = parts.frames;
    report.frames_readable_before = parts.frames_readable_before;
    report.seconds = fields->fps > 0 ? parts.frames / fields->fps : 0.0;
    for (const AviPartsWalk::Part& part : parts.parts) {
        report.headers_mended += part.walk.headers_mended;
        report.bytes_skipped += part.walk.bytes_skipped;
    }
    const std::int64_t data_end = parts.parts.back().walk.data_end;
    report.bytes_kept = data_end - report.bytes_skipped;
    report.bytes_dropped = std::max<std::int64_t>(0, file_size - data_end);
    return report;
}

constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;

// A file of this program's name that holds nothing but zeros, at most a header's worth, and
// that no running recording holds: what a recording leaves when it ends before its first
// frame. Removed when the name in the folder still is that file.
bool avi_remove_leftover(int dir_fd, const char* name, int fd) {
    struct stat info;
    unsigned char bytes[AVI_HEADER_BYTES];
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > AVI_HEADER_BYTES ||
        (info.st_size > 0 && !avi_read_at(fd, 0, bytes, std::size_t(info.st_size))) ||
        !avi_all_zero(bytes, std::size_t(info.st_size)) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    struct stat named;
    return fstatat(dir_fd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == info.st_dev &&
           named.st_ino == info.st_ino && unlinkat(dir_fd, name, 0) == 0;
}

bool avi_has_suffix(const std::string& name, const std::string& suffix) {
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

AviRepairReport AVI_repair_recording_fd(int fd, const std::atomic<bool>* cancel) {
    avi_file fields;
    std::int64_t file_size = 0;
    AviRepairReport report = avi_inspect(fd, &fields, &file_size);
    if (report.outcome != AviRepairOutcome::kRepaired) {
        return report;
    }
    const bool with_audio = fields.stream_count > 1;
    const AviChunkWalk walk = avi_walk_frame_chunks(fd, AVI_HEADER_BYTES, file_size,
                                                    kMaxSinglePartBytes, with_audio, cancel);
    if (walk.cancelled) {
        return avi_outcome(AviRepairOutcome::kFailed, "cancelled");
    }
    if (walk.out_of_memory) {
        return avi_outcome(AviRepairOutcome::kRefused, "not enough memory to index it");
    }
    if (walk.next_part) {
        AviPartsWalk parts = avi_walk_parts(fd, walk, file_size, with_audio, cancel);
        if (parts.first_closed || parts.cancelled || parts.out_of_memory) {
            return avi_repair_parts(fd, &fields, parts, file_size);
        }
    }
    report.frames_readable_before = avi_count_readable_frames(fd, AVI_HEADER_BYTES, file_size);
    if (walk.frames == 0) {
        return avi_outcome(AviRepairOutcome::kRefused, "no complete frame to keep");
    }
    if (walk.frames < report.frames_readable_before) {
        return avi_keeps_fewer(walk.frames, report.frames_readable_before);
    }
    if (!avi_finish(fd, &fields, walk)) {
        return avi_io_failure("cannot write the file");
    }
    report.frames = walk.frames;
    report.seconds = fields.fps > 0 ? walk.frames / fields.fps : 0.0;
    report.headers_mended = walk.headers_mended;
    report.bytes_kept = walk.data_end - walk.bytes_skipped;
    report.bytes_skipped = walk.bytes_skipped;
    report.bytes_dropped = std::max<std::int64_t>(0, file_size - walk.data_end);
    return report;
}

AviRepairReport AVI_repair_recording(const std::string& path, const std::atomic<bool>* cancel) {
    int fd = open(path.c_str(), O_RDWR | kOpenFlags);
    int write_error = fd < 0 ? errno : 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {  // it may still be refused or finished
        fd = open(path.c_str(), O_RDONLY | kOpenFlags);
    }
    if (fd < 0 && errno == ELOOP) {
        return avi_outcome(AviRepairOutcome::kRefused,
                           "a symbolic link (name the file it points to)");
    }
    if (fd < 0) {
        return avi_io_failure("cannot open the file");
    }
    FdCloser closer(fd);
    if (write_error != 0) {
        avi_file fields;
        std::int64_t file_size = 0;
        AviRepairReport report = avi_inspect(fd, &fields, &file_size);
        if (report.outcome != AviRepairOutcome::kRepaired) {
            return report;
        }
        errno = write_error;
        return avi_io_failure("cannot write the file");
    }
    return AVI_repair_recording_fd(fd, cancel);
}

std::vector<AviFolderRepair> AVI_repair_folder(const std::string& folder,
                                               const std::string& leftover_prefix,
                                               const std::atomic<bool>* cancel) {
    std::vector<AviFolderRepair> done;
    const int dir_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        return done;
    }
    FdCloser dir_closer(dir_fd);
    const int list_fd = dup(dir_fd);
    DIR* dir = list_fd >= 0 ? fdopendir(list_fd) : nullptr;
    if (dir == nullptr) {
        if (list_fd >= 0) {
            close(list_fd);
        }
        return done;
    }
    while (const dirent* entry = readdir(dir)) {
        if (cancel != nullptr && cancel->load()) {
            break;
        }
        const std::string name = entry->d_name;
        struct stat info;
        // Only regular files are opened: opening a device can have effects of its own.
        if (!avi_has_suffix(name, ".avi") ||
            fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            continue;
        }
        const int fd = openat(dir_fd, name.c_str(), O_RDWR | kOpenFlags);
        if (fd < 0) {
            continue;
        }
        FdCloser closer(fd);
        if (name.compare(0, leftover_prefix.size(), leftover_prefix) == 0 &&
            avi_remove_leftover(dir_fd, name.c_str(), fd)) {
            done.push_back({name, avi_outcome(AviRepairOutcome::kRemoved, "")});
            continue;
        }
        AviRepairReport report = AVI_repair_recording_fd(fd, cancel);
        if (report.outcome == AviRepairOutcome::kRepaired) {
            done.push_back({name, report});
        }
    }
    closedir(dir);
    std::sort(done.begin(), done.end(),
              [](const AviFolderRepair& a, const AviFolderRepair& b) { return a.name < b.name; });
    return done;
}
