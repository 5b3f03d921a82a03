// The capture window's commands and keys on the shared test desktop (Xvfb, openbox, trayer),
// driven with real key presses and clicks through xdotool; recordings are read back with
// ffprobe/ffmpeg, still captures and the clipboard compared pixel by pixel with the screen.
#include <QAction>
#include <QApplication>
#include <QToolBar>

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "../common/desktop_support.h"
#include "capture/brintel_shot_dlg.h"
#include "capture/command_ids.h"
#include "capture/toolbar_images.h"
#include "test_support.h"

using Clock = std::chrono::steady_clock;

namespace {

// Runs the event loop until condition holds; false after limitMs.
bool PumpUntil(const std::function<bool()>& condition, int limitMs = 10000) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

// Runs a shell command on another thread while this one keeps the event loop going (the
// command may need an answer from this process, as xclip does).
std::string OutputWhilePumping(const std::string& command) {
    auto result = std::async(std::launch::async, [command] { return desktop::Output(command); });
    PumpUntil(
        [&] { return result.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; });
    return result.get();
}

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
    return !a.empty() && a.size() == b.size() && a.type() == b.type() && cv::norm(a, b) == 0;
}

cv::Mat ReadRegion(const CaptureRect& r) {
    return ReadScreen(r.left, r.top, r.Width(), r.Height());
}

bool MatchesRegex(const std::string& text, const char* pattern) {
    return std::regex_match(text, std::regex(pattern));
}

class CommandsDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(chdir(m_dir.path().c_str()), 0);  // the output directory
        m_dlg = std::make_unique<CBrintelShotDlg>();
        m_dlg->move(200, 150);
        m_dlg->resize(600, 300);  // wide enough for every status text in the caption
        m_dlg->show();
        ASSERT_TRUE(PumpUntil([&] { return m_dlg->isVisible(); }));
        Focus();
    }

    void TearDown() override {
        m_dlg.reset();
        PumpFor(50);
    }

    void Focus() {
        desktop::Xdotool("windowactivate --sync " + std::to_string(m_dlg->winId()));
        PumpUntil([&] { return m_dlg->isActiveWindow(); }, 3000);
    }

    // Presses keys (xdotool key syntax) with the capture window focused.
    void Key(const std::string& keys) {
        Focus();
        desktop::Xdotool("key " + keys);
        PumpFor(150);
    }

    QPoint ToolButtonCentre(int id) {
        return m_dlg->mapToGlobal(m_dlg->ToolButtonRect(id).center());
    }

    // Clicks at a screen point, then moves the pointer out of the way so that no tooltip
    // covers the capture region.
    void Click(const QPoint& global) {
        desktop::Xdotool("mousemove --sync " + std::to_string(global.x()) + " " +
                         std::to_string(global.y()) + " click 1");
        desktop::Xdotool("mousemove 5 5");
    }

    // Sets the region through the region dialog: click the button, type, press Enter.
    void SetRegionThroughDialog(int width, int height) {
        const QPoint button = ToolButtonCentre(ID_REGION_SET);
        auto typing = std::async(std::launch::async, [=] {
            desktop::WaitUntil([] {
                return desktop::Run(
                           "xdotool search --onlyvisible --name '^Region Setting$' "
                           ">/dev/null 2>&1") == 0;
            });
            desktop::Xdotool(
                "search --onlyvisible --name '^Region Setting$' windowactivate "
                "--sync");
            desktop::Xdotool("type " + std::to_string(width));
            desktop::Xdotool("key Tab");
            desktop::Xdotool("type " + std::to_string(height));
            desktop::Xdotool("key Return");
        });
        Click(button);
        PumpUntil([&] {
            return typing.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
        });
        PumpUntil([&] {
            CaptureRect r = m_dlg->CaptureRegion();
            return r.Width() == width && r.Height() == height;
        });
    }

    std::vector<std::string> FilesMatching(const char* pattern) const {
        std::vector<std::string> found;
        for (const std::string& name : m_dir.Files()) {
            if (MatchesRegex(name, pattern)) {
                found.push_back(name);
            }
        }
        return found;
    }

    QIcon RecordButtonIcon() const {
        auto* toolbar = m_dlg->findChild<QToolBar*>();
        return toolbar->actions().at(0)->icon();
    }

    bool RecordButtonShows(int image) const {
        return RecordButtonIcon().pixmap(16, 15).toImage() ==
               ToolbarIcon(image).pixmap(16, 15).toImage();
    }

    std::string Caption() const { return m_dlg->LastCaptionText().toStdString(); }

    TempDir m_dir;
    std::unique_ptr<CBrintelShotDlg> m_dlg;
};

std::string g_xdgOpenLog;

