#include "encoding/avi/avi_bytes.h"

void avi_store_u32le(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void avi_store_u16le(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

std::uint32_t avi_load_u32le(const unsigned char* at) {
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
           std::uint32_t(at[3]) << 24;
}

std::uint32_t avi_load_u16le(const unsigned char* at) {
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8;
}

static unsigned char avi_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool avi_same_id(const void* a, const void* b, int count) {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    for (int i = 0; i < count; ++i) {
        if (avi_lower(x[i]) != avi_lower(y[i])) {
            return false;
        }
    }
    return true;
}
