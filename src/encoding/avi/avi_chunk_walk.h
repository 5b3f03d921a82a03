// The repair's walk over the chunks of an unfinished recording: every complete frame (and, in a
// recording with sound, every complete sound chunk) in the order written, also past damage (a
// chunk header that cannot be read, a length that does not fit), and the header edits that make
// the damaged places readable again.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

// A chunk header the repair writes over a damaged one: a frame's (or sound chunk's) header with
// its true length, or a "JUNK" header over bytes that hold neither.
struct AviChunkEdit {
    std::int64_t pos;
    unsigned char header[8];
};

struct AviChunkWalk {
    std::vector<unsigned char> index;  // idx1 entries of the chunks kept, frames and sound
    std::vector<AviChunkEdit> edits;   // in file order
    int frames = 0;
    int audio_chunks = 0;
    std::int64_t audio_bytes = 0;
    std::int64_t data_end = 0;       // end of the last chunk kept, pad byte included
    bool pad_missing = false;        // the file ends just before that chunk's pad byte
    int headers_mended = 0;          // chunks whose header was rewritten
    std::int64_t bytes_skipped = 0;  // unreadable bytes between frames, covered by "JUNK"
    bool next_part = false;          // it stopped where the file's next RIFF part begins
    bool cancelled = false;
    bool out_of_memory = false;
};

// Walks the frame chunks (with_audio: and the "01wb" sound chunks) from start to the end of the
// file. A chunk header where one must begin that is not a readable chunk is passed over: the walk
// looks for the next place where a frame chunk begins (its id, a length within the file, an MPEG-4
// start code at the start of its data and a picture start code in it), or a sound chunk (an MP3
// frame sync at the start of its data and a chunk right after it), and goes on from there; only
// what follows the last such place is left out, but for a last frame that the end of the file cuts
// short: players decode what there is of it, so after complete frames it is kept with the length
// there is. It stops early at an "idx1" chunk (the index of a repair that was interrupted), at the
// end of the RIFF part (its standard index "ix##" or the next "RIFF"), or when the finished file
// would exceed max_file_bytes. Work and memory grow with the file's size and its chunks, never with
// a length read from the file.
AviChunkWalk avi_walk_frame_chunks(int fd, std::int64_t start, std::int64_t file_size,
                                   std::int64_t max_file_bytes, bool with_audio,
                                   const std::atomic<bool>* cancel);

// The frames a plain reader finds in the file as it is: it follows the chunk lengths from
// start, going into lists and RIFF parts, counts the frame chunks whose data lies within the
// file and stops at the first length that runs past the end.
int avi_count_readable_frames(int fd, std::int64_t start, std::int64_t file_size);
