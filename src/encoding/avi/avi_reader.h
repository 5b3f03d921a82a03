// Reading an AVI file: header fields, frames by number or in file order, and audio by
// byte position. Closing is AVI_close_file (avi_writer.h).
#pragma once

#include <cstdint>

#include "encoding/avi/avi_file.h"

// Opens a file and parses its header; with build_index != 0 also its index (rebuilt from
// the data chunks when the file has none), which the frame and audio operations need.
// Null with AVI_last_error set on failure.
avi_file* AVI_open_for_reading(const char* name, int build_index);

int AVI_get_frame_count(avi_file* AVI);
int AVI_get_width(avi_file* AVI);
int AVI_get_height(avi_file* AVI);
double AVI_get_fps(avi_file* AVI);
const char* AVI_get_compressor(avi_file* AVI);
int AVI_get_audio_channels(avi_file* AVI);
int AVI_get_audio_bits(avi_file* AVI);
int AVI_get_audio_format(avi_file* AVI);
int AVI_get_audio_rate(avi_file* AVI);

// Length of a frame's data; 0 for a number outside the frames.
int AVI_get_frame_length(avi_file* AVI, int frame);
// Back to the first frame, the first audio byte and the start of the movi data.
int AVI_rewind_movi(avi_file* AVI);
// Selects the frame that AVI_fetch_frame reads next; -1 for a number past the last frame.
int AVI_goto_frame(avi_file* AVI, int frame, int* frame_length);
// Reads the selected frame into buffer (room for its length) and selects the next one.
// Bytes read, 0 past the last frame, -1 on failure.
int AVI_fetch_frame(avi_file* AVI, char* buffer);

int AVI_goto_audio_byte(avi_file* AVI, std::int64_t byte);
int AVI_goto_audio_chunk(avi_file* AVI, int chunk, int* chunk_length);
// Reads up to count audio bytes from the current position on; bytes read, or -1.
int AVI_fetch_audio(avi_file* AVI, char* buffer, int count);

// Reads the next video or audio chunk in file order from the current file position.
// 1: video chunk read, 2: audio chunk read, -1 / -2: video / audio chunk larger than
// its buffer (skipped), 0: end of data, read failure or output handle. The chunk's data
// length goes to *length.
int AVI_fetch_next_chunk(avi_file* AVI, char* video_buffer, int video_size, char* audio_buffer,
                         int audio_size, int* length);
