// --record: a recording of a screen region without any window, judged by ffprobe/ffmpeg against
// what the screen shows, with and without the mouse pointer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDBusInterface>
#include <QDBusReply>
#include <QKeySequence>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "capture/test_support.h"
#include "common/known_pointer.h"
#include "common/program_under_test.h"
#include "common/x_windows.h"

namespace {

// A recording's file grows past its 2048-byte header with the first frame.
bool HasAFrame(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && info.st_size > 2048;
}

class RecordCommandTest : public testing::Test {
protected:
    // Green and grey windows side by side; the region straddles them. They take the known
    // pointer. They go with the fixture's X connection.
    void SetUp() override {
        m_windows = {m_x.CreateColouredWindow({300, 300, 200, 200}, 0x00A000),
                     m_x.CreateColouredWindow({500, 300, 200, 200}, 0x808080)};
        m_pointer = std::make_unique<CKnownPointer>(m_x.display(), m_windows);
        m_pointer->MoveTo(100, 100);  // away from the region
    }

    // What the region shows, blue-green-red: the green window's part and the grey one's.
    static cv::Mat Screen() {
        cv::Mat expected(kHeight, kWidth, CV_8UC3, cv::Scalar(128, 128, 128));
        expected.colRange(0, 500 - kLeft).setTo(cv::Scalar(0, 0xA0, 0));
        return expected;
    }

    // True when frame shows `expected` (the region's pixels) scaled to the frame size.
    static bool Shows(const cv::Mat& frame, const cv::Mat& expected) {
        cv::Mat scaled;
        cv::resize(expected, scaled, frame.size(), 0, 0, cv::INTER_NEAREST);
        return cv::PSNR(frame, scaled) >= 30;
    }

    // Whether frame, a picture of the screen's region scaled to its size, shows the known
    // pointer with its hotspot at the screen point (x, y): the middle of its red and of its
    // blue half.
    static bool ShowsPointerAt(const cv::Mat& frame, int x, int y,
                               const ScreenRect& region = {kLeft, kTop, kWidth, kHeight}) {
        auto near = [&](int sx, int sy, cv::Vec3b colour) {
            const cv::Vec3b got = frame.at<cv::Vec3b>((sy - region.y) * frame.rows / region.h,
                                                      (sx - region.x) * frame.cols / region.w);
            return cv::norm(cv::Vec3i(got) - cv::Vec3i(colour)) < 60;
        };
        const int top = y - CKnownPointer::kHotY + 6, left = x - CKnownPointer::kHotX;
        return near(left + 2, top, {0, 0, 255}) && near(left + 7, top, {255, 0, 0});
    }

    // The arguments that record the region for duration seconds into output.
    static std::vector<std::string> Record(const char* duration, const std::string& output,
                                           bool cursor = false, const char* audio = "none") {
        std::vector<std::string> arguments{"--record", Geometry(), "--duration",
                                           duration,   "--output", output,
                                           "--audio",  audio,      "--cursor"};
        arguments.resize(arguments.size() - (cursor ? 0 : 1));  // without --cursor
        return arguments;
    }
    static std::string Geometry() { return "150x101+420+350"; }

