#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

// Helpers shared by the capture tests: temporary folders, running tools, reading recordings
// back through ffprobe/ffmpeg, and an X window showing a known pattern.

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::vector<std::string> Files() const;  // plain file names, sorted

private:
    std::string m_path;
};

// Runs a shell command; returns its standard output. *exitCode gets the exit status.
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

struct VideoProbe {
    std::string codecName;  // "mpeg4"
    std::string codecTag;   // "xvid" (lower case)
    int width = 0;
    int height = 0;
    std::string frameRate;  // "30/1"
    int frameCount = 0;     // nb_frames of the stream (repeat frames included)
    double duration = 0;    // seconds
    bool ok = false;
};
VideoProbe ProbeVideo(const std::string& path);

// Every picture the decoder outputs, as 8-bit blue-green-red images. *decodeErrors counts the
// lines ffmpeg printed at error level.
std::vector<cv::Mat> DecodeFrames(const std::string& path, int width, int height,
                                  int* decodeErrors);

// A deterministic picture for index i: smooth gradients that move with i, so successive
// indices differ everywhere while a codec keeps them at a high PSNR.
cv::Mat PatternImage(int index, int width, int height);

// Best PSNR of `frame` against the patterns 0..count-1, each scaled (nearest neighbour) to the
// frame's size; *bestIndex gets the index that matched.
double BestPatternPsnr(const cv::Mat& frame, int count, int patternWidth, int patternHeight,
                       int* bestIndex = nullptr);

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
    void Lower();          // below every other window (seen through see-through regions)
    unsigned long WindowId() const { return m_window; }

private:
    struct _XDisplay* m_display = nullptr;
    unsigned long m_window = 0;
    int m_width;
    int m_height;
};

// Screen pixels of a rectangle, read straight from the X server (XGetImage), as blue-green-red.
cv::Mat ReadScreen(int x, int y, int width, int height);
