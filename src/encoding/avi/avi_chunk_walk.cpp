#include "encoding/avi/avi_chunk_walk.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unistd.h>

#include "encoding/avi/avi_bytes.h"
#include "encoding/avi/avi_file.h"

namespace {

constexpr char kVideoChunkId[] = "00db";
constexpr char kAudioChunkId[] = "01wb";
// Bytes at the start of a frame searched for its picture: the stream headers before the first
// picture are short.
constexpr std::size_t kPictureSearchBytes = 4096;
constexpr std::size_t kWindowBytes = 256 * 1024;
constexpr unsigned char kStartCode[] = {0, 0, 1};
constexpr unsigned char kPictureStart[] = {0, 0, 1, 0xB6};
constexpr std::uint32_t kSmallestMp3Chunk = 4;  // a frame header at least

bool avi_is_id(const unsigned char* header, const char* id) {
    return std::memcmp(header, id, 4) == 0;
}

// Where a RIFF part's chunks end: its standard index ("ix00", "ix01") or the next part.
bool avi_ends_part(const unsigned char* header) {
    return std::memcmp(header, "ix", 2) == 0 || avi_is_id(header, "RIFF");
}

// A window of the file in memory, refilled as the walk moves on, so that millions of small
// chunks cost a read each of a quarter megabyte, not a read each.
class FileWindow {
public:
    FileWindow(int fd, std::int64_t file_size) : fd_(fd), file_size_(file_size) {}

    // The n bytes at pos (n at most kWindowBytes); null when they do not lie within the file
    // or cannot be read.
    const unsigned char* View(std::int64_t pos, std::size_t n) {
        if (pos < 0 || n > kWindowBytes || std::int64_t(n) > file_size_ - pos) {
            return nullptr;
        }
        if (pos < start_ || pos + std::int64_t(n) > start_ + std::int64_t(length_)) {
            if (!Fill(pos)) {
                return nullptr;
            }
        }
        return buffer_.data() + (pos - start_);
    }

