// Finishing a recording whose writer never closed it (the process was killed, the session
// ended, the power failed): the complete frames are kept, a torn last chunk is cut off, and
// the idx1 index and the final header are written, as the writer would have at close.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class AviRepairOutcome {
    kRepaired,     // the file was finished in place
    kNothingToDo,  // a finished recording: left as it is
    kRefused,      // not an unfinished recording of this program: left as it is
    kFailed        // reading or writing the file failed
};

struct AviRepairReport {
    AviRepairOutcome outcome = AviRepairOutcome::kFailed;
    std::string reason;              // why it was refused or failed
    int frames = 0;                  // frames the finished file holds (repeat frames included)
    double seconds = 0;              // their playing time
    std::int64_t bytes_kept = 0;     // bytes of header and frames kept
    std::int64_t bytes_dropped = 0;  // bytes of an incomplete last chunk cut off
};

// Finishes the unfinished recording at path in place. A file that is not one (not an AVI,
// written by another program, still being written, damaged) is refused and left untouched;
// a finished recording is left as it is. The writes are ordered so that repairing a file
// again, also after a repair that was itself interrupted, gives the same bytes.
AviRepairReport AVI_repair_recording(const std::string& path);

// True when path is an unfinished recording of this program that AVI_repair_recording would
// finish. Reads the header only.
bool AVI_is_unfinished_recording(const std::string& path);

// The unfinished recordings among the regular files of folder whose names start with
// name_prefix and end in ".avi", sorted by name.
std::vector<std::string> AVI_find_unfinished_recordings(const std::string& folder,
                                                        const std::string& name_prefix);
