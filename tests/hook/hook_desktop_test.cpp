// The keyboard hook on a real X server, with keys typed through xdotool (XTEST).

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "common/desktop_support.h"
#include "zorvane.h"

// Xlib last: its macros clash with names inside GoogleTest.
#include <X11/Xlib.h>

namespace {

// Keeps the reports as text, "31v 31^ " for the digit 1 going down and up. NumLock and Shift
// are left out: xdotool taps them around a keypad key as the symbol typed needs.
class CReportLog {
public:
    static void Receive(void* context, unsigned int virtualKey, unsigned int flags) {
        if (virtualKey == 0x90 || virtualKey == 0x10) {
            return;
        }
        char report[16];
        std::snprintf(report, sizeof(report), "%02X%s ", virtualKey,
                      (flags & ZORVANE_FLAG_RELEASED) != 0 ? "^" : "v");
        auto* log = static_cast<CReportLog*>(context);
        std::lock_guard<std::mutex> lock(log->m_mutex);
        log->m_text += report;
    }

    // The reports so far, once they contain last (or a generous limit has passed).
    std::string WaitFor(const std::string& last) {
        std::string text;
        desktop::WaitUntil([&] {
            std::lock_guard<std::mutex> lock(m_mutex);
            text = m_text;
            return text.find(last) != std::string::npos;
        });
        return text;
    }

private:
    std::mutex m_mutex;
    std::string m_text;
};

}  // namespace

// Another program grabbing the keyboard (as a menu or a game does) must not blind the hook. The
// release of a key that is not down is dropped, and the keypad 1 is not the digit 1.
TEST(HookDesktopTest, ReportsTypedKeysWhileAnotherProgramGrabsTheKeyboard) {
    CReportLog log;
    ASSERT_EQ(InstallHook(&CReportLog::Receive, &log), ZORVANE_OK);
    EXPECT_EQ(InstallHook(&CReportLog::Receive, &log), ZORVANE_ERR_ALREADY_INSTALLED);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                            GrabModeAsync, CurrentTime),
              GrabSuccess);
    XSync(display, False);
    ASSERT_EQ(desktop::Xdotool("keyup a key ctrl+1 KP_1 b"), 0);
    // xdotool lets go of a chord's keys in the order it pressed them.
    EXPECT_EQ(log.WaitFor("42^"), "11v 31v 11^ 31^ 61v 61^ 42v 42^ ");
    XCloseDisplay(display);
    EXPECT_EQ(UninstallHook(), ZORVANE_OK);
}

// Errors, and the receiver: UninstallHook from inside it (on the thread UninstallHook would
// wait for) is refused, and after UninstallHook it hears nothing (a fresh hook sees the next key
// first).
TEST(HookInstallTest, ErrorsUninstallAndTheReceiversThread) {
    EXPECT_EQ(InstallHook(nullptr, nullptr), ZORVANE_ERR_NO_RECEIVER);
    EXPECT_EQ(UninstallHook(), ZORVANE_ERR_NOT_INSTALLED);
    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", ":4711", 1);
    int result = InstallHook([](void*, unsigned int, unsigned int) {}, nullptr);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(result, ZORVANE_ERR_NO_DISPLAY);
    EXPECT_STRNE(HookResultText(result), HookResultText(ZORVANE_OK));

    struct Seen {
        std::atomic<int> calls{0}, result{-1};
    } seen;
    ASSERT_EQ(InstallHook(
                  [](void* context, unsigned int, unsigned int) {
                      auto* s = static_cast<Seen*>(context);
                      ++s->calls;
                      s->result = UninstallHook();
                  },
                  &seen),
              ZORVANE_OK);
    ASSERT_EQ(desktop::Xdotool("key z"), 0);
    ASSERT_TRUE(desktop::WaitUntil([&] { return seen.result != -1; }));
    EXPECT_EQ(seen.result, ZORVANE_ERR_IN_RECEIVER);
    EXPECT_EQ(UninstallHook(), ZORVANE_OK);
    const int calls = seen.calls;
    CReportLog next;
    ASSERT_EQ(desktop::Xdotool("key x"), 0);
    ASSERT_EQ(InstallHook(&CReportLog::Receive, &next), ZORVANE_OK);
    ASSERT_EQ(desktop::Xdotool("key y"), 0);
    EXPECT_EQ(next.WaitFor("59^"), "59v 59^ ");
    EXPECT_EQ(UninstallHook(), ZORVANE_OK);
    EXPECT_EQ(seen.calls, calls);
}
