#pragma once

// Whether this session can run BrintelShot, which needs an X11 display.
enum class SessionKind {
    X11,       // a plain X11 session
    XWayland,  // an X display inside a Wayland session: it shows no other program's pixels
    NoX11      // no X display at all (DISPLAY unset or empty, Wayland only)
};

// Classifies the session from the values of DISPLAY, WAYLAND_DISPLAY and XDG_SESSION_TYPE
// (each may be null).
SessionKind ClassifySession(const char* display, const char* waylandDisplay,
                            const char* sessionType);

// True in a Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland): the screen's
// pictures come through the desktop's portal, never from the X server.
bool IsWaylandSession();

// The one-line message for the session kind (empty where the program can run).
const char* SessionMessage(SessionKind kind);

// True when the X display named by DISPLAY accepts a connection.
bool XDisplayOpens();

// False, after saying why in one line on standard error, when no usable X display is there.
bool CheckX11Session();
