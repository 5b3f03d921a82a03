#include "test_support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include <opencv2/imgproc.hpp>

#include "common/pictures.h"

Recording ReadRecording(const std::string& path) {
    Recording r;
    std::map<std::string, std::string> values = probe::Stream(path, "v:0");
    r.codecName = values["codec_name"];
    r.width = std::atoi(values["width"].c_str());
    r.height = std::atoi(values["height"].c_str());
    r.frameCount = std::atoi(values["nb_frames"].c_str());
    r.duration = std::atof(values["duration"].c_str());
    if (!r.ok()) {
        return r;
    }

    const std::string raw = path + ".raw";
    const std::string log =
        probe::Shell("ffmpeg -v error -nostdin -y -i " + probe::Quote(path) +
                     " -vf fps=30 -f rawvideo -pix_fmt bgr24 " + probe::Quote(raw) + " 2>&1");
    r.decodeErrors = static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    const std::vector<unsigned char> bytes = probe::ReadFile(raw);
    std::remove(raw.c_str());
    const size_t frameBytes = static_cast<size_t>(r.width) * r.height * 3;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= bytes.size(); at += frameBytes) {
        r.frames.push_back(
            cv::Mat(r.height, r.width, CV_8UC3, const_cast<uchar*>(&bytes[at])).clone());
    }
    return r;
}

Recording ReadTheRecording(const TempDir& dir, const std::string& pattern) {
    const std::vector<std::string> names = dir.Files(pattern);
    return names.size() == 1 ? ReadRecording(dir.Path(names[0])) : Recording();
}

cv::Mat PatternImage(int index, int width, int height) {
    // Triangle waves: smooth everywhere, no wrap-around edges.
    auto wave = [](int v) { return uint32_t(std::min(255, std::abs((v & 511) - 256))); };
    return Paint(width, height, [=](int x, int y) {
        return wave(2 * x + 40 * index) << 16 | wave(2 * y + 24 * index) << 8 |
               wave(x + y + 56 * index);
    });
}

double BestPatternPsnr(const cv::Mat& frame, int count, int patternWidth, int patternHeight) {
    double best = 0;
    for (int i = 0; i < count; ++i) {
        cv::Mat expected;
        cv::resize(PatternImage(i, patternWidth, patternHeight), expected, frame.size(), 0, 0,
                   cv::INTER_NEAREST);
        best = std::max(best, cv::PSNR(frame, expected));
    }
    return best;
}

PatternWindow::PatternWindow(int x, int y, int width, int height)
    : m_display(XOpenDisplay(nullptr)), m_width(width), m_height(height) {
    if (m_display == nullptr) {
        return;
    }
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(m_display, DefaultScreen(m_display));
    m_window = XCreateWindow(m_display, DefaultRootWindow(m_display), x, y, width, height, 0,
                             CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(m_display, m_window);
    Show(0);
}

PatternWindow::~PatternWindow() {
    if (m_display != nullptr) {
        XDestroyWindow(m_display, m_window);
        XCloseDisplay(m_display);
    }
}

void PatternWindow::Show(int index) {
    if (m_display == nullptr) {
        return;
    }
    cv::Mat bgrx;
    cv::cvtColor(PatternImage(index, m_width, m_height), bgrx, cv::COLOR_BGR2BGRA);
    const int screen = DefaultScreen(m_display);
    XImage* image = XCreateImage(m_display, DefaultVisual(m_display, screen), 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(bgrx.data), m_width, m_height, 32,
                                 static_cast<int>(bgrx.step[0]));
    // Large images go out in several requests; drawing them off screen first and copying
    // them in one request keeps a grab from ever seeing half of a pattern.
    Pixmap pixmap =
        XCreatePixmap(m_display, m_window, m_width, m_height, DefaultDepth(m_display, screen));
    GC gc = XCreateGC(m_display, pixmap, 0, nullptr);
    XPutImage(m_display, pixmap, gc, image, 0, 0, 0, 0, m_width, m_height);
    XCopyArea(m_display, pixmap, m_window, gc, 0, 0, m_width, m_height, 0, 0);
    XFreeGC(m_display, gc);
    XFreePixmap(m_display, pixmap);
    image->data = nullptr;  // owned by bgrx
    XDestroyImage(image);
    XSync(m_display, False);
}

void PatternWindow::SetPixel(int x, int y, unsigned long rgb) {
    if (m_display == nullptr) {
        return;
    }
    GC gc = XCreateGC(m_display, m_window, 0, nullptr);
    XSetForeground(m_display, gc, rgb);
    XDrawPoint(m_display, m_window, gc, x, y);
    XFreeGC(m_display, gc);
    XSync(m_display, False);
}

PatternAnimator::PatternAnimator(PatternWindow& window, int count, int periodMs)
    : m_thread([this, &window, count, periodMs] {
          for (int i = 1; !m_stop; ++i) {
              window.Show(i % count);
              std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
          }
      }) {}

PatternAnimator::~PatternAnimator() {
    m_stop = true;
    m_thread.join();
}
