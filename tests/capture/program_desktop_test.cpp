// The real program on the test desktop: ending it during a recording (closing the window
// where there is no tray, the tray's "Exit", the signals that end programs) leaves a finished
// file, and so does a standard output nobody reads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

#include "test_support.h"
#include "common/program_under_test.h"
#include "common/x_windows.h"

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(Launch()); }

    // Starts the program; its standard output goes to standardOutput when that is a
    // descriptor.
    void Launch(int standardOutput = -1) {
        m_program = std::make_unique<CProgramUnderTest>(std::vector<std::string>{}, m_dir.path(),
                                                        std::vector<std::string>{}, standardOutput);
        ASSERT_GT(m_program->Pid(), 0);
        // The capture window is the program's only large window.
        ASSERT_TRUE(desktop::WaitUntil([&] {
            return (m_capture = Find([](Window, const ScreenRect& r) { return r.w > 100; })) != 0;
        }));
    }

    static bool Bare() { return std::getenv("BRINTEL_BARE_DESKTOP") != nullptr; }

    // A shown window of the program that pick accepts; 0 when there is none.
    Window Find(const std::function<bool(Window, const ScreenRect&)>& pick) {
        Window found = 0;
        for (Window w : m_x.ShownWindowsOf(m_program->Pid())) {
            found = m_x.IsMapped(w) && pick(w, m_x.Geometry(w)) ? w : found;
        }
        return found;
    }

    void ClickInside(Window window, int button) {
        const ScreenRect r = m_x.Geometry(window);
        desktop::Xdotool("mousemove --sync " + std::to_string(r.x + r.w / 2) + " " +
                         std::to_string(r.y + r.h / 2) + " click " + std::to_string(button));
    }

    // Starts a recording with F3 and lets it run for a while.
    void Record(int milliseconds = 1500) {
        // Without a window manager there is no activation, only the keyboard focus.
        desktop::Xdotool((Bare() ? "windowfocus --sync " : "windowactivate --sync ") +
                         std::to_string(m_capture));
        desktop::Xdotool("key F3");
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    // The program ends with status 0 and leaves one finished recording of at least 30 frames
    // (and says so on its standard output, where that is read).
    void ExpectCleanExitWithFinishedRecording(bool outputRead = true) {
        ASSERT_EQ(m_program->WaitForExit(), 0);
        const std::vector<std::string> avis = m_dir.Files(R"(Recode_\d{8}_\d{6}\.avi)");
        ASSERT_EQ(avis.size(), 1u);
        const Recording file = ReadRecording(m_dir.path() + "/" + avis[0]);
        ASSERT_TRUE(file.ok());
        EXPECT_GE(file.frameCount, 30);
        EXPECT_NEAR(file.duration, file.frameCount / 30.0, 0.001);
        EXPECT_EQ(file.decodeErrors, 0);
        EXPECT_FALSE(file.frames.empty());
        const std::string text = m_program->StandardOutput();
        EXPECT_TRUE(!outputRead || text.find(" written: ") != std::string::npos) << text;
    }

    TempDir m_dir;
    std::unique_ptr<CProgramUnderTest> m_program;
    CXWindows m_x;
    Window m_capture = 0;
};

}  // namespace

// Run on a bare X server (no tray host), where closing the capture window ends the program.
TEST_F(ProgramTest, ClosingWithoutATrayDuringARecordingFinishesTheFile) {
    if (!Bare()) {
        GTEST_SKIP() << "needs a desktop without a tray host";
    }
    Record();
    desktop::Xdotool("key Escape");
    ExpectCleanExitWithFinishedRecording();
}

TEST_F(ProgramTest, TrayExitDuringARecordingFinishesTheFile) {
    if (Bare()) {
        GTEST_SKIP() << "needs a tray host";
    }
    Record();
    // The tray icon is the program's small window; its menu has the one item "Exit".
    const Window icon =
        Find([&](Window w, const ScreenRect& r) { return w != m_capture && r.w <= 64; });
    ASSERT_NE(icon, 0u) << "no tray icon";
    ClickInside(icon, 3);
    Window menu = 0;
    ASSERT_TRUE(desktop::WaitUntil([&] {
        return (menu = Find(
                    [&](Window w, const ScreenRect&) { return w != m_capture && w != icon; })) != 0;
    }));
    ClickInside(menu, 1);
    ExpectCleanExitWithFinishedRecording();
}

// The signals that end programs: logout or kill, Ctrl+C, the terminal closing, Ctrl+\.
class SignalTest : public ProgramTest, public ::testing::WithParamInterface<int> {};

