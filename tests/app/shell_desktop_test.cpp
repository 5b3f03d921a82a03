// The program as a user meets it on a desktop with a window manager (openbox) and a tray host
// (trayer): the tray icon and its menu, the hot key Ctrl+1, the about box, shut-down.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/program_under_test.h"

// Xlib last: its macros clash with names inside GoogleTest.
#include "common/x_windows.h"

namespace {

constexpr unsigned long kMagenta = 0xFF00FF;

class ShellDesktopTest : public ::testing::Test {
protected:
    // The capture window is the program's large window, the tray icon its small docked one.
    void SetUp() override {
        ASSERT_NE(m_x.display(), nullptr);
        ASSERT_GT(m_program.Pid(), 0);
        ASSERT_TRUE(desktop::WaitUntil([&] {
            for (Window window : m_x.ShownWindowsOf(m_program.Pid())) {
                ScreenRect rect = m_x.Geometry(window);
                if (rect.w >= 100 && rect.h >= 100) {
                    m_dlg = window;
                } else if (rect.w <= 64 && rect.h <= 64) {
                    m_trayIcon = window;
                }
            }
            return m_dlg != 0 && m_trayIcon != 0;
        })) << "the capture window and the tray icon did not appear";
    }

    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "program stderr:\n%s", m_program.StandardError().c_str());
        }
    }

    // Puts the capture window at a known place, as a user moving it would.
    ScreenRect PlaceDlg(int x, int y) {
        desktop::Xdotool("windowmove --sync " + std::to_string(m_dlg) + " " + std::to_string(x) +
                         " " + std::to_string(y));
        desktop::WaitUntil(
            [&] { return m_x.Geometry(m_dlg).x == x && m_x.Geometry(m_dlg).y == y; });
        return m_x.Geometry(m_dlg);
    }

    void HideDlgWithEscape() {
        ASSERT_EQ(desktop::Xdotool("windowfocus --sync " + std::to_string(m_dlg) + " key Escape"),
                  0);
        ASSERT_TRUE(desktop::WaitUntil([&] { return !m_x.IsMapped(m_dlg); }));
    }

    // Right-clicks at point ("x y") and clicks the middle of the menu that opens: the tray
    // menu's Exit, the caption menu's About. Returns the menu, 0 when none opened.
    Window ChooseFromMenuAt(const std::string& point) {
        desktop::Xdotool("mousemove " + point + " click 3");
        Window menu = 0;
        if (desktop::WaitUntil([&] {
                for (Window window : m_x.ShownWindowsOf(m_program.Pid())) {
                    menu = window != m_dlg && window != m_trayIcon ? window : menu;
                }
                return menu != 0;
            })) {
            desktop::Xdotool("mousemove " + m_x.Geometry(menu).Centre() + " click 1");
        }
        return menu;
    }

    // Opens the about box through the caption band's menu; 0 when it did not open.
    Window OpenAboutBox() {
        ScreenRect dlg = m_x.Geometry(m_dlg);
        ChooseFromMenuAt(std::to_string(dlg.x + 60) + " " + std::to_string(dlg.y + 12));
        std::string about = desktop::Output(
            "timeout 15 xdotool search --sync --onlyvisible --name '^BrintelShot 정보$'");
        return std::strtoul(about.c_str(), nullptr, 10);
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
    std::string icon = m_x.Geometry(m_trayIcon).Centre();
    ASSERT_EQ(desktop::Xdotool("mousemove " + icon + " click --repeat 2 --delay 80 1"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.IsMapped(m_dlg); }));
    EXPECT_EQ(m_x.Geometry(m_dlg), placed) << "shown again at its last place and size";

    // Exit while the capture window is hidden ends the program normally.
    HideDlgWithEscape();
    ASSERT_NE(ChooseFromMenuAt(icon), 0u) << "the tray menu did not open";
    EXPECT_EQ(m_program.WaitForExit(), 0);
}

TEST_F(ShellDesktopTest, CaptionMenuOpensTheAboutBoxWhichOkCloses) {
    PlaceDlg(300, 300);
    Window about = OpenAboutBox();
    ASSERT_NE(about, 0u);
    ASSERT_EQ(desktop::Xdotool("windowfocus --sync " + std::to_string(about) + " key Return"), 0);
    EXPECT_TRUE(desktop::WaitUntil([&] { return !m_x.IsMapped(about); }));
    EXPECT_TRUE(m_x.IsMapped(m_dlg));

    // Ending the program while the about box is open ends it cleanly.
    ASSERT_NE(OpenAboutBox(), 0u);
    kill(m_program.Pid(), SIGTERM);
    EXPECT_EQ(m_program.WaitForExit(), 0);
}

TEST_F(ShellDesktopTest, CtrlOneShowsThenSnapsOverTheWindowUnderTheCursor) {
    ScreenRect placed = PlaceDlg(240, 170);
    HideDlgWithEscape();
    Window window = m_x.CreateColouredWindow({1300, 420, 301, 187}, kMagenta);
    ScreenRect target = m_x.Geometry(window);  // where the window manager put it

    // Neither the keypad 1 nor the digit 1 without Ctrl act: had one of them shown the window,
    // the Ctrl+1 after them would have snapped it away from its last place.
    ASSERT_EQ(desktop::Xdotool("mousemove " + target.Centre() + " key ctrl+KP_1 1 ctrl+1"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.IsMapped(m_dlg); }));
    EXPECT_EQ(m_x.Geometry(m_dlg), placed) << "Ctrl+1 on a hidden window only shows it";

    ASSERT_EQ(desktop::Xdotool("key ctrl+1"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.Geometry(m_dlg) != placed; }));
    ScreenRect snapped = m_x.Geometry(m_dlg);
    EXPECT_EQ(snapped.x, target.x - 4);
    EXPECT_EQ(snapped.x + snapped.w, target.x + target.w + 4);
    EXPECT_EQ(snapped.y + snapped.h, target.y + target.h + 4);
    EXPECT_LT(snapped.y, target.y - 34);

    // On screen: the target shows through exactly the capture region, the band surrounds it.
    int left = target.x, top = target.y;
    int right = target.x + target.w - 1, bottom = target.y + target.h - 1;
    EXPECT_TRUE(desktop::WaitUntil([&] {
        return m_x.Pixel(left, top) == kMagenta && m_x.Pixel(right, bottom) == kMagenta &&
               m_x.Pixel(left - 1, top + 5) != kMagenta &&
               m_x.Pixel(left + 5, top - 1) != kMagenta &&
               m_x.Pixel(right + 1, bottom - 5) != kMagenta &&
               m_x.Pixel(right - 5, bottom + 1) != kMagenta;
    })) << "the capture region does not cover exactly "
        << target;

    // Only Ctrl is looked at: Ctrl+Shift+1 snaps as well.
    Window second = m_x.CreateColouredWindow({400, 600, 222, 111}, kMagenta);
    ScreenRect rect = m_x.Geometry(second);
    ASSERT_EQ(desktop::Xdotool("mousemove " + rect.Centre() + " key ctrl+shift+1"), 0);
    EXPECT_TRUE(desktop::WaitUntil([&] { return m_x.Geometry(m_dlg).x == rect.x - 4; }));
    EXPECT_EQ(m_x.Geometry(m_dlg).w, rect.w + 8);
    m_x.Destroy(second);
    m_x.Destroy(window);

    // Exit from the tray menu while the capture window is shown ends the program normally too.
    ASSERT_NE(ChooseFromMenuAt(m_x.Geometry(m_trayIcon).Centre()), 0u);
    EXPECT_EQ(m_program.WaitForExit(), 0);
}
