#pragma once
// Nearest-neighbour scaling of packed 3- or 4-byte pixels into a caller's buffer. Every target
// pixel takes the source pixel that cv::resize with INTER_NEAREST takes, but a row is copied as a
// few runs of consecutive source pixels, which is several times faster for the small size
// changes of a recording (1920 -> 1924 columns). The run table is kept between frames.

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

class CNearestScaler {
public:
    // Scales an 8-bit 3- or 4-channel source to targetWidth x targetHeight pixels of the same
    // channel count at target, rows targetStep bytes apart. False (target untouched) for an
    // unusable source or size.
    bool Scale(const cv::Mat& source, unsigned char* target, int targetWidth, int targetHeight,
               size_t targetStep);

    // Source column (or row) that a target column (or row) takes.
    static int SourceIndexOf(int targetIndex, int sourceLength, int targetLength);

private:
    struct Run {
        int targetX;
        int sourceX;
        int length;
    };
    void PrepareRuns(int sourceWidth, int targetWidth);
    bool ScaleRows(const cv::Mat& source, unsigned char* target, int targetHeight,
                   size_t targetStep) const;

    std::vector<Run> m_runs;
    int m_sourceWidth = 0;
    int m_targetWidth = 0;
};
