#pragma once

// Looks at the X display as a person would: which windows a process shows, where they are,
// and what colour the screen has at a point. Include after GoogleTest (Xlib's macros).

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/desktop_support.h"

struct ScreenRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const ScreenRect& o) const {
        return std::tie(x, y, w, h) == std::tie(o.x, o.y, o.w, o.h);
    }
    bool operator!=(const ScreenRect& o) const { return !(*this == o); }
    // "x y" of the middle, as xdotool mousemove takes it.
    std::string Centre() const {
        return std::to_string(x + w / 2) + " " + std::to_string(y + h / 2);
    }
};

inline std::ostream& operator<<(std::ostream& out, const ScreenRect& r) {
    return out << r.w << "x" << r.h << "+" << r.x << "+" << r.y;
}

class CXWindows {
public:
    // Windows of the program come and go while a test looks (menus, tooltips): the errors that
    // brings are expected, and must not end the test through Xlib's default handler.
    CXWindows() : m_display(XOpenDisplay(nullptr)) {
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~CXWindows() {
        if (m_display != nullptr) {
            XCloseDisplay(m_display);
        }
    }
    Display* display() const { return m_display; }

    // The shown windows whose _NET_WM_PID is pid.
    std::vector<Window> ShownWindowsOf(long pid) {
        std::istringstream ids(
            desktop::Output("xdotool search --onlyvisible --pid " + std::to_string(pid)));
        return {std::istream_iterator<Window>(ids), std::istream_iterator<Window>()};
    }

    // The parent of window; 0 when that is the root.
    Window Parent(Window window) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_display, window, &root, &parent, &children, &count)) {
            return 0;
        }
        if (children != nullptr) {
            XFree(children);
        }
        return parent == root ? 0 : parent;
    }

    // True when some ancestor of window is a window of the X class name.
    bool HasAncestorOfClass(Window window, const std::string& name) {
        std::string ids = "\n" + desktop::Output("xdotool search --class " + name);
        for (Window up = Parent(window); up != 0; up = Parent(up)) {
            if (ids.find("\n" + std::to_string(up) + "\n") != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    ScreenRect Geometry(Window window) {
        XWindowAttributes attributes = {};
        ScreenRect rect;
        Window unused = 0;
        if (XGetWindowAttributes(m_display, window, &attributes)) {
            XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &rect.x,
                                  &rect.y, &unused);
            rect.w = attributes.width;
            rect.h = attributes.height;
        }
        return rect;
    }

    bool IsMapped(Window window) {
        XWindowAttributes attributes = {};
        return XGetWindowAttributes(m_display, window, &attributes) &&
               attributes.map_state == IsViewable;
    }

    // The colour at a screen point as 0xRRGGBB.
    unsigned long Pixel(int x, int y) {
        XImage* image =
            XGetImage(m_display, DefaultRootWindow(m_display), x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return 0xFFFFFFFF;
        }
        unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

    // A plain top-level window of one colour at rect, shown and framed by the window manager.
    Window CreateColouredWindow(const ScreenRect& rect, unsigned long colour) {
        Window window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), rect.x, rect.y,
                                            rect.w, rect.h, 0, 0, colour);
        XSizeHints hints = {};
        hints.flags = USPosition | USSize;
        XSetWMNormalHints(m_display, window, &hints);
        XMapWindow(m_display, window);
        desktop::WaitUntil([&] { return IsMapped(window) && Parent(window) != 0; });
        return window;
    }

    void Destroy(Window window) {
        XDestroyWindow(m_display, window);
        XSync(m_display, False);
    }

private:
    Display* m_display;
};
