#pragma once

#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "imaging/bgrx_picture.h"
#include "imaging/sv_image.h"
#include "imaging/sv_rect.h"

class CPointerOverlay;
class CX11GrabSession;

// Copies a rectangle of the X screen (the root window of the default screen), given in screen
// coordinates, into a CSvImage or into a 32-bit bitmap.
//
// A grabber is cheap to construct: it borrows an X connection (with its shared-memory segment)
// from a process-wide pool and gives it back when destroyed, so creating one grabber per grab
// costs no connection set-up after the first. Grabbers in different threads use different
// connections and may grab at the same time; one grabber is used by one thread.
//
// The parts of a rectangle that lie outside the screen come out black; an empty or inverted
// rectangle empties the target. When there is no display (DISPLAY unset or unreachable) every
// grab empties the target and GetLastError() says why. No X error ever ends the process.
class CScreenGrabber {
public:
    enum class Transfer {
        kAuto,           // MIT-SHM when the server offers it, else plain XGetImage
        kNoSharedMemory  // always XGetImage (what a remote display gets)
    };

    explicit CScreenGrabber(Transfer transfer = Transfer::kAuto);
    ~CScreenGrabber();
    CScreenGrabber(const CScreenGrabber&) = delete;
    CScreenGrabber& operator=(const CScreenGrabber&) = delete;

    // True when connected to an X display.
    bool IsAvailable() const;
    // True when grabs go through MIT-SHM.
    bool UsesSharedMemory() const;
    // The reason the last grab (or the connection) failed; empty after a successful grab. A
    // grab whose pointer could not be drawn keeps its pixels and says why here.
    const std::string& GetLastError() const { return m_strLastError; }

    // When on, GrabImage and GrabBitmap also draw the mouse pointer where it lies in the
    // rectangle. Off by default.
    void SetIncludePointer(bool include) { m_bIncludePointer = include; }
    bool IncludesPointer() const { return m_bIncludePointer; }
    // Blends the mouse pointer, as it is now, into target: rect's screen contents as a CV_8UC3
    // or CV_8UC4 matrix of rect's size (blue, green, red, and a fourth byte left as it is).
    // False with the reason in GetLastError() when the pointer cannot be read.
    bool DrawPointer(const CSvRect& rect, cv::Mat& target);
    // Reads the mouse pointer as it is now into pointer, for a caller that blends it later.
    // False with the reason in GetLastError() when the pointer cannot be read.
    bool ReadPointer(CPointerOverlay* pointer);

    // Fills image with rect's screen contents as a W x H 3-channel blue-green-red 8-bit image,
    // rows top-down, the rectangle's top-left screen pixel first. Any image held before is
    // replaced.
    void GrabImage(CSvRect rect, CSvImage* image);
    // Fills bitmap with rect's screen contents as a W x H CV_8UC4 image in the screen's 32-bit
    // layout: bytes blue, green, red, 255 (a QImage Format_RGB32 / ARGB32 can wrap it as is).
    void GrabBitmap(CSvRect rect, cv::Mat* bitmap);

    // Grabs rect's screen contents and points picture at them, in the grabber's own memory:
    // with MIT-SHM the shared-memory segment the server wrote them into, so nothing is copied.
    // The parts of rect off the screen are black. The pixels stay valid, and may be drawn
    // into, until the next grab through this grabber. False, with the reason in
    // GetLastError(), when nothing could be grabbed.
    bool GrabPicture(CSvRect rect, CBgrxPicture* picture);

    // Screen position of an X window's top-left corner, asked of the server now.
    bool WindowOrigin(unsigned long window, int* x, int* y);

    // Watching for drawing on the screen (X DAMAGE); false where the server cannot. While
    // watched, TakeChange sets *drawn to whether anything was drawn into rect since its last
    // call; false when it cannot tell.
    bool WatchChanges();
    bool TakeChange(const CSvRect& rect, bool* drawn);

private:
    // False (with the reason in m_strLastError) when rect cannot be grabbed at all.
    bool CheckRect(const CSvRect& rect);
    // Copies the on-screen part of rect into the matching part of target (rect's size, 3 or 4
    // channels). When part of rect is off the screen, target is first filled with *outside
    // (left as it is when outside is null).
    bool GrabInto(const CSvRect& rect, cv::Mat& target, const cv::Scalar* outside);

    std::unique_ptr<CX11GrabSession> m_pSession;
    std::string m_strLastError;
    bool m_bIncludePointer = false;
    cv::Mat m_offScreen;  // GrabPicture's pixels for a rectangle partly off the screen
};