constexpr char kCapturePattern[] = R"(Capture_\d{6}_\d{6}(_\d+)?\.bmp)";
constexpr char kRecordPattern[] = R"(Recode_\d{8}_\d{6}(_\d+)?\.avi)";

}  // namespace

TEST_F(CommandsDesktopTest, F3RecordsTheRegionInRealTime) {
    SetRegionThroughDialog(640, 480);
    const CaptureRect region = m_dlg->CaptureRegionOnScreen();
    PatternWindow pattern(region.left, region.top, 640, 480);
    ASSERT_TRUE(pattern.IsOpen());
    ASSERT_TRUE(RecordButtonShows(kRecordImage));

    std::atomic<bool> animate{true};
    std::thread animator([&] {
        for (int i = 1; animate; ++i) {
            pattern.Show(i % 8);
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    });
    Focus();
    desktop::Xdotool("key F3");
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->IsRecording(); }, 5000));
    Clock::time_point start = Clock::now();

    PumpFor(1000);
    EXPECT_TRUE(RecordButtonShows(kRecordingImage));
    EXPECT_NE(Caption().find("Recoding..."), std::string::npos) << Caption();
    // Still capture and region setting are refused while recording.
    desktop::Xdotool("key F4");
    Click(ToolButtonCentre(ID_REGION_SET));
    PumpFor(1900);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    Focus();
    desktop::Xdotool("key F3");
    ASSERT_TRUE(PumpUntil([&] { return !m_dlg->IsRecording(); }, 5000));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    animate = false;
    animator.join();
    PumpFor(50);

    EXPECT_TRUE(RecordButtonShows(kRecordImage));
    EXPECT_NE(Caption().find("Recode Complete!"), std::string::npos) << Caption();
    EXPECT_TRUE(FilesMatching(kCapturePattern).empty());
    std::vector<std::string> avis = FilesMatching(kRecordPattern);
    ASSERT_EQ(avis.size(), 1u);
    EXPECT_EQ(m_dir.Files().size(), 1u);

    const std::string path = m_dir.path() + "/" + avis[0];
    VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.codecName, "mpeg4");
    EXPECT_EQ(probe.codecTag, "xvid");
    EXPECT_EQ(probe.frameRate, "30/1");
    EXPECT_EQ(probe.width, 644);
    EXPECT_EQ(probe.height, 484);
    // The key presses reach the window a few milliseconds after they are measured here.
    EXPECT_NEAR(probe.duration, seconds, 1.0 / 30 + 0.02);
    int errors = -1;
    std::vector<cv::Mat> frames = DecodeFrames(path, 644, 484, &errors);
    EXPECT_EQ(errors, 0);
    EXPECT_NEAR(static_cast<double>(frames.size()), 30 * seconds, 2);
    int worst = 100;
    for (const cv::Mat& frame : frames) {
        worst = std::min(worst, static_cast<int>(BestPatternPsnr(frame, 8, 640, 480)));
    }
    EXPECT_GE(worst, 35);
}

TEST_F(CommandsDesktopTest, MovingTheWindowMovesTheRecordedArea) {
    const CaptureRect region = m_dlg->CaptureRegionOnScreen();
    const int w = region.Width();
    const int h = region.Height();
    PatternWindow first(region.left, region.top, w, h);
    PatternWindow second(region.left + 700, region.top, w, h);
    first.Show(1);
    second.Show(6);

    Key("F3");
    ASSERT_TRUE(m_dlg->IsRecording());
    PumpFor(500);
    m_dlg->move(m_dlg->pos() + QPoint(700, 0));  // as a drag by the caption band would
    PumpFor(500);
    Key("F3");
    ASSERT_FALSE(m_dlg->IsRecording());

    std::vector<std::string> avis = FilesMatching(kRecordPattern);
    ASSERT_EQ(avis.size(), 1u);
    const std::string path = m_dir.path() + "/" + avis[0];
    VideoProbe probe = ProbeVideo(path);
    std::vector<cv::Mat> frames = DecodeFrames(path, probe.width, probe.height, nullptr);
    ASSERT_GT(frames.size(), 20u);
    int firstIndex = -1;
    int lastIndex = -1;
    EXPECT_GE(BestPatternPsnr(frames.front(), 8, w, h, &firstIndex), 35);
    EXPECT_GE(BestPatternPsnr(frames.back(), 8, w, h, &lastIndex), 35);
    EXPECT_EQ(firstIndex, 1);
    EXPECT_EQ(lastIndex, 6);
}

