#pragma once

#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "imaging/bgrx_picture.h"
#include "imaging/pointer_overlay.h"
#include "imaging/sv_rect.h"

class CXErrorTrap;

// One X connection to the display named by DISPLAY, with a MIT-SHM segment when the server
// offers shared memory, used by one thread at a time. Sessions are kept in a process-wide pool
// (Acquire / Return) so that a grab costs no connection or segment set-up.
//
// X errors on these connections are caught by each connection's own error trap; errors on any
// other Xlib connection of the process go to the handler installed before ours.
class CX11GrabSession {
public:
    // A session from the pool, or a new one; null with *error set when there is no display.
    static std::unique_ptr<CX11GrabSession> Acquire(bool allowSharedMemory, std::string* error);
    // Gives a session back to the pool for the next grab.
    static void Return(std::unique_ptr<CX11GrabSession> session);

    ~CX11GrabSession();
    CX11GrabSession(const CX11GrabSession&) = delete;
    CX11GrabSession& operator=(const CX11GrabSession&) = delete;

    bool UsesSharedMemory() const { return m_bShmAttached; }
    // The root window's rectangle now (its size can change at run time).
    bool ScreenRect(CSvRect* screen, std::string* error);
    // Copies area (which must lie inside the screen) into target, a CV_8UC3 (blue, green, red)
    // or CV_8UC4 (blue, green, red, 255) matrix of area's size.
    bool Grab(const CSvRect& area, cv::Mat& target, std::string* error);
    // Fetches area (which must lie inside the screen) and points picture at its pixels, with
    // no copy where the server's pixels are 32-bit blue, green, red (the shared-memory segment
    // itself, or the image the plain request returned). The pixels stay valid, and may be
    // drawn into, until the next grab through this session.
    bool GrabPicture(const CSvRect& area, CBgrxPicture* picture, std::string* error);
    // Reads the mouse pointer now and blends it into target (CV_8UC3 or CV_8UC4), which shows
    // area of the screen. The pointer image stays with the session, so it is converted again
    // only when the pointer changes shape.
    bool DrawPointer(const CSvRect& area, cv::Mat& target, std::string* error);
    // Reads the mouse pointer now into pointer (see CPointerOverlay::Read).
    bool ReadPointer(CPointerOverlay& pointer, std::string* error);

    // Screen position of the top-left corner of an X window (any window of the display,
    // reparented by a window manager or not), asked of the server now.
    bool WindowOrigin(unsigned long window, int* x, int* y, std::string* error);

    // Change tracking with the X DAMAGE extension: once started, TakeDamage sets *drawn to
    // whether anything was drawn into area since the previous TakeDamage (or the start), and
    // forgets what it has seen. False from StartDamage when the server has no DAMAGE (or
    // XFIXES), and from TakeDamage when it cannot tell.
    bool StartDamage();
    bool TakeDamage(const CSvRect& area, bool* drawn);
    void StopDamage();

private:
    struct Connection;
    CX11GrabSession(std::unique_ptr<Connection> connection, bool allowSharedMemory);

    bool AttachSharedMemory(size_t bytes);
    void DetachSharedMemory();
    struct _XImage* SharedImage(int width, int height);
    struct _XImage* FetchShared(const CSvRect& area);
    struct _XImage* FetchPlain(const CSvRect& area);
    // The shared image, else the plain one (kept in m_plainImage until the next fetch).
    struct _XImage* Fetch(const CSvRect& area, std::string* error);
    void ReleasePlainImage();
    CXErrorTrap& Errors();

    std::unique_ptr<Connection> m_pConnection;
    bool m_bAllowShm;  // as asked for at Acquire; the pool key
    bool m_bShmAttached = false;
    CPointerOverlay m_pointer;
    struct _XImage* m_plainImage = nullptr;  // the last plain grab, for GrabPicture's caller
    cv::Mat m_converted;         // GrabPicture's pixels when the server's are laid out otherwise
    unsigned long m_damage = 0;  // the DAMAGE object on the root window, 0 when none
    unsigned long m_damageParts = 0;  // XFIXES region the damage is moved into
};