TEST_P(SignalTest, DuringARecordingFinishesTheFileAndQuits) {
    Record();
    kill(m_program->Pid(), GetParam());
    ExpectCleanExitWithFinishedRecording();
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string("SIG") + sigabbrev_np(info.param);
                         });

// Standard output is closed, or a pipe nobody reads: its reader has gone
// (`brintelshot | head -c 1`), or it never reads and the pipe is full. The console lines are
// lost; the recording is not.
enum class Output { Closed, ReaderGone, PipeFull };

class UnreadOutputTest : public ProgramTest, public ::testing::WithParamInterface<Output> {
protected:
    void SetUp() override {}
};

TEST_P(UnreadOutputTest, LosesConsoleLinesNotTheRecording) {
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    if (GetParam() != Output::PipeFull) {
        close(pipeEnds[0]);
    } else {
        fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
        const std::string filler(4096, 'x');
        while (write(pipeEnds[1], filler.data(), filler.size()) > 0) {
        }
        fcntl(pipeEnds[1], F_SETFL, 0);  // the program gets a pipe that blocks, as a shell's
    }
    ASSERT_NO_FATAL_FAILURE(
        Launch(GetParam() == Output::Closed ? CProgramUnderTest::kNoStandardOutput : pipeEnds[1]));
    close(pipeEnds[1]);
    // Long enough for a buffered console to have tried to write several times.
    Record(12000);
    desktop::Xdotool("key F3");
    kill(m_program->Pid(), SIGTERM);
    ExpectCleanExitWithFinishedRecording(false);
    if (GetParam() == Output::PipeFull) {
        close(pipeEnds[0]);
    }
}

std::string OutputName(const ::testing::TestParamInfo<Output>& info) {
    switch (info.param) {
        case Output::Closed:
            return "Closed";
        case Output::ReaderGone:
            return "ReaderGone";
        case Output::PipeFull:
            return "PipeFull";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(Outputs, UnreadOutputTest,
                         ::testing::Values(Output::Closed, Output::ReaderGone, Output::PipeFull),
                         OutputName);

// Dragging the window by its caption with the window manager during a recording: the recorded
// area follows the window at every frame, not only once the mouse button is released.
TEST_F(ProgramTest, RecordedAreaFollowsAWindowManagerDrag) {
    if (Bare()) {
        GTEST_SKIP() << "needs a window manager";
    }
    desktop::Xdotool("windowmove --sync " + std::to_string(m_capture) + " 100 100");
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.Geometry(m_capture).x == 100; }));
    const ScreenRect start = m_x.Geometry(m_capture);
    constexpr int kSteps = 10;
    constexpr int kStep = 50;
    const Window blue = m_x.CreateColouredWindow(
        ScreenRect{start.x + kSteps * kStep - 60, start.y - 60, start.w + 120, start.h + 120},
        0x0000FF);
    Record();
    desktop::Xdotool("mousemove --sync " + std::to_string(start.x + 60) + " " +
                     std::to_string(start.y + 12) + " mousedown 1");
    for (int i = 0; i < kSteps; ++i) {
        desktop::Xdotool("mousemove_relative --sync " + std::to_string(kStep) + " 0 sleep 0.1");
    }
    // Held still over the blue window for two seconds, then released and stopped at once.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    desktop::Xdotool("mouseup 1 sleep 0.1 windowactivate --sync " + std::to_string(m_capture) +
                     " key F3");
    ASSERT_TRUE(desktop::WaitUntil(
        [&] { return m_program->StandardOutput().find(" written: ") != std::string::npos; }));
    m_x.Destroy(blue);

    const std::vector<std::string> avis = m_dir.Files(R"(Recode_\d{8}_\d{6}\.avi)");
    ASSERT_EQ(avis.size(), 1u);
    const Recording file = ReadRecording(m_dir.path() + "/" + avis[0]);
    ASSERT_TRUE(file.ok());
    int blueFrames = 0;
    for (const cv::Mat& frame : file.frames) {
        const cv::Scalar mean = cv::mean(frame);
        blueFrames += mean[0] > 200 && mean[1] < 50 && mean[2] < 50;
    }
    // Two seconds over the blue window before the release: about 60 frames; frames taken
    // only after the release would be a handful.
    EXPECT_GE(blueFrames, 40) << "of " << file.frames.size();
    EXPECT_LT(blueFrames, int(file.frames.size()));  // it started elsewhere
}
