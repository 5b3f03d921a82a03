#include "test_support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

TempDir::TempDir() {
    char pattern[] = "/tmp/brintel-test.XXXXXX";
    m_path = mkdtemp(pattern);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::vector<std::string> TempDir::Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path)) {
        if (entry.is_regular_file()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (exitCode != nullptr) {
            *exitCode = -1;
        }
        return output;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), n);
    }
    int status = pclose(pipe);
    if (exitCode != nullptr) {
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return output;
}

VideoProbe ProbeVideo(const std::string& path) {
    VideoProbe probe;
    int code = 0;
    std::string out = RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries "
        "stream=codec_name,codec_tag_string,width,height,r_frame_rate,nb_frames:format=duration "
        "-of default=noprint_wrappers=1 '" +
            path + "' 2>/dev/null",
        &code);
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if (key == "codec_name") {
            probe.codecName = value;
        } else if (key == "codec_tag_string") {
            std::transform(value.begin(), value.end(), value.begin(), ::tolower);
            probe.codecTag = value;
        } else if (key == "width") {
            probe.width = std::atoi(value.c_str());
        } else if (key == "height") {
            probe.height = std::atoi(value.c_str());
        } else if (key == "r_frame_rate") {
            probe.frameRate = value;
        } else if (key == "nb_frames") {
            probe.frameCount = std::atoi(value.c_str());
        } else if (key == "duration") {
            probe.duration = std::atof(value.c_str());
        }
    }
    probe.ok = code == 0 && !probe.codecName.empty();
    return probe;
}

std::vector<cv::Mat> DecodeFrames(const std::string& path, int width, int height,
                                  int* decodeErrors) {
    std::string raw = path + ".raw";
    std::string log = RunCommand("ffmpeg -v error -nostdin -y -i '" + path +
                                 "' -f rawvideo -pix_fmt bgr24 '" + raw + "' 2>&1");
    if (decodeErrors != nullptr) {
        *decodeErrors = static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }
    std::vector<cv::Mat> frames;
    FILE* in = fopen(raw.c_str(), "rb");
    if (in == nullptr) {
        return frames;
    }
    const size_t frameBytes = static_cast<size_t>(width) * height * 3;
    for (;;) {
        cv::Mat frame(height, width, CV_8UC3);
        if (fread(frame.data, 1, frameBytes, in) != frameBytes) {
            break;
        }
        frames.push_back(frame);
    }
    fclose(in);
    std::remove(raw.c_str());
    return frames;
}

cv::Mat PatternImage(int index, int width, int height) {
    cv::Mat image(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) {
        auto* row = image.ptr<uint8_t>(y);
        for (int x = 0; x < width; ++x) {
            // Triangle waves: smooth everywhere, no wrap-around edges.
            auto wave = [](int v) {
                return static_cast<uint8_t>(std::min(255, std::abs((v & 511) - 256)));
            };
            row[3 * x + 0] = wave(2 * x + 40 * index);
            row[3 * x + 1] = wave(2 * y + 24 * index);
            row[3 * x + 2] = wave(x + y + 56 * index);
        }
    }
    return image;
}

double BestPatternPsnr(const cv::Mat& frame, int count, int patternWidth, int patternHeight,
                       int* bestIndex) {
    double best = 0;
    for (int i = 0; i < count; ++i) {
        cv::Mat expected;
        cv::resize(PatternImage(i, patternWidth, patternHeight), expected, frame.size(), 0, 0,
                   cv::INTER_NEAREST);
        double psnr = cv::PSNR(frame, expected);
        if (psnr > best) {
            best = psnr;
            if (bestIndex != nullptr) {
                *bestIndex = i;
            }
        }
    }
    return best;
}

PatternWindow::PatternWindow(int x, int y, int width, int height)
    : m_width(width), m_height(height) {
    m_display = XOpenDisplay(nullptr);
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
    XSync(m_display, False);
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
    cv::Mat bgr = PatternImage(index, m_width, m_height);
    cv::Mat bgrx;
    cv::cvtColor(bgr, bgrx, cv::COLOR_BGR2BGRA);
    int screen = DefaultScreen(m_display);
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

void PatternWindow::Lower() {
    if (m_display != nullptr) {
        XLowerWindow(m_display, m_window);
        XSync(m_display, False);
    }
}

cv::Mat ReadScreen(int x, int y, int width, int height) {
    cv::Mat result;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return result;
    }
    XImage* image =
        XGetImage(display, DefaultRootWindow(display), x, y, width, height, AllPlanes, ZPixmap);
    if (image != nullptr) {
        result.create(height, width, CV_8UC3);
        for (int row = 0; row < height; ++row) {
            for (int col = 0; col < width; ++col) {
                unsigned long pixel = XGetPixel(image, col, row);
                auto* out = result.ptr<uint8_t>(row) + 3 * col;
                out[0] = pixel & 0xFF;
                out[1] = (pixel >> 8) & 0xFF;
                out[2] = (pixel >> 16) & 0xFF;
            }
        }
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return result;
}
