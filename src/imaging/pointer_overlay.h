#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "imaging/sv_rect.h"

typedef struct _XDisplay Display;

// The mouse pointer as the X server shows it (its image, hotspot and position, read with the
// XFixes extension), drawn into grabbed pixels.
//
// The image is converted once per cursor: Read compares the server's cursor serial with the one
// already held and only takes the position when the cursor is the same, so a pointer that keeps
// its shape costs one small request and a blend of its own few pixels per frame.
//
// Pixels are blended "over" with the pointer's alpha; the image is premultiplied, as X gives it.
// Targets are 8-bit blue, green, red buffers of 3 or 4 bytes per pixel (the fourth byte is left
// as it is), with any row step; they show a region of the screen, and only the part of the
// pointer inside that region is drawn.
class CPointerOverlay {
public:
    CPointerOverlay() = default;

    // Reads the pointer of display's X server: image (when its serial changed) and position.
    // False with *error set when the server has no XFixes or does not answer; what was held
    // before is kept.
    bool Read(Display* display, std::string* error);

    // Takes a pointer image in the XFixes layout: width x height values, rows top-down, each
    // 0xAARRGGBB premultiplied by its alpha in the low 32 bits. Nothing is converted when serial
    // is that of the image already held.
    void SetImage(unsigned long serial, int width, int height, int xhot, int yhot,
                  const unsigned long* argb);
    // Where the hotspot is, in screen coordinates.
    void SetPosition(int x, int y);

    bool HasImage() const { return m_bHasImage; }
    // The server's number for the cursor image held; a new shape has a new number.
    unsigned long Serial() const { return m_nSerial; }
    // The screen rectangle the pointer image covers now (empty without an image).
    CSvRect ScreenArea() const;

    // Blends the pointer into pixels, a width x height buffer of bytesPerPixel (3 or 4) bytes per
    // pixel and rowStep bytes per row whose top-left pixel is the screen pixel (region.left,
    // region.top). Nothing is drawn where the pointer lies outside region or the buffer.
    void Blend(const CSvRect& region, uint8_t* pixels, int width, int height, size_t rowStep,
               int bytesPerPixel) const;
    // The same for a CV_8UC3 or CV_8UC4 matrix; other types are left unchanged.
    void Blend(const CSvRect& region, cv::Mat& target) const;

private:
    bool m_bHasImage = false;
    unsigned long m_nSerial = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nHotX = 0;
    int m_nHotY = 0;
    int m_nX = 0;
    int m_nY = 0;
    std::vector<uint8_t> m_pixels;  // blue, green, red, alpha (premultiplied), rows top-down
};
