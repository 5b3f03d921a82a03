// The window-under-the-cursor lookup on the test desktop (Xvfb with openbox).

#include <gtest/gtest.h>

#include "platform/window_under_cursor.h"

// Xlib last: its macros (None, Bool, ...) clash with names inside GoogleTest.
#include "common/x_windows.h"

// One framed window with a child: the cursor over its content, its child, its title bar, over it
// while it is excluded, and over the bare desktop.
TEST(WindowUnderCursorTest, FindsTheWindowTheCursorIsOver) {
    CXWindows x;
    ASSERT_NE(x.display(), nullptr);
    Window window = x.CreateColouredWindow({300, 200, 257, 123}, 0xFF00FF);
    Window child = XCreateSimpleWindow(x.display(), window, 150, 40, 80, 30, 0, 0, 0x00FF00);
    XMapWindow(x.display(), child);
    ASSERT_TRUE(desktop::WaitUntil([&] { return x.IsMapped(child); }));
    ScreenRect client = x.Geometry(window);
    ASSERT_EQ(client.w, 257);
    ASSERT_GT(client.y, 10) << "the window manager should have added a title bar";
    auto lookAt = [&](int dx, int dy, Window exclude, ScreenRect* found) {
        XWarpPointer(x.display(), 0, DefaultRootWindow(x.display()), 0, 0, 0, 0, client.x + dx,
                     client.y + dy);
        XSync(x.display(), False);
        return WindowRectUnderCursorOn(x.display(), exclude, &found->x, &found->y, &found->w,
                                       &found->h);
    };
    ScreenRect found;
    ASSERT_TRUE(lookAt(100, 60, 0, &found));
    EXPECT_EQ(found, client);
    ASSERT_TRUE(lookAt(160, 50, 0, &found));
    EXPECT_EQ(found, (ScreenRect{client.x + 150, client.y + 40, 80, 30}));
    ASSERT_TRUE(lookAt(100, -5, 0, &found));  // the title bar gives the whole framed window
    EXPECT_TRUE(found.x <= client.x && found.y < client.y - 5 &&
                found.x + found.w >= client.x + client.w &&
                found.y + found.h >= client.y + client.h)
        << found << " around " << client;

    found = {1, 2, 3, 4};
    EXPECT_FALSE(lookAt(10, 10, window, &found));
    EXPECT_FALSE(lookAt(10, -5, window, &found));
    x.Destroy(window);
    EXPECT_FALSE(lookAt(1900 - client.x, 10 - client.y, 0, &found));  // an empty corner
    EXPECT_EQ(found, (ScreenRect{1, 2, 3, 4}));
}
