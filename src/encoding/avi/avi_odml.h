// The indexes of a file past its first part: each stream's standard index per part ("ix00",
// "ix01", a chunk at the end of the part's movi list) and its super index ("indx", in the
// stream's header list) that points at them. Each stream is one entry of the handle's stream
// table; an index of every stream is kept the same way.
#pragma once

#include <cstdint>
#include <vector>

#include "encoding/avi/avi_file.h"

// Adds a stream to the handle's table: its chunk id ("00db"), its standard index id
// ("ix00") and the bytes per unit of its duration (0: one unit per chunk, as for video).
avi_stream* avi_add_stream(avi_file* AVI, const char* chunk_id, const char* index_id,
                           int sample_bytes);
// The stream whose chunks carry this id, or null.
avi_stream* avi_find_stream(avi_file* AVI, const char* chunk_id);
void avi_free_streams(avi_file* AVI);

// Super index entries each stream's header reservation holds, for a file of stream_count
// streams: as many as fit the 2048-byte header.
int avi_max_parts(int stream_count);
// Bytes of one stream's super index chunk (header included) in a file of stream_count streams.
int avi_super_index_bytes(int stream_count);
// Writes the stream's super index chunk (or, when shown is false, a "JUNK" chunk of the same
// length with zeros) of `bytes` bytes at `at`.
void avi_put_super_index(unsigned char* at, const avi_stream* stream, int bytes, bool shown);

// Units of duration of one chunk of the stream.
std::uint32_t avi_chunk_duration(const avi_stream* stream, std::uint32_t length);
// Adds a chunk of the open part: its data lies `from_base` bytes after the part's base.
// -1 with AVI_ERR_NO_MEM when the index cannot grow.
int avi_push_part_entry(avi_stream* stream, std::uint32_t from_base, std::uint32_t length,
                        bool key);
// Takes back the open part's entries from number `keep` on; returns their data bytes.
std::int64_t avi_drop_part_entries(avi_stream* stream, int keep);
// Offset from the base of entry i's data.
std::uint32_t avi_part_entry_offset(const avi_stream* stream, int i);

// Bytes of the stream's standard index for the open part with `added` more entries; 0 when
// it would have no entry (no index is written then).
std::int64_t avi_part_index_bytes(const avi_stream* stream, int added);
// Names the open part's standard indexes, written one per stream from `at` on at the end of its
// movi list, in the streams' super indexes, and starts each stream's next part afresh. Returns
// where the indexes end.
std::int64_t avi_enter_part_indexes(avi_file* AVI, std::int64_t at);
// Appends the stream's standard index chunk for the open part, whose base is `base`.
void avi_append_part_index(const avi_stream* stream, std::int64_t base,
                           std::vector<unsigned char>* out);
