// The program as a user meets it on a desktop with a window manager (openbox) and a tray host
// (trayer): the tray icon and its menu, the hot key Ctrl+1, shut-down.

#include <gtest/gtest.h>

#include <string>

#include "app/program_under_test.h"
#include "common/desktop_support.h"

// Xlib last: its macros clash with names inside GoogleTest.
#include "app/x_windows.h"

namespace {

constexpr unsigned long kMagenta = 0xFF00FF;

class ShellDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(m_x.display(), nullptr);
        ASSERT_TRUE(m_program.Start());
        ASSERT_TRUE(desktop::WaitUntil([&] { return FindWindows(); }))
            << "the capture window and the tray icon did not appear";
    }

    void TearDown() override {
        if (HasFatalFailure() || HasNonfatalFailure()) {
            std::fprintf(stderr, "program stderr:\n%s", m_program.StandardError().c_str());
        }
    }

    // The capture window is the program's large window, the tray icon its small docked one.
    bool FindWindows() {
        m_dlg = 0;
        m_trayIcon = 0;
        for (Window window : m_x.WindowsOf(m_program.Pid())) {
            if (!m_x.IsMapped(window)) {
                continue;
            }
            ScreenRect rect = m_x.Geometry(window);
            if (rect.w >= 100 && rect.h >= 100) {
                m_dlg = window;
            } else if (rect.w <= 64 && rect.h <= 64) {
                m_trayIcon = window;
            }
        }
        return m_dlg != 0 && m_trayIcon != 0;
    }

    // Puts the capture window at a known place, as a user moving it would.
    ScreenRect PlaceDlg(int x, int y) {
        desktop::Xdotool("windowmove --sync " + std::to_string(m_dlg) + " " + std::to_string(x) +
                         " " + std::to_string(y));
        desktop::WaitUntil([&] {
            ScreenRect rect = m_x.Geometry(m_dlg);
            return rect.x == x && rect.y == y;
        });
        return m_x.Geometry(m_dlg);
    }

    bool DlgVisible() { return m_x.IsMapped(m_dlg); }

    void HideDlgWithEscape() {
        ASSERT_EQ(desktop::Xdotool("windowfocus --sync " + std::to_string(m_dlg)), 0);
        ASSERT_EQ(desktop::Xdotool("key Escape"), 0);
        ASSERT_TRUE(desktop::WaitUntil([&] { return !DlgVisible(); }));
    }

    std::string TrayIconCentre() {
        ScreenRect icon = m_x.Geometry(m_trayIcon);
        return std::to_string(icon.x + icon.w / 2) + " " + std::to_string(icon.y + icon.h / 2);
    }

    CXWindows m_x;
    CProgramUnderTest m_program;
    Window m_dlg = 0;
    Window m_trayIcon = 0;
};

}  // namespace

TEST_F(ShellDesktopTest, TrayIconDoubleClickShowsAndMenuExitEndsWithStatusZero) {
    EXPECT_TRUE(m_x.HasAncestorOfClass(m_trayIcon, "trayer")) << "icon not docked in trayer";
    ScreenRect placed = PlaceDlg(200, 150);

    HideDlgWithEscape();
    ASSERT_EQ(desktop::Xdotool("mousemove " + TrayIconCentre() + " click --repeat 2 --delay 80 1"),
              0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return DlgVisible(); }));
    EXPECT_EQ(m_x.Geometry(m_dlg), placed) << "shown again at its last place and size";

    // Exit while the capture window is hidden ends the program normally.
    HideDlgWithEscape();
    ASSERT_EQ(desktop::Xdotool("mousemove " + TrayIconCentre() + " click 3"), 0);
    Window menu = 0;
    ASSERT_TRUE(desktop::WaitUntil([&] {
        for (Window window : m_x.WindowsOf(m_program.Pid())) {
            if (window != m_dlg && window != m_trayIcon && m_x.IsMapped(window)) {
                menu = window;
            }
        }
        return menu != 0;
    })) << "the tray menu did not open";
    ScreenRect rect = m_x.Geometry(menu);
    ASSERT_EQ(desktop::Xdotool("mousemove " + std::to_string(rect.x + rect.w / 2) + " " +
                               std::to_string(rect.y + rect.h / 2) + " click 1"),
              0);
    EXPECT_EQ(m_program.WaitForExit(), 0);
}

TEST_F(ShellDesktopTest, CtrlOneShowsThenSnapsOverTheWindowUnderTheCursor) {
    ScreenRect placed = PlaceDlg(240, 170);
    HideDlgWithEscape();

    ScreenRect target{1300, 420, 301, 187};
    Window window = m_x.CreateColouredWindow(target, kMagenta);
    target = m_x.Geometry(window);  // where the window manager put it
    ASSERT_EQ(desktop::Xdotool("mousemove " + std::to_string(target.x + target.w / 2) + " " +
                               std::to_string(target.y + target.h / 2)),
              0);

    // Neither the keypad 1 nor the digit 1 without Ctrl act: had one of them shown the window,
    // the Ctrl+1 after them would have snapped it away from its last place.
    ASSERT_EQ(desktop::Xdotool("key ctrl+KP_1 1 ctrl+1"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return DlgVisible(); }));
    EXPECT_EQ(m_x.Geometry(m_dlg), placed) << "Ctrl+1 on a hidden window only shows it";

    ASSERT_EQ(desktop::Xdotool("key ctrl+1"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.Geometry(m_dlg) != placed; }));
    ScreenRect snapped = m_x.Geometry(m_dlg);
    EXPECT_EQ(snapped.x, target.x - 4);
    EXPECT_EQ(snapped.x + snapped.w, target.x + target.w + 4);
    EXPECT_EQ(snapped.y + snapped.h, target.y + target.h + 4);
    EXPECT_LT(snapped.y, target.y - 34);

    // On screen: the target shows through exactly the capture region, the band surrounds it.
    bool exact = desktop::WaitUntil([&] {
        int left = target.x, top = target.y;
        int right = target.x + target.w - 1, bottom = target.y + target.h - 1;
        return m_x.Pixel(left, top) == kMagenta && m_x.Pixel(right, bottom) == kMagenta &&
               m_x.Pixel(left - 1, top + 5) != kMagenta &&
               m_x.Pixel(left + 5, top - 1) != kMagenta &&
               m_x.Pixel(right + 1, bottom - 5) != kMagenta &&
               m_x.Pixel(right - 5, bottom + 1) != kMagenta;
    });
    EXPECT_TRUE(exact) << "the capture region does not cover exactly " << target;

    m_x.Destroy(window);
    m_program.Signal(SIGTERM);
    EXPECT_EQ(m_program.WaitForExit(), 0);
}
