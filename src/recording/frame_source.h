#pragma once

#include <string>

#include "imaging/bgrx_picture.h"
#include "imaging/sv_rect.h"

// What a recording records: a rectangle inside a window, followed wherever the window is on
// the screen at each frame, or a fixed rectangle of the screen.
struct CCaptureTarget {
    unsigned long window = 0;  // X window id; 0 when `region` is in screen coordinates
    CSvRect region;            // in the window's own coordinates (or the screen's)
};

// Where a recording's frames come from. The recording session calls every member on its grab
// thread only, between Open and Close; the source needs no lock of its own.
class CFrameSource {
public:
    enum class Change {
        kUnknown,  // the source cannot tell: the grab is compared with the previous one
        kNone,     // nothing was drawn into the region since the previous TakeChange
        kSome,
    };

    virtual ~CFrameSource() = default;

    // Before the first frame of a recording. False, with the reason, when no frame can come.
    virtual bool Open(std::string* error) = 0;
    // After the last frame; frees what Open took.
    virtual void Close() = 0;

    // The target's place on the screen now; `previous` (the place of the last frame) when the
    // source cannot tell.
    virtual CSvRect Locate(const CCaptureTarget& target, const CSvRect& previous) = 0;
    // Whether anything may have been drawn into `screenRegion` since the last call.
    virtual Change TakeChange(const CSvRect& screenRegion) = 0;
    // Points picture at the region's pixels now, 32-bit (blue, green, red, unused byte), of
    // the region's size, with any row stride, in memory the source owns (where it can, the very
    // memory the pixels arrived in). The session converts them into the codec's input before
    // the next call to the source. False, with the reason, when it could not.
    virtual bool Grab(const CSvRect& screenRegion, CBgrxPicture* picture, std::string* error) = 0;
};
