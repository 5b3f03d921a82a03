#pragma once

#include <QRect>

// A rectangle given by its edges, right and bottom exclusive, as the capture region is
// defined: (4, T + 34, W - 4, H - 4). Unlike QRect, Width() is simply right - left.
struct CaptureRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    // An empty QRect when the rectangle is empty or inverted.
    QRect ToQRect() const { return IsEmpty() ? QRect() : QRect(left, top, Width(), Height()); }
    bool operator==(const CaptureRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};
