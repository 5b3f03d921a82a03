#pragma once
// Brings a 32-bit grab into the codec's input in one pass: planar YUV 4:2:0 (I420) of the
// recording's frame size, scaled with nearest neighbour when the grab's size differs (and it
// always does: a frame is the region rounded up to the next multiple of 4 above it).
//
// The frame is a cv::Mat of frameHeight * 3 / 2 rows of frameWidth bytes (CV_8UC1): the luma
// plane, then the blue and red difference planes of a quarter of its size each, one after the
// other, as OpenCV's COLOR_..._I420 conversions lay them out. Frame dimensions are even.
//
// Every frame pixel takes the grab pixel that cv::resize with INTER_NEAREST takes; a few rows
// at a time are stretched into a small buffer that stays in the processor's cache (whole runs
// of neighbouring pixels, copied at once) and converted from there: BT.601, limited range,
// luma rounded to the nearest level, the colour of each 2 x 2 block averaged (libyuv).

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "imaging/bgrx_picture.h"

class CI420Converter {
public:
    // Makes frame a frameWidth x frameHeight I420 frame (kept when it already is one).
    static bool CreateFrame(int frameWidth, int frameHeight, cv::Mat& frame);
    static int FrameWidthOf(const cv::Mat& frame) { return frame.cols; }
    static int FrameHeightOf(const cv::Mat& frame) { return frame.rows * 2 / 3; }

    // Fills frame (made by CreateFrame) with source, scaled to the frame's size. False, with
    // frame untouched, when source is empty.
    bool Convert(const CBgrxPicture& source, cv::Mat& frame);

    // Source column (or row) that a frame column (or row) takes: OpenCV's nearest neighbour.
    static int SourceIndexOf(int targetIndex, int sourceLength, int targetLength);

private:
    // A piece of a frame row copied from consecutive source pixels.
    struct Run {
        int targetX;
        int sourceX;
        int length;
    };
    void PrepareColumns(int sourceWidth, int targetWidth);
    void PrepareRows(int sourceHeight, int targetHeight);
    void StretchRow(const uint8_t* source, uint8_t* target) const;
    // Converts rows (an even number, or the frame's last rows) of 32-bit pixels of the frame's
    // width into the planes from the given rows on.
    static void ConvertRows(const uint8_t* bgrx, size_t stride, int rows, uint8_t* luma,
                            uint8_t* blue, uint8_t* red, int width);

    std::vector<Run> m_runs;
    int m_sourceWidth = 0;
    int m_targetWidth = 0;
    std::vector<int> m_sourceRows;  // per frame row
    int m_sourceHeight = 0;
    std::vector<uint8_t> m_strip;  // a few stretched rows, 32-bit
};
