// Runs on its own bare X server (see CMakeLists.txt): a window covering the whole screen is
// painted with a pattern whose every pixel is known from its screen position, so any grab can
// be checked pixel by pixel.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/known_pointer.h"
#include "common/x_windows.h"
#include "imaging/screen_grabber.h"
#include "platform/window_under_cursor.h"

namespace {

int g_width = 0, g_height = 0;
// Blue, green and red of the screen's pixels: where each lies and its largest value (255 on
// a 24-bit screen, 1023 on a 30-bit one).
int g_shift[3] = {0, 8, 16};
unsigned long g_max[3] = {255, 255, 255};

// The pattern's value of one channel at a screen position, in the screen's own levels.
unsigned long Raw(int x, int y, int channel) {
    const unsigned long values[3] = {unsigned(x * 3 + 17), unsigned(y * 5 + 101),
                                     unsigned(x / 7 + y / 11 + 200)};
    return values[channel] % (g_max[channel] + 1);
}

// Blue, green, red of the pattern at a screen position in 8-bit levels, each the nearest to
// the screen's value; black off the screen.
cv::Vec3b Pattern(int x, int y) {
    if (x < 0 || y < 0 || x >= g_width || y >= g_height) {
        return {0, 0, 0};
    }
    cv::Vec3b p;
    for (int c = 0; c < 3; ++c) {
        p[c] = uint8_t(std::lround(Raw(x, y, c) * 255.0 / g_max[c]));
    }
    return p;
}

class PatternScreen : public testing::Environment {
public:
    void SetUp() override {
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr) << "these tests need an X server";
        const int screen = DefaultScreen(display_);
        g_width = DisplayWidth(display_, screen);
        g_height = DisplayHeight(display_, screen);
        const Visual* visual = DefaultVisual(display_, screen);
        const unsigned long masks[3] = {visual->blue_mask, visual->green_mask, visual->red_mask};
        for (int c = 0; c < 3; ++c) {
            g_shift[c] = __builtin_ctzl(masks[c]);
            g_max[c] = masks[c] >> g_shift[c];
        }
        // No window manager: the window lies where it is put.
        Window window = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, g_width,
                                            g_height, 0, 0, 0);
        XSelectInput(display_, window, ExposureMask);
        XMapRaised(display_, window);
        XEvent event;
        XWindowEvent(display_, window, ExposureMask, &event);
        XImage* image =
            XCreateImage(display_, DefaultVisual(display_, screen), DefaultDepth(display_, screen),
                         ZPixmap, 0, nullptr, g_width, g_height, 32, 0);
        image->data = static_cast<char*>(std::malloc(image->bytes_per_line * g_height));
        for (int y = 0; y < g_height; ++y) {
            for (int x = 0; x < g_width; ++x) {
                unsigned long pixel = 0;
                for (int c = 0; c < 3; ++c) {
                    pixel |= Raw(x, y, c) << g_shift[c];
                }
                XPutPixel(image, x, y, pixel);
            }
        }
        XPutImage(display_, window, DefaultGC(display_, screen), image, 0, 0, 0, 0, g_width,
                  g_height);
        XSync(display_, False);
        XDestroyImage(image);
    }
    void TearDown() override { XCloseDisplay(display_); }

private:
    Display* display_ = nullptr;
};

// The first three bytes of each pixel of pixels (3 or 4 channels) are expected(x, y) of the
// screen pixel under it, when pixels shows rect.
template <typename Expected>
testing::AssertionResult Shows(const cv::Mat& pixels, const CSvRect& rect,
                               const Expected& expected) {
    if (pixels.cols != rect.Width() || pixels.rows != rect.Height()) {
        return testing::AssertionFailure() << "wrong size";
    }
    for (int y = 0; y < rect.Height(); ++y) {
        for (int x = 0; x < rect.Width(); ++x) {
            const uint8_t* pixel = pixels.ptr<uint8_t>(y) + x * pixels.channels();
            if (cv::Vec3b(pixel) != expected(rect.left + x, rect.top + y)) {
                return testing::AssertionFailure() << "wrong pixel at " << x << "," << y;
            }
        }
    }
    return testing::AssertionSuccess();
}

// The image shows the pattern at rect, top row first, blue first, in rows padded to 4 bytes.
testing::AssertionResult ShowsPattern(const CSvImage& image, const CSvRect& rect) {
    if (image.GetWidth() != rect.Width() || image.GetHeight() != rect.Height() ||
        image.m_pImage->type() != CV_8UC3 || image.GetRowStep() != ((rect.Width() * 3 + 3) & ~3)) {
        return testing::AssertionFailure() << "wrong size or row step";
    }
    return Shows(*image.m_pImage, rect, Pattern);
}