    // The region: odd sizes, so the frame is larger (152 x 104).
    static constexpr int kLeft = 420, kTop = 350, kWidth = 150, kHeight = 101;
    CXWindows m_x;
    std::vector<Window> m_windows;
    std::unique_ptr<CKnownPointer> m_pointer;
    TempDir m_dir;
};

// The times at which a value that ffmpeg's filters give every frame of a stream, `step` seconds
// apart, rises through threshold (ffprobe reads it as the frame tag lavfi.`tag`), 0.3 s apart.
std::vector<double> Rises(const std::string& filters, const std::string& tag, double threshold,
                          double step) {
    std::istringstream rises(probe::Shell(
        "ffprobe -v error -f lavfi -i '" + filters + "' -show_entries frame_tags=lavfi." + tag +
        " -of csv=p=0 | awk -v t=" + std::to_string(threshold) + " -v s=" + std::to_string(step) +
        " '{ x = (NR - 1) * s; v = $1 + 0 } v >= t && p < t && x > l + 0.3 { print l = x } "
        "{ p = v }'"));
    return {std::istream_iterator<double>(rises), std::istream_iterator<double>()};
}

// Six seconds of the region with the desktop's sound: the frame size of the rule, the file's name
// alone on standard output, sound as long as the picture and in step: a flash of the region and
// a beep start in one 10 ms block (pacat paces it), at moments no whole number of frames apart;
// each beep starts within a frame (+7 ms) of its flash (mean luma per frame, RMS per 5 ms).
TEST_F(RecordCommandTest, RecordsTheRegionAndItsSoundForTheDuration) {
    const Window flash = m_x.CreateColouredWindow({kLeft - 10, kTop - 10, 200, 150}, 0);
    CProgramUnderTest program({}, m_dir.path(), Record("6", ".", false, "desktop"));
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_dir.Files(R"(Recode_.*)").size() == 1; }));
    const std::string path = m_dir.path() + "/" + m_dir.Files(R"(Recode_.*)")[0];
    ASSERT_TRUE(desktop::WaitUntil([&] { return HasAFrame(path); }));
    FILE* player = popen("pacat --latency-msec=10 --format=float32le --channels=8", "w");
    fcntl(fileno(player), F_SETPIPE_SZ, 4096);         // 2.7 ms of sound: its writes wait for pacat
    const std::vector<int> beeps{100, 227, 351, 478};  // in 10 ms blocks from here
    std::vector<float> block(8 * 480);
    for (int n = 0, lit = 0; n < 520; ++n) {
        const int on =
            std::any_of(beeps.begin(), beeps.end(), [&](int b) { return unsigned(n - b) < 20; });
        if (on != lit) {
            XSetWindowBackground(m_x.display(), flash, (lit = on) ? 0xFFFFFF : 0);
            XClearWindow(m_x.display(), flash);
            XFlush(m_x.display());
        }
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = on * 0.5f * std::sin(2 * M_PI * 1000 * double(i / 8) / 48000);
        }
        ASSERT_GT(write(fileno(player), block.data(), block.size() * sizeof(float)), 0);
    }
    pclose(player);
    ASSERT_EQ(program.WaitForExit(), 0) << program.StandardError();
    EXPECT_EQ(program.StandardOutput(), "./" + path.substr(path.rfind('/') + 1) + "\n");
    EXPECT_EQ(program.StandardError(), "") << "progress lines are for a terminal only";
    const Recording recording = ReadRecording(path);
    ASSERT_TRUE(recording.ok());
    EXPECT_EQ(cv::Size(recording.width, recording.height), cv::Size(152, 104));
    EXPECT_NEAR(recording.duration, 6.0, 1.0 / 30);
    EXPECT_EQ(recording.decodeErrors, 0);
    EXPECT_NEAR(std::stod(probe::Stream(path, "a:0")["duration"]), recording.duration, 0.05);

    const std::vector<double> video =
        Rises("movie=" + path + ",fps=30,signalstats", "signalstats.YAVG", 128, 1.0 / 30);
    const std::vector<double> audio =
        Rises("amovie=" + path + ",asetnsamples=240,astats=metadata=1:reset=1",
              "astats.1.RMS_level", -30, 0.005);
    ASSERT_TRUE(video.size() == beeps.size() && audio.size() == beeps.size())
        << video.size() << " flashes, " << audio.size() << " beeps";
    for (size_t i = 0; i < beeps.size(); ++i) {
        std::printf("beep at %.3f s: sound - picture %+.0f ms\n", video[i],
                    1000 * (audio[i] - video[i]));
        EXPECT_NEAR(audio[i], video[i], 1.0 / 30 + 0.007);
    }
}

// SIGINT and SIGTERM end the recording early; the file is finished and the status is 0. A
// microphone unplugged on the way (in SIGTERM's round) is reported, and silence takes its place.
TEST_F(RecordCommandTest, SignalEndsItEarlyWithAFinishedFile) {
    for (int signal : {SIGINT, SIGTERM}) {
        const std::string path = m_dir.path() + "/stopped_" + std::to_string(signal) + ".avi";
        const std::string mic = std::to_string(std::stoi(probe::Shell(
            "pactl load-module module-null-sink media.class=Audio/Source/Virtual sink_name=mic "
            "&& pactl set-default-source mic")));
        CProgramUnderTest program({}, "", Record("600", path, false, "mic"));
        ASSERT_TRUE(desktop::WaitUntil([&] { return HasAFrame(path); }));
        if (signal == SIGTERM) {
            probe::Shell("sleep 0.5; pactl unload-module " + mic);
            EXPECT_TRUE(desktop::WaitUntil(
                [&] { return program.StandardError().find("brintelshot: microphone lost") == 0; }));
        }
        kill(program.Pid(), signal);
        ASSERT_EQ(program.WaitForExit(), 0) << program.StandardError();
        EXPECT_EQ(program.StandardOutput(), path + "\n");
        probe::Shell("pactl unload-module " + mic + " >/dev/null 2>&1");
        const Recording recording = ReadRecording(path);
        ASSERT_GT(recording.frameCount, 0) << signal;
        EXPECT_LT(recording.duration, 600);
        EXPECT_EQ(recording.decodeErrors, 0);
        EXPECT_NEAR(std::stod(probe::Stream(path, "a:0")["duration"]), recording.duration, 0.05);
    }
}

