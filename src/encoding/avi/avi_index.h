// The in-memory idx1 index of an avi_file.
#pragma once

#include <cstdint>

#include "encoding/avi/avi_file.h"

// Appends one entry, growing the buffer by AVI_INDEX_GROWTH entries when it is full.
// -1 with AVI_ERR_NO_MEM (index unchanged) when it cannot grow.
int avi_push_index_entry(avi_file* AVI, const char* id, std::uint32_t flags, std::uint32_t offset,
                         std::uint32_t length);
