#include "platform/window_under_cursor.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <vector>

#include "platform/x_connection.h"

namespace {

bool HasWmState(Display* display, Window window) {
    Atom wmState = XInternAtom(display, "WM_STATE", True);
    if (wmState == None) {
        return false;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display, window, wmState, 0, 0, False, AnyPropertyType, &type,
                                    &format, &count, &remaining, &data);
    if (data != nullptr) {
        XFree(data);
    }
    return status == Success && type != None;
}

// The windows under the pointer from the top-level child of the root down to the deepest one.
std::vector<Window> PointerPath(Display* display) {
    std::vector<Window> path;
    Window current = DefaultRootWindow(display);
    for (;;) {
        Window root = None;
        Window child = None;
        int rootX = 0, rootY = 0, winX = 0, winY = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(display, current, &root, &child, &rootX, &rootY, &winX, &winY, &mask) ||
            child == None) {
            return path;
        }
        path.push_back(child);
        current = child;
    }
}

// The client window (the one a window manager marks with WM_STATE) in the tree below top.
Window FindClient(Display* display, Window top) {
    if (HasWmState(display, top)) {
        return top;
    }
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, top, &root, &parent, &children, &count)) {
        return None;
    }
    Window client = None;
    for (unsigned int i = 0; i < count && client == None; ++i) {
        client = FindClient(display, children[i]);
    }
    if (children != nullptr) {
        XFree(children);
    }
    return client;
}

// The window that stands for what the pointer is over: the deepest window when the pointer is
// inside a client window (child windows count), else the top-level window (decorations).
// `client` is the client window below the top-level window, None when it has none.
Window TargetWindow(Display* display, const std::vector<Window>& path, Window client) {
    for (Window window : path) {
        if (HasWmState(display, window)) {
            return path.back();
        }
    }
    return client != None ? path.front() : path.back();
}

bool IsInsideOrEqual(const std::vector<Window>& path, Window window) {
    return std::find(path.begin(), path.end(), window) != path.end();
}

}  // namespace

bool WindowRectUnderCursorOn(void* displayHandle, unsigned long excludeWindow, int* x, int* y,
                             int* w, int* h) {
    Display* display = static_cast<Display*>(displayHandle);
    // Windows come and go while the lookup walks the tree (a menu closing, a tooltip hiding):
    // the errors that follow are expected, and each call below checks its own result. Every
    // call is a round trip, so their errors all arrive while the trap lives.
    CXErrorTrap expectedErrors(display);
    std::vector<Window> path = PointerPath(display);
    if (path.empty()) {
        return false;
    }
    const Window client = FindClient(display, path.front());
    if (excludeWindow != None &&
        (IsInsideOrEqual(path, excludeWindow) || client == excludeWindow)) {
        return false;
    }
    Window target = TargetWindow(display, path, client);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, target, &attributes)) {
        return false;
    }
    Window unused = None;
    int screenX = 0;
    int screenY = 0;
    if (!XTranslateCoordinates(display, target, DefaultRootWindow(display), 0, 0, &screenX,
                               &screenY, &unused)) {
        return false;
    }
    *x = screenX;
    *y = screenY;
    *w = attributes.width;
    *h = attributes.height;
    return true;
}

bool WindowRectUnderCursor(unsigned long excludeWindow, int* x, int* y, int* w, int* h) {
    CXConnection connection;
    return connection.IsOpen() &&
           WindowRectUnderCursorOn(connection.Display(), excludeWindow, x, y, w, h);
}
