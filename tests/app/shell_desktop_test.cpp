// The program as a user meets it on a desktop with openbox and a tray host (trayer); the
// ShellBareTest cases run on a bare X server instead (see CMakeLists.txt).

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QToolTip>

#include "app/brintel_shot_app.h"
#include "app/main_frame.h"
#include "capture/brintel_shot_dlg.h"
#include "capture/command_ids.h"
#include "common/program_under_test.h"
#include "encoding/avi/avi_writer.h"
#include "test_support.h"

// Xlib last: its macros clash with names inside GoogleTest.
#include "common/x_windows.h"
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

constexpr unsigned long kMagenta = 0xFF00FF;

// Waits for the program's capture window (its large window; on a Wayland desktop the caption
// part of it) and, when trayIcon is given, its tray icon (its small docked window).
bool FindWindows(CXWindows& x, pid_t pid, Window& dlg, Window* trayIcon = nullptr) {
    dlg = 0;
    return desktop::WaitUntil([&] {
        for (Window window : x.ShownWindowsOf(pid)) {
            ScreenRect rect = x.Geometry(window);
            if (rect.w >= 100 && rect.h >= 50) {
                dlg = window;
            } else if (trayIcon != nullptr && rect.w <= 64 && rect.h <= 64) {
                *trayIcon = window;
            }
        }
        return dlg != 0 && (trayIcon == nullptr || *trayIcon != 0);
    });
}

class ShellDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(m_x.display(), nullptr);
        ASSERT_TRUE(Start(true)) << "the capture window and the tray icon did not appear";
    }

    void TearDown() override {
        desktop::Xdotool("set_desktop 0");  // where the tray host is, for the next test
        if (HasFailure()) {
            std::fprintf(stderr, "program stderr:\n%s", m_program->StandardError().c_str());
        }
    }

    // Starts the program in the test's folder with its settings folder, and finds its capture
    // window (and, with tray, its tray icon).
    bool Start(bool tray = false) {
        m_program = std::make_unique<CProgramUnderTest>(
            std::vector<std::string>{"XDG_CONFIG_HOME=" + ConfigHome()}, m_dir.path());
        return m_program->Pid() > 0 &&
               FindWindows(m_x, m_program->Pid(), m_dlg, tray ? &m_trayIcon : nullptr);
    }

    int Terminate() { return kill(m_program->Pid(), SIGTERM) == 0 ? m_program->WaitForExit() : -1; }
    std::string ConfigHome() const { return m_dir.path() + "/config"; }
    std::string SettingsFile() const { return ConfigHome() + "/Brintel Shot/BrintelShot.ini"; }
    std::string SettingsText() const { return desktop::Output("cat '" + SettingsFile() + "'"); }

    // Puts the capture window at a known place, as a user moving it would.
    ScreenRect PlaceDlg(int x, int y) {
        desktop::Xdotool("windowmove --sync " + std::to_string(m_dlg) + " " + std::to_string(x) +
                         " " + std::to_string(y));
        desktop::WaitUntil(
            [&] { return m_x.Geometry(m_dlg).x == x && m_x.Geometry(m_dlg).y == y; });
        return m_x.Geometry(m_dlg);
    }

    // Hides the capture window with Escape, or minimises it.
    void HideDlg(bool minimise = false) {
        const std::string id = std::to_string(m_dlg);
        ASSERT_EQ(desktop::Xdotool(minimise ? "windowminimize --sync " + id
                                            : "windowfocus --sync " + id + " key Escape"),
                  0);
        ASSERT_TRUE(desktop::WaitUntil([&] { return !m_x.IsMapped(m_dlg); }));
    }

    // Right-clicks the tray icon and clicks the last item of its menu, its Exit; false when no
    // menu opened. Windows in busy (an open dialog) are not taken for the menu.
    bool ChooseTrayExit(const std::vector<Window>& busy = {}) {
        Window menu = OpenMenuAt(m_x.Geometry(m_trayIcon).Centre(), busy);
        const ScreenRect r = m_x.Geometry(menu);
        return menu != 0 && desktop::Xdotool("mousemove " + std::to_string(r.x + r.w / 2) + " " +
                                             std::to_string(r.y + r.h - 10) + " click 1") == 0;
    }

    Window OpenMenuAt(const std::string& point, const std::vector<Window>& busy = {}) {
        desktop::Xdotool("mousemove " + point + " click 3");
        Window menu = 0;
        desktop::WaitUntil([&] {
            for (Window window : m_x.ShownWindowsOf(m_program->Pid())) {
                if (window != m_dlg && window != m_trayIcon &&
                    std::find(busy.begin(), busy.end(), window) == busy.end()) {
                    menu = window;
                }
            }
            return menu != 0;
        });
        return menu;
    }

    // Chooses the n-th item (from 1) of the capture window's caption menu with the keyboard.
    void ChooseCaptionItem(int n) {
        const ScreenRect dlg = m_x.Geometry(m_dlg);
        ASSERT_NE(OpenMenuAt(std::to_string(dlg.x + 60) + " " + std::to_string(dlg.y + 12)), 0u)
            << "the caption menu did not open";
        ASSERT_EQ(
            desktop::Xdotool("key --delay 60 --repeat " + std::to_string(n) + " Down key Return"),
            0);
    }

    static Window FindShown(const std::string& name) {
        std::string id =
            desktop::Output("timeout 15 xdotool search --sync --onlyvisible --name '" + name + "'");
        return std::strtoul(id.c_str(), nullptr, 10);
    }

    CXWindows m_x;
    TempDir m_dir;
    std::unique_ptr<CProgramUnderTest> m_program;
    Window m_dlg = 0;
    Window m_trayIcon = 0;
};

}  // namespace

