// Finishing an unfinished recording that grew past its first RIFF part: the parts that the
// writer closed are checked against the indexes their chunks give, the last one gets its
// standard indexes (one per stream), and the header its super indexes, as the writer would
// have at close.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "encoding/avi/avi_chunk_walk.h"
#include "encoding/avi/avi_file.h"
#include "encoding/avi/avi_repair.h"

// The frames (and sound chunks) of every part, found by walking each part's chunks from its
// start.
struct AviPartsWalk {
    struct Part {
        std::int64_t start;  // the part's "RIFF" (0 for the first)
        AviChunkWalk walk;
    };
    std::vector<Part> parts;
    bool first_closed = false;  // the first part is closed by its indexes and a next part
    int frames = 0;
    int audio_chunks = 0;
    std::int64_t audio_bytes = 0;
    int frames_readable_before = 0;  // what a plain reader finds in each part
    bool cancelled = false;
    bool out_of_memory = false;
};

// Walks the parts that follow the first, whose walk stopped where its index begins.
AviPartsWalk avi_walk_parts(int fd, AviChunkWalk first, std::int64_t file_size, bool with_audio,
                            const std::atomic<bool>* cancel);

// Writes the parts' indexes and heads and the final header (fields holds the format read from
// the header, with two streams for a recording with sound). False when a write fails.
bool avi_finish_parts(int fd, avi_file* fields, const AviPartsWalk& walk);

// Where the audio stream's list begins in a header of two streams, right after the video
// list; -1 when the video list's length puts it outside the header.
int avi_audio_list_at(const unsigned char* header);
// Reads the super indexes (of fields->stream_count streams) and the first part's counts of a
// finished header of several parts into fields; false for a header of one part.
bool avi_read_parts_fields(const unsigned char* header, avi_file* fields);
// Whether a finished file of several parts ends with its last part's index, as its header says.
bool avi_parts_file_is_whole(int fd, const avi_file& fields, std::int64_t file_size);
