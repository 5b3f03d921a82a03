#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/program_under_test.h"
#include "app/session_check.h"
#include "app/tray_icon.h"

TEST(SessionCheckTest, ClassifiesSessions) {
    EXPECT_EQ(ClassifySession(nullptr, nullptr, nullptr), SessionKind::NoX11);
    EXPECT_EQ(ClassifySession("", "wayland-0", "wayland"), SessionKind::NoX11);
    EXPECT_EQ(ClassifySession(":0", "", "x11"), SessionKind::X11);
    EXPECT_EQ(ClassifySession(":0", "wayland-0", nullptr), SessionKind::XWayland);
    EXPECT_EQ(ClassifySession(":1", nullptr, "wayland"), SessionKind::XWayland);
}

// Without a reachable X display the real program says so in one line and ends with status 1.
TEST(SessionCheckTest, ProgramWithoutX11SaysSoAndEndsWithOne) {
    const struct {
        std::vector<std::string> environment;
        const char* message;
    } cases[] = {{{"-u", "DISPLAY", "WAYLAND_DISPLAY="}, "X11 session"},
                 {{"-u", "DISPLAY", "WAYLAND_DISPLAY=wayland-0"}, "X11 session"},
                 {{"DISPLAY=:4711"}, ":4711"}};
    for (const auto& c : cases) {
        CProgramUnderTest program(c.environment);
        ASSERT_GT(program.Pid(), 0);
        EXPECT_EQ(program.WaitForExit(), 1) << c.message;
        EXPECT_NE(program.StandardError().find(c.message), std::string::npos)
            << program.StandardError();
        EXPECT_EQ(program.ErrorLines(), 1) << program.StandardError();
    }
}

// The tip is cut at 127 characters, never inside a multi-byte character.
TEST(TrayTipTest, CutsToWholeCharacters) {
    EXPECT_EQ(TrayTipText("Brintel's Shot"), QStringLiteral("Brintel's Shot"));
    EXPECT_TRUE(TrayTipText(nullptr).isEmpty());
    EXPECT_EQ(TrayTipText(std::string(200, 'x').c_str()), QString(127, QLatin1Char('x')));
    std::string hangul;
    for (int i = 0; i < 130; ++i) {
        hangul += "한";  // three UTF-8 bytes each
    }
    EXPECT_EQ(TrayTipText(hangul.c_str()), QString(127, QChar(0xD55C)));
}
