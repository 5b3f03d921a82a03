#pragma once

#include <cstdint>

#include <opencv2/core.hpp>

#include "imaging/sv_rect.h"

// The 32-bit pixel layouts a screen-sharing stream may deliver, named by their bytes in memory.
enum class StreamPixels { kBgrx, kBgra, kRgbx, kRgba };

// One picture of a stream, as its buffer holds it: rows of `stride` bytes, top row first.
struct CStreamPicture {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    StreamPixels pixels = StreamPixels::kBgrx;
};

// Where a stream's picture lies on the screen, in screen coordinates: its top-left corner and
// the size it covers there. A picture with more pixels than that (a monitor scaled by the
// desktop) is denser than the screen's coordinates.
struct CStreamPlacement {
    int x = 0;
    int y = 0;
    int width = 0;  // 0: as many as the picture has pixels
    int height = 0;
};

// The part of the picture that shows screenRegion (clipped to the picture).
CSvRect StreamRectOf(const CSvRect& screenRegion, const CStreamPlacement& placement,
                     int pictureWidth, int pictureHeight);

// Fills bgrx (CV_8UC4 of screenRegion's size, kept by the caller: blue, green, red, unused)
// with screenRegion of the screen as the picture shows it, resampled when the picture is denser
// than the screen. Parts of the region the stream does not show come out black. False when
// the picture holds no pixels.
bool CopyStreamRegion(const CStreamPicture& picture, const CStreamPlacement& placement,
                      const CSvRect& screenRegion, cv::Mat& bgrx);
