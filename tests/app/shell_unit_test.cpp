#include <gtest/gtest.h>

#include <string>

#include "app/program_under_test.h"
#include "app/session_check.h"
#include "app/tray_icon.h"

TEST(SessionCheckTest, ClassifiesSessions) {
    EXPECT_EQ(ClassifySession(nullptr, nullptr, nullptr), SessionKind::NoX11);
    EXPECT_EQ(ClassifySession("", "wayland-0", "wayland"), SessionKind::NoX11);
    EXPECT_EQ(ClassifySession(":0", nullptr, "x11"), SessionKind::X11);
    EXPECT_EQ(ClassifySession(":0", "", nullptr), SessionKind::X11);
    EXPECT_EQ(ClassifySession(":0", "wayland-0", nullptr), SessionKind::XWayland);
    EXPECT_EQ(ClassifySession(":1", nullptr, "wayland"), SessionKind::XWayland);
}

TEST(TrayTipTest, CutsToWholeCharacters) {
    EXPECT_EQ(TrayTipText("Brintel's Shot"), QStringLiteral("Brintel's Shot"));
    EXPECT_TRUE(TrayTipText(nullptr).isEmpty());
    std::string longTip(200, 'x');
    EXPECT_EQ(TrayTipText(longTip.c_str()), QString(127, QLatin1Char('x')));
    std::string hangul;
    for (int i = 0; i < 130; ++i) {
        hangul += "한";  // three UTF-8 bytes each
    }
    QString cut = TrayTipText(hangul.c_str());
    EXPECT_EQ(cut.size(), 127);
    EXPECT_EQ(cut, QString(127, QChar(0xD55C)));
}

// Runs the real program without an X display: one line on standard error, status 1.
TEST(SessionCheckTest, ProgramWithoutX11SaysSoAndEndsWithOne) {
    for (const char* wayland : {"", "wayland-0"}) {
        CProgramUnderTest program({"DISPLAY"});
        setenv("WAYLAND_DISPLAY", wayland, 1);
        ASSERT_TRUE(program.Start());
        EXPECT_EQ(program.WaitForExit(), 1);
        unsetenv("WAYLAND_DISPLAY");
        std::string errors = program.StandardError();
        EXPECT_NE(errors.find("X11 session"), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
}

TEST(SessionCheckTest, ProgramWithAnUnreachableDisplayEndsWithOne) {
    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", ":4711", 1);
    CProgramUnderTest program;
    ASSERT_TRUE(program.Start());
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(program.WaitForExit(), 1);
    std::string errors = program.StandardError();
    EXPECT_NE(errors.find(":4711"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}
