#pragma once

// Whether this session can run BrintelShot, which needs an X11 display.
enum class SessionKind {
    X11,       // a plain X11 session
    XWayland,  // an X display inside a Wayland session: other programs may not be visible to it
    NoX11      // no X display at all (DISPLAY unset or empty, Wayland only)
};

// Classifies the session from the values of DISPLAY, WAYLAND_DISPLAY and XDG_SESSION_TYPE
// (each may be null).
SessionKind ClassifySession(const char* display, const char* waylandDisplay,
                            const char* sessionType);

// The one-line message for the session kind (empty for a plain X11 session).
const char* SessionMessage(SessionKind kind);

// True when the X display named by DISPLAY accepts a connection.
bool XDisplayOpens();

// False, after saying why in one line on standard error, when no usable X display is there;
// warns (and returns true) under XWayland.
bool CheckX11Session();
