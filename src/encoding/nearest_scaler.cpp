#include "encoding/nearest_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/imgproc.hpp>

namespace {

// Beyond this many runs per row (large scale factors) a run table stops paying off.
constexpr int kMaxRunsPerTargetColumn = 8;

}  // namespace

int CNearestScaler::SourceIndexOf(int targetIndex, int sourceLength, int targetLength) {
    // The same arithmetic as OpenCV's nearest-neighbour resize.
    const double scale = static_cast<double>(targetLength) / sourceLength;
    const double inverse = 1.0 / scale;
    const int index = static_cast<int>(std::floor(targetIndex * inverse));
    return std::min(index, sourceLength - 1);
}

void CNearestScaler::PrepareRuns(int sourceWidth, int targetWidth) {
    m_runs.clear();
    for (int x = 0; x < targetWidth; ++x) {
        const int sx = SourceIndexOf(x, sourceWidth, targetWidth);
        if (!m_runs.empty()) {
            Run& last = m_runs.back();
            if (last.sourceX + last.length == sx) {
                ++last.length;
                continue;
            }
        }
        m_runs.push_back(Run{x, sx, 1});
    }
    m_sourceWidth = sourceWidth;
    m_targetWidth = targetWidth;
}

bool CNearestScaler::Scale(const cv::Mat& source, unsigned char* target, int targetWidth,
                           int targetHeight, size_t targetStep) {
    const bool usableType = source.type() == CV_8UC3 || source.type() == CV_8UC4;
    if (!usableType || source.empty() || target == nullptr || targetWidth <= 0 ||
        targetHeight <= 0 || targetStep < static_cast<size_t>(targetWidth) * source.elemSize()) {
        return false;
    }
    if (source.cols != m_sourceWidth || targetWidth != m_targetWidth) {
        PrepareRuns(source.cols, targetWidth);
    }
    if (m_runs.size() > static_cast<size_t>(targetWidth) / kMaxRunsPerTargetColumn) {
        cv::Mat frame(targetHeight, targetWidth, source.type(), target, targetStep);
        try {
            cv::resize(source, frame, frame.size(), 0, 0, cv::INTER_NEAREST);
        } catch (const cv::Exception&) {
            return false;
        }
        return true;
    }
    return ScaleRows(source, target, targetHeight, targetStep);
}

bool CNearestScaler::ScaleRows(const cv::Mat& source, unsigned char* target, int targetHeight,
                               size_t targetStep) const {
    const size_t pixelBytes = source.elemSize();
    for (int y = 0; y < targetHeight; ++y) {
        const unsigned char* from = source.ptr(SourceIndexOf(y, source.rows, targetHeight));
        unsigned char* to = target + static_cast<size_t>(y) * targetStep;
        for (const Run& run : m_runs) {
            std::memcpy(to + static_cast<size_t>(run.targetX) * pixelBytes,
                        from + static_cast<size_t>(run.sourceX) * pixelBytes,
                        static_cast<size_t>(run.length) * pixelBytes);
        }
    }
    return true;
}