TEST_F(ShellDesktopTest, CtrlOneShowsThenSnapsOverTheWindowUnderTheCursor) {
    ScreenRect placed = PlaceDlg(240, 170);
    HideDlg();
    Window window = m_x.CreateColouredWindow({1300, 420, 301, 187}, kMagenta);
    ScreenRect target = m_x.Geometry(window);  // where the window manager put it

    // Neither the keypad 1 nor the digit 1 without Ctrl act: had one of them shown the window,
    // the Ctrl+1 after them would have snapped it away from its last place.
    ASSERT_EQ(desktop::Xdotool("mousemove " + target.Centre() + " key ctrl+KP_1 1 ctrl+1"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.IsMapped(m_dlg); }));
    EXPECT_EQ(m_x.Geometry(m_dlg), placed) << "Ctrl+1 on a hidden window only shows it";

    // Only Ctrl is looked at: Ctrl+Shift+1 snaps as Ctrl+1 does.
    ASSERT_EQ(desktop::Xdotool("key ctrl+shift+1"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.Geometry(m_dlg) != placed; }));
    // On screen: the target shows through exactly the capture region, the band surrounds it.
    const auto shows = [&](int x, int y) {
        return m_x.Pixel(target.x + x, target.y + y) == kMagenta;
    };
    const int w = target.w - 1, h = target.h - 1;  // the target's last column and row
    EXPECT_TRUE(desktop::WaitUntil([&] {
        return shows(0, 0) && shows(w, h) && !shows(-1, 5) && !shows(5, -1) &&
               !shows(w + 1, h - 5) && !shows(w - 5, h + 1);
    })) << "the capture region does not cover exactly "
        << target;
}

