#include "encoding/i420_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <libyuv/convert_from_argb.h>

namespace {

constexpr int kBgrxBytes = 4;
// Frame rows stretched and converted at a time: even (the colour planes take two rows per
// row), and few enough that the stretched rows of a 4K frame stay in the cache.
constexpr int kStripRows = 16;

}  // namespace

bool CI420Converter::CreateFrame(int frameWidth, int frameHeight, cv::Mat& frame) {
    if (frameWidth <= 0 || frameHeight <= 0 || frameWidth % 2 != 0 || frameHeight % 2 != 0) {
        return false;
    }
    frame.create(frameHeight * 3 / 2, frameWidth, CV_8UC1);
    return true;
}

int CI420Converter::SourceIndexOf(int targetIndex, int sourceLength, int targetLength) {
    // The same arithmetic as OpenCV's nearest-neighbour resize.
    const double scale = static_cast<double>(targetLength) / sourceLength;
    const int index = static_cast<int>(std::floor(targetIndex * (1.0 / scale)));
    return std::min(index, sourceLength - 1);
}

void CI420Converter::PrepareColumns(int sourceWidth, int targetWidth) {
    m_runs.clear();
    for (int x = 0; x < targetWidth; ++x) {
        const int sx = SourceIndexOf(x, sourceWidth, targetWidth);
        if (!m_runs.empty() && m_runs.back().sourceX + m_runs.back().length == sx) {
            ++m_runs.back().length;
            continue;
        }
        m_runs.push_back(Run{x, sx, 1});
    }
    m_sourceWidth = sourceWidth;
    m_targetWidth = targetWidth;
    m_strip.resize(static_cast<size_t>(targetWidth) * kBgrxBytes * kStripRows);
}

void CI420Converter::PrepareRows(int sourceHeight, int targetHeight) {
    m_sourceRows.resize(static_cast<size_t>(targetHeight));
    for (int y = 0; y < targetHeight; ++y) {
        m_sourceRows[static_cast<size_t>(y)] = SourceIndexOf(y, sourceHeight, targetHeight);
    }
    m_sourceHeight = sourceHeight;
}

void CI420Converter::StretchRow(const uint8_t* source, uint8_t* target) const {
    for (const Run& run : m_runs) {
        std::memcpy(target + static_cast<size_t>(run.targetX) * kBgrxBytes,
                    source + static_cast<size_t>(run.sourceX) * kBgrxBytes,
                    static_cast<size_t>(run.length) * kBgrxBytes);
    }
}

bool CI420Converter::Convert(const CBgrxPicture& source, cv::Mat& frame) {
    const int width = FrameWidthOf(frame);
    const int height = FrameHeightOf(frame);
    if (source.IsEmpty() || frame.type() != CV_8UC1 || width <= 0 || height <= 0) {
        return false;
    }
    uint8_t* luma = frame.data;
    uint8_t* blue = luma + static_cast<size_t>(width) * height;
    uint8_t* red = blue + static_cast<size_t>(width / 2) * (height / 2);
    if (source.width == width && source.height == height) {
        libyuv::ARGBToI420(source.pixels, static_cast<int>(source.stride), luma, width, blue,
                           width / 2, red, width / 2, width, height);
        return true;
    }
    if (source.width != m_sourceWidth || width != m_targetWidth) {
        PrepareColumns(source.width, width);
    }
    if (source.height != m_sourceHeight || static_cast<int>(m_sourceRows.size()) != height) {
        PrepareRows(source.height, height);
    }
    const int stripStride = width * kBgrxBytes;
    for (int top = 0; top < height; top += kStripRows) {
        const int rows = std::min(kStripRows, height - top);
        for (int i = 0; i < rows; ++i) {
            const int sourceRow = m_sourceRows[static_cast<size_t>(top + i)];
            StretchRow(source.pixels + static_cast<size_t>(sourceRow) * source.stride,
                       m_strip.data() + static_cast<size_t>(i) * stripStride);
        }
        const size_t chromaOffset = static_cast<size_t>(top / 2) * (width / 2);
        libyuv::ARGBToI420(m_strip.data(), stripStride, luma + static_cast<size_t>(top) * width,
                           width, blue + chromaOffset, width / 2, red + chromaOffset, width / 2,
                           width, rows);
    }
    return true;
}