class ScreenGrabber : public testing::TestWithParam<CScreenGrabber::Transfer> {};

INSTANTIATE_TEST_SUITE_P(Transfers, ScreenGrabber,
                         testing::Values(CScreenGrabber::Transfer::kAuto,
                                         CScreenGrabber::Transfer::kNoSharedMemory));

}  // namespace

TEST_P(ScreenGrabber, GivesTheScreenPixelsAndBlackOffTheScreen) {
    CScreenGrabber grabber(GetParam());
    ASSERT_TRUE(grabber.IsAvailable()) << grabber.GetLastError();
    EXPECT_EQ(grabber.UsesSharedMemory(), GetParam() == CScreenGrabber::Transfer::kAuto);
    const int w = g_width, h = g_height;
    // Row steps 4, 12 and 16; then a size first inside the screen, then over its edge into the
    // same image: black outside.
    const CSvRect rects[] = {{100, 50, 101, 98},        {100, 50, 104, 98},
                             {100, 50, 105, 98},        {0, 0, w, h},
                             {-5, 10, 6, 20},           {30, -7, 40, 3},
                             {w - 13, 200, w - 4, 210}, {w - 4, 200, w + 5, 210},
                             {500, h - 2, 510, h + 6},  {-3, -3, w + 3, h + 3},
                             {w + 10, 0, w + 20, 10}};
    CSvImage image;
    for (const CSvRect& rect : rects) {
        grabber.GrabImage(rect, &image);  // replaces the image before
        EXPECT_TRUE(ShowsPattern(image, rect)) << rect.left << "," << rect.top;
    }
    // An image of the grab's size but 16 bits deep is replaced, not written into.
    const cv::Mat deep(10, 12, CV_16UC3, cv::Scalar(1000, 2000, 3000));
    image.CopyFrom(&deep);
    grabber.GrabImage(CSvRect{5, 6, 17, 16}, &image);
    EXPECT_TRUE(ShowsPattern(image, CSvRect{5, 6, 17, 16}));

    cv::Mat bitmap;  // the bitmap: same pixels with opaque alpha, black outside
    grabber.GrabBitmap(CSvRect{w - 2, 5, w + 1, 6}, &bitmap);
    ASSERT_EQ(bitmap.type(), CV_8UC4);
    ASSERT_EQ(bitmap.size(), cv::Size(3, 1));
    const cv::Vec3b p = Pattern(w - 1, 5);
    EXPECT_EQ(bitmap.at<cv::Vec4b>(0, 1), cv::Vec4b(p[0], p[1], p[2], 255));
    EXPECT_EQ(bitmap.at<cv::Vec4b>(0, 2), cv::Vec4b(0, 0, 0, 255));

    for (const CSvRect& rect : {CSvRect{10, 10, 10, 20}, CSvRect{20, 20, 10, 10},
                                CSvRect{-2147483647 - 1, 0, 2147483647, 5}}) {
        image.Create(4, 4, 3);  // empty or inverted: the target is emptied
        grabber.GrabImage(rect, &image);
        EXPECT_EQ(image.HasImage(), 0);
        EXPECT_FALSE(grabber.GetLastError().empty());
        grabber.GrabBitmap(rect, &bitmap);
        EXPECT_TRUE(bitmap.empty());
    }
    grabber.GrabImage(CSvRect{0, 0, 2, 2}, &image);  // still works afterwards
    EXPECT_TRUE(ShowsPattern(image, CSvRect{0, 0, 2, 2}));
}

int g_foreignErrors = 0;

