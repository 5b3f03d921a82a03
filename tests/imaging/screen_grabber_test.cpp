// Runs on its own bare X server (see CMakeLists.txt): a window covering the whole screen is
// painted with a pattern whose every pixel is known from its screen position, so any grab can
// be checked pixel by pixel.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "imaging/screen_grabber.h"

namespace {

struct Bgr {
    uint8_t b, g, r;
};

Bgr Pattern(int x, int y) {
    return Bgr{static_cast<uint8_t>(x * 3 + 17), static_cast<uint8_t>(y * 5 + 101),
               static_cast<uint8_t>(x / 7 + y / 11 + 200)};
}

class PatternScreen : public testing::Environment {
public:
    void SetUp() override {
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr) << "these tests need an X server";
        const int screen = DefaultScreen(m_display);
        width = DisplayWidth(m_display, screen);
        height = DisplayHeight(m_display, screen);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = BlackPixel(m_display, screen);
        Window window = XCreateWindow(m_display, RootWindow(m_display, screen), 0, 0, width, height,
                                      0, CopyFromParent, InputOutput, CopyFromParent,
                                      CWOverrideRedirect | CWBackPixel, &attributes);
        XSelectInput(m_display, window, ExposureMask);
        XMapRaised(m_display, window);
        XEvent event;
        XWindowEvent(m_display, window, ExposureMask, &event);

        XImage* image = XCreateImage(m_display, DefaultVisual(m_display, screen),
                                     DefaultDepth(m_display, screen), ZPixmap, 0, nullptr, width,
                                     height, 32, 0);
        image->data = static_cast<char*>(std::malloc(image->bytes_per_line * height));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Bgr p = Pattern(x, y);
                XPutPixel(image, x, y, (p.r << 16) | (p.g << 8) | p.b);
            }
        }
        XPutImage(m_display, window, DefaultGC(m_display, screen), image, 0, 0, 0, 0, width,
                  height);
        XSync(m_display, False);
        XDestroyImage(image);
    }
    void TearDown() override {
        if (m_display != nullptr) {
            XCloseDisplay(m_display);
        }
    }
    static int width;
    static int height;

private:
    Display* m_display = nullptr;
};

int PatternScreen::width = 0;
int PatternScreen::height = 0;

