// Whole-buffer reads and writes on a file descriptor, riding out short transfers and
// interrupted calls.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes all n bytes at the current position; false (errno set) if that fails.
bool avi_write_all(int fd, const void* data, std::size_t n);
// Writes all n bytes at an absolute offset, leaving the current position where it was.
bool avi_write_all_at(int fd, std::int64_t offset, const void* data, std::size_t n);
// Reads all n bytes at the current position; false if fewer could be read (at the end
// of the file errno is EIO).
bool avi_read_all(int fd, void* buffer, std::size_t n);
// Seeks to an absolute offset and reads all n bytes there.
bool avi_read_at(int fd, std::int64_t offset, void* buffer, std::size_t n);
bool avi_seek_to(int fd, std::int64_t offset);
