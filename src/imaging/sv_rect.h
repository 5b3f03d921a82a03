#pragma once

// A rectangle in pixels given by its edges: left and top are inside, right and bottom are one
// past the last column and row. Width or height of zero or less means the rectangle is empty.
struct CSvRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    constexpr int Width() const { return right - left; }
    constexpr int Height() const { return bottom - top; }
    constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
    constexpr bool operator==(const CSvRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    constexpr bool operator!=(const CSvRect& o) const { return !(*this == o); }

    // The part of this rectangle inside other (empty when they do not meet).
    constexpr CSvRect Intersected(const CSvRect& o) const {
        return CSvRect{left > o.left ? left : o.left, top > o.top ? top : o.top,
                       right < o.right ? right : o.right, bottom < o.bottom ? bottom : o.bottom};
    }
    constexpr bool Overlaps(const CSvRect& o) const { return !Intersected(o).IsEmpty(); }
};
