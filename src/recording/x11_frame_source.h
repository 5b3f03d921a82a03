#pragma once

#include <memory>

#include "imaging/pointer_overlay.h"
#include "recording/frame_source.h"

class CScreenGrabber;

// Frames from the X screen: 32-bit grabs through the screen grabber (MIT-SHM where the server
// offers it), the target window's place asked of the server for every frame (a window manager
// moving it need not tell this program), and changes told by the X DAMAGE extension where the
// server has it.
class CX11FrameSource : public CFrameSource {
public:
    CX11FrameSource();
    ~CX11FrameSource() override;

    // Without change tracking every frame is grabbed and compared with the previous one, as
    // on a server without DAMAGE. Set before Open.
    void SetChangeTracking(bool enabled) { m_bTrackChanges = enabled; }
    // With the pointer on, every grab shows the mouse pointer where it lies in the region, as
    // TakeChange last read it. The server reports no drawing when the pointer moves, so a
    // pointer that moved or changed shape in the region (or into or out of it) counts as a
    // change. Off by default; set before Open.
    void SetIncludePointer(bool include) { m_bIncludePointer = include; }

    bool Open(std::string* error) override;
    void Close() override;
    CSvRect Locate(const CCaptureTarget& target, const CSvRect& previous) override;
    Change TakeChange(const CSvRect& screenRegion) override;
    bool Grab(const CSvRect& screenRegion, CBgrxPicture* picture, std::string* error) override;

private:
    Change TakeScreenChange(const CSvRect& screenRegion);
    // Reads the pointer anew; true when what it shows of screenRegion differs from before.
    bool TakePointerChange(const CSvRect& screenRegion);

    std::unique_ptr<CScreenGrabber> m_pGrabber;
    bool m_bTrackChanges = true;
    bool m_bWatching = false;
    bool m_bIncludePointer = false;
    CPointerOverlay m_pointer;  // as read by the last TakeChange
};

// The target's place on the screen, its window's place asked of grabber's X server; previous
// when that cannot be told.
CSvRect LocateTarget(CScreenGrabber* grabber, const CCaptureTarget& target,
                     const CSvRect& previous);
