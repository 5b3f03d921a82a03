#include "platform/window_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "platform/x_connection.h"

namespace {

constexpr long kAllDesktops = 0xFFFFFFFF;

// A CARDINAL property of one value; -1 when the window does not have it.
long CardinalProperty(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 1) {
        value = static_cast<long>(*reinterpret_cast<unsigned long*>(data) & 0xFFFFFFFF);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return value;
}

}  // namespace

bool IsOnCurrentDesktop(unsigned long window) {
    CXConnection x;
    if (!x.IsOpen()) {
        return true;
    }
    const long current =
        CardinalProperty(x.Display(), DefaultRootWindow(x.Display()), "_NET_CURRENT_DESKTOP");
    const long desktop = CardinalProperty(x.Display(), window, "_NET_WM_DESKTOP");
    return current < 0 || desktop < 0 || desktop == kAllDesktops || desktop == current;
}

void MoveToCurrentDesktop(unsigned long window) {
    CXConnection x;
    if (!x.IsOpen()) {
        return;
    }
    Display* display = x.Display();
    const Window root = DefaultRootWindow(display);
    const long current = CardinalProperty(display, root, "_NET_CURRENT_DESKTOP");
    if (current < 0) {
        return;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_WM_DESKTOP", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = current;
    event.xclient.data.l[1] = 2;  // source: a pager or the user's direct wish
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
}
