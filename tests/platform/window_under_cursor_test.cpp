// The window-under-the-cursor lookup on the test desktop (Xvfb with openbox).

#include <gtest/gtest.h>

#include "common/desktop_support.h"
#include "platform/window_under_cursor.h"

// Xlib last: its macros (None, Bool, ...) clash with names inside GoogleTest.
#include "common/x_windows.h"

namespace {

class WindowUnderCursorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_x.display(), nullptr); }

    void PointAt(int x, int y) {
        XWarpPointer(m_x.display(), 0, DefaultRootWindow(m_x.display()), 0, 0, 0, 0, x, y);
        XSync(m_x.display(), False);
    }

    bool Lookup(unsigned long exclude, ScreenRect* rect) {
        return WindowRectUnderCursorOn(m_x.display(), exclude, &rect->x, &rect->y, &rect->w,
                                       &rect->h);
    }

    CXWindows m_x;
};

}  // namespace

TEST_F(WindowUnderCursorTest, ClientAreaGivesTheClientWindow) {
    Window window = m_x.CreateColouredWindow({300, 200, 257, 123}, 0xFF00FF);
    ScreenRect client = m_x.Geometry(window);
    PointAt(client.x + 100, client.y + 60);
    ScreenRect found;
    ASSERT_TRUE(Lookup(0, &found));
    EXPECT_EQ(found, client);
    EXPECT_EQ(found.w, 257);
    EXPECT_EQ(found.h, 123);
    m_x.Destroy(window);
}

TEST_F(WindowUnderCursorTest, TitleBarGivesTheWholeDecoratedWindow) {
    Window window = m_x.CreateColouredWindow({500, 300, 200, 100}, 0xFF00FF);
    ScreenRect client = m_x.Geometry(window);
    ASSERT_GT(client.y, 10) << "the window manager should have added a title bar";
    PointAt(client.x + 100, client.y - 5);
    ScreenRect found;
    ASSERT_TRUE(Lookup(0, &found));
    EXPECT_LE(found.x, client.x);
    EXPECT_LT(found.y, client.y - 5);
    EXPECT_GE(found.x + found.w, client.x + client.w);
    EXPECT_GE(found.y + found.h, client.y + client.h);
    m_x.Destroy(window);
}

TEST_F(WindowUnderCursorTest, ChildWindowCounts) {
    Window window = m_x.CreateColouredWindow({400, 400, 300, 200}, 0xFF00FF);
    Window child = XCreateSimpleWindow(m_x.display(), window, 50, 40, 80, 30, 0, 0, 0x00FF00);
    XMapWindow(m_x.display(), child);
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.IsMapped(child); }));
    ScreenRect client = m_x.Geometry(window);
    PointAt(client.x + 60, client.y + 50);
    ScreenRect found;
    ASSERT_TRUE(Lookup(0, &found));
    EXPECT_EQ(found, (ScreenRect{client.x + 50, client.y + 40, 80, 30}));
    m_x.Destroy(window);
}

TEST_F(WindowUnderCursorTest, ExcludedWindowAndBareRootGiveNothing) {
    Window window = m_x.CreateColouredWindow({700, 100, 150, 150}, 0xFF00FF);
    ScreenRect client = m_x.Geometry(window);
    ScreenRect found{1, 2, 3, 4};
    PointAt(client.x + 10, client.y + 10);
    EXPECT_FALSE(Lookup(window, &found));
    PointAt(client.x + 10, client.y - 5);  // its title bar
    EXPECT_FALSE(Lookup(window, &found));
    m_x.Destroy(window);

    PointAt(1900, 10);  // an empty corner of the desktop
    EXPECT_FALSE(Lookup(0, &found));
    EXPECT_EQ(found, (ScreenRect{1, 2, 3, 4}));
}
