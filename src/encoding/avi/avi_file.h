// The record of one open AVI file, shared by the writer and the reader, with the
// library's constants and its process-wide error number.
#pragma once

#include <cstdint>

// Bytes reserved at the start of a written file for the header, filled in at close.
constexpr int AVI_HEADER_BYTES = 2048;
// No written file grows beyond this many bytes, so every offset fits a signed 32-bit int.
constexpr int AVI_MAX_FILE_BYTES = 2000000000;
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
    std::uint32_t offset;  // file offset of the data (just after the chunk header)
    std::int32_t length;
};

// Reader: where one audio chunk's data lies, and how many audio bytes come before it.
struct avi_audio_entry {
    std::uint32_t offset;
    std::int32_t length;
    std::int32_t bytes_before;
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
    int audio_total;  // audio data bytes written (writer) or indexed (reader)
    int audio_chunk_count;
    char audio_chunk_id[4];
    int audio_chunk_pos;
    int audio_byte_pos;
    int file_pos;  // writer: end of the file, where the next chunk goes
    int index_count;
    int index_capacity;
    unsigned char* index;  // idx1 entries, AVI_INDEX_ENTRY_BYTES each
    avi_frame_entry* frame_table;
    avi_audio_entry* audio_table;
    int last_frame_pos;  // writer: offset of the last video chunk, 0 before the first
    int last_frame_len;
    int repeats_via_index;  // writer: 1 once a frame was repeated through the index
    int movi_data_offset;   // reader: offset just after the "movi" list type
    int last_frame_flags;   // writer: idx1 flags of the last video chunk
    int data_end;           // writer: end of the data chunks once the index went out, else 0
    int header_refresh_interval_ms;  // writer: milliseconds between refreshes, negative = none
    long long header_refresh_ms;     // writer: monotonic time of the last refresh, 0 = none
};

// Number of the last failure of any AVI_ function called on this thread; set on failure only.
// One per thread, so a recording thread's failure is never mistaken for (or hidden by) a
// failure elsewhere in the process.
extern thread_local int AVI_last_error;
