#pragma once

// Synthetic pictures for the recording and encoding tests: packed blue-green-red, top row first.

#include <cstdint>

#include <opencv2/core.hpp>

// A picture whose pixel (x, y) has the colour colourAt(x, y) gives as 0xBBGGRR, asked row by row.
template <typename ColourAt>
cv::Mat Paint(int width, int height, ColourAt colourAt) {
    cv::Mat picture(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t bgr = colourAt(x, y);
            picture.at<cv::Vec3b>(y, x) = {uchar(bgr >> 16), uchar(bgr >> 8), uchar(bgr)};
        }
    }
    return picture;
}