// A second start, Ctrl+1 and a double-click on the docked tray icon bring back a minimised
// or hidden capture window at its last place, also to the desktop the user has gone to (where
// Ctrl+1 does not snap the window it cannot see). --capture runs beside the program and writes
// exactly what the screen shows. A second start beside a program that does not answer names it
// and ends with status 1. The tray menu's Exit, while a dialog box of the capture window is
// open, closes the box and ends the program, finishing a running recording first.
TEST_F(ShellDesktopTest, SecondStartCtrlOneAndTrayBringBackTheWindowAndExitEnds) {
    EXPECT_TRUE(m_x.HasAncestorOfClass(m_trayIcon, "trayer")) << "icon not docked in trayer";
    const ScreenRect placed = PlaceDlg(200, 150);
    // Minimised, hidden or left shown ('-'), then the desktop gone to (the tray is on the first).
    // clang-format off
    const std::tuple<char, std::string, int> ways[] = {
        {'m', "second start", 1}, {'m', "Ctrl+1", 1}, {'m', "tray double-click", 0},
        {'h', "tray double-click", 0}, {'h', "second start", 1}, {'h', "Ctrl+1", 1},
        {'-', "Ctrl+1", 0}};
    // clang-format on
    for (const auto& [hide, how, desktopNumber] : ways) {
        if (hide != '-') {
            HideDlg(hide == 'm');
        }
        desktop::Xdotool("set_desktop " + std::to_string(desktopNumber));
        if (how == "Ctrl+1") {
            ASSERT_EQ(desktop::Xdotool("key ctrl+1"), 0);
        } else if (how == "tray double-click") {
            ASSERT_EQ(desktop::Xdotool("mousemove " + m_x.Geometry(m_trayIcon).Centre() +
                                       " click --repeat 2 --delay 80 1"),
                      0);
        } else {
            CProgramUnderTest second({"XDG_CONFIG_HOME=" + ConfigHome()}, m_dir.path());
            EXPECT_EQ(second.WaitForExit(), 0) << "a second program ran beside the first";
        }
        ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.IsMapped(m_dlg); }))
            << how << " left the window unseen (" << hide << ")";
        EXPECT_EQ(m_x.Geometry(m_dlg), placed) << how;
    }
    PatternWindow picture(700, 400, 123, 77);
    picture.Show(4);
    CProgramUnderTest capture({}, m_dir.path(), {"--capture", "123x77+700+400", "--output", "."});
    ASSERT_EQ(capture.WaitForExit(), 0) << capture.StandardError();
    const std::vector<std::string> files = m_dir.Files(R"(Capture_\d{6}_\d{6}\.bmp)");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(capture.StandardOutput(), "./" + files[0] + "\n");
    const cv::Mat still = cv::imread(m_dir.path() + "/" + files[0]),
                  expected = PatternImage(4, 123, 77);
    ASSERT_EQ(still.size(), expected.size());
    EXPECT_EQ(cv::norm(still, expected), 0);
    kill(m_program->Pid(), SIGSTOP);
    CProgramUnderTest second({"XDG_CONFIG_HOME=" + ConfigHome()}, m_dir.path());
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_NE(second.StandardError().find("(process " + std::to_string(m_program->Pid()) + ")"),
              std::string::npos);
    kill(m_program->Pid(), SIGCONT);
    ASSERT_EQ(desktop::Xdotool("windowactivate --sync " + std::to_string(m_dlg) + " key F3"), 0);
    ChooseCaptionItem(1);  // About
    Window about = FindShown("^BrintelShot 정보$");
    ASSERT_NE(about, 0u) << "the about box did not open";
    ASSERT_TRUE(ChooseTrayExit({about})) << "the tray menu did not open";
    ASSERT_EQ(m_program->WaitForExit(), 0);
    EXPECT_EQ(m_dir.Files(R"(Recode_\d{8}_\d{6}\.avi)").size(), 1u);
    EXPECT_NE(m_program->StandardOutput().find(" written: "), std::string::npos)
        << "the recording was not finished";
}

