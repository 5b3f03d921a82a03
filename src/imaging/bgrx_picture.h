#pragma once

#include <cstddef>
#include <cstdint>

// A 32-bit picture in memory that someone else owns (a shared-memory segment, a buffer of the
// screen-cast stream): per pixel the bytes blue, green, red and one byte that means nothing,
// rows top-down, `stride` bytes apart. Whoever is handed one may draw into it (the mouse
// pointer) but not keep it past the owner's next grab.
struct CBgrxPicture {
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    size_t stride = 0;

    bool IsEmpty() const { return pixels == nullptr || width <= 0 || height <= 0; }
};
