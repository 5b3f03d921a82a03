#include "encoding/avi/avi_index.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "encoding/avi/avi_bytes.h"

static bool avi_grow_index(avi_file* AVI) {
    if (AVI->index_capacity > INT_MAX - AVI_INDEX_GROWTH) {
        return false;
    }
    int capacity = AVI->index_capacity + AVI_INDEX_GROWTH;
    void* grown = std::realloc(AVI->index, std::size_t(capacity) * AVI_INDEX_ENTRY_BYTES);
    if (grown == nullptr) {
        return false;
    }
    AVI->index = static_cast<unsigned char*>(grown);
    AVI->index_capacity = capacity;
    return true;
}

int avi_push_index_entry(avi_file* AVI, const char* id, std::uint32_t flags, std::uint32_t offset,
                         std::uint32_t length) {
    if (AVI->index_count >= AVI->index_capacity && !avi_grow_index(AVI)) {
        AVI_last_error = AVI_ERR_NO_MEM;
        return -1;
    }
    unsigned char* entry = AVI->index + std::size_t(AVI->index_count) * AVI_INDEX_ENTRY_BYTES;
    std::memcpy(entry, id, 4);
    avi_store_u32le(entry + 4, flags);
    avi_store_u32le(entry + 8, offset);
    avi_store_u32le(entry + 12, length);
    ++AVI->index_count;
    return 0;
}
