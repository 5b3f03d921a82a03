#include "imaging/pointer_overlay.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>

namespace {

// x / 255 rounded to the nearest, for 0 <= x <= 255 * 255.
inline unsigned DivideBy255(unsigned x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// One premultiplied blue-green-red-alpha pixel over one target pixel (its first three bytes).
inline void BlendPixel(const uint8_t* pointer, uint8_t* target) {
    const unsigned alpha = pointer[3];
    if (alpha == 0) {
        return;
    }
    if (alpha == 255) {
        target[0] = pointer[0];
        target[1] = pointer[1];
        target[2] = pointer[2];
        return;
    }
    const unsigned keep = 255 - alpha;
    for (int c = 0; c < 3; ++c) {
        // A colour larger than its alpha is not premultiplied; it saturates instead of wrapping.
        target[c] =
            static_cast<uint8_t>(std::min(255u, pointer[c] + DivideBy255(target[c] * keep)));
    }
}

}  // namespace

bool CPointerOverlay::Read(Display* display, std::string* error) {
    if (display == nullptr) {
        *error = "no X display to read the mouse pointer from";
        return false;
    }
    XFixesCursorImage* cursor = XFixesGetCursorImage(display);
    if (cursor == nullptr) {
        *error = "the X server gives no mouse pointer image (XFixes extension missing)";
        return false;
    }
    SetImage(cursor->cursor_serial, cursor->width, cursor->height, cursor->xhot, cursor->yhot,
             cursor->pixels);
    SetPosition(cursor->x, cursor->y);
    XFree(cursor);
    return true;
}

void CPointerOverlay::SetImage(unsigned long serial, int width, int height, int xhot, int yhot,
                               const unsigned long* argb) {
    if (m_bHasImage && serial == m_nSerial) {
        return;
    }
    width = std::max(width, 0);
    height = std::max(height, 0);
    m_pixels.resize(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        const unsigned long value = argb[i];
        m_pixels[i * 4 + 0] = static_cast<uint8_t>(value);
        m_pixels[i * 4 + 1] = static_cast<uint8_t>(value >> 8);
        m_pixels[i * 4 + 2] = static_cast<uint8_t>(value >> 16);
        m_pixels[i * 4 + 3] = static_cast<uint8_t>(value >> 24);
    }
    m_nSerial = serial;
    m_nWidth = width;
    m_nHeight = height;
    m_nHotX = xhot;
    m_nHotY = yhot;
    m_bHasImage = true;
}

void CPointerOverlay::SetPosition(int x, int y) {
    m_nX = x;
    m_nY = y;
}

CSvRect CPointerOverlay::ScreenArea() const {
    if (!m_bHasImage) {
        return CSvRect{};
    }
    const int left = m_nX - m_nHotX;
    const int top = m_nY - m_nHotY;
    return CSvRect{left, top, left + m_nWidth, top + m_nHeight};
}

void CPointerOverlay::Blend(const CSvRect& region, uint8_t* pixels, int width, int height,
                            size_t rowStep, int bytesPerPixel) const {
    if (pixels == nullptr || (bytesPerPixel != 3 && bytesPerPixel != 4)) {
        return;
    }
    // Everything in buffer coordinates, computed wide: the region may lie anywhere.
    const CSvRect area = ScreenArea();
    const long long originX = static_cast<long long>(area.left) - region.left;
    const long long originY = static_cast<long long>(area.top) - region.top;
    const long long right = std::min<long long>(width, region.Width());
    const long long bottom = std::min<long long>(height, region.Height());
    const long long x0 = std::max<long long>(originX, 0);
    const long long y0 = std::max<long long>(originY, 0);
    const long long x1 = std::min<long long>(originX + m_nWidth, right);
    const long long y1 = std::min<long long>(originY + m_nHeight, bottom);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    for (long long y = y0; y < y1; ++y) {
        const uint8_t* from = m_pixels.data() + ((y - originY) * m_nWidth + (x0 - originX)) * 4;
        uint8_t* to = pixels + static_cast<size_t>(y) * rowStep + x0 * bytesPerPixel;
        for (long long x = x0; x < x1; ++x, from += 4, to += bytesPerPixel) {
            BlendPixel(from, to);
        }
    }
}

void CPointerOverlay::Blend(const CSvRect& region, cv::Mat& target) const {
    if (target.type() != CV_8UC3 && target.type() != CV_8UC4) {
        return;
    }
    Blend(region, target.data, target.cols, target.rows, target.step[0], target.channels());
}
