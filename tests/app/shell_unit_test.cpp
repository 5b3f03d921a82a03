#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/program_under_test.h"
#include "app/app_settings.h"
#include "app/command_args.h"
#include "app/global_shortcuts_portal.h"
#include "app/single_instance.h"
#include "app/tray_icon.h"

// The tip is cut at 127 characters, never inside a multi-byte character.
TEST(TrayTipTest, CutsToWholeCharacters) {
    EXPECT_TRUE(TrayTipText(nullptr).isEmpty());
    EXPECT_EQ(TrayTipText(std::string(200, 'x').c_str()), QString(127, QLatin1Char('x')));
    const QByteArray hangul = QString(130, QChar(0xD55C)).toUtf8();  // three bytes each
    EXPECT_EQ(TrayTipText(hangul.constData()), QString(127, QChar(0xD55C)));
}

// Without a reachable X display the program says so in one line and ends with status 1, as
// for a still off the screen or too large; --help and --version answer without one; anything the
// parser does not accept ends with status 2, one line and a pointer to --help on standard error.
TEST(CommandLineTest, AnswersWithoutADisplay) {
    const std::vector<std::string> noBus{"DISPLAY=" + std::string(getenv("DISPLAY")),
                                         "WAYLAND_DISPLAY=w", "DBUS_SESSION_BUS_ADDRESS=x"};
    const struct {
        std::vector<std::string> environment, arguments;
        int status;
        const char *out, *err;
    } cases[] = {
        {{"DISPLAY=", "WAYLAND_DISPLAY="}, {}, 1, "", "X11 session"},
        {{"WAYLAND_DISPLAY=wayland-0"}, {}, 1, "", "X11 session"},
        {{"DISPLAY=:4711"}, {}, 1, "", ":4711"},
        {noBus, {"--capture", "9x9"}, 1, "", "no D-Bus session bus to reach the screen-sharing"},
        {{noBus[0]}, {"--capture", "10x10+5000+0"}, 1, "", "outside the screen"},
        {{noBus[0]}, {"--capture", "32767x32767+0+0"}, 1, "", "BMP file; the format holds at most"},
        {{}, {"-h", "--capture", "1x1"}, 0, "--repair <FILE>", ""},
        {{}, {"--version"}, 0, "BrintelShot 1.0\n", ""},
        {{}, {"--frobnicate"}, 2, "", "Unknown option 'frobnicate'"},
        {{}, {"stray"}, 2, "", "unexpected argument 'stray'"},
        {{}, {"--capture", "0x10"}, 2, "", "width and height must be 1 to 32767"},
        {{}, {"--record", "64x48+0+0"}, 2, "", "--record needs --duration"},
        {{}, {"--record", "64x48", "--duration", "soon"}, 2, "", "not 'soon'"},
        {{}, {"--output", "x.bmp"}, 2, "", "--output needs --capture or --record"},
        {{}, {"--capture", "1x1", "--record", "1x1"}, 2, "", "cannot be used together"},
        {{}, {"--record", "8x8", "--duration", "1", "--output", "-"}, 2, "", "seek in"},
        {{}, {"--record", "8x8", "--duration", "1", "--output", "a.mp4"}, 2, "", "files (.avi)"},
        {{}, {"--capture", "8x8", "--output", "a.gif"}, 2, "", "(.bmp, .png, .jpg, .jpeg)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> environment{"-u", "DISPLAY"};
        environment.insert(environment.end(), c.environment.begin(), c.environment.end());
        CProgramUnderTest program(environment, "", c.arguments);
        const std::string what = c.err + std::string(" ") + c.out;
        EXPECT_EQ(program.WaitForExit(), c.status) << what;
        EXPECT_NE(program.StandardOutput().find(c.out), std::string::npos) << what;
        EXPECT_NE(program.StandardError().find(c.err), std::string::npos) << what;
        EXPECT_EQ(program.ErrorLines(), c.status == 0 ? 0 : c.status) << program.StandardError();
        EXPECT_EQ(program.StandardError().find("\nTry 'brintelshot --help' for more") !=
                      std::string::npos,
                  c.status == 2);
    }
}

TEST(CommandLineTest, GeometriesPlaceTheRegionOnTheScreen) {
    CGeometry geometry;
    CSvRect region;
    std::string error;
    const std::pair<const char*, CSvRect> placed[] = {
        {"640x480+100+50", {100, 50, 740, 530}},
        {"10X20", {0, 0, 10, 20}},
        {"100x50-0-0", {1820, 1030, 1920, 1080}},
        {"100x50-10+5", {1810, 5, 1910, 55}},
        {"50x50+1900+1070", {1900, 1070, 1950, 1120}}};  // partly off: black there
    for (const auto& [text, expected] : placed) {
        ASSERT_TRUE(ParseGeometry(text, &geometry, &error)) << text << ": " << error;
        ASSERT_TRUE(PlaceGeometry(geometry, 1920, 1080, &region, &error)) << text;
        EXPECT_TRUE(region == expected) << text;
    }
    for (const char* bad : {"", "640x480+1", "-640x480", "640x480+1+1x", "640*480", "1x40000",
                            "10x10+99999999999+0", " 10x10"}) {
        EXPECT_FALSE(ParseGeometry(bad, &geometry, &error)) << bad;
        EXPECT_NE(error.find("bad geometry"), std::string::npos) << error;
    }
    ASSERT_TRUE(ParseGeometry("10x10+1920+0", &geometry, &error));
    EXPECT_FALSE(PlaceGeometry(geometry, 1920, 1080, &region, &error));
    EXPECT_NE(error.find("outside the screen (1920x1080)"), std::string::npos) << error;
}

TEST(SettingsTest, SavedWindowPlaceIsKeptOnAScreenOrDropped) {
    const QList<QRect> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    EXPECT_EQ(RestoredGeometry({100, 100, 335, 280}, screens), QRect(100, 100, 335, 280));
    EXPECT_EQ(RestoredGeometry({2000, 900, 335, 280}, screens), QRect(2000, 744, 335, 280));
    EXPECT_EQ(RestoredGeometry({1800, 10, 335, 280}, screens), QRect(1920, 10, 335, 280));
    EXPECT_EQ(RestoredGeometry({-500, 100, 335, 280}, screens), std::nullopt);
    EXPECT_EQ(RestoredGeometry({4000, 100, 335, 280}, screens), std::nullopt);
    EXPECT_EQ(RestoredGeometry({0, 0, 2000, 300}, screens), std::nullopt);
    EXPECT_EQ(RestoredGeometry({}, screens), std::nullopt);
}

// The desktop's shortcuts portal takes a key as its modifiers and its X keysym name.
TEST(DesktopShortcutsTest, KeysAreNamedAsThePortalTakesThem) {
    EXPECT_EQ(PortalTrigger(QKeySequence("Ctrl+Shift+F3")), "CTRL+SHIFT+F3");
    EXPECT_EQ(PortalTrigger(QKeySequence("Meta+Alt+A")), "ALT+LOGO+a");
    EXPECT_EQ(PortalTrigger(QKeySequence("Ctrl+PgUp")), "CTRL+Prior");  // X names Page_Up so
    EXPECT_EQ(PortalTrigger(QKeySequence("Ctrl+1, F2")), "CTRL+1");
    EXPECT_EQ(PortalTrigger(QKeySequence()), "");
}

TEST(SingleInstanceTest, OneSocketPerUserAndDisplay) {
    const QString first = CSingleInstance::SocketPath("/run/user/7", 7, ":0");
    EXPECT_EQ(first, QStringLiteral("/run/user/7/brintelshot-7-:0"));
    EXPECT_EQ(CSingleInstance::SocketPath("/run/user/7", 7, ":0.1"), first);
    EXPECT_NE(CSingleInstance::SocketPath("/run/user/7", 7, ":1"), first);
    EXPECT_NE(CSingleInstance::SocketPath("/run/user/7", 8, ":0"), first);
    for (const char* same : {"unix:0", "localhost:0.0", "unix/host.lan:0", "tcp/localhost:0"}) {
        EXPECT_EQ(CSingleInstance::SocketPath("/run/user/7", 7, same), first) << same;
    }
    EXPECT_EQ(CSingleInstance::SocketPath("/tmp", 7, "tcp/far.lan:10.0"),
              QStringLiteral("/tmp/brintelshot-7-far.lan:10"));
}
