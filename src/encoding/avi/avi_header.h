// The 2048-byte header of a written AVI file: RIFF form, main header, stream lists,
// filler and the head of the movi list.
#pragma once

#include "encoding/avi/avi_file.h"

// Fills header (AVI_HEADER_BYTES) from the handle: file_pos is the file length and data_end
// the end of the data chunks that it declares. False if the stream lists do not fit.
bool avi_build_header(const avi_file* AVI, bool index_written, unsigned char* header);

// Microseconds per frame as stored in the header: 0 for rates below 0.001.
unsigned avi_frame_time_us(double fps);
// True when the audio stream is MP3 (format tag 0x0055): one frame per chunk, each one unit of
// the stream's length, rather than a fixed number of bytes per sample.
bool avi_audio_is_mp3(const avi_file* AVI);
// Bytes of one audio sample frame (all channels); never 0.
long long avi_sample_frame_bytes(int bits, int channels);
