// The program on a bare X server (no window manager, no tray host): it says so on standard
// error, and closing the capture window ends it.

#include <gtest/gtest.h>

#include "app/program_under_test.h"
#include "common/desktop_support.h"

// Xlib last: its macros clash with names inside GoogleTest.
#include "app/x_windows.h"

TEST(ShellBareTest, WithoutTrayClosingTheCaptureWindowEndsTheProgram) {
    CXWindows x;
    ASSERT_NE(x.display(), nullptr);
    CProgramUnderTest program;
    ASSERT_TRUE(program.Start());
    Window dlg = 0;
    ASSERT_TRUE(desktop::WaitUntil([&] {
        for (Window window : x.WindowsOf(program.Pid())) {
            if (x.IsMapped(window) && x.Geometry(window).w >= 100) {
                dlg = window;
            }
        }
        return dlg != 0;
    }));
    std::string errors = program.StandardError();
    EXPECT_NE(errors.find("no notification area"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;

    ASSERT_EQ(desktop::Xdotool("windowfocus --sync " + std::to_string(dlg)), 0);
    ASSERT_EQ(desktop::Xdotool("key Escape"), 0);
    EXPECT_EQ(program.WaitForExit(), 0);
}
