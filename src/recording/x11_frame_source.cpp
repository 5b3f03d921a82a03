#include "recording/x11_frame_source.h"

#include "imaging/screen_grabber.h"

CX11FrameSource::CX11FrameSource() = default;

CX11FrameSource::~CX11FrameSource() {
    Close();
}

bool CX11FrameSource::Open(std::string* error) {
    // The grabber's X connection is used by the thread that opened the source alone.
    m_pGrabber = std::make_unique<CScreenGrabber>();
    if (!m_pGrabber->IsAvailable()) {
        *error = m_pGrabber->GetLastError();
        m_pGrabber.reset();
        return false;
    }
    m_pointer = CPointerOverlay();
    if (m_bIncludePointer && !m_pGrabber->ReadPointer(&m_pointer)) {
        *error = m_pGrabber->GetLastError();
        m_pGrabber.reset();
        return false;
    }
    m_bWatching = m_bTrackChanges && m_pGrabber->WatchChanges();
    return true;
}

void CX11FrameSource::Close() {
    m_pGrabber.reset();
    m_bWatching = false;
}

CSvRect LocateTarget(CScreenGrabber* grabber, const CCaptureTarget& target,
                     const CSvRect& previous) {
    if (target.window == 0) {
        return target.region;
    }
    int x = 0;
    int y = 0;
    if (grabber == nullptr || !grabber->WindowOrigin(target.window, &x, &y)) {
        return previous;
    }
    const CSvRect& r = target.region;
    return CSvRect{r.left + x, r.top + y, r.right + x, r.bottom + y};
}

CSvRect CX11FrameSource::Locate(const CCaptureTarget& target, const CSvRect& previous) {
    return LocateTarget(m_pGrabber.get(), target, previous);
}

CFrameSource::Change CX11FrameSource::TakeChange(const CSvRect& screenRegion) {
    const Change screen = TakeScreenChange(screenRegion);
    if (!m_bIncludePointer || m_pGrabber == nullptr) {
        return screen;
    }
    const bool pointerChanged = TakePointerChange(screenRegion);
    return screen == Change::kNone && pointerChanged ? Change::kSome : screen;
}

CFrameSource::Change CX11FrameSource::TakeScreenChange(const CSvRect& screenRegion) {
    bool drawn = false;
    if (!m_bWatching || !m_pGrabber->TakeChange(screenRegion, &drawn)) {
        return Change::kUnknown;
    }
    return drawn ? Change::kSome : Change::kNone;
}

bool CX11FrameSource::TakePointerChange(const CSvRect& screenRegion) {
    const CSvRect before = m_pointer.ScreenArea();
    const unsigned long serial = m_pointer.Serial();
    if (!m_pGrabber->ReadPointer(&m_pointer)) {
        return false;  // the pointer is drawn as it was last read
    }
    const CSvRect after = m_pointer.ScreenArea();
    if (after == before && m_pointer.Serial() == serial) {
        return false;
    }
    return before.Overlaps(screenRegion) || after.Overlaps(screenRegion);
}

bool CX11FrameSource::Grab(const CSvRect& screenRegion, CBgrxPicture* picture, std::string* error) {
    if (m_pGrabber == nullptr) {
        *error = "the frame source is not open";
        return false;
    }
    if (!m_pGrabber->GrabPicture(screenRegion, picture)) {
        *error = m_pGrabber->GetLastError();
        return false;
    }
    if (m_bIncludePointer) {
        m_pointer.Blend(screenRegion, picture->pixels, picture->width, picture->height,
                        picture->stride, 4);
    }
    return true;
}