// Bad durations and sources are usage errors (2); a region off the screen, a source that
// cannot be recorded (there is no microphone) and a folder name longer than the system takes
// (named as such, not as missing) fail (1). A recording whose folder is removed meanwhile is
// gone with it: it fails (1) and says so. None of them leaves a file.
TEST_F(RecordCommandTest, RefusesBadArgumentsRegionsSourcesAndGoneFolders) {
    const std::vector<std::vector<std::string>> cases{
        {Geometry(), "0", "none", "2--duration"},
        {Geometry(), "nan", "none", "2--duration"},
        {Geometry(), "1", "loud", "2--audio"},
        {"10x10+5000+5000", "1", "none", "1outside the screen"},
        {Geometry(), "1", "mic", "1Recode Failed: no microphone"},
        {Geometry(), "1", "none", "1File name too long", std::string(5000, 'd') + "/"}};
    for (std::vector<std::string> c : cases) {
        c.resize(5, ".");  // the output
        CProgramUnderTest program(
            {}, m_dir.path(),
            {"--record", c[0], "--duration", c[1], "--audio", c[2], "--output", c[4]});
        EXPECT_EQ(program.WaitForExit(), c[3][0] - '0') << c[1] << c[2];
        EXPECT_NE(program.StandardError().find(c[3].substr(1)), std::string::npos)
            << program.StandardError();
        EXPECT_EQ(program.StandardOutput(), "");
    }
    const std::string folder = m_dir.path() + "/gone";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    CProgramUnderTest program({}, m_dir.path(), Record("3", folder + "/x.avi"));
    ASSERT_TRUE(desktop::WaitUntil([&] { return HasAFrame(folder + "/x.avi"); }));
    std::filesystem::remove_all(folder);
    EXPECT_EQ(program.WaitForExit(), 1);
    EXPECT_NE(program.StandardError().find("deleted during the recording"), std::string::npos);
    EXPECT_TRUE(m_dir.Files().empty());
}

// The pointer moving over a region where nothing else changes: the frames after the move
// show it at its new place, while the still stretches before and after are repeat frames.
// Both keep their time in a player: the still tail ends on a picture, and key frames come at
// least every 240 frames (one inside the still stretch of more than 240 before the move).
TEST_F(RecordCommandTest, AMovedPointerShowsAndStillStretchesKeepTheirTime) {
    const int x1 = kLeft + 30, y1 = kTop + 30, x2 = kLeft + 110, y2 = kTop + 60;
    m_pointer->MoveTo(x1, y1);
    const std::string path = m_dir.path() + "/moved.avi";
    CProgramUnderTest program({}, "", Record("9", path, true));
    ASSERT_TRUE(desktop::WaitUntil([&] { return HasAFrame(path); }));
    usleep(8300000);
    m_pointer->MoveTo(x2, y2);
    ASSERT_EQ(program.WaitForExit(), 0) << program.StandardError();

    const Recording recording = ReadRecording(path);
    ASSERT_EQ(recording.frames.size(), 270u);
    probe::Shell("ffmpeg -v error -nostdin -i " + path + " -c copy " + path + ".mp4");
    EXPECT_NEAR(std::stod(probe::Stream(path + ".mp4", "v:0")["duration"]), 9.0, 0.05);
    EXPECT_TRUE(ShowsPointerAt(recording.frames[240], x1, y1));
    EXPECT_TRUE(ShowsPointerAt(recording.frames.back(), x2, y2));
    EXPECT_FALSE(ShowsPointerAt(recording.frames.back(), x1, y1));
    // Frames that are no repeat of the one before: ffprobe reads no packet for a repeat.
    const int encoded = std::stoi(probe::Stream(path, "v:0")["nb_read_packets"]);
    EXPECT_GE(encoded, 4);
    EXPECT_LE(encoded, 10) << "an idle region with a still pointer gives repeat frames";
    EXPECT_LE(probe::LongestKeyFrameGap(path), 240);
}

