// The record of one open AVI file, shared by the writer and the reader, with the
// library's constants and its process-wide error number.
#pragma once

#include <cstdint>

// Bytes reserved at the start of a written file for the header, filled in at close.
constexpr int AVI_HEADER_BYTES = 2048;
// A written file is a chain of RIFF parts of at most this many bytes each (the first one
// "AVI ", the others "AVIX"), so that every offset inside a part fits 32 bits.
constexpr std::int64_t AVI_PART_BYTES = std::int64_t(1) << 30;
// Streams a written file may have: video ("00db") and audio ("01wb").
constexpr int AVI_MAX_STREAMS = 2;
// Entries of a stream's super index, one per part, that fit the header for one stream; with
// more streams each has fewer (avi_max_parts).
constexpr int AVI_MAX_PARTS = 94;
// The in-memory index grows by this many entries at a time.
constexpr int AVI_INDEX_GROWTH = 4096;
constexpr int AVI_INDEX_ENTRY_BYTES = 16;
constexpr std::uint32_t AVI_KEYFRAME_FLAG = 0x10;  // idx1 flag of a key frame
// While a file is written, its header counts are brought up to date this often (and at the
// first frame), so that a file whose writer never closes it still plays.
constexpr int AVI_HEADER_REFRESH_MS = 1000;

// Values of avi_file::mode.
constexpr int AVI_MODE_WRITE = 0;
constexpr int AVI_MODE_READ = 1;

// Values of AVI_last_error; AVI_error_text gives their messages.
enum {
    AVI_ERR_NONE = 0,
    AVI_ERR_SIZELIM = 1,      // file size limit reached
    AVI_ERR_OPEN = 2,         // the file cannot be opened
    AVI_ERR_READ = 3,         // reading from the file failed
    AVI_ERR_WRITE = 4,        // writing to the file failed (or a negative length)
    AVI_ERR_WRITE_INDEX = 5,  // writing the index failed
    AVI_ERR_CLOSE = 6,        // writing the header or setting the length at close failed
    AVI_ERR_NOT_PERM = 7,     // operation not permitted in this handle's mode
    AVI_ERR_NO_MEM = 8,       // out of memory
    AVI_ERR_NO_AVI = 9,       // not an AVI file
    AVI_ERR_NO_HDRL = 10,     // no header list
    AVI_ERR_NO_MOVI = 11,     // no movi list
    AVI_ERR_NO_VIDS = 12,     // no video data
    AVI_ERR_NO_IDX = 13,      // operation needs an index
    AVI_ERR_UNKNOWN = 14,
    AVI_ERR_COUNT = 15
};

// Reader: where one video frame's data lies in the file.
struct avi_frame_entry {
    std::int64_t offset;  // file offset of the data (just after the chunk header)
    std::int32_t length;
};

// Reader: where one audio chunk's data lies, and how many audio bytes come before it.
struct avi_audio_entry {
    std::int64_t offset;
    std::int32_t length;
    std::int64_t bytes_before;
};

// Writer: one part's standard index ("ix00") as the stream's super index names it.
struct avi_super_entry {
    std::int64_t offset;     // file offset of the standard index chunk's header
    std::uint32_t size;      // its length, chunk header included
    std::uint32_t duration;  // frames (audio: sample frames) of the stream in that part
};

// Writer: one stream of the file with its indexes.
struct avi_stream {
    char chunk_id[4];           // "00db", "01wb"
    char index_id[4];           // "ix00", "ix01": its standard index in each part
    int sample_bytes;           // bytes per unit of duration (audio); 0: one unit per chunk
    unsigned char* part_index;  // standard index entries of the open part, 8 bytes each
    int part_entries;
    int part_capacity;
    std::uint32_t part_duration;  // units of duration in the open part
    int parts;                    // super index entries in use (closed parts)
    avi_super_entry super_index[AVI_MAX_PARTS];
};

struct avi_file {
    int fd;
    int mode;  // AVI_MODE_WRITE or AVI_MODE_READ
    int width;
    int height;
    double fps;
    char compressor[8];  // 4-character code, NUL at the fifth position
    int video_stream_no;
    int frame_count;  // frames written (writer) or indexed (reader)
    char video_chunk_id[4];
    int next_frame;
    int audio_format;
    int audio_channels;
    int audio_rate;
    int audio_bits;
    int audio_stream_no;
    std::int64_t audio_total;  // audio data bytes written (writer) or indexed (reader)
    int audio_chunk_count;
    char audio_chunk_id[4];
    int audio_chunk_pos;
    int audio_byte_pos;
    std::int64_t file_pos;  // writer: end of the file, where the next chunk goes
    int index_count;
    int index_capacity;
    unsigned char* index;  // idx1 entries (writer: the first part's), AVI_INDEX_ENTRY_BYTES each
    avi_frame_entry* frame_table;
    avi_audio_entry* audio_table;
    std::int64_t last_frame_pos;  // writer: offset of the last video chunk, 0 before the first
    int last_frame_len;
    int repeats_via_index;          // writer: 1 once a frame was repeated through the index
    std::int64_t movi_data_offset;  // reader: offset just after the "movi" list type
    int last_frame_flags;           // writer: idx1 flags of the last video chunk
    std::int64_t data_end;  // writer: end of the data chunks once the index went out, else 0
    int header_refresh_interval_ms;  // writer: milliseconds between refreshes, negative = none
    long long header_refresh_ms;     // writer: monotonic time of the last refresh, 0 = none

    // Writer: the parts. The open part starts at part_start (0 for the first); once the first
    // part is closed, its length, its movi list's end and its frames stay for the header.
    std::int64_t part_bytes;  // most bytes of one part (AVI_PART_BYTES; smaller in tests)
    int part_count;           // parts begun, the open one included
    std::int64_t part_start;
    std::int64_t first_part_end;
    std::int64_t first_movi_end;
    int first_part_frames;
    int frames_dropped;               // frames given up at close to make room for the index
    std::int64_t data_bytes_dropped;  // the data bytes of the chunks given up with them
    int stream_count;
    avi_stream streams[AVI_MAX_STREAMS];  // [0] is the video stream
};

// Number of the last failure of any AVI_ function called on this thread; set on failure only.
// One per thread, so a recording thread's failure is never mistaken for (or hidden by) a
// failure elsewhere in the process.
extern thread_local int AVI_last_error;
