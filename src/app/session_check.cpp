#include "app/session_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/x_connection.h"

namespace {

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

bool NamesWayland(const char* waylandDisplay, const char* sessionType) {
    return IsSet(waylandDisplay) ||
           (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0);
}

}  // namespace

SessionKind ClassifySession(const char* display, const char* waylandDisplay,
                            const char* sessionType) {
    if (!IsSet(display)) {
        return SessionKind::NoX11;
    }
    return NamesWayland(waylandDisplay, sessionType) ? SessionKind::XWayland : SessionKind::X11;
}

bool IsWaylandSession() {
    return NamesWayland(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
}

const char* SessionMessage(SessionKind kind) {
    switch (kind) {
        case SessionKind::NoX11:
            return "BrintelShot needs an X11 session: no X display is set (DISPLAY).";
        case SessionKind::XWayland:  // the screen comes through the desktop's portal
        case SessionKind::X11:
            break;
    }
    return "";
}

bool XDisplayOpens() {
    return CXConnection().IsOpen();
}

bool CheckX11Session() {
    SessionKind kind = ClassifySession(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                       std::getenv("XDG_SESSION_TYPE"));
    if (kind == SessionKind::NoX11) {
        std::fprintf(stderr, "brintelshot: %s\n", SessionMessage(kind));
        return false;
    }
    if (!XDisplayOpens()) {
        std::fprintf(stderr,
                     "brintelshot: BrintelShot needs an X11 session: cannot open the X "
                     "display \"%s\".\n",
                     std::getenv("DISPLAY"));
        return false;
    }
    return true;
}