// Checks image against the pattern at rect; black where rect is off the screen.
::testing::AssertionResult ShowsPattern(const CSvImage& image, const CSvRect& rect) {
    if (image.GetWidth() != rect.Width() || image.GetHeight() != rect.Height() ||
        image.GetChannels() != 3) {
        return ::testing::AssertionFailure() << "wrong size";
    }
    for (int y = 0; y < rect.Height(); ++y) {
        for (int x = 0; x < rect.Width(); ++x) {
            const int sx = rect.left + x, sy = rect.top + y;
            const bool on =
                sx >= 0 && sy >= 0 && sx < PatternScreen::width && sy < PatternScreen::height;
            const Bgr want = on ? Pattern(sx, sy) : Bgr{0, 0, 0};
            const uint8_t* got = image.GetRow(y) + x * 3;  // blue first
            if (got[0] != want.b || got[1] != want.g || got[2] != want.r) {
                return ::testing::AssertionFailure() << "wrong pixel at screen " << sx << "," << sy;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

class ScreenGrabber : public testing::TestWithParam<CScreenGrabber::Transfer> {};

INSTANTIATE_TEST_SUITE_P(Transfers, ScreenGrabber,
                         testing::Values(CScreenGrabber::Transfer::kAuto,
                                         CScreenGrabber::Transfer::kNoSharedMemory),
                         [](const auto& info) {
                             return info.param == CScreenGrabber::Transfer::kAuto ? "SharedMemory"
                                                                                  : "Plain";
                         });

}  // namespace

TEST_P(ScreenGrabber, GivesTheScreenPixelsTopRowFirstWithPaddedRows) {
    CScreenGrabber grabber(GetParam());
    ASSERT_TRUE(grabber.IsAvailable()) << grabber.GetLastError();
    EXPECT_EQ(grabber.UsesSharedMemory(), GetParam() == CScreenGrabber::Transfer::kAuto);
    CSvImage image;
    for (auto [width, step] : {std::pair{1, 4}, {4, 12}, {5, 16}, {64, 192}}) {
        const CSvRect rect{100, 50, 100 + width, 98};
        grabber.GrabImage(rect, &image);  // replaces the image before
        EXPECT_EQ(image.GetRowStep(), step) << width;
        EXPECT_TRUE(ShowsPattern(image, rect)) << width;
    }
    const CSvRect screen{0, 0, PatternScreen::width, PatternScreen::height};
    grabber.GrabImage(screen, &image);
    EXPECT_TRUE(ShowsPattern(image, screen));
}

TEST_P(ScreenGrabber, RectanglesOverTheEdgesAreBlackOutsideTheScreen) {
    const int w = PatternScreen::width, h = PatternScreen::height;
    const CSvRect rects[] = {
        {-5, 10, 6, 20},           // over the left edge
        {30, -7, 40, 3},           // over the top edge
        {w - 4, 200, w + 5, 210},  // over the right edge
        {500, h - 2, 510, h + 6},  // over the bottom edge
        {-3, -3, w + 3, h + 3},    // round the whole screen
        {w + 10, 0, w + 20, 10},   // wholly off the screen
    };
    CScreenGrabber grabber(GetParam());
    for (const CSvRect& rect : rects) {
        CSvImage image;
        grabber.GrabImage(rect, &image);
        EXPECT_TRUE(ShowsPattern(image, rect)) << rect.left << "," << rect.top;
    }
    cv::Mat bitmap;  // the bitmap: same pixels with opaque alpha, black outside
    grabber.GrabBitmap(CSvRect{w - 2, 5, w + 1, 6}, &bitmap);
    ASSERT_EQ(bitmap.type(), CV_8UC4);
    ASSERT_EQ(bitmap.size(), cv::Size(3, 1));
    const Bgr p = Pattern(w - 1, 5);
    EXPECT_EQ(bitmap.at<cv::Vec4b>(0, 1), cv::Vec4b(p.b, p.g, p.r, 255));
    EXPECT_EQ(bitmap.at<cv::Vec4b>(0, 2), cv::Vec4b(0, 0, 0, 255));
}

TEST_P(ScreenGrabber, EmptyOrInvertedRectanglesEmptyTheTarget) {
    CScreenGrabber grabber(GetParam());
    for (const CSvRect& rect : {CSvRect{10, 10, 10, 20}, CSvRect{20, 20, 10, 10},
                                CSvRect{-2147483647 - 1, 0, 2147483647, 5}}) {
        CSvImage image;
        image.Create(4, 4, 3);
        grabber.GrabImage(rect, &image);
        EXPECT_EQ(image.HasImage(), 0);
        EXPECT_FALSE(grabber.GetLastError().empty());
        cv::Mat bitmap(2, 2, CV_8UC4);
        grabber.GrabBitmap(rect, &bitmap);
        EXPECT_TRUE(bitmap.empty());
    }
    CSvImage image;  // still works afterwards
    grabber.GrabImage(CSvRect{0, 0, 2, 2}, &image);
    EXPECT_TRUE(ShowsPattern(image, CSvRect{0, 0, 2, 2}));
    EXPECT_TRUE(grabber.GetLastError().empty());
}

TEST_P(ScreenGrabber, TwoThreadsGrabAtOnce) {
    auto grabMany = [](CSvRect rect, int* good) {
        for (int i = 0; i < 40; ++i) {
            CScreenGrabber grabber(GetParam());  // one per grab, as the callers do
            CSvImage image;
            grabber.GrabImage(rect, &image);
            *good += ShowsPattern(image, rect) ? 1 : 0;
        }
    };
    int goodA = 0, goodB = 0;
    std::thread a(grabMany, CSvRect{0, 0, 640, 480}, &goodA);
    std::thread b(grabMany, CSvRect{-10, 300, 300, 700}, &goodB);
    a.join();
    b.join();
    EXPECT_EQ(goodA + goodB, 80);
}

TEST(ScreenGrabberSetup, ImageMagickSeesTheSameScreen) {
    CScreenGrabber grabber;
    CSvImage image;
    grabber.GrabImage(CSvRect{1234, 567, 1250, 575}, &image);
    ASSERT_EQ(image.GetWidth(), 16);
    std::string rgb(16 * 8 * 3 + 1, '\0');  // red, green, blue
    FILE* pipe =
        popen("/usr/bin/import -silent -window root -crop 16x8+1234+567 -depth 8 rgb:-", "r");
    ASSERT_NE(pipe, nullptr);
    rgb.resize(fread(rgb.data(), 1, rgb.size(), pipe));
    pclose(pipe);
    ASSERT_EQ(rgb.size(), 16u * 8u * 3u);
    for (int i = 0; i < 16 * 8 * 3; ++i) {
        EXPECT_EQ(image.GetRow(i / 48)[i % 48 - i % 3 + 2 - i % 3], static_cast<uint8_t>(rgb[i]));
    }
}

int g_foreignErrors = 0;
int CountForeignError(Display*, XErrorEvent*) {
    ++g_foreignErrors;
    return 0;
}

// The grabber's X error handler is process-wide: errors of other connections must still reach
// the handler that was there before it.
TEST(ScreenGrabberSetup, ErrorsOfOtherConnectionsReachTheirOwnHandler) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XErrorHandler before = XSetErrorHandler(CountForeignError);
    g_foreignErrors = 0;
    {
        CScreenGrabber grabber;  // puts its handler in front of ours
        CSvImage image;
        grabber.GrabImage(CSvRect{-10, -10, 10, 10}, &image);
        EXPECT_TRUE(ShowsPattern(image, CSvRect{-10, -10, 10, 10}));
    }
    // Off the root window: BadMatch, which must come to our handler, not end the process.
    XImage* refused = XGetImage(other, DefaultRootWindow(other), PatternScreen::width - 5, 0, 10,
                                10, AllPlanes, ZPixmap);
    EXPECT_EQ(refused, nullptr);
    XSync(other, False);
    EXPECT_EQ(g_foreignErrors, 1);
    XSetErrorHandler(before);
    XCloseDisplay(other);
}

// Changes DISPLAY for a while and puts it back.
TEST(ScreenGrabberNoDisplay, WithoutADisplayTheGrabberSaysSoAndEmptiesTheTarget) {
    const std::string saved = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    {
        CScreenGrabber grabber;
        EXPECT_FALSE(grabber.IsAvailable());
        EXPECT_NE(grabber.GetLastError().find("DISPLAY"), std::string::npos);
        CSvImage image;
        image.Create(2, 2, 3);
        grabber.GrabImage(CSvRect{0, 0, 4, 4}, &image);
        EXPECT_EQ(image.HasImage(), 0);
        EXPECT_NE(grabber.GetLastError().find("DISPLAY"), std::string::npos);
    }
    setenv("DISPLAY", ":4321", 1);  // nothing listens there
    {
        CScreenGrabber grabber;
        EXPECT_FALSE(grabber.IsAvailable());
        EXPECT_NE(grabber.GetLastError().find(":4321"), std::string::npos);
        cv::Mat bitmap;
        grabber.GrabBitmap(CSvRect{0, 0, 4, 4}, &bitmap);
        EXPECT_TRUE(bitmap.empty());
    }
    setenv("DISPLAY", saved.c_str(), 1);
    CScreenGrabber again;  // back on the real display
    EXPECT_TRUE(again.IsAvailable());
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new PatternScreen);
    return RUN_ALL_TESTS();
}