// Two threads grab at once, each with a grabber per grab as the callers do, while a third looks
// up windows. Our X error handler is process-wide: errors of other connections must still
// reach the handler that was there before it, not end the process.
TEST_P(ScreenGrabber, ThreadsGrabAtOnceAndOtherConnectionsKeepTheirErrorHandler) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    g_foreignErrors = 0;
    XErrorHandler before = XSetErrorHandler([](Display*, XErrorEvent*) {
        ++g_foreignErrors;
        return 0;
    });
    std::atomic<bool> grabbing{true};
    std::thread lookUps([&] {
        for (int x, y, w, h; grabbing;) {
            WindowRectUnderCursor(0, &x, &y, &w, &h);
        }
    });
    auto grabMany = [](CSvRect rect, int* good) {  // both rects reach over the screen's edge
        for (int i = 0; i < 50; ++i) {
            CScreenGrabber grabber(GetParam());  // puts its handler in front of ours
            CSvImage image;
            grabber.GrabImage(rect, &image);
            *good += ShowsPattern(image, rect) ? 1 : 0;
        }
    };
    int goodA = 0, goodB = 0;
    std::thread a(grabMany, CSvRect{-10, -10, 630, 470}, &goodA);
    std::thread b(grabMany, CSvRect{-10, 300, 300, 700}, &goodB);
    a.join();
    b.join();
    grabbing = false;
    lookUps.join();
    EXPECT_EQ(goodA + goodB, 100);
    // Off the root window: BadMatch.
    EXPECT_EQ(
        XGetImage(other, DefaultRootWindow(other), g_width - 5, 0, 10, 10, AllPlanes, ZPixmap),
        nullptr);
    XSync(other, False);
    EXPECT_EQ(g_foreignErrors, 1);
    XSetErrorHandler(before);
    XCloseDisplay(other);
}

TEST(ScreenGrabberSetup, WithoutADisplayTheGrabberSaysSoAndEmptiesTheTarget) {
    const std::string saved = std::getenv("DISPLAY");
    for (const char* display : {static_cast<const char*>(nullptr), ":4321"}) {  // none; no server
        display ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
        CScreenGrabber grabber;
        EXPECT_FALSE(grabber.IsAvailable());
        EXPECT_NE(grabber.GetLastError().find(display ? display : "DISPLAY"), std::string::npos);
        CSvImage image;
        image.Create(2, 2, 3);
        grabber.GrabImage(CSvRect{0, 0, 4, 4}, &image);
        EXPECT_EQ(image.HasImage(), 0);
        cv::Mat bitmap(2, 2, CV_8UC4);
        grabber.GrabBitmap(CSvRect{0, 0, 4, 4}, &bitmap);
        EXPECT_TRUE(bitmap.empty());
    }
    setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_TRUE(CScreenGrabber().IsAvailable());  // back on the real display
}

TEST(ScreenGrabberPointer, IsDrawnWhereItLiesOnlyWhenAsked) {
    CXWindows x;  // the known pointer on the root window, which the pattern window shows through
    CKnownPointer pointer(x.display(), {DefaultRootWindow(x.display())});
    int hotX = 400, hotY = 300;  // its image covers 397..406 x 296..307
    const auto withPointer = [&](int sx, int sy) {
        cv::Vec3b colour;
        return CKnownPointer::PixelAt(sx, sy, hotX, hotY, &colour) ? colour : Pattern(sx, sy);
    };
    pointer.MoveTo(hotX, hotY);
    const CSvRect whole{350, 260, 450, 340}, cutOnAllSides{399, 299, 404, 303},
        cutLeftAndTop{403, 305, 420, 320}, away{600, 600, 700, 700};
    CScreenGrabber plain;  // off by default
    CScreenGrabber pointerOn;
    pointerOn.SetIncludePointer(true);
    CSvImage image;
    for (const CSvRect& rect : {whole, cutOnAllSides, cutLeftAndTop, away}) {
        plain.GrabImage(rect, &image);
        EXPECT_TRUE(ShowsPattern(image, rect)) << rect.left << "," << rect.top;
        pointerOn.GrabImage(rect, &image);
        EXPECT_TRUE(Shows(*image.m_pImage, rect, withPointer)) << rect.left << "," << rect.top;
        EXPECT_EQ(pointerOn.GetLastError(), "");
    }
    cv::Mat bitmap;  // the clipboard's 32-bit grab: the same, and still opaque
    pointerOn.GrabBitmap(whole, &bitmap);
    EXPECT_TRUE(Shows(bitmap, whole, withPointer));
    cv::Mat alpha;
    cv::extractChannel(bitmap, alpha, 3);
    EXPECT_EQ(cv::countNonZero(alpha != 255), 0);

    pointer.MoveTo(hotX = 650, hotY = 650);  // the same cursor elsewhere: only its place is new
    for (const CSvRect& rect : {whole, away}) {
        CScreenGrabber grabber;  // one per grab, as the recording does
        grabber.SetIncludePointer(true);
        grabber.GrabImage(rect, &image);
        EXPECT_TRUE(Shows(*image.m_pImage, rect, withPointer)) << rect.left << "," << rect.top;
    }
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new PatternScreen);
    return RUN_ALL_TESTS();
}
