#include "app/session_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/x_connection.h"

namespace {

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

SessionKind ClassifySession(const char* display, const char* waylandDisplay,
                            const char* sessionType) {
    if (!IsSet(display)) {
        return SessionKind::NoX11;
    }
    if (IsSet(waylandDisplay) ||
        (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0)) {
        return SessionKind::XWayland;
    }
    return SessionKind::X11;
}

const char* SessionMessage(SessionKind kind) {
    switch (kind) {
        case SessionKind::NoX11:
            return "BrintelShot needs an X11 session: no X display is set (DISPLAY).";
        case SessionKind::XWayland:
            return "BrintelShot is running under XWayland: windows of other programs may not be "
                   "captured.";
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
    if (kind == SessionKind::XWayland) {
        std::fprintf(stderr, "brintelshot: %s\n", SessionMessage(kind));
    }
    return true;
}
