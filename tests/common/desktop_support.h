#pragma once

// Helpers for tests that act on the X display as a person would (xdotool) and wait for the
// program under test to react. Waits have a generous limit that only guards against a hang;
// no test asserts how fast anything happens.

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace desktop {

inline int Run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a shell command; its standard output, and its exit status (-1 when it did not exit)
// via status.
inline std::string Output(const std::string& command, int* status = nullptr) {
    std::string text;
    int result = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
            text.append(buffer, got);
        }
        result = pclose(pipe);
    }
    if (status != nullptr) {
        *status = result != -1 && WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    }
    return text;
}

inline int Xdotool(const std::string& arguments) {
    return Run("xdotool " + arguments + " >/dev/null 2>&1");
}

inline bool WaitUntil(const std::function<bool()>& condition, int limitMs = 15000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace desktop
