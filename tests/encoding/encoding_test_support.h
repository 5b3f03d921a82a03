#pragma once
// Helpers for the encoding tests: synthetic pictures, and an independent look at written files
// through ffmpeg/ffprobe and the idx1 flags read straight from the file.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/ffprobe_support.h"
#include "common/pictures.h"

namespace enctest {

using namespace probe;

// A desktop-like picture (flat panels, text-like strokes) with a small box that moves with n.
inline cv::Mat StaticDesktopFrame(int width, int height, int n) {
    const int boxX = 8 + (n * 3) % (width / 2 - 24);
    return Paint(width, height, [=](int x, int y) -> uint32_t {
        if (y >= 40 && y < 56 && x >= boxX && x < boxX + 16) {
            return 0x1414DC;
        }
        if (y < 16 || x <= width / 2) {
            return y < 16 ? 0xA05A28 : 0x78643C;  // title bar, desktop
        }
        const bool text = y > 24 && (y % 10) < 2 && ((x / 3) % 5) != 0;
        return text ? 0x1E1E1E : 0xEBEBEB;
    });
}

// Every pixel changes from frame to frame: a white square sliding over moving gradients.
inline cv::Mat FullMotionFrame(int width, int height, int n) {
    const int cx = (n * 4) % width;
    return Paint(width, height, [=](int x, int y) -> uint32_t {
        if (y >= height / 3 && y < height / 3 + 20 && x >= cx && x < cx + 20) {
            return 0xFAFAFA;
        }
        const int u = x + 2 * n, v = y + n;
        const auto b = static_cast<uint32_t>(128 + 100 * std::sin(u * 0.07));
        const auto g = static_cast<uint32_t>(128 + 100 * std::cos(v * 0.05 + u * 0.02));
        return b << 16 | g << 8 | uint32_t((u + v) & 0xFF);
    });
}

// Decodes every coded video frame in order into a blue-green-red picture; clean tells whether
// ffmpeg decoded without any error.
inline std::vector<cv::Mat> DecodeFrames(const std::string& path, int width, int height,
                                         bool* clean) {
    int status = -1;
    const std::string errors =
        Shell("ffmpeg -nostdin -v error -xerror -i " + Quote(path) +
                  " -vsync passthrough -f rawvideo -pix_fmt bgr24 - 2>&1 >" + Quote(path + ".bgr"),
              &status);
    *clean = status == 0 && errors.empty();
    auto raw = ReadFile(path + ".bgr");
    std::remove((path + ".bgr").c_str());
    std::vector<cv::Mat> frames;
    const size_t frame = size_t(width) * height * 3;
    for (size_t at = 0; at + frame <= raw.size(); at += frame) {
        frames.push_back(cv::Mat(height, width, CV_8UC3, raw.data() + at).clone());
    }
    return frames;
}

// What the decoder says of each coded frame: its presentation frame number, and whether it is
// a key frame.
struct DecodedFrameInfo {
    int pts;
    bool key;
};
inline std::vector<DecodedFrameInfo> ProbeDecodedFrames(const std::string& path) {
    std::vector<DecodedFrameInfo> frames;
    for (const std::string& line :
         Lines(Shell("ffprobe -v error -select_streams v:0 -show_entries "
                     "frame=key_frame,best_effort_timestamp -of csv=p=0 " +
                     Quote(path)))) {
        int key = 0, pts = 0;
        if (std::sscanf(line.c_str(), "%d,%d", &key, &pts) == 2) {
            frames.push_back({pts, key == 1});
        }
    }
    return frames;
}

// The idx1 entries of the video stream, in order: their flags and data lengths.
struct IndexEntry {
    uint32_t flags;
    uint32_t length;
};
inline std::vector<IndexEntry> ReadVideoIndex(const std::string& path) {
    const auto bytes = ReadFile(path);
    std::vector<IndexEntry> entries;
    for (size_t at = 12; at + 8 <= bytes.size();) {  // after "RIFF", the length and "AVI "
        const uint32_t length = U32At(bytes, at + 4);
        if (std::string(bytes.begin() + long(at), bytes.begin() + long(at) + 4) == "idx1") {
            for (size_t e = at + 8; e + 16 <= at + 8 + length && e + 16 <= bytes.size(); e += 16) {
                if (bytes[e] == '0' && bytes[e + 1] == '0' && bytes[e + 2] == 'd') {
                    entries.push_back({U32At(bytes, e + 4), U32At(bytes, e + 12)});
                }
            }
            break;
        }
        at += 8 + length + (length & 1);
    }
    return entries;
}

}  // namespace enctest