TEST_F(CommandsDesktopTest, F4SavesExactlyTheScreenUnderTheRegion) {
    const CaptureRect region = m_dlg->CaptureRegionOnScreen();
    PatternWindow pattern(region.left, region.top, region.Width(), region.Height());
    pattern.Show(3);
    const cv::Mat screen = ReadRegion(region);
    ASSERT_TRUE(SameImage(screen, PatternImage(3, region.Width(), region.Height())));

    Key("F4");
    ASSERT_TRUE(PumpUntil([&] { return FilesMatching(kCapturePattern).size() == 1; }));
    const std::string first = FilesMatching(kCapturePattern)[0];
    EXPECT_TRUE(SameImage(cv::imread(m_dir.path() + "/" + first), screen));
    EXPECT_EQ(Caption(), " Brintel Shot - " + first);

    // A second capture within the same second gets its own file.
    Key("F4");
    Key("shift+F4");
    ASSERT_TRUE(PumpUntil([&] { return FilesMatching(kCapturePattern).size() == 3; }));
    for (const std::string& name : FilesMatching(kCapturePattern)) {
        EXPECT_TRUE(SameImage(cv::imread(m_dir.path() + "/" + name), screen)) << name;
    }
    // Ctrl+F4 is no capture.
    Key("ctrl+F4");
    PumpFor(300);
    EXPECT_EQ(FilesMatching(kCapturePattern).size(), 3u);

    // A capture that cannot be written says so and leaves no file behind.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 10 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    Key("F4");
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(Caption(), " Brintel Shot - Capture Failed: File too large");
    EXPECT_EQ(FilesMatching(kCapturePattern).size(), 3u);
    EXPECT_EQ(m_dir.Files().size(), 3u);
}

TEST_F(CommandsDesktopTest, CtrlCCopiesTheRegionAsAnImage) {
    const CaptureRect region = m_dlg->CaptureRegionOnScreen();
    PatternWindow pattern(region.left, region.top, region.Width(), region.Height());
    pattern.Show(5);
    const cv::Mat screen = ReadRegion(region);
    const std::string png = m_dir.path() + "/clip.png";
    const std::string readClipboard =
        "xclip -selection clipboard -t image/png -o > '" + png + "' 2>/dev/null; echo $?";

    Key("ctrl+c");
    ASSERT_EQ(OutputWhilePumping(readClipboard), "0\n");
    EXPECT_TRUE(SameImage(cv::imread(png), screen));
    const std::string targets = OutputWhilePumping("xclip -selection clipboard -t TARGETS -o");
    EXPECT_NE(targets.find("image/bmp"), std::string::npos) << targets;

    // Ctrl+keypad 3 copies too; Ctrl+Shift+C does not.
    pattern.Show(6);
    Key("ctrl+KP_3");
    ASSERT_EQ(OutputWhilePumping(readClipboard), "0\n");
    EXPECT_TRUE(SameImage(cv::imread(png), ReadRegion(region)));
    pattern.Show(7);
    Key("ctrl+shift+c");
    ASSERT_EQ(OutputWhilePumping(readClipboard), "0\n");
    EXPECT_TRUE(SameImage(cv::imread(png), PatternImage(6, region.Width(), region.Height())));
}

TEST_F(CommandsDesktopTest, F2SnapsOntoTheWindowUnderThePointerAndArrowsNudge) {
    PatternWindow target(900, 420, 333, 211);
    desktop::Xdotool("mousemove --sync 1000 500");
    Key("F2");
    ASSERT_TRUE(PumpUntil([&] {
        CaptureRect r = m_dlg->CaptureRegionOnScreen();
        return r.left == 900 && r.top == 420 && r.Width() == 333 && r.Height() == 211;
    })) << m_dlg->LastCoordinatesText().toStdString();

    const QPoint start = m_dlg->pos();
    const std::pair<const char*, QPoint> moves[] = {
        {"Right", {1, 0}}, {"Down", {0, 1}}, {"Left", {-1, 0}}, {"Up", {0, -1}}, {"Left", {-1, 0}}};
    QPoint expected = start;
    for (const auto& [key, delta] : moves) {
        expected += delta;
        Key(key);
        EXPECT_TRUE(PumpUntil([&] { return m_dlg->pos() == expected; }, 3000))
            << key << ": at " << m_dlg->pos().x() << "," << m_dlg->pos().y();
    }
}

TEST_F(CommandsDesktopTest, RecordingsInTheSameSecondGetTheirOwnFiles) {
    for (int i = 0; i < 4; ++i) {
        m_dlg->OnToolCommand(ID_RECORD);  // as the first toolbar button does
    }
    EXPECT_FALSE(m_dlg->IsRecording());
    std::vector<std::string> avis = FilesMatching(kRecordPattern);
    ASSERT_EQ(avis.size(), 2u);
    for (const std::string& name : avis) {
        EXPECT_TRUE(ProbeVideo(m_dir.path() + "/" + name).ok) << name;
    }
    // Unless the second changed in between, the second name carries the number.
    if (avis[0].substr(0, 22) == avis[1].substr(0, 22)) {
        EXPECT_TRUE(MatchesRegex(avis[1], R"(Recode_\d{8}_\d{6}_2\.avi)")) << avis[1];
    }
}

