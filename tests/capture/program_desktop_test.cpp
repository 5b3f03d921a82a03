// The real program on the shared test desktop: ending it during a recording (tray "Exit",
// SIGTERM) finishes the file, and a file-size limit set for the program ends the recording
// with a finished file while the program runs on.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../common/desktop_support.h"
#include "test_support.h"

namespace {

struct WindowInfo {
    unsigned long id = 0;
    int x = 0, y = 0, width = 0, height = 0;
};

std::vector<WindowInfo> VisibleWindowsOf(pid_t pid) {
    std::vector<WindowInfo> windows;
    std::istringstream ids(
        desktop::Output("xdotool search --onlyvisible --pid " + std::to_string(pid)));
    unsigned long id;
    while (ids >> id) {
        WindowInfo info;
        info.id = id;
        std::string shell =
            desktop::Output("xdotool getwindowgeometry --shell " + std::to_string(id));
        std::smatch m;
        if (std::regex_search(
                shell, m, std::regex(R"(X=(-?\d+)\s+Y=(-?\d+)\s+WIDTH=(\d+)\s+HEIGHT=(\d+))"))) {
            info.x = std::stoi(m[1]);
            info.y = std::stoi(m[2]);
            info.width = std::stoi(m[3]);
            info.height = std::stoi(m[4]);
            windows.push_back(info);
        }
    }
    return windows;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pid = fork();
        if (m_pid == 0) {
            if (chdir(m_dir.path().c_str()) != 0) {
                _exit(126);
            }
            int out = open("stdout.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            execl("/bin/sh", "sh", "-c", (LimitCommand() + "exec '" BRINTELSHOT_EXE "'").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(m_pid, 0);
        // The capture window is the program's largest window.
        ASSERT_TRUE(desktop::WaitUntil([&] {
            for (const WindowInfo& w : VisibleWindowsOf(m_pid)) {
                if (w.width > 100) {
                    m_capture = w;
                    return true;
                }
            }
            return false;
        }));
    }

    void TearDown() override {
        if (m_pid > 0 && kill(m_pid, 0) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    virtual std::string LimitCommand() const { return ""; }
    static bool Bare() { return std::getenv("BRINTEL_BARE_DESKTOP") != nullptr; }

    void Key(const std::string& keys) {
        // Without a window manager there is no activation, only the keyboard focus.
        desktop::Xdotool((Bare() ? "windowfocus --sync " : "windowactivate --sync ") +
                         std::to_string(m_capture.id));
        desktop::Xdotool("key " + keys);
    }

    // The exit status, or -1 when the program did not end within the limit.
    int WaitForExit(int limitMs = 15000) {
        int status = 0;
        bool ended =
            desktop::WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, limitMs);
        if (!ended) {
            return -1;
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string Log() const {
        std::ifstream in(m_dir.path() + "/stdout.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string RecordingPath() const {
        for (const std::string& name : m_dir.Files()) {
            if (std::regex_match(name, std::regex(R"(Recode_\d{8}_\d{6}\.avi)"))) {
                return m_dir.path() + "/" + name;
            }
        }
        return "";
    }

    void ExpectFinishedRecording(int minFrames) {
        const std::string path = RecordingPath();
        ASSERT_FALSE(path.empty());
        VideoProbe probe = ProbeVideo(path);
        ASSERT_TRUE(probe.ok) << path;
        EXPECT_GE(probe.frameCount, minFrames);
        EXPECT_NEAR(probe.duration, probe.frameCount / 30.0, 0.001);
        int errors = -1;
        EXPECT_FALSE(DecodeFrames(path, probe.width, probe.height, &errors).empty());
        EXPECT_EQ(errors, 0);
        EXPECT_NE(Log().find(" written: "), std::string::npos) << Log();
    }

    TempDir m_dir;
    pid_t m_pid = -1;
    WindowInfo m_capture;
};

class LimitedProgramTest : public ProgramTest {
protected:
    std::string LimitCommand() const override { return "ulimit -f 150; "; }  // 150 KiB
};

}  // namespace

// Run on a bare X server (no tray host), where closing the capture window ends the program.
TEST_F(ProgramTest, ClosingWithoutATrayDuringARecordingFinishesTheFile) {
    if (!Bare()) {
        GTEST_SKIP() << "needs a desktop without a tray host";
    }
    Key("F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Key("Escape");
    EXPECT_EQ(WaitForExit(), 0);
    ExpectFinishedRecording(30);
}

TEST_F(ProgramTest, TrayExitDuringARecordingFinishesTheFile) {
    if (Bare()) {
        GTEST_SKIP() << "needs a tray host";
    }
    Key("F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // The tray icon is the program's small window; its menu has the one item "Exit".
    WindowInfo icon;
    for (const WindowInfo& w : VisibleWindowsOf(m_pid)) {
        if (w.id != m_capture.id && w.width <= 64) {
            icon = w;
        }
    }
    ASSERT_NE(icon.id, 0u) << "no tray icon";
    desktop::Xdotool("mousemove --sync " + std::to_string(icon.x + icon.width / 2) + " " +
                     std::to_string(icon.y + icon.height / 2) + " click 3");
    WindowInfo menu;
    ASSERT_TRUE(desktop::WaitUntil(
        [&] {
            for (const WindowInfo& w : VisibleWindowsOf(m_pid)) {
                if (w.id != m_capture.id && w.id != icon.id) {
                    menu = w;
                    return true;
                }
            }
            return false;
        },
        5000));
    desktop::Xdotool("mousemove --sync " + std::to_string(menu.x + menu.width / 2) + " " +
                     std::to_string(menu.y + menu.height / 2) + " click 1");
    EXPECT_EQ(WaitForExit(), 0);
    ExpectFinishedRecording(30);
}

TEST_F(ProgramTest, FinishedRecordingIsAnnouncedFromTheTray) {
    if (Bare()) {
        GTEST_SKIP() << "needs a tray host";
    }
    const std::vector<WindowInfo> before = VisibleWindowsOf(m_pid);
    Key("F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Key("F3");
    // Without a notification service the tray icon shows the summary in a balloon window.
    WindowInfo balloon;
    EXPECT_TRUE(desktop::WaitUntil(
        [&] {
            for (const WindowInfo& w : VisibleWindowsOf(m_pid)) {
                bool known = false;
                for (const WindowInfo& b : before) {
                    known = known || b.id == w.id;
                }
                if (!known) {
                    balloon = w;
                    return true;
                }
            }
            return false;
        },
        5000));
    EXPECT_GT(balloon.width, 100);
    ExpectFinishedRecording(10);
}

TEST_F(ProgramTest, SigtermDuringARecordingFinishesTheFile) {
    Key("F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(m_pid, SIGTERM);
    EXPECT_EQ(WaitForExit(), 0);
    ExpectFinishedRecording(30);
}

TEST_F(LimitedProgramTest, FileSizeLimitEndsTheRecordingAndTheProgramRunsOn) {
    // A changing picture under the whole capture window, seen through its region.
    PatternWindow pattern(m_capture.x, m_capture.y, m_capture.width, m_capture.height);
    pattern.Lower();
    std::atomic<bool> animate{true};
    std::thread animator([&] {
        for (int i = 1; animate; ++i) {
            pattern.Show(i % 8);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    Key("F3");
    bool stopped =
        desktop::WaitUntil([&] { return Log().find(" written: ") != std::string::npos; }, 20000);
    animate = false;
    animator.join();
    ASSERT_TRUE(stopped) << Log();
    EXPECT_NE(Log().find("Venc Error while writing frame"), std::string::npos);
    EXPECT_EQ(kill(m_pid, 0), 0) << "the program ended";
    ExpectFinishedRecording(1);

    // The program still works: a new recording starts and is finished on SIGTERM.
    std::remove(RecordingPath().c_str());
    Key("F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(m_pid, SIGTERM);
    EXPECT_EQ(WaitForExit(), 0);
    ExpectFinishedRecording(10);
}
