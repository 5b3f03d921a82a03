#pragma once
// A mouse pointer of known pixels: a 10 x 12 opaque block, red in its left five columns and
// blue in its right five, in a 16 x 16 cursor whose hotspot is (3, 4). It is shown over the
// given windows (the root window's shows through every window that defines none).

#include <X11/Xlib.h>

#include <opencv2/imgproc.hpp>

#include <vector>

class CKnownPointer {
public:
    static constexpr int kHotX = 3, kHotY = 4;

    CKnownPointer(Display* display, std::vector<Window> windows)
        : m_display(display), m_windows(std::move(windows)) {
        unsigned char source[32] = {}, mask[32] = {};  // rows of 2 bytes, leftmost pixel in bit 0
        for (int row = 0; row < 12; ++row) {
            source[row * 2] = 0x1F;
            mask[row * 2] = 0xFF;
            mask[row * 2 + 1] = 0x03;
        }
        const Window root = DefaultRootWindow(display);
        Pixmap sourceBits =
            XCreateBitmapFromData(display, root, reinterpret_cast<char*>(source), 16, 16);
        Pixmap maskBits =
            XCreateBitmapFromData(display, root, reinterpret_cast<char*>(mask), 16, 16);
        XColor red{}, blue{};
        red.red = 0xFFFF;
        blue.blue = 0xFFFF;
        m_cursor = XCreatePixmapCursor(display, sourceBits, maskBits, &red, &blue, kHotX, kHotY);
        XFreePixmap(display, sourceBits);
        XFreePixmap(display, maskBits);
        for (Window window : m_windows) {
            XDefineCursor(display, window, m_cursor);
        }
    }
    CKnownPointer(const CKnownPointer&) = delete;
    CKnownPointer& operator=(const CKnownPointer&) = delete;
    ~CKnownPointer() {
        for (Window window : m_windows) {
            XUndefineCursor(m_display, window);
        }
        XFreeCursor(m_display, m_cursor);
        XSync(m_display, False);
    }

    void MoveTo(int x, int y) {
        XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, x, y);
        XSync(m_display, False);
    }

    // The pointer's colour at screen pixel (x, y) while its hotspot is at (hotX, hotY); false
    // where it does not cover that pixel.
    static bool PixelAt(int x, int y, int hotX, int hotY, cv::Vec3b* colour) {
        const int cx = x - (hotX - kHotX), cy = y - (hotY - kHotY);
        if (cx < 0 || cx >= 10 || cy < 0 || cy >= 12) {
            return false;
        }
        *colour = cx < 5 ? cv::Vec3b(0, 0, 255) : cv::Vec3b(255, 0, 0);
        return true;
    }

    // Draws the pointer with its hotspot at (x, y) into image, which shows the screen from
    // (left, top).
    static void DrawInto(cv::Mat& image, int left, int top, int x, int y) {
        const int x0 = x - kHotX - left, y0 = y - kHotY - top;
        cv::rectangle(image, cv::Rect(x0, y0, 5, 12), cv::Scalar(0, 0, 255), cv::FILLED);
        cv::rectangle(image, cv::Rect(x0 + 5, y0, 5, 12), cv::Scalar(255, 0, 0), cv::FILLED);
    }

private:
    Display* m_display;
    std::vector<Window> m_windows;
    Cursor m_cursor = 0;
};