// The remembered pointer switch and sound choice go into the still and the recording of the
// global F4 and F3 keys; the pause key leaves the sound out: a beep in the pause is not in it.
TEST_F(RecordCommandTest, TheWindowsPointerSwitchCoversF3AndF4) {
    const std::string config = m_dir.path() + "/config";
    std::filesystem::create_directories(config + "/Brintel Shot");
    const ScreenRect placed{350, 250, 300, 250};  // the region over the green window
    std::ofstream(config + "/Brintel Shot/BrintelShot.ini")
        << "[recording]\npointer=true\naudio=desktop\n[window]\ngeometry=@Rect(350 250 300 250)\n";
    CProgramUnderTest program({"XDG_CONFIG_HOME=" + config}, m_dir.path());
    ASSERT_TRUE(desktop::WaitUntil([&] { return !m_x.ShownWindowsOf(program.Pid()).empty(); }));
    const int x = placed.x + 100, y = placed.y + placed.h - 40;
    m_pointer->MoveTo(x, y);

    ASSERT_EQ(desktop::Xdotool("key ctrl+shift+F4 ctrl+shift+F3"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] {
        const std::vector<std::string> files = m_dir.Files(R"(Recode_.*\.avi)");
        return files.size() == 1 && HasAFrame(m_dir.path() + "/" + files[0]);
    }));
    const std::string beep =
        "; ffmpeg -v error -f lavfi -i sine=d=0.5 -ac 2 -f wav -|paplay; xdotool";
    ASSERT_EQ(desktop::Xdotool("sleep 0.5 key ctrl+shift+F9 sleep 1.5" + beep +
                               " sleep 0.3 key ctrl+shift+F9" + beep + " key ctrl+shift+F3"),
              0);
    ASSERT_TRUE(desktop::WaitUntil(
        [&] { return program.StandardOutput().find(" written: ") != std::string::npos; }));

    const std::vector<std::string> stills = m_dir.Files(R"(Capture_.*\.bmp)");
    ASSERT_EQ(stills.size(), 1u);
    const cv::Mat still = cv::imread(m_dir.path() + "/" + stills[0]);
    ASSERT_FALSE(still.empty());
    // The region is inside the 4-pixel frame band, below the caption band and toolbar.
    const ScreenRect region{placed.x + 4, placed.y + placed.h - 4 - still.rows, still.cols,
                            still.rows};
    EXPECT_TRUE(ShowsPointerAt(still, x, y, region)) << "F4";
    const Recording recording = ReadTheRecording(m_dir, R"(Recode_.*)");
    ASSERT_TRUE(recording.ok());
    EXPECT_TRUE(ShowsPointerAt(recording.frames.back(), x, y, region)) << "F3";
    const std::string path = m_dir.path() + "/" + m_dir.Files(R"(Recode_.*)")[0];
    EXPECT_NEAR(std::stod(probe::Stream(path, "a:0")["duration"]), recording.duration, 0.05);
    const std::string levels = "amovie=" + path + ",asetnsamples=240,astats=metadata=1:reset=1";
    EXPECT_EQ(Rises(levels, "astats.1.RMS_level", -30, 0.005).size(), 1u);
    kill(program.Pid(), SIGTERM);
    EXPECT_EQ(program.WaitForExit(), 0);
}

}  // namespace

// A double click of the compositor's own pointer (mutter's remote desktop): it reaches Wayland.
static void DoubleClickOnTheDesktop(int x, int y) {
    const QString service = "org.gnome.Mutter.RemoteDesktop";
    QDBusInterface desktop(service, "/org/gnome/Mutter/RemoteDesktop", service);
    const QDBusReply<QDBusObjectPath> created = desktop.call("CreateSession");
    QDBusInterface session(service, created.value().path(), service + ".Session");
    session.call("Start");
    usleep(300000);  // the session's virtual pointer comes to be
    session.call("NotifyPointerMotionRelative", -5000.0, -5000.0);  // to the top left corner
    session.call("NotifyPointerMotionRelative", double(x), double(y));
    for (bool down : {true, false, true, false}) {
        session.call("NotifyPointerButton", 0x110, down);  // the left button
        usleep(100000);
    }
    session.call("Stop");
}

