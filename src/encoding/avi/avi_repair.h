// Finishing a recording whose writer never closed it (the process was killed, the session
// ended, the power failed): every frame a player can find is kept (a last frame that the end
// of the file cuts short with what there is of it), damaged chunk headers are mended, what
// follows the last frame is cut off, and the idx1 index and the final header are written, as
// the writer would have at close.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

enum class AviRepairOutcome {
    kRepaired,     // the file was finished in place
    kNothingToDo,  // a finished recording: left as it is
    kRefused,      // not an unfinished recording of this program, or nothing to keep: untouched
    kFailed,       // reading or writing the file failed (or the repair was cancelled)
    kRemoved       // folder scan: an empty leftover of a recording was removed
};

struct AviRepairReport {
    AviRepairOutcome outcome = AviRepairOutcome::kFailed;
    std::string reason;              // why it was refused or failed
    int frames = 0;                  // frames the finished file holds (repeat frames included)
    double seconds = 0;              // their playing time
    int frames_readable_before = 0;  // frames a plain reader found in the file as it was
    int headers_mended = 0;          // frames whose damaged chunk header was rewritten
    std::int64_t bytes_kept = 0;     // bytes of header and frames kept
    std::int64_t bytes_skipped = 0;  // unreadable bytes between frames, now a "JUNK" chunk
    std::int64_t bytes_dropped = 0;  // bytes after the last complete frame, cut off
};

// Finishes the unfinished recording at path in place. The file is opened once, without
// following a symbolic link, and checked and repaired through that descriptor. A file that is
// not one (not an AVI, written by another program, still being written, without a complete
// frame) is refused and left untouched, and so is one whose repair would keep fewer frames
// than a plain reader finds in it now; a finished recording is left as it is. The writes are
// ordered so that repairing a file again, also after a repair that was itself interrupted,
// gives the same bytes. Memory and work grow with the file and the chunks in it; running out
// of memory is a failure that leaves the file untouched. A set cancel flag ends the repair
// early, before anything is written, as a failure.
AviRepairReport AVI_repair_recording(const std::string& path,
                                     const std::atomic<bool>* cancel = nullptr);
// The same through a descriptor open for reading and writing (it stays open).
AviRepairReport AVI_repair_recording_fd(int fd, const std::atomic<bool>* cancel = nullptr);

struct AviFolderRepair {
    std::string name;  // the file's name in the folder
    AviRepairReport report;
};

// Repairs every unfinished recording of this program among the "*.avi" files of folder
// (what its header says, whatever the name), each checked and repaired through one descriptor
// opened without following links. Files whose names start with leftover_prefix and that hold
// nothing but zeros, at most a header's worth (a recording that ended before its first
// frame), are removed unless a running recording holds them. Lists what was repaired or
// removed, sorted by name; everything else is left alone and unlisted.
std::vector<AviFolderRepair> AVI_repair_folder(const std::string& folder,
                                               const std::string& leftover_prefix,
                                               const std::atomic<bool>* cancel = nullptr);