    std::int64_t FileSize() const { return file_size_; }

private:
    bool Fill(std::int64_t pos) {
        std::size_t want = std::size_t(std::min<std::int64_t>(kWindowBytes, file_size_ - pos));
        try {
            buffer_.resize(kWindowBytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
        std::size_t got = 0;
        while (got < want) {
            ssize_t done = pread(fd_, buffer_.data() + got, want - got, off_t(pos) + off_t(got));
            if (done <= 0) {
                start_ = -1;
                length_ = 0;
                return false;
            }
            got += std::size_t(done);
        }
        start_ = pos;
        length_ = got;
        return true;
    }

    int fd_;
    std::int64_t file_size_;
    std::vector<unsigned char> buffer_;
    std::int64_t start_ = -1;
    std::size_t length_ = 0;
};

// Whether the first MPEG-4 picture (start code 00 00 01 B6) in data is intra coded, that is a
// key frame; its coding type is the top two bits after the code. -1 when no picture starts.
int avi_picture_is_intra(const unsigned char* data, std::size_t length) {
    const unsigned char* end = data + length;
    const unsigned char* found = std::search(data, end, kPictureStart, kPictureStart + 4);
    if (end - found < 5) {
        return -1;
    }
    return (found[4] >> 6) == 0 ? 1 : 0;
}

class FrameWalker {
public:
    FrameWalker(int fd, std::int64_t file_size, std::int64_t max_file_bytes, bool with_audio,
                const std::atomic<bool>* cancel)
        : file_(fd, file_size),
          lookahead_(fd, file_size),
          scan_(fd, file_size),
          max_file_bytes_(max_file_bytes),
          with_audio_(with_audio),
          cancel_(cancel) {}

    AviChunkWalk Run(std::int64_t pos) {
        walk_.data_end = pos;
        const std::int64_t size = file_.FileSize();
        while (pos + 8 <= size && !Stopped()) {
            const unsigned char* header = file_.View(pos, 8);
            if (header == nullptr || avi_is_id(header, "idx1")) {
                break;
            }
            if (avi_ends_part(header)) {
                walk_.next_part = true;
                break;
            }
            const std::uint32_t length = avi_load_u32le(header + 4);
            const std::int64_t next = ChunkEnd(pos, length);
            const char* id = avi_is_id(header, kVideoChunkId) ? kVideoChunkId
                             : IsAudio(header)                ? kAudioChunkId
                                                              : nullptr;
            if (id != nullptr && Fits(pos, length)) {
                if (!FollowedByChunk(next)) {
                    // Something else where the next chunk should begin: this length may be too
                    // large (a chunk begins inside its data) or the next header is damaged.
                    const std::int64_t found = Resync(pos + 8);
                    if (found >= 0 && found < next) {
                        if (!Keep(pos, id, std::uint32_t(found - pos - 8), true)) {
                            break;
                        }
                        pos = found;
                        continue;
                    }
                }
                if (!Keep(pos, id, length, false)) {
                    break;
                }
                pos = next;
                continue;
            }
            if (avi_is_id(header, "JUNK") && Fits(pos, length) && FollowedByChunk(next)) {
                walk_.bytes_skipped += next - pos;  // covered by an earlier repair
                pos = next;
                continue;
            }
            const std::int64_t found = Resync(pos + 2);
            if (found < 0) {
                KeepTornEnd(pos, header);  // nothing readable follows: the end of the file
                break;
            }
            if (!Bridge(pos, found, length)) {
                break;
            }
            pos = found;
        }
        walk_.cancelled = cancelled_;
        return std::move(walk_);
    }

private:
    static std::int64_t ChunkEnd(std::int64_t pos, std::uint32_t length) {
        return pos + 8 + avi_padded_length(length);
    }
    bool Fits(std::int64_t pos, std::uint32_t length) const {
        return pos + 8 + std::int64_t(length) <= file_.FileSize();
    }

    bool Stopped() {
        if (cancel_ != nullptr && (++steps_ & 0xFFF) == 0 && cancel_->load()) {
            cancelled_ = true;
        }
        return cancelled_ || walk_.out_of_memory;
    }

    bool IsAudio(const unsigned char* header) const {
        return with_audio_ && avi_is_id(header, kAudioChunkId);
    }

    // Whether a chunk of this file (or its torn remains, or the end) begins at pos.
    bool FollowedByChunk(std::int64_t pos) {
        const unsigned char* header = lookahead_.View(pos, 8);
        return pos + 8 > lookahead_.FileSize() ||
               (header != nullptr &&
                (avi_is_id(header, kVideoChunkId) || IsAudio(header) || avi_is_id(header, "idx1") ||
                 avi_is_id(header, "JUNK") || avi_ends_part(header)));
    }

    bool StartsWithStartCode(std::int64_t pos) {
        const unsigned char* data = lookahead_.View(pos, sizeof kStartCode);
        return data != nullptr && std::memcmp(data, kStartCode, sizeof kStartCode) == 0;
    }

    // The sound is MP3: its data starts with a frame's 11 sync bits.
    bool StartsWithMp3Sync(std::int64_t pos) {
        const unsigned char* data = lookahead_.View(pos, 2);
        return with_audio_ && data != nullptr && data[0] == 0xFF && (data[1] & 0xE0) == 0xE0;
    }

    // MPEG-4 data with a picture in it: a start code first, a picture start code after.
    bool HoldsPicture(std::int64_t pos, std::uint32_t length) {
        const std::size_t n = std::min<std::size_t>(length, kPictureSearchBytes);
        const unsigned char* data = lookahead_.View(pos, n);
        return data != nullptr && std::memcmp(data, kStartCode, sizeof kStartCode) == 0 &&
               avi_picture_is_intra(data, n) >= 0;
    }

    // A frame whose chunk the end of the file cuts short (the writer was stopped inside it, or
    // its length was damaged): players decode what there is of its picture, so after complete
    // frames it is kept with the length that is there.
    void KeepTornEnd(std::int64_t pos, const unsigned char* header) {
        const std::int64_t there = file_.FileSize() - pos - 8;
        if (walk_.frames > 0 && avi_is_id(header, kVideoChunkId) && there >= 5 &&
            HoldsPicture(pos + 8, std::uint32_t(there))) {
            Keep(pos, kVideoChunkId, std::uint32_t(there), true);
        }
    }

    // A place where a frame chunk surely begins: its id, a length within the file, and MPEG-4
    // data with a picture in it (an empty frame: the next chunk right after it).
    bool FrameBeginsAt(std::int64_t pos) {
        const unsigned char* header = lookahead_.View(pos, 8);
        if (header == nullptr || !avi_is_id(header, kVideoChunkId)) {
            return false;
        }
        const std::uint32_t length = avi_load_u32le(header + 4);
        if (!Fits(pos, length)) {
            return false;
        }
        return length == 0 ? FollowedByChunk(pos + 8) : HoldsPicture(pos + 8, length);
    }

    // A place where a sound chunk surely begins: its id, a length within the file, an MP3 frame
    // at the start of its data, and a chunk right after it.
    bool AudioBeginsAt(std::int64_t pos) {
        const unsigned char* header = lookahead_.View(pos, 8);
        if (header == nullptr || !IsAudio(header)) {
            return false;
        }
        const std::uint32_t length = avi_load_u32le(header + 4);
        return length >= kSmallestMp3Chunk && Fits(pos, length) && StartsWithMp3Sync(pos + 8) &&
               FollowedByChunk(ChunkEnd(pos, length));
    }

    // The first place at or after from (chunks begin at even offsets) where a frame or a sound
    // chunk begins; -1 when there is none before the end of the file.
    std::int64_t Resync(std::int64_t from) {
        from += from & 1;
        if (from >= resync_from_ && from <= resync_found_) {
            return resync_found_ < file_.FileSize() ? resync_found_ : -1;
        }
        const std::int64_t size = file_.FileSize();
        std::int64_t pos = from;
        std::int64_t found = size;
        while (found == size && pos + 8 <= size && !Stopped()) {
            const std::size_t n = std::size_t(std::min<std::int64_t>(kWindowBytes, size - pos));
            const unsigned char* block = scan_.View(pos, n);
            if (block == nullptr) {
                break;
            }
            std::size_t i = 0;
            for (; i + 4 <= n; i += 2) {
                const unsigned char* id = block + i;
                if (id[0] == '0' &&
                    ((avi_is_id(id, kVideoChunkId) && FrameBeginsAt(pos + std::int64_t(i))) ||
                     (IsAudio(id) && AudioBeginsAt(pos + std::int64_t(i))))) {
                    found = pos + std::int64_t(i);
                    break;
                }
            }
            pos += std::int64_t(i);
            // Also cancelled between blocks of a long stretch of damage.
            if (cancel_ != nullptr && cancel_->load()) {
                cancelled_ = true;
            }
        }
        resync_from_ = from;
        resync_found_ = found;
        return found < size ? found : -1;
    }

    // The damaged bytes from pos up to the chunk found at next: a frame (or sound chunk) whose
    // header was damaged (its data starts with a start code, or an MP3 frame) gets its header
    // back; bytes right after a frame whose length was damaged are given back to that frame;
    // anything else is covered by a "JUNK" chunk that players pass over.
    bool Bridge(std::int64_t pos, std::int64_t next, std::uint32_t damaged_length) {
        const std::int64_t gap = next - pos;
        const bool picture =
            gap >= 8 + std::int64_t(sizeof kStartCode) && StartsWithStartCode(pos + 8);
        if (picture || (gap >= 8 + kSmallestMp3Chunk && StartsWithMp3Sync(pos + 8))) {
            std::int64_t length = gap - 8;
            if (damaged_length + 1 == length) {  // the length was right: odd, with its pad
                length = damaged_length;
            }
            return Keep(pos, picture ? kVideoChunkId : kAudioChunkId, std::uint32_t(length), true);
        }
        // A sound chunk holds one MP3 frame, which needs no more than its own bytes: what follows
        // it goes back to it only when too short to be covered.
        if (!walk_.index.empty() && walk_.data_end == pos &&
            (last_id_ == kVideoChunkId || gap < 8)) {
            return Extend(next);
        }
        walk_.bytes_skipped += gap;
        if (gap >= 8) {
            AviChunkEdit junk{pos, {}};
            std::memcpy(junk.header, "JUNK", 4);
            avi_store_u32le(junk.header + 4, std::uint32_t(gap - 8));
            return Add(walk_.edits, junk);
        }
        return true;  // too short for a header: players pass over it too
    }

    // Appends a chunk to the index (and its new header to the edits when mended).
    bool Keep(std::int64_t pos, const char* id, std::uint32_t length, bool mended) {
        const std::int64_t end = ChunkEnd(pos, length);
        const std::int64_t finished =
            end + 8 + std::int64_t(walk_.index.size()) + std::int64_t(AVI_INDEX_ENTRY_BYTES);
        if (finished > max_file_bytes_) {
            return false;
        }
        const bool video = id == kVideoChunkId;
        bool key = false;
        if (video && length > 0) {
            const std::size_t n = std::min<std::size_t>(length, kPictureSearchBytes);
            const unsigned char* data = file_.View(pos + 8, n);
            key = data != nullptr && avi_picture_is_intra(data, n) == 1;
        }
        unsigned char entry[AVI_INDEX_ENTRY_BYTES];
        std::memcpy(entry, id, 4);
        avi_store_u32le(entry + 4, key ? AVI_KEYFRAME_FLAG : 0);
        avi_store_u32le(entry + 8, std::uint32_t(pos));
        avi_store_u32le(entry + 12, length);
        try {
            walk_.index.insert(walk_.index.end(), entry, entry + sizeof entry);
        } catch (const std::bad_alloc&) {
            walk_.out_of_memory = true;
            return false;
        }
        last_edit_ = -1;
        if (mended) {
            AviChunkEdit edit{pos, {}};
            std::memcpy(edit.header, id, 4);
            avi_store_u32le(edit.header + 4, length);
            if (!Add(walk_.edits, edit)) {
                return false;
            }
            last_edit_ = std::int64_t(walk_.edits.size()) - 1;
            ++walk_.headers_mended;
        }
        last_pos_ = pos;
        last_id_ = id;
        walk_.frames += video ? 1 : 0;
        walk_.audio_chunks += video ? 0 : 1;
        walk_.audio_bytes += video ? 0 : length;
        walk_.data_end = end;
        walk_.pad_missing = end > file_.FileSize();
        return true;
    }

    // The last chunk kept reaches up to end: its length was damaged to less than it is.
    bool Extend(std::int64_t end) {
        const std::uint32_t length = std::uint32_t(end - last_pos_ - 8);
        unsigned char* stored = walk_.index.data() + walk_.index.size() - 4;
        if (last_id_ == kAudioChunkId) {
            walk_.audio_bytes += std::int64_t(length) - avi_load_u32le(stored);
        }
        avi_store_u32le(stored, length);
        if (last_edit_ < 0) {
            AviChunkEdit edit{last_pos_, {}};
            std::memcpy(edit.header, last_id_, 4);
            if (!Add(walk_.edits, edit)) {
                return false;
            }
            last_edit_ = std::int64_t(walk_.edits.size()) - 1;
            ++walk_.headers_mended;
        }
        avi_store_u32le(walk_.edits[std::size_t(last_edit_)].header + 4, length);
        walk_.data_end = end;
        return true;
    }

    bool Add(std::vector<AviChunkEdit>& edits, const AviChunkEdit& edit) {
        try {
            edits.push_back(edit);
            return true;
        } catch (const std::bad_alloc&) {
            walk_.out_of_memory = true;
            return false;
        }
    }

    FileWindow file_;       // the chunks in order
    FileWindow lookahead_;  // what follows a chunk, and the candidates of a search
    FileWindow scan_;       // the bytes searched after damage
    std::int64_t max_file_bytes_;
    bool with_audio_;
    const std::atomic<bool>* cancel_;
    AviChunkWalk walk_;
    std::int64_t last_pos_ = 0;
    const char* last_id_ = kVideoChunkId;
    std::int64_t last_edit_ = -1;
    std::int64_t resync_from_ = -1;
    std::int64_t resync_found_ = -2;
    unsigned steps_ = 0;
    bool cancelled_ = false;
};

}  // namespace

AviChunkWalk avi_walk_frame_chunks(int fd, std::int64_t start, std::int64_t file_size,
                                   std::int64_t max_file_bytes, bool with_audio,
                                   const std::atomic<bool>* cancel) {
    return FrameWalker(fd, file_size, max_file_bytes, with_audio, cancel).Run(start);
}

int avi_count_readable_frames(int fd, std::int64_t start, std::int64_t file_size) {
    FileWindow file(fd, file_size);
    int frames = 0;
    std::int64_t pos = start;
    while (const unsigned char* header = file.View(pos, 8)) {
        if (avi_same_id(header, "LIST", 4) || avi_same_id(header, "RIFF", 4)) {
            pos += 12;  // a reader goes into lists and further parts
            continue;
        }
        const std::uint32_t length = avi_load_u32le(header + 4);
        if (pos + 8 + std::int64_t(length) > file_size) {
            break;
        }
        if (avi_same_id(header, "00d", 3) &&
            (avi_same_id(header + 2, "db", 2) || avi_same_id(header + 2, "dc", 2))) {
            ++frames;
        }
        pos += 8 + avi_padded_length(length);
    }
    return frames;
}
