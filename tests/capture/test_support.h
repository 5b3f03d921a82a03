#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "common/ffprobe_support.h"

// Helpers shared by the capture tests: temporary folders, recordings read back through
// ffprobe/ffmpeg, and an X window showing a known pattern.

using probe::FileSizeLimit;
using probe::TempDir;

// A recording as the independent decoder sees it.
struct Recording {
    std::string codecName;  // "mpeg4"
    int width = 0;
    int height = 0;
    int frameCount = 0;  // nb_frames of the stream (repeat frames included)
    double duration = 0;
    // The picture of every frame slot, blue-green-red, as ffmpeg shows it at 30 frames per
    // second: a still tail counts only when a picture closes it.
    std::vector<cv::Mat> frames;
    int decodeErrors = -1;  // lines ffmpeg printed at error level
    bool ok() const { return !codecName.empty(); }
};
Recording ReadRecording(const std::string& path);
// The one file in dir whose name matches pattern, read back; not ok() unless there is exactly one.
Recording ReadTheRecording(const TempDir& dir, const std::string& pattern);

// A deterministic picture for index i: smooth gradients that move with i, so successive
// indices differ everywhere while a codec keeps them at a high PSNR.
cv::Mat PatternImage(int index, int width, int height);

// Best PSNR of `frame` against the patterns 0..count-1, each scaled (nearest neighbour) to the
// frame's size.
double BestPatternPsnr(const cv::Mat& frame, int count, int patternWidth, int patternHeight);

// An undecorated X window (override-redirect, so no window manager moves it) that shows
// PatternImage(index) on demand. Uses its own X connection.
class PatternWindow {
public:
    PatternWindow(int x, int y, int width, int height);
    ~PatternWindow();
    PatternWindow(const PatternWindow&) = delete;
    PatternWindow& operator=(const PatternWindow&) = delete;

    bool IsOpen() const { return m_display != nullptr; }
    void Show(int index);  // returns once the X server has drawn it
    // Draws one pixel (0xRRGGBB) at (x, y) of the window; returns once it is drawn.
    void SetPixel(int x, int y, unsigned long rgb);

private:
    struct _XDisplay* m_display = nullptr;
    unsigned long m_window = 0;
    int m_width;
    int m_height;
};

// Shows the patterns 1, 2, ... count-1, 0, 1, ... one every periodMs while it lives.
class PatternAnimator {
public:
    PatternAnimator(PatternWindow& window, int count, int periodMs);
    ~PatternAnimator();

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
