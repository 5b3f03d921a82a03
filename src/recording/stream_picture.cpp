#include "recording/stream_picture.h"

#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

// The placement with its size filled in from the picture where it was left open.
CStreamPlacement Completed(CStreamPlacement placement, int pictureWidth, int pictureHeight) {
    if (placement.width <= 0 || placement.height <= 0) {
        placement.width = pictureWidth;
        placement.height = pictureHeight;
    }
    return placement;
}

// Screen coordinate `screen` on the axis where the stream starts at `origin` and `covered`
// screen pixels hold `pixels` picture pixels.
int ToPicture(int screen, int origin, int covered, int pixels) {
    return static_cast<int>(std::lround(static_cast<double>(screen - origin) * pixels / covered));
}

CSvRect PlacementRect(const CStreamPlacement& p) {
    return CSvRect{p.x, p.y, p.x + p.width, p.y + p.height};
}

void ConvertInto(const cv::Mat& source, StreamPixels pixels, cv::Mat& target) {
    if (pixels == StreamPixels::kRgbx || pixels == StreamPixels::kRgba) {
        cv::cvtColor(source, target, cv::COLOR_RGBA2BGRA);
    } else {
        source.copyTo(target);
    }
}

}  // namespace

CSvRect StreamRectOf(const CSvRect& screenRegion, const CStreamPlacement& placement,
                     int pictureWidth, int pictureHeight) {
    const CStreamPlacement p = Completed(placement, pictureWidth, pictureHeight);
    const CSvRect inside = screenRegion.Intersected(PlacementRect(p));
    if (inside.IsEmpty()) {
        return CSvRect{};
    }
    return CSvRect{ToPicture(inside.left, p.x, p.width, pictureWidth),
                   ToPicture(inside.top, p.y, p.height, pictureHeight),
                   ToPicture(inside.right, p.x, p.width, pictureWidth),
                   ToPicture(inside.bottom, p.y, p.height, pictureHeight)}
        .Intersected(CSvRect{0, 0, pictureWidth, pictureHeight});
}

bool CopyStreamRegion(const CStreamPicture& picture, const CStreamPlacement& placement,
                      const CSvRect& screenRegion, cv::Mat& bgrx) {
    if (picture.data == nullptr || picture.width <= 0 || picture.height <= 0) {
        return false;
    }
    const CStreamPlacement p = Completed(placement, picture.width, picture.height);
    const CSvRect inside = screenRegion.Intersected(PlacementRect(p));
    const CSvRect source = StreamRectOf(screenRegion, p, picture.width, picture.height);
    if (inside != screenRegion || source.IsEmpty()) {
        bgrx.setTo(cv::Scalar(0, 0, 0, 255));
    }
    if (inside.IsEmpty() || source.IsEmpty()) {
        return true;
    }
    const cv::Mat whole(picture.height, picture.width, CV_8UC4, const_cast<uint8_t*>(picture.data),
                        static_cast<size_t>(picture.stride));
    const cv::Mat part = whole(cv::Rect(source.left, source.top, source.Width(), source.Height()));
    cv::Mat target = bgrx(cv::Rect(inside.left - screenRegion.left, inside.top - screenRegion.top,
                                   inside.Width(), inside.Height()));
    if (part.size() == target.size()) {
        ConvertInto(part, picture.pixels, target);
        return true;
    }
    cv::Mat converted;
    ConvertInto(part, picture.pixels, converted);
    cv::resize(converted, target, target.size(), 0, 0, cv::INTER_AREA);
    return true;
}
