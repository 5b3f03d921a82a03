#pragma once

#include <QRect>

#include "imaging/sv_rect.h"

// The capture region, (4, T + 34, W - 4, H - 4) in window coordinates or moved onto the
// screen, is an imaging rectangle, so it can be grabbed as it is.
using CaptureRect = CSvRect;

// An empty QRect when the rectangle is empty or inverted. Unlike QRect, a CaptureRect's width
// is simply right - left.
inline QRect ToQRect(const CaptureRect& r) {
    return r.IsEmpty() ? QRect() : QRect(r.left, r.top, r.Width(), r.Height());
}
