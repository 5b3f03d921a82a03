#pragma once

// Looks at the X display as a person would: which windows a process shows, where they are,
// and what colour the screen has at a point. Include after GoogleTest (Xlib's macros).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <string>
#include <vector>

struct ScreenRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const ScreenRect& o) const {
        return x == o.x && y == o.y && w == o.w && h == o.h;
    }
    bool operator!=(const ScreenRect& o) const { return !(*this == o); }
};

inline std::ostream& operator<<(std::ostream& out, const ScreenRect& r) {
    return out << r.w << "x" << r.h << "+" << r.x << "+" << r.y;
}

class CXWindows {
public:
    CXWindows() : m_display(XOpenDisplay(nullptr)) {}
    ~CXWindows() {
        if (m_display != nullptr) {
            XCloseDisplay(m_display);
        }
    }
    Display* display() const { return m_display; }

    // Every window whose _NET_WM_PID is pid.
    std::vector<Window> WindowsOf(long pid) {
        std::vector<Window> found;
        Collect(DefaultRootWindow(m_display), pid, &found);
        return found;
    }

    ScreenRect Geometry(Window window) {
        XWindowAttributes attributes = {};
        ScreenRect rect;
        if (!XGetWindowAttributes(m_display, window, &attributes)) {
            return rect;
        }
        Window unused = 0;
        XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &rect.x,
                              &rect.y, &unused);
        rect.w = attributes.width;
        rect.h = attributes.height;
        return rect;
    }

    bool IsMapped(Window window) {
        XWindowAttributes attributes = {};
        return XGetWindowAttributes(m_display, window, &attributes) &&
               attributes.map_state == IsViewable;
    }

    // True when some ancestor of window has a WM_CLASS containing name.
    bool HasAncestorOfClass(Window window, const char* name) {
        Window current = window;
        for (;;) {
            Window root = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, current, &root, &parent, &children, &count)) {
                return false;
            }
            if (children != nullptr) {
                XFree(children);
            }
            if (parent == 0 || parent == root) {
                return false;
            }
            current = parent;
            XClassHint hint = {};
            if (XGetClassHint(m_display, current, &hint)) {
                bool match = (hint.res_name && std::strstr(hint.res_name, name)) ||
                             (hint.res_class && std::strstr(hint.res_class, name));
                XFree(hint.res_name);
                XFree(hint.res_class);
                if (match) {
                    return true;
                }
            }
        }
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

    // A plain top-level window of one colour, placed at (x, y) and shown.
    Window CreateColouredWindow(const ScreenRect& rect, unsigned long colour) {
        Window window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), rect.x, rect.y,
                                            rect.w, rect.h, 0, 0, colour);
        XSizeHints hints = {};
        hints.flags = USPosition | USSize;
        hints.x = rect.x;
        hints.y = rect.y;
        hints.width = rect.w;
        hints.height = rect.h;
        XSetWMNormalHints(m_display, window, &hints);
        XSelectInput(m_display, window, StructureNotifyMask);
        XMapWindow(m_display, window);
        XEvent event;
        do {
            XWindowEvent(m_display, window, StructureNotifyMask, &event);
        } while (event.type != MapNotify);
        XSync(m_display, False);
        return window;
    }

    void Destroy(Window window) {
        XDestroyWindow(m_display, window);
        XSync(m_display, False);
    }

private:
    void Collect(Window window, long pid, std::vector<Window>* found) {
        Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &remaining, &data) == Success &&
            data != nullptr) {
            if (count == 1 && *reinterpret_cast<long*>(data) == pid) {
                found->push_back(window);
            }
            XFree(data);
        }
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (XQueryTree(m_display, window, &root, &parent, &children, &childCount)) {
            for (unsigned int i = 0; i < childCount; ++i) {
                Collect(children[i], pid, found);
            }
            if (children != nullptr) {
                XFree(children);
            }
        }
    }

    Display* m_display;
};
