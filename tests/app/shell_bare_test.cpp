// The program on a bare X server (no window manager, no tray host): it says so on standard
// error, and closing the capture window ends it. The session is made to look like XWayland, and
// Qt is asked for a scale factor of 2, which the program must not follow.

#include <gtest/gtest.h>

#include "common/program_under_test.h"

// Xlib last: its macros clash with names inside GoogleTest.
#include "common/x_windows.h"

TEST(ShellBareTest, WithoutTrayClosingTheCaptureWindowEndsTheProgram) {
    CXWindows x;
    ASSERT_NE(x.display(), nullptr);
    CProgramUnderTest program(
        {"WAYLAND_DISPLAY=wayland-0", "QT_SCALE_FACTOR=2", "QT_ENABLE_HIGHDPI_SCALING=1"});
    ASSERT_GT(program.Pid(), 0);
    Window dlg = 0;
    ASSERT_TRUE(desktop::WaitUntil([&] {
        for (Window window : x.ShownWindowsOf(program.Pid())) {
            dlg = x.Geometry(window).w >= 100 ? window : dlg;
        }
        return dlg != 0;
    }));
    std::string errors = program.StandardError();
    EXPECT_NE(errors.find("no notification area"), std::string::npos) << errors;
    EXPECT_NE(errors.find("XWayland"), std::string::npos) << errors;
    EXPECT_EQ(program.ErrorLines(), 2) << errors;
    // Physical pixels: the start size stays about 335 x 280 screen pixels.
    EXPECT_LT(x.Geometry(dlg).w, 400);
    EXPECT_LT(x.Geometry(dlg).h, 340);

    ASSERT_EQ(desktop::Xdotool("windowfocus --sync " + std::to_string(dlg) + " key Escape"), 0);
    EXPECT_EQ(program.WaitForExit(), 0);
}
