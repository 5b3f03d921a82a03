// The real program on the test desktop: ending it during a recording (the signals that end
// programs; the tray's "Exit" is the shell's test) leaves a finished file, also with a standard
// output nobody reads; killing it or its X server leaves a playable file, which `--repair` or
// the next start finishes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include "test_support.h"
#include "common/program_under_test.h"
#include "common/x_windows.h"

namespace {

int RunRepair(const std::string& path, std::string* output) {
    int status = -1;
    // A program that does not know the option starts its window instead: the limit ends it.
    *output = probe::Shell(
        "timeout 60 " + std::string(BRINTELSHOT_PATH) + " --repair " + probe::Quote(path) + " 2>&1",
        &status);
    return status;
}

// The header's frame count; 0 while the header is not written.
std::uint32_t HeaderFrames(const std::string& path) {
    const std::vector<unsigned char> bytes = probe::ReadFile(path);
    return bytes.size() >= 52 && std::memcmp(bytes.data(), "RIFF", 4) == 0 ? probe::U32At(bytes, 48)
                                                                           : 0;
}

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
        m_capture = 0;  // not the window of a program started before
        ASSERT_TRUE(desktop::WaitUntil([&] {
            for (Window w : m_x.ShownWindowsOf(m_program->Pid())) {
                m_capture = m_x.IsMapped(w) && m_x.Geometry(w).w > 100 ? w : m_capture;
            }
            return m_capture != 0;
        }));
    }

    // Starts a recording with F3 and lets it run for a while.
    void Record(int milliseconds = 1500) {
        desktop::Xdotool("windowactivate --sync " + std::to_string(m_capture));
        desktop::Xdotool("key F3");
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    // The program ends with status 0 and leaves one finished recording of at least 30 frames
    // (and says so on its standard output, where that is read).
    void ExpectCleanExitWithFinishedRecording(bool outputRead = true) {
        ASSERT_EQ(m_program->WaitForExit(), 0);
        const Recording file = ReadTheRecording(m_dir, R"(Recode_\d{8}_\d{6}\.avi)");
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

// The signals that end programs (logout or kill, Ctrl+C, the terminal closing, Ctrl+\) during a
// recording, each with another standard output: a file, closed, a pipe whose reader has gone
// (`brintelshot | head -c 1`), or a full pipe nobody reads. Every frame writes a console line
// at once; a console that buffered them would block or die on its flush at the latest when the
// program ends. Console lines may be lost; the recording is not.
enum class Output { File, Closed, ReaderGone, PipeFull };
struct Ending {
    int signal;
    Output output;
};

class EndingTest : public ProgramTest, public ::testing::WithParamInterface<Ending> {
protected:
    void SetUp() override {}
};

TEST_P(EndingTest, DuringARecordingFinishesTheFileAndQuits) {
    const Output output = GetParam().output;
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    if (output == Output::PipeFull) {
        fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
        const std::string filler(4096, 'x');
        while (write(pipeEnds[1], filler.data(), filler.size()) > 0) {
        }
        fcntl(pipeEnds[1], F_SETFL, 0);  // the program gets a pipe that blocks, as a shell's
    } else {
        close(pipeEnds[0]);
    }
    ASSERT_NO_FATAL_FAILURE(Launch(output == Output::File     ? -1
                                   : output == Output::Closed ? CProgramUnderTest::kNoStandardOutput
                                                              : pipeEnds[1]));
    close(pipeEnds[1]);
    Record();
    kill(m_program->Pid(), GetParam().signal);
    ExpectCleanExitWithFinishedRecording(output == Output::File);
    if (output == Output::PipeFull) {
        close(pipeEnds[0]);
    }
}

std::string EndingName(const ::testing::TestParamInfo<Ending>& info) {
    const char* outputs[] = {"File", "Closed", "ReaderGone", "PipeFull"};
    return std::string("SIG") + sigabbrev_np(info.param.signal) + "_" +
           outputs[int(info.param.output)];
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingTest,
                         ::testing::Values(Ending{SIGTERM, Output::File},
                                           Ending{SIGINT, Output::Closed},
                                           Ending{SIGHUP, Output::ReaderGone},
                                           Ending{SIGQUIT, Output::PipeFull}),
                         EndingName);

// Dragging the window by its caption with the window manager during a recording: the recorded
// area follows the window at every frame, not only once the mouse button is released.
TEST_F(ProgramTest, RecordedAreaFollowsAWindowManagerDrag) {
    desktop::Xdotool("windowmove --sync " + std::to_string(m_capture) + " 100 100");
    ASSERT_TRUE(desktop::WaitUntil([&] { return m_x.Geometry(m_capture).x == 100; }));
    const ScreenRect start = m_x.Geometry(m_capture);
    constexpr int kSteps = 10, kStep = 50;
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

    const Recording file = ReadTheRecording(m_dir, R"(Recode_\d{8}_\d{6}\.avi)");
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

// kill -9 at several moments of a recording: each file plays as it is, and the repair keeps
// every picture ffmpeg finds in it and the time recorded (that the repair writes what the
// writer would have, key flags included, the file tests check). The last file is finished by the
// program's next start instead of `--repair`.
TEST_F(ProgramTest, KilledDuringARecordingPlaysAndIsRepaired) {
    std::string path, name;
    const std::vector<std::pair<std::string, std::function<bool()>>> moments = {
        {"at the first header", [&] { return HeaderFrames(path) > 0; }},
        {"right after a refresh", [&, seen = std::uint32_t(0)]() mutable {
             const std::uint32_t before = std::exchange(seen, HeaderFrames(path));
             return before != 0 && seen != before;
         }}};
    for (size_t i = 0; i < moments.size(); ++i) {
        SCOPED_TRACE("killed " + moments[i].first);
        if (i > 0) {
            Launch();
        }
        Record(0);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(desktop::WaitUntil([&] {  // the newest name sorts last
            const std::vector<std::string> names = m_dir.Files(R"(Recode_.*\.avi)");
            return names.size() > i && !(path = m_dir.path() + "/" + (name = names.back())).empty();
        }));
        desktop::WaitUntil(moments[i].second, 15000);
        kill(m_program->Pid(), SIGKILL);
        const double recorded =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        m_program->WaitForExit();

        auto killed = probe::Stream(path, "v:0");
        EXPECT_EQ(killed["codec_name"], "mpeg4");
        EXPECT_GE(std::atoi(killed["nb_read_packets"].c_str()), 1);
        EXPECT_EQ(probe::DecodeErrors(path), "");

        std::string output;
        if (i + 1 < moments.size()) {
            ASSERT_EQ(RunRepair(path, &output), 0) << output;
            EXPECT_NE(output.find("repaired"), std::string::npos) << output;
        } else {  // the next start finishes it
            Launch();
            ASSERT_TRUE(desktop::WaitUntil([&] {
                return m_program->StandardOutput().find(name) != std::string::npos;
            })) << m_program->StandardOutput();
        }
        auto repaired = probe::Stream(path, "v:0");
        EXPECT_EQ(repaired["nb_read_packets"], killed["nb_read_packets"]);
        EXPECT_GE(std::atoi(repaired["nb_frames"].c_str()), std::atoi(killed["nb_frames"].c_str()));
        EXPECT_NEAR(std::atof(repaired["duration"].c_str()), recorded, 1.0);
        EXPECT_EQ(probe::DecodeErrors(path), "");
    }
}

// An X server of the test's own, so that ending it disturbs no other test. DISPLAY names it
// while it lives.
class OwnXServer {
public:
    // Xvfb writes its display number once it accepts clients, then closes that descriptor.
    OwnXServer() : m_savedDisplay(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") {
        for (const std::string& line : probe::Lines(desktop::Output(
                 "Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>&1 "
                 ">/dev/null 2>&1 & echo pid $!"))) {
            if (line.rfind("pid ", 0) == 0) {
                m_pid = std::atoi(line.c_str() + 4);
            } else {
                setenv("DISPLAY", (":" + line).c_str(), 1);
            }
        }
    }
    ~OwnXServer() {
        Kill();
        setenv("DISPLAY", m_savedDisplay.c_str(), 1);
    }
    void Kill() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            m_pid = -1;
        }
    }

private:
    std::string m_savedDisplay;
    pid_t m_pid = -1;
};

// The X server goes away during a recording (the session ends): the program ends with status 1
// (no crash), and the file it leaves plays; it was even finished on the way out.
TEST(ProgramXServerTest, XServerLostDuringARecordingLeavesAFinishedPlayableFile) {
    OwnXServer server;
    TempDir dir;
    CProgramUnderTest program({}, dir.path());
    std::string windows;
    ASSERT_TRUE(desktop::WaitUntil([&] {
        windows = desktop::Output("xdotool search --onlyvisible --pid " +
                                  std::to_string(program.Pid()) + " 2>/dev/null");
        return !windows.empty();
    }));
    for (const std::string& window : probe::Lines(windows)) {
        desktop::Xdotool("windowfocus --sync " + window);
    }
    desktop::Xdotool("key F3");
    std::string path;
    ASSERT_TRUE(desktop::WaitUntil([&] {
        std::vector<std::string> files = dir.Files(R"(Recode_.*\.avi)");
        path = files.empty() ? "" : dir.path() + "/" + files[0];
        return !path.empty() && HeaderFrames(path) > 30;
    }));
    server.Kill();
    EXPECT_EQ(program.WaitForExit(), 1) << program.StandardError();

    auto stream = probe::Stream(path, "v:0");
    EXPECT_EQ(stream["codec_name"], "mpeg4");
    // An idle desktop: one picture, then repeat frames.
    EXPECT_GT(std::atoi(stream["nb_frames"].c_str()), 30);
    EXPECT_EQ(probe::DecodeErrors(path), "");
    std::string output;
    EXPECT_EQ(RunRepair(path, &output), 0);
    EXPECT_NE(output.find("nothing to do"), std::string::npos) << output;
}
