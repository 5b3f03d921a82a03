// The pointer blend against a plain per-pixel reference, on 24- and 32-bit buffers with padded
// rows, with the pointer inside the region, across each edge and outside it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "imaging/pointer_overlay.h"

namespace {

constexpr int kCursorW = 4, kCursorH = 3, kHotX = 1, kHotY = 1;
// 0xAARRGGBB, premultiplied; the last value of the middle row is not, and must saturate.
const unsigned long kCursor[kCursorW * kCursorH] = {
    0xFF102030, 0x00000000, 0x80402010, 0x01010000,  //
    0x40203040, 0xFFFFFFFF, 0xC0806040, 0x80FFFFFF,  //
    0x00000000, 0x7F7F7F7F, 0xFE0010FE, 0xFF000000};

const CSvRect kRegion{100, 50, 106, 55};

struct Buffer {
    int bytesPerPixel;
    size_t rowStep;
    std::vector<uint8_t> bytes;

    explicit Buffer(int bpp)
        : bytesPerPixel(bpp),
          rowStep(kRegion.Width() * bpp + 5),  // 5 bytes of row padding
          bytes(rowStep * kRegion.Height()) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i * 37 + 11);
        }
    }
};

// What the buffer holds after the pointer with its hotspot at (hotX, hotY) is drawn.
Buffer Expected(int bpp, int hotX, int hotY) {
    Buffer buffer(bpp);
    for (int y = 0; y < kRegion.Height(); ++y) {
        for (int x = 0; x < kRegion.Width(); ++x) {
            const int cx = kRegion.left + x - (hotX - kHotX);
            const int cy = kRegion.top + y - (hotY - kHotY);
            if (cx < 0 || cy < 0 || cx >= kCursorW || cy >= kCursorH) {
                continue;
            }
            const unsigned long argb = kCursor[cy * kCursorW + cx];
            const double alpha = (argb >> 24) & 0xFF;
            uint8_t* pixel = buffer.bytes.data() + y * buffer.rowStep + x * bpp;
            for (int c = 0; c < 3; ++c) {
                const double value =
                    ((argb >> (8 * c)) & 0xFF) + pixel[c] * (255.0 - alpha) / 255.0;
                pixel[c] = static_cast<uint8_t>(std::min(255.0, std::round(value)));
            }
        }
    }
    return buffer;
}

// A fresh buffer after the overlay drew into it with its hotspot at (hotX, hotY).
std::vector<uint8_t> Drawn(CPointerOverlay& overlay, int bpp, int hotX, int hotY) {
    overlay.SetPosition(hotX, hotY);
    Buffer buffer(bpp);
    overlay.Blend(kRegion, buffer.bytes.data(), kRegion.Width(), kRegion.Height(), buffer.rowStep,
                  bpp);
    return buffer.bytes;
}

}  // namespace

TEST(PointerOverlay, BlendsOverTheRegionClippedAtEveryEdge) {
    CPointerOverlay overlay;
    overlay.SetImage(1, kCursorW, kCursorH, kHotX, kHotY, kCursor);
    const struct {
        int x, y;
    } hotspots[] = {{101, 51},   // the image exactly in the top-left corner
                    {100, 50},   // cut by the left and top edges
                    {105, 54},   // cut by the right and bottom edges
                    {103, 52},   // inside
                    {97, 50},    // all left of the region
                    {103, 57},   // all below it
                    {108, 52},   // all right of it
                    {103, 48}};  // all above it
    for (int bpp : {3, 4}) {
        for (const auto& hot : hotspots) {
            EXPECT_EQ(Drawn(overlay, bpp, hot.x, hot.y), Expected(bpp, hot.x, hot.y).bytes)
                << bpp * 8 << "-bit, hotspot " << hot.x << "," << hot.y;
        }
    }
    // The matrix form: the same pixels in a CV_8UC4 frame, and no change to other types.
    overlay.SetPosition(100, 50);
    Buffer buffer(4);
    cv::Mat frame(kRegion.Height(), kRegion.Width(), CV_8UC4, buffer.bytes.data(), buffer.rowStep);
    overlay.Blend(kRegion, frame);
    EXPECT_EQ(buffer.bytes, Expected(4, 100, 50).bytes);
    cv::Mat gray(kRegion.Height(), kRegion.Width(), CV_8UC1, cv::Scalar(9));
    overlay.Blend(kRegion, gray);
    EXPECT_EQ(cv::countNonZero(gray != 9), 0);
}

TEST(PointerOverlay, ConvertsTheImageOnlyWhenItsSerialChanges) {
    CPointerOverlay overlay;
    EXPECT_FALSE(overlay.HasImage());
    EXPECT_EQ(Drawn(overlay, 3, 103, 52), Buffer(3).bytes);  // nothing to draw yet
    const unsigned long clear[kCursorW * kCursorH] = {};
    overlay.SetImage(5, kCursorW, kCursorH, kHotX, kHotY, kCursor);
    overlay.SetImage(5, kCursorW, kCursorH, kHotX, kHotY, clear);  // same serial: kept
    EXPECT_EQ(Drawn(overlay, 3, 103, 52), Expected(3, 103, 52).bytes);
    EXPECT_EQ(overlay.ScreenArea(), (CSvRect{102, 51, 106, 54}));
    overlay.SetImage(6, kCursorW, kCursorH, kHotX, kHotY, clear);  // a new cursor: taken
    EXPECT_EQ(Drawn(overlay, 3, 103, 52), Buffer(3).bytes);
}