TEST_F(CommandsDesktopTest, EmptyRegionCapturesCopiesAndRecordsNothing) {
    m_dlg->resize(600, m_dlg->m_nToolbarHeight + 38);  // a region 0 pixels high
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->CaptureRegion().Height() == 0; }));
    Key("F4");
    Key("F3");
    EXPECT_FALSE(m_dlg->IsRecording());
    EXPECT_EQ(Caption(), " Brintel Shot - Empty Region!");
    EXPECT_TRUE(m_dir.Files().empty());
}

TEST_F(CommandsDesktopTest, WriteFailureEndsTheRecordingWithAFinishedFile) {
    const CaptureRect region = m_dlg->CaptureRegionOnScreen();
    PatternWindow pattern(region.left, region.top, region.Width(), region.Height());
    std::atomic<bool> animate{true};
    std::thread animator([&] {
        for (int i = 1; animate; ++i) {
            pattern.Show(i % 8);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 150 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);

    Key("F3");
    EXPECT_TRUE(m_dlg->IsRecording());
    // The worker stops by itself when the file reaches the limit.
    EXPECT_TRUE(PumpUntil([&] { return !m_dlg->IsRecording(); }, 20000));
    setrlimit(RLIMIT_FSIZE, &old);
    animate = false;
    animator.join();

    EXPECT_TRUE(RecordButtonShows(kRecordImage));
    EXPECT_EQ(Caption().rfind(" Brintel Shot - Recode Failed", 0), 0u) << Caption();
    PumpFor(1300);  // a failure stays in the caption past the usual second
    m_dlg->InvalidateBands();
    PumpFor(100);
    EXPECT_EQ(Caption().rfind(" Brintel Shot - Recode Failed", 0), 0u) << Caption();

    std::vector<std::string> avis = FilesMatching(kRecordPattern);
    ASSERT_EQ(avis.size(), 1u);
    const std::string path = m_dir.path() + "/" + avis[0];
    VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_GT(probe.frameCount, 0);
    int errors = -1;
    EXPECT_FALSE(DecodeFrames(path, probe.width, probe.height, &errors).empty());
    EXPECT_EQ(errors, 0);
}

TEST_F(CommandsDesktopTest, F1AndF5OpenTheHelpPageAndTheOutputFolder) {
    const std::string opened = g_xdgOpenLog;
    std::remove(opened.c_str());
    Key("F5");
    ASSERT_TRUE(PumpUntil([&] { return desktop::Output("cat " + opened + " 2>/dev/null") != ""; }));
    EXPECT_EQ(desktop::Output("cat " + opened), "file://" + m_dir.path() + "\n");

    std::remove(opened.c_str());
    Key("F1");
    ASSERT_TRUE(PumpUntil([&] { return desktop::Output("cat " + opened + " 2>/dev/null") != ""; }));
    std::string url = desktop::Output("cat " + opened);
    ASSERT_EQ(url.rfind("file:///", 0), 0u) << url;
    const std::string page = desktop::Output("cat '" + url.substr(7, url.size() - 8) + "'");
    // The page names every key, button and file name, in both languages.
    for (const char* text : {"F1",
                             "F2",
                             "F3",
                             "F4",
                             "F5",
                             "Ctrl",
                             "Recode_",
                             "Capture_",
                             "_2",
                             "녹화(F3)",
                             "화면캡쳐(F4)",
                             "폴더열기(F5)",
                             "도움말(F1)",
                             "영역설정",
                             "Record",
                             "Screen capture",
                             "Open folder",
                             "Help",
                             "Region setting",
                             "Recode Failed",
                             "Empty Region!"}) {
        EXPECT_NE(page.find(text), std::string::npos) << text;
    }
}

int main(int argc, char** argv) {
    // Folders and pages are handed to xdg-open: a stand-in on the PATH writes down what it
    // was given instead of starting a browser.
    static TempDir bin;
    g_xdgOpenLog = bin.path() + "/opened.txt";
    {
        std::ofstream script(bin.path() + "/xdg-open");
        script << "#!/bin/sh\necho \"$1\" > '" << g_xdgOpenLog << "'\n";
    }
    chmod((bin.path() + "/xdg-open").c_str(), 0755);
    setenv("PATH", (bin.path() + ":" + getenv("PATH")).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
