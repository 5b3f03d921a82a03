#pragma once

#include <QRect>
#include <QRegion>

#include <array>

#include "capture/capture_rect.h"

// Where a point of the capture window lies, for moving and resizing it. The values are the
// hit-test codes a desktop toolkit traditionally uses for these zones.
enum class FrameHit {
    Nowhere = 0,
    Caption = 2,
    Left = 10,
    Right = 11,
    Top = 12,
    TopLeft = 13,
    TopRight = 14,
    Bottom = 15,
    BottomLeft = 16,
    BottomRight = 17,
};

namespace frame_geometry {
constexpr int kCaptionHeight = 30;   // caption band, also the zone that moves the window
constexpr int kGripWidth = 7;        // left, right and bottom resize zones
constexpr int kTopResizeBorder = 8;  // thick-frame thickness at 96 DPI
constexpr int kRegionInset = 4;      // frame band width around the capture region
// Window size minus capture region size: 2 * 4 across, caption + toolbar + 4 + 4 down.
constexpr int kExtraWidth = 2 * kRegionInset;
constexpr int kExtraHeightWithoutToolbar = kCaptionHeight + 2 * kRegionInset;
// The narrowest and lowest window the region setting accepts; the window is never dragged
// narrower than that, nor lower than a region of height 0.
constexpr int kMinWindowWidth = 10;
constexpr int kMinWindowHeight = 3;
}  // namespace frame_geometry

// Maps a point (screen pixels) to the zone of the window rectangle it falls in.
FrameHit FrameHitTest(const QRect& windowRect, int x, int y);

// The capture region, in client coordinates, of a client area of width x height pixels
// with a toolbar toolbarHeight pixels high: (4, T + 34, W - 4, H - 4).
CaptureRect CaptureRegionForSize(int width, int height, int toolbarHeight);

// The part of the window that stays opaque: everything but the capture region, and but the
// frame band too when the band is painted in the colour key (blink dark phase).
QRegion OpaqueRegion(int width, int height, const CaptureRect& capture, bool bandVisible);

// The window rectangle (screen pixels) whose capture region covers exactly target.
QRect WindowRectForCaptureRect(const QRect& target, const QMargins& margin, int toolbarHeight);

// Where a frame built of separate windows puts them, in screen pixels, for the frame rectangle
// (the whole capture window): the caption band with the toolbar, then the bands above, left
// of, right of and below the capture region. Nothing of it lies over the region.
std::array<QRect, 5> SeparateFrameParts(const QRect& frame, int toolbarHeight);

// Which window edges a resize zone moves (for the window manager's resize).
Qt::Edges EdgesForHit(FrameHit hit);
// The pointer shape over a zone: the matching sizing arrow over the resize zones, the
// ordinary arrow elsewhere.
Qt::CursorShape CursorForHit(FrameHit hit);
// The geometry a manual drag from start gives after the pointer moved by delta.
QRect DraggedGeometry(const QRect& start, FrameHit hit, const QPoint& delta, const QSize& minimum);