// On GNOME (scripts/with-wayland.sh gnome) the region comes through the portal: --record and
// F4 show the X11 windows the X server gives as black. Without the token the desktop asks in a
// dialog (a Wayland window): a click on Cancel through the capture window's region reaches it,
// --capture fails (1) with the reason, no picture. GNOME's missing shortcuts portal is named.
TEST_F(RecordCommandTest, OnWaylandTheDesktopSharesTheScreen) {
    if (std::getenv("WAYLAND_DISPLAY") == nullptr) {
        GTEST_SKIP() << "runs in scripts/with-wayland.sh gnome";
    }
    const std::string settings = getenv("XDG_CONFIG_HOME");
    const std::vector<std::string> config{"XDG_CONFIG_HOME=" + settings};
    cv::Mat still, expected = Screen();
    CProgramUnderTest asked({}, "", {"--capture", Geometry(), "--output", m_dir.path() + "/s.bmp"});
    CProgramUnderTest record(config, m_dir.path(), Record("1", "rec.avi"));
    ASSERT_EQ(record.WaitForExit(), 0) << record.StandardError();
    const Recording recording = ReadRecording(m_dir.path() + "/rec.avi");
    EXPECT_TRUE(Shows(recording.frames.front(), expected) &&
                Shows(recording.frames.back(), expected));

    // The region: from Geometry()'s left edge over Cancel, at the centred dialog's top left.
    std::ofstream(settings + "/Brintel Shot/BrintelShot.ini", std::ios::app)
        << "[window]\ngeometry=@Rect(416 250 348 205)\n";
    CProgramUnderTest window(config, m_dir.path());
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.ShownWindowsOf(window.Pid()).size() == 5; }));
    EXPECT_TRUE(desktop::WaitUntil([&] {
        DoubleClickOnTheDesktop(750, 412);
        return asked.StandardError().find("cancelled in the desktop's dialog") != std::string::npos;
    }));
    EXPECT_TRUE(asked.WaitForExit() == 1 && m_dir.Files("s.bmp").empty()) << "no picture";
    EXPECT_NE(window.StandardError().find("no GlobalShortcuts portal"), std::string::npos);
    desktop::Xdotool("sleep 1 key ctrl+shift+F4");  // once the dialog has closed
    ASSERT_TRUE(desktop::WaitUntil([&] {
        const std::vector<std::string> files = m_dir.Files(R"(Capture_.*)");
        return files.size() == 1 && !(still = cv::imread(m_dir.path() + "/" + files[0])).empty();
    }));
    EXPECT_TRUE(Shows(still(cv::Rect(0, still.rows - kHeight, kWidth, kHeight)), expected));
}

// On KDE (scripts/with-wayland.sh kde) the global keys go through the GlobalShortcuts portal:
// kglobalaccel holds the program's four shortcuts, the still's with the key from the settings;
// fired there (as by the key) it takes a still, which that desktop's dialog refuses (no Plasma).
TEST_F(RecordCommandTest, OnKdeThePortalBindsTheGlobalKeys) {
    if (qgetenv("XDG_CURRENT_DESKTOP") != "KDE") {
        GTEST_SKIP() << "runs in scripts/with-wayland.sh kde";
    }
    const std::string config = getenv("XDG_CONFIG_HOME");
    std::ofstream(config + "/Brintel Shot/BrintelShot.ini") << "[keys]\ncapture=Ctrl+Alt+F8\n";
    CProgramUnderTest program({"XDG_CONFIG_HOME=" + config});
    const std::string key = std::to_string(QKeySequence("Ctrl+Alt+F8")[0].toCombined());
    const std::string call =
        "gdbus call -e -d org.kde.kglobalaccel -o /component/brintelshot "
        "-m org.kde.kglobalaccel.Component.";
    std::string infos;  // per shortcut: (id, four names, context, [keys], [default keys])
    EXPECT_TRUE(desktop::WaitUntil([&] {
        infos = probe::Shell(call + "allShortcutInfos 2>&1");
        const size_t capture = infos.find("('capture'");
        return infos.find("[" + key + "]", capture) < infos.find(')', capture) &&
               infos.find("('record'") != infos.npos && infos.find("('pause'") != infos.npos &&
               infos.find("('snap'") != infos.npos;
    })) << infos;
    probe::Shell(call + "invokeShortcut capture default");
    EXPECT_TRUE(desktop::WaitUntil([&] {
        return program.StandardError().find("cancelled in the desktop's dialog") != infos.npos;
    })) << program.StandardError();
    EXPECT_EQ(program.StandardError().find("no GlobalShortcuts portal"), std::string::npos);
    // Another program active: the bands stay (KWin hides the transient tools of inactive ones).
    desktop::Xdotool("windowactivate --sync " + std::to_string(m_windows[0]) + " sleep 0.5");
    EXPECT_EQ(m_x.ShownWindowsOf(program.Pid()).size(), 5u);
}
