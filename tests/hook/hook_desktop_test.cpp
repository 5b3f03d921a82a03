// The keyboard hook on a real X server, with keys typed through xdotool (XTEST).

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "common/desktop_support.h"
#include "zorvane.h"

namespace {

struct Report {
    unsigned int virtualKey;
    bool released;
};

class CReportLog {
public:
    static void Receive(void* context, unsigned int virtualKey, unsigned int flags) {
        auto* log = static_cast<CReportLog*>(context);
        std::lock_guard<std::mutex> lock(log->m_mutex);
        log->m_reports.push_back({virtualKey, (flags & ZORVANE_FLAG_RELEASED) != 0});
    }

    // Waits until count reports have arrived (or a generous limit passes) and returns them.
    std::vector<Report> Take(size_t count) {
        desktop::WaitUntil([&] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_reports.size() >= count;
        });
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Report> taken;
        taken.swap(m_reports);
        return taken;
    }

private:
    std::mutex m_mutex;
    std::vector<Report> m_reports;
};

class HookDesktopTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InstallHook(&CReportLog::Receive, &m_log), ZORVANE_OK); }
    void TearDown() override { EXPECT_EQ(UninstallHook(), ZORVANE_OK); }

    CReportLog m_log;
};

::testing::AssertionResult Is(const Report& report, unsigned int virtualKey, bool released) {
    if (report.virtualKey == virtualKey && report.released == released) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got key " << report.virtualKey << (report.released ? " up" : " down")
           << ", expected " << virtualKey << (released ? " up" : " down");
}

}  // namespace

TEST_F(HookDesktopTest, ReportsPressAndReleaseOfTheDigitOne) {
    ASSERT_EQ(desktop::Xdotool("key 1"), 0);
    std::vector<Report> reports = m_log.Take(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(Is(reports[0], 0x31, false));
    EXPECT_TRUE(Is(reports[1], 0x31, true));
}

TEST_F(HookDesktopTest, ReportsCtrlBeforeTheKey) {
    ASSERT_EQ(desktop::Xdotool("key ctrl+1"), 0);
    std::vector<Report> reports = m_log.Take(4);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_TRUE(Is(reports[0], 0x11, false));
    EXPECT_TRUE(Is(reports[1], 0x31, false));
    int releases = 0;
    for (size_t i = 2; i < reports.size(); ++i) {
        releases += reports[i].released ? 1 : 0;
    }
    EXPECT_EQ(releases, 2);
}

// xdotool taps NumLock or Shift around a keypad key as the symbol needs; whatever it does, the
// key reports the code of the symbol typed, on press and release alike.
TEST_F(HookDesktopTest, KeypadOneIsNotTheDigitOne) {
    ASSERT_EQ(desktop::Xdotool("key KP_1"), 0);
    ASSERT_EQ(desktop::Xdotool("key a"), 0);  // marks the end
    std::vector<Report> keypad;
    desktop::WaitUntil([&] {
        for (const Report& report : m_log.Take(0)) {
            if (report.virtualKey != 0x90 && report.virtualKey != 0x10) {  // NumLock, Shift
                keypad.push_back(report);
            }
        }
        return keypad.size() >= 4;
    });
    ASSERT_EQ(keypad.size(), 4u);
    EXPECT_TRUE(Is(keypad[0], 0x61, false));
    EXPECT_TRUE(Is(keypad[1], 0x61, true));
    EXPECT_TRUE(Is(keypad[2], 0x41, false));
}

TEST_F(HookDesktopTest, DropsTheReleaseOfAKeyThatIsNotDown) {
    ASSERT_EQ(desktop::Xdotool("keyup a"), 0);
    ASSERT_EQ(desktop::Xdotool("key b"), 0);
    std::vector<Report> reports = m_log.Take(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(Is(reports[0], 0x42, false));
    EXPECT_TRUE(Is(reports[1], 0x42, true));
}

TEST_F(HookDesktopTest, SecondInstallIsRefused) {
    EXPECT_EQ(InstallHook(&CReportLog::Receive, &m_log), ZORVANE_ERR_ALREADY_INSTALLED);
}

TEST(HookInstallTest, BadArgumentsAndMissingDisplayGiveErrors) {
    EXPECT_EQ(InstallHook(nullptr, nullptr), ZORVANE_ERR_NO_RECEIVER);
    EXPECT_EQ(UninstallHook(), ZORVANE_ERR_NOT_INSTALLED);

    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", ":4711", 1);
    int result = InstallHook([](void*, unsigned int, unsigned int) {}, nullptr);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(result, ZORVANE_ERR_NO_DISPLAY);
    EXPECT_STRNE(HookResultText(result), HookResultText(ZORVANE_OK));
    EXPECT_EQ(UninstallHook(), ZORVANE_ERR_NOT_INSTALLED);
}

TEST(HookInstallTest, NoReportAfterUninstall) {
    CReportLog log;
    ASSERT_EQ(InstallHook(&CReportLog::Receive, &log), ZORVANE_OK);
    ASSERT_EQ(UninstallHook(), ZORVANE_OK);
    ASSERT_EQ(desktop::Xdotool("key x"), 0);
    // A fresh hook sees the next key first: the x above reached nobody.
    CReportLog next;
    ASSERT_EQ(InstallHook(&CReportLog::Receive, &next), ZORVANE_OK);
    ASSERT_EQ(desktop::Xdotool("key y"), 0);
    std::vector<Report> reports = next.Take(2);
    EXPECT_EQ(UninstallHook(), ZORVANE_OK);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(Is(reports[0], 0x59, false));
    std::vector<Report> old = log.Take(0);
    EXPECT_TRUE(old.empty());
}