// The global keys act while another window has the focus, which never sees them: a recording
// started, paused for two seconds, resumed and stopped lasts the time recorded. A key another
// program holds is named in one line on standard error; the others still work.
TEST_F(ShellDesktopTest, GlobalKeysRecordAndPauseFromAnotherWindow) {
    ASSERT_EQ(Terminate(), 0);
    Display* x = m_x.display();
    const unsigned int f4 = XKeysymToKeycode(x, XK_F4);
    XGrabKey(x, f4, ControlMask | ShiftMask, DefaultRootWindow(x), False, GrabModeAsync,
             GrabModeAsync);
    XSync(x, False);
    ASSERT_TRUE(Start(true));
    EXPECT_EQ(m_program->StandardError(),
              "brintelshot: global key Ctrl+Shift+F4 (still capture) is held by another "
              "program; it will not work.\n");

    const Window focused = m_x.CreateColouredWindow({1300, 200, 300, 200}, kMagenta);
    XSelectInput(x, focused, KeyPressMask);
    ASSERT_EQ(desktop::Xdotool("windowactivate --sync " + std::to_string(focused) +
                               " key ctrl+shift+F3 sleep 1 key ctrl+shift+F9 sleep 2 key "
                               "ctrl+shift+F9 sleep 1 key ctrl+shift+F3"),
              0);
    ASSERT_TRUE(desktop::WaitUntil(
        [&] { return m_program->StandardOutput().find(" written: ") != std::string::npos; }));
    const Recording file = ReadTheRecording(m_dir, R"(Recode_\d{8}_\d{6}\.avi)");
    ASSERT_TRUE(file.ok());
    EXPECT_NEAR(file.duration, 2.0, 0.4);  // each key is acted on when the program gets to it
    XEvent event;
    while (XCheckWindowEvent(x, focused, KeyPressMask, &event)) {  // Ctrl and Shift only
        EXPECT_TRUE(IsModifierKey(XkbKeycodeToKeysym(x, event.xkey.keycode, 0, 0)));
    }
}

// The window's place and size, the output folder and the pointer option come back at the next
// start; a settings file that is not valid is reported in one line, left as it is, and the
// program runs with the defaults.
TEST_F(ShellDesktopTest, SettingsSurviveARestartAndABrokenFileIsIgnored) {
    const std::string folder = m_dir.path() + "/chosen";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    desktop::Xdotool("windowsize --sync " + std::to_string(m_dlg) + " 420 300");
    const ScreenRect placed = PlaceDlg(310, 220);
    ChooseCaptionItem(3);  // Record mouse pointer
    ChooseCaptionItem(2);  // Output folder...
    Window dialog = FindShown("^Output folder$");
    ASSERT_NE(dialog, 0u) << "the folder dialog did not open";
    ASSERT_EQ(desktop::Xdotool("windowactivate --sync " + std::to_string(dialog) +
                               " key ctrl+a type --delay 5 '" + folder + "'"),
              0);
    ASSERT_EQ(desktop::Xdotool("key Return"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return !m_x.IsMapped(dialog); }));
    ASSERT_EQ(Terminate(), 0);

    const std::string saved = SettingsText();
    EXPECT_NE(saved.find("pointer=true"), std::string::npos) << saved;

    ASSERT_TRUE(Start());
    EXPECT_TRUE(desktop::WaitUntil([&] { return m_x.Geometry(m_dlg) == placed; }))
        << m_x.Geometry(m_dlg) << " instead of " << placed;
    ASSERT_EQ(desktop::Xdotool("windowactivate --sync " + std::to_string(m_dlg) + " key F4"), 0);
    EXPECT_TRUE(desktop::WaitUntil([&] {
        return m_dir.Files("Capture_.*").empty() && !std::filesystem::is_empty(folder);
    })) << "F4 did not write into the remembered folder";
    ASSERT_EQ(Terminate(), 0);
    EXPECT_EQ(m_program->ErrorLines(), 0) << m_program->StandardError();

    const std::string broken("geometry=\0\0\0\x9c\xd4\x01", 15);  // QSettings would take it
    std::ofstream(SettingsFile(), std::ios::trunc) << broken;
    ASSERT_TRUE(Start()) << "a broken settings file stopped the program";
    ASSERT_EQ(Terminate(), 0);
    EXPECT_EQ(m_program->ErrorLines(), 1) << m_program->StandardError();
    EXPECT_NE(m_program->StandardError().find("ignoring the settings file"), std::string::npos);
    EXPECT_EQ(SettingsText(), broken) << "the broken file was written over";
}

