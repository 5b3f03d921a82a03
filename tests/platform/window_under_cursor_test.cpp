// The window-under-the-cursor lookup on the test desktop (Xvfb with openbox).

#include <gtest/gtest.h>

#include "platform/window_under_cursor.h"

// Xlib last: its macros (None, Bool, ...) clash with names inside GoogleTest.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

class WindowUnderCursorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
    }
    void TearDown() override {
        if (m_display != nullptr) {
            XCloseDisplay(m_display);
        }
    }

    // A managed top-level window of the given client size, asking to be placed at (x, y).
    Window CreateTopLevel(int x, int y, int w, int h) {
        Window root = DefaultRootWindow(m_display);
        Window window = XCreateSimpleWindow(m_display, root, x, y, w, h, 0, 0, 0xFF00FF);
        XSizeHints hints = {};
        hints.flags = USPosition | USSize;
        hints.x = x;
        hints.y = y;
        hints.width = w;
        hints.height = h;
        XSetWMNormalHints(m_display, window, &hints);
        XSelectInput(m_display, window, StructureNotifyMask);
        XMapWindow(m_display, window);
        WaitForMap(window);
        return window;
    }

    void WaitForMap(Window window) {
        XEvent event;
        do {
            XWindowEvent(m_display, window, StructureNotifyMask, &event);
        } while (event.type != MapNotify);
        XSync(m_display, False);
    }

    Rect ScreenRect(Window window) {
        XWindowAttributes attributes;
        XGetWindowAttributes(m_display, window, &attributes);
        Rect rect;
        Window unused;
        XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &rect.x,
                              &rect.y, &unused);
        rect.w = attributes.width;
        rect.h = attributes.height;
        return rect;
    }

    void PointAt(int x, int y) {
        XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, x, y);
        XSync(m_display, False);
    }

    bool Lookup(unsigned long exclude, Rect* rect) {
        return WindowRectUnderCursorOn(m_display, exclude, &rect->x, &rect->y, &rect->w, &rect->h);
    }

    Display* m_display = nullptr;
};

}  // namespace

TEST_F(WindowUnderCursorTest, ClientAreaGivesTheClientWindow) {
    Window window = CreateTopLevel(300, 200, 257, 123);
    Rect client = ScreenRect(window);
    PointAt(client.x + 100, client.y + 60);
    Rect found;
    ASSERT_TRUE(Lookup(0, &found));
    EXPECT_EQ(found.x, client.x);
    EXPECT_EQ(found.y, client.y);
    EXPECT_EQ(found.w, 257);
    EXPECT_EQ(found.h, 123);
    XDestroyWindow(m_display, window);
}

TEST_F(WindowUnderCursorTest, TitleBarGivesTheWholeDecoratedWindow) {
    Window window = CreateTopLevel(500, 300, 200, 100);
    Rect client = ScreenRect(window);
    ASSERT_GT(client.y, 10) << "the window manager should have added a title bar";
    PointAt(client.x + 100, client.y - 5);
    Rect found;
    ASSERT_TRUE(Lookup(0, &found));
    EXPECT_LE(found.x, client.x);
    EXPECT_LT(found.y, client.y - 5);
    EXPECT_GE(found.x + found.w, client.x + client.w);
    EXPECT_GE(found.y + found.h, client.y + client.h);
    XDestroyWindow(m_display, window);
}

TEST_F(WindowUnderCursorTest, ChildWindowCounts) {
    Window window = CreateTopLevel(400, 400, 300, 200);
    Window child = XCreateSimpleWindow(m_display, window, 50, 40, 80, 30, 0, 0, 0x00FF00);
    XSelectInput(m_display, child, StructureNotifyMask);
    XMapWindow(m_display, child);
    WaitForMap(child);
    Rect client = ScreenRect(window);
    PointAt(client.x + 60, client.y + 50);
    Rect found;
    ASSERT_TRUE(Lookup(0, &found));
    EXPECT_EQ(found.x, client.x + 50);
    EXPECT_EQ(found.y, client.y + 40);
    EXPECT_EQ(found.w, 80);
    EXPECT_EQ(found.h, 30);
    XDestroyWindow(m_display, window);
}

TEST_F(WindowUnderCursorTest, ExcludedWindowAndBareRootGiveNothing) {
    Window window = CreateTopLevel(700, 100, 150, 150);
    Rect client = ScreenRect(window);
    Rect found{1, 2, 3, 4};
    PointAt(client.x + 10, client.y + 10);
    EXPECT_FALSE(Lookup(window, &found));
    PointAt(client.x + 10, client.y - 5);  // its title bar
    EXPECT_FALSE(Lookup(window, &found));
    XDestroyWindow(m_display, window);
    XSync(m_display, False);

    PointAt(1900, 10);  // an empty corner of the desktop
    EXPECT_FALSE(Lookup(0, &found));
    EXPECT_EQ(found.x, 1);
    EXPECT_EQ(found.w, 3);
}
