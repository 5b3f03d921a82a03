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
        return ::testing::AssertionFailure() << "size " << image.GetWidth() << "x"
                                             << image.GetHeight() << "x" << image.GetChannels();
    }
    for (int y = 0; y < rect.Height(); ++y) {
        const uint8_t* row = image.GetRow(y);
        for (int x = 0; x < rect.Width(); ++x) {
            const int sx = rect.left + x, sy = rect.top + y;
            const bool on =
                sx >= 0 && sy >= 0 && sx < PatternScreen::width && sy < PatternScreen::height;
            const Bgr want = on ? Pattern(sx, sy) : Bgr{0, 0, 0};
            const uint8_t* got = row + x * 3;
            if (got[0] != want.b || got[1] != want.g || got[2] != want.r) {
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " (screen " << sx << "," << sy << ") is "
                       << int(got[0]) << "/" << int(got[1]) << "/" << int(got[2]) << ", want "
                       << int(want.b) << "/" << int(want.g) << "/" << int(want.r);
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

TEST(ScreenGrabberSetup, SharedMemoryIsUsedWhenTheServerOffersIt) {
    CScreenGrabber shared;
    ASSERT_TRUE(shared.IsAvailable()) << shared.GetLastError();
    EXPECT_TRUE(shared.UsesSharedMemory());
    CScreenGrabber plain(CScreenGrabber::Transfer::kNoSharedMemory);
    EXPECT_FALSE(plain.UsesSharedMemory());
}

TEST_P(ScreenGrabber, GivesTheScreenPixelsTopRowFirstBlueFirst) {
    CScreenGrabber grabber(GetParam());
    CSvImage image;
    const CSvRect rect{100, 50, 164, 98};
    grabber.GrabImage(rect, &image);
    ASSERT_TRUE(ShowsPattern(image, rect)) << grabber.GetLastError();
    const Bgr topLeft = Pattern(100, 50);
    EXPECT_EQ(image.m_pImage->data[0], topLeft.b);
    EXPECT_EQ(image.m_pImage->data[2], topLeft.r);

    const CSvRect screen{0, 0, PatternScreen::width, PatternScreen::height};
    grabber.GrabImage(screen, &image);  // replaces the first image
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
        {-40, -40, -20, -30},      // wholly off, top-left
    };
    CScreenGrabber grabber(GetParam());
    for (const CSvRect& rect : rects) {
        CSvImage image;
        grabber.GrabImage(rect, &image);
        EXPECT_TRUE(ShowsPattern(image, rect))
            << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
    }
}

TEST_P(ScreenGrabber, RowStepsArePaddedToFourBytes) {
    CScreenGrabber grabber(GetParam());
    for (auto [width, step] : {std::pair{1, 4}, {4, 12}, {5, 16}, {641, 1924}}) {
        CSvImage image;
        const CSvRect rect{7, 9, 7 + width, 12};
        grabber.GrabImage(rect, &image);
        EXPECT_EQ(image.GetRowStep(), step) << width;
        EXPECT_TRUE(ShowsPattern(image, rect)) << width;
    }
}

TEST_P(ScreenGrabber, BitmapIsThirtyTwoBitWithOpaqueAlpha) {
    CScreenGrabber grabber(GetParam());
    cv::Mat bitmap;
    const CSvRect rect{PatternScreen::width - 2, 5, PatternScreen::width + 1, 7};
    grabber.GrabBitmap(rect, &bitmap);
    ASSERT_EQ(bitmap.type(), CV_8UC4);
    ASSERT_EQ(bitmap.cols, 3);
    ASSERT_EQ(bitmap.rows, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            const Bgr p = Pattern(rect.left + x, rect.top + y);
            EXPECT_EQ(bitmap.at<cv::Vec4b>(y, x), cv::Vec4b(p.b, p.g, p.r, 255));
        }
        EXPECT_EQ(bitmap.at<cv::Vec4b>(y, 2), cv::Vec4b(0, 0, 0, 255));
    }
}

TEST_P(ScreenGrabber, EmptyOrInvertedRectanglesEmptyTheTarget) {
    CScreenGrabber grabber(GetParam());
    for (const CSvRect& rect :
         {CSvRect{10, 10, 10, 20}, CSvRect{10, 10, 20, 10}, CSvRect{20, 20, 10, 10},
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
    grabber.GrabImage(CSvRect{0, 0, 1, 1}, nullptr);
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
    EXPECT_EQ(goodA, 40);
    EXPECT_EQ(goodB, 40);
}

TEST(ScreenGrabberSetup, ImageMagickSeesTheSameScreen) {
    const CSvRect rect{1234, 567, 1250, 575};
    CScreenGrabber grabber;
    CSvImage image;
    grabber.GrabImage(rect, &image);
    ASSERT_EQ(image.GetWidth(), 16);
    std::string rgb;
    FILE* pipe =
        popen("/usr/bin/import -silent -window root -crop 16x8+1234+567 -depth 8 rgb:-", "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        rgb.append(buffer, n);
    }
    pclose(pipe);
    ASSERT_EQ(rgb.size(), 16u * 8u * 3u);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            const size_t at = (y * 16 + x) * 3;
            EXPECT_EQ(image.GetRed(x, y), static_cast<uint8_t>(rgb[at]));
            EXPECT_EQ(image.GetGreen(x, y), static_cast<uint8_t>(rgb[at + 1]));
            EXPECT_EQ(image.GetBlue(x, y), static_cast<uint8_t>(rgb[at + 2]));
        }
    }
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
