#include "capture/frame_geometry.h"

#include <algorithm>

using namespace frame_geometry;

namespace {
enum Row { kTopRow, kMiddleRow, kBottomRow };
enum Column { kLeftColumn, kMiddleColumn, kRightColumn };

// The middle cell of the top row is Caption, or Top inside the top resize border.
constexpr FrameHit kHitTests[3][3] = {
    {FrameHit::TopLeft, FrameHit::Caption, FrameHit::TopRight},
    {FrameHit::Left, FrameHit::Nowhere, FrameHit::Right},
    {FrameHit::BottomLeft, FrameHit::Bottom, FrameHit::BottomRight},
};
}  // namespace

FrameHit FrameHitTest(const QRect& windowRect, int x, int y) {
    // QRect's right() and bottom() are inclusive; the zones are written with exclusive edges.
    const int left = windowRect.left();
    const int top = windowRect.top();
    const int right = windowRect.left() + windowRect.width();
    const int bottom = windowRect.top() + windowRect.height();

    Row row = kMiddleRow;
    Column column = kMiddleColumn;
    bool onTopBorder = false;
    if (y >= top && y < top + kCaptionHeight) {
        row = kTopRow;
        onTopBorder = y < top + kTopResizeBorder;
    } else if (y >= bottom - kGripWidth && y < bottom) {
        row = kBottomRow;
    }
    if (x >= left && x < left + kGripWidth) {
        column = kLeftColumn;
    } else if (x >= right - kGripWidth && x < right) {
        column = kRightColumn;
    }
    if (row == kTopRow && column == kMiddleColumn && onTopBorder) {
        return FrameHit::Top;
    }
    return kHitTests[row][column];
}

CaptureRect CaptureRegionForSize(int width, int height, int toolbarHeight) {
    const int bandTop = toolbarHeight + kCaptionHeight;
    return CaptureRect{kRegionInset, bandTop + kRegionInset, width - kRegionInset,
                       height - kRegionInset};
}

QRegion OpaqueRegion(int width, int height, const CaptureRect& capture, bool bandVisible) {
    QRegion opaque(0, 0, width, height);
    CaptureRect cutOut = capture;
    if (!bandVisible) {
        cutOut = {capture.left - kRegionInset, capture.top - kRegionInset,
                  capture.right + kRegionInset, capture.bottom + kRegionInset};
    }
    if (!cutOut.IsEmpty()) {
        opaque -= QRegion(ToQRect(cutOut));
    }
    return opaque;
}

QRect WindowRectForCaptureRect(const QRect& target, const QMargins& margin, int toolbarHeight) {
    return target.adjusted(-margin.left(), -(margin.top() + toolbarHeight + kCaptionHeight),
                           margin.right(), margin.bottom());
}

std::array<QRect, 5> SeparateFrameParts(const QRect& frame, int toolbarHeight) {
    const int caption = toolbarHeight + kCaptionHeight;
    const int top = caption + kRegionInset;
    const int sidesHeight = std::max(kRegionInset, frame.height() - top);
    const int left = frame.left();
    const int right = frame.left() + frame.width();
    return {QRect(left, frame.top(), frame.width(), caption),
            QRect(left, frame.top() + caption, frame.width(), kRegionInset),
            QRect(left, frame.top() + top, kRegionInset, sidesHeight),
            QRect(right - kRegionInset, frame.top() + top, kRegionInset, sidesHeight),
            QRect(left + kRegionInset, frame.top() + top + sidesHeight - kRegionInset,
                  std::max(1, frame.width() - 2 * kRegionInset), kRegionInset)};
}

Qt::Edges EdgesForHit(FrameHit hit) {
    switch (hit) {
        case FrameHit::Left:
            return Qt::LeftEdge;
        case FrameHit::Right:
            return Qt::RightEdge;
        case FrameHit::Top:
            return Qt::TopEdge;
        case FrameHit::Bottom:
            return Qt::BottomEdge;
        case FrameHit::TopLeft:
            return Qt::TopEdge | Qt::LeftEdge;
        case FrameHit::TopRight:
            return Qt::TopEdge | Qt::RightEdge;
        case FrameHit::BottomLeft:
            return Qt::BottomEdge | Qt::LeftEdge;
        case FrameHit::BottomRight:
            return Qt::BottomEdge | Qt::RightEdge;
        default:
            return {};
    }
}

Qt::CursorShape CursorForHit(FrameHit hit) {
    switch (hit) {
        case FrameHit::Left:
        case FrameHit::Right:
            return Qt::SizeHorCursor;
        case FrameHit::Top:
        case FrameHit::Bottom:
            return Qt::SizeVerCursor;
        case FrameHit::TopLeft:
        case FrameHit::BottomRight:
            return Qt::SizeFDiagCursor;
        case FrameHit::TopRight:
        case FrameHit::BottomLeft:
            return Qt::SizeBDiagCursor;
        default:
            return Qt::ArrowCursor;
    }
}

QRect DraggedGeometry(const QRect& start, FrameHit hit, const QPoint& delta, const QSize& minimum) {
    if (hit == FrameHit::Caption) {
        return start.translated(delta);
    }
    const Qt::Edges edges = EdgesForHit(hit);
    int left = start.left();
    int top = start.top();
    int right = start.left() + start.width();
    int bottom = start.top() + start.height();
    // A dragged edge stops where the window would become smaller than the minimum.
    if (edges & Qt::LeftEdge) {
        left = std::min(left + delta.x(), right - minimum.width());
    }
    if (edges & Qt::RightEdge) {
        right = std::max(right + delta.x(), left + minimum.width());
    }
    if (edges & Qt::TopEdge) {
        top = std::min(top + delta.y(), bottom - minimum.height());
    }
    if (edges & Qt::BottomEdge) {
        bottom = std::max(bottom + delta.y(), top + minimum.height());
    }
    return QRect(left, top, right - left, bottom - top);
}