// While a recording runs, the tray icon's tip shows its length and the file's size so far, also
// while the tip is shown; paused, the tip and the caption say so; at its end the tip is the
// program's name again.
TEST(ShellFrameTest, TrayTipShowsTheRecordingsLengthAndSize) {
    TempDir dir;
    setenv("XDG_CONFIG_HOME", (dir.path() + "/config").c_str(), 1);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    char name[] = "shell_desktop_test", *argv[] = {name, nullptr};
    int argc = 1;
    PrepareQtEnvironment();
    CBrintelShotApp app(argc, argv);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame& frame = *app.MainFrame();
    ASSERT_TRUE(frame.HasTray());
    frame.ShotDlg()->OnToolCommand(ID_RECORD);
    ASSERT_TRUE(frame.ShotDlg()->IsRecording());
    QString tip;
    // Updated once a second; a late timer may skip a second under load.
    auto tipShows = [&](const char* pattern) {
        return desktop::WaitUntil([&] {
            QCoreApplication::processEvents();
            tip = QToolTip::isVisible() ? QToolTip::text() : QString();
            return QRegularExpression(QString::fromLatin1(pattern)).match(tip).hasMatch();
        });
    };
    ASSERT_TRUE(desktop::WaitUntil([&] {
        QCoreApplication::processEvents();
        return !frame.TrayIcon().Geometry().isEmpty();
    }));
    const QPoint icon = frame.TrayIcon().Geometry().center();
    desktop::Xdotool("mousemove " + std::to_string(icon.x()) + " " + std::to_string(icon.y()));
    EXPECT_TRUE(tipShows("^Brintel's Shot - recording 0:0[2-9], [1-9]")) << tip.toStdString();
    frame.OnCaptureCommand(ID_PAUSE);
    EXPECT_TRUE(tipShows("^Brintel's Shot - Paused 0:0[2-9], [1-9]")) << tip.toStdString();
    frame.ShotDlg()->repaint();
    EXPECT_EQ(frame.ShotDlg()->LastCaptionText(), QStringLiteral(" Brintel Shot - Paused"));
    frame.ShotDlg()->OnToolCommand(ID_RECORD);
    EXPECT_EQ(frame.TrayIcon().ToolTip(), QStringLiteral("Brintel's Shot"));
}

// Whether the program holds SIGTERM: blocks or catches it (the masks in its status).
bool HoldsSigterm(pid_t pid) {
    std::istringstream masks(desktop::Output("awk '/^Sig(Blk|Cgt):/ {print $2}' /proc/" +
                                             std::to_string(pid) + "/status"));
    unsigned long long blocked = 0, caught = 0;
    masks >> std::hex >> blocked >> caught;
    return ((blocked | caught) >> (SIGTERM - 1) & 1) != 0;
}

