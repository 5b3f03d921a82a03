// Little-endian stores and loads, and chunk id comparison, for the AVI library.
#pragma once

#include <cstdint>

void avi_store_u32le(unsigned char* at, std::uint32_t value);
void avi_store_u16le(unsigned char* at, std::uint32_t value);  // stores the low 16 bits
std::uint32_t avi_load_u32le(const unsigned char* at);
std::uint32_t avi_load_u16le(const unsigned char* at);

// Compares the first count characters of two chunk ids without regard to case.
bool avi_same_id(const void* a, const void* b, int count);

// A chunk's length rounded up to the even size it occupies in the file.
inline std::int64_t avi_padded_length(std::int64_t length) {
    return length + (length & 1);
}
