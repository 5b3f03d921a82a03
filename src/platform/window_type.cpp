#include "platform/window_type.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

#include "platform/x_connection.h"

void MarkAsUtilityWindow(unsigned long window) {
    CXConnection x;
    if (!x.IsOpen()) {
        return;
    }
    Display* display = x.Display();
    CXErrorTrap trap(display);  // a window gone meanwhile is no error of the program's
    const Atom property = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    std::vector<Atom> types{XInternAtom(display, "_NET_WM_WINDOW_TYPE_UTILITY", False)};
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 32, False, XA_ATOM, &type, &format, &count,
                           &after, &data) == Success &&
        type == XA_ATOM && format == 32) {
        const auto* kept = reinterpret_cast<const Atom*>(data);
        types.insert(types.end(), kept, kept + count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    if (types.size() > 1 && types[1] == types[0]) {
        return;  // marked at an earlier show
    }
    XChangeProperty(display, window, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(types.data()),
                    static_cast<int>(types.size()));
    trap.SyncWithoutError();
}