// Nothing at start stops the program: recordings to finish (one a crafted file claiming a
// 1.9 GB chunk, under a data limit far below that), a standard output whose reader has gone,
// a settings file that is a FIFO. The window appears, the recordings are finished, the empty
// leftover removed. A SIGTERM as soon as the program holds it ends it like Exit, also
// during the start-up repair and in --record.
TEST(ShellStartTest, NothingAtStartStopsTheProgram) {
    TempDir dir;
    const std::string killed = dir.Path("Recode_killed.avi"), crafted = dir.Path("Recode_big.avi");
    avi_file* avi = AVI_create_output_file(killed.c_str());
    AVI_set_video_format(avi, 64, 48, 30.0, "xvid");
    AVI_set_header_refresh(avi, 0);
    ASSERT_EQ(AVI_put_video_frame(avi, "\0\0\1\xB6\x10", 5, 1), 0);
    std::vector<unsigned char> unfinished = probe::ReadFile(killed);
    AVI_close_file(avi);
    probe::WriteFile(killed, unfinished);
    std::vector<unsigned char> claim = unfinished;
    probe::PutU32At(claim, 2052, 1900000000);
    std::fill(claim.begin() + 2056, claim.begin() + 2061, 'x');  // no picture in its first bytes
    probe::WriteFile(crafted, claim);
    ASSERT_EQ(truncate(crafted.c_str(), 2056 + 1900000000), 0);  // sparse
    probe::WriteFile(dir.Path("Recode_empty.avi"), std::vector<unsigned char>(2048, 0));
    const std::string config = dir.Path("config");
    std::filesystem::create_directories(config + "/Brintel Shot");
    ASSERT_EQ(mkfifo((config + "/Brintel Shot/BrintelShot.ini").c_str(), 0600), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    close(out[0]);
    rlimit saved{};
    getrlimit(RLIMIT_DATA, &saved);
    const rlimit low{1u << 30, saved.rlim_max};
    setrlimit(RLIMIT_DATA, &low);
    // Without XDG_RUNTIME_DIR the lock and socket are in a private folder in TMPDIR.
    const std::vector<std::string> env{"-u", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME=" + config,
                                       "TMPDIR=" + dir.path()};
    CProgramUnderTest program(env, dir.path(), {}, out[1]);
    setrlimit(RLIMIT_DATA, &saved);
    close(out[1]);
    CXWindows x;
    Window dlg = 0;
    ASSERT_TRUE(FindWindows(x, program.Pid(), dlg)) << program.StandardError();
    const std::string runtime = dir.Path("brintelshot-" + std::to_string(getuid()));
    EXPECT_EQ(std::filesystem::symlink_status(runtime).permissions(),
              std::filesystem::perms::owner_all);
    CProgramUnderTest second(env, dir.path());
    EXPECT_EQ(second.WaitForExit(), 0) << "the second start did not find the first";
    EXPECT_TRUE(desktop::WaitUntil([&] {
        return probe::U32At(probe::ReadFile(killed), 44) == 0x10010 &&
               std::filesystem::file_size(crafted) > 2056 + 1900000000 &&  // and an index
               dir.Files("Recode_empty.avi").empty();
    }));
    ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
    EXPECT_EQ(program.WaitForExit(), 0);
    EXPECT_NE(program.StandardError().find("not a regular file"), std::string::npos);
    EXPECT_NE(program.StandardError().find("removed"), std::string::npos);

    probe::WriteFile(killed, unfinished);        // for the repair that the signal interrupts
    ASSERT_EQ(chmod(runtime.c_str(), 0777), 0);  // as if another user had made it
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{}, {"--record", "64x48+0+0", "--duration", "9"}}) {
        CProgramUnderTest early(env, dir.path(), arguments);
        ASSERT_TRUE(desktop::WaitUntil([&] { return HoldsSigterm(early.Pid()); }, 5000));
        ASSERT_EQ(kill(early.Pid(), SIGTERM), 0);
        const int status = early.WaitForExit();  // -1: ended by the signal
        EXPECT_TRUE(status == 0 || (!arguments.empty() && status == 1)) << early.StandardError();
        EXPECT_EQ(early.StandardError().find("not a private folder") == std::string::npos,
                  !arguments.empty());
    }
}

// Without a tray host the program says so on standard error, and closing the capture window
// ends it. The session is made to look like XWayland (with no portal for global keys), and Qt
// is asked for a scale factor of 2, which the program must not follow.
TEST(ShellBareTest, WithoutTrayClosingTheCaptureWindowEndsTheProgram) {
    CXWindows x;
    ASSERT_NE(x.display(), nullptr);
    CProgramUnderTest program({"WAYLAND_DISPLAY=wayland-0", "DBUS_SESSION_BUS_ADDRESS=x",
                               "QT_SCALE_FACTOR=2", "QT_ENABLE_HIGHDPI_SCALING=1"});
    Window dlg = 0;
    ASSERT_TRUE(program.Pid() > 0 && FindWindows(x, program.Pid(), dlg));
    std::string errors = program.StandardError();
    EXPECT_NE(errors.find("no notification area"), std::string::npos) << errors;
    EXPECT_EQ(program.ErrorLines(), 2) << errors;
    // Physical pixels: the start size stays about 335 x 280 screen pixels.
    EXPECT_LT(x.Geometry(dlg).w, 400);
    EXPECT_LT(x.Geometry(dlg).h, 340);

    ASSERT_EQ(desktop::Xdotool("windowfocus --sync " + std::to_string(dlg) + " key Escape"), 0);
    EXPECT_EQ(program.WaitForExit(), 0);
}
