// Writing an AVI file: chunks are appended as they come, the index is kept in memory,
// and the index and the header are written when the file is closed. Until then the header
// carries the counts of the frames written so far: it is written at the first frame and
// brought up to date every AVI_HEADER_REFRESH_MS, after the data it counts has been pushed
// to the disk, so a file whose writer never gets to close it still plays.
//
// A file grows past its first part in the OpenDML way: RIFF parts of at most AVI_PART_BYTES,
// each closed by a standard index per stream, the first one also by idx1, and a super index
// per stream in the header, which names every part's index once the file is closed (until
// then it is a filler, so that players read every part from its data). A file that stays in
// its first part has idx1 alone.
#pragma once

#include "encoding/avi/avi_file.h"

// Opens (creating if needed) a file for writing and reserves its header; null on failure.
avi_file* AVI_create_output_file(const char* name);
// The same for a file that is already open for reading and writing: the handle takes the
// descriptor over (it is closed with the handle, or at once when this fails). Writing through
// the descriptor that created a file means a name swapped for a link in the meantime is never
// followed.
avi_file* AVI_open_output_fd(int fd);

// The formats go into the header at each refresh and at close; set them before the first
// frame (they may still change until the close, which writes the final header).
void AVI_set_video_format(avi_file* AVI, int width, int height, double fps, const char* compressor);
void AVI_set_audio_format(avi_file* AVI, int channels, int rate, int bits, int format);

// Sets how often the header is refreshed while frames come: every interval_ms milliseconds
// (0: after every frame), or never for a negative interval. The default is AVI_HEADER_REFRESH_MS.
void AVI_set_header_refresh(avi_file* AVI, int interval_ms);

// Sets the most bytes of one part (at least 16 KiB, at most AVI_PART_BYTES, the default);
// smaller parts let the part handling be tried on small files.
void AVI_set_part_bytes(avi_file* AVI, std::int64_t bytes);

// Appends one "00db" chunk. keyframe != 0 marks it as a key frame in the index. A length
// of 0 (data may then be null) is a frame that shows the previous frame again.
// 0 on success, -1 with AVI_last_error set on failure (nothing is then counted).
int AVI_put_video_frame(avi_file* AVI, const char* data, int length, int keyframe);
// Indexes the last frame once more without writing data; 0 also when there is none. Refused
// (AVI_ERR_NOT_PERM) when that frame lies in an earlier part than the open one.
int AVI_repeat_last_frame(avi_file* AVI);
int AVI_put_audio_block(avi_file* AVI, const char* data, int length);

// Bytes of chunks that may still be written before the last part the super index holds is
// full. A chunk that does not fit is refused with AVI_ERR_SIZELIM.
std::int64_t AVI_room_left(avi_file* AVI);
std::int64_t AVI_get_audio_total(avi_file* AVI);

// Finishes an output file (index, header, length) and frees the handle; for an input
// handle it only frees. 0 on success, -1 on failure; the handle is gone either way. When a
// full disk or the file-size limit leaves no room for the index, the last frames are given
// up to make room (frames_dropped counts them).
int AVI_close_file(avi_file* AVI);
// Writes the index and the header of an output file, leaving the handle open.
int AVI_close_output_file(avi_file* AVI);
