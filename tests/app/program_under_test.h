#pragma once

// Starts the brintelshot program as a child process and watches it end.

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/desktop_support.h"

class CProgramUnderTest {
public:
    // Environment variables to remove before starting (for example DISPLAY).
    explicit CProgramUnderTest(std::vector<std::string> unsetVariables = {})
        : m_unset(std::move(unsetVariables)) {
        char path[] = "/tmp/brintelshot-stderr.XXXXXX";
        int fd = mkstemp(path);
        if (fd >= 0) {
            close(fd);
        }
        m_stderrPath = path;
    }

    ~CProgramUnderTest() {
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_stderrPath.c_str());
    }

    bool Start() {
        m_pid = fork();
        if (m_pid == 0) {
            for (const std::string& name : m_unset) {
                unsetenv(name.c_str());
            }
            if (!std::freopen(m_stderrPath.c_str(), "w", stderr)) {
                _exit(126);
            }
            execl(BRINTELSHOT_PATH, BRINTELSHOT_PATH, static_cast<char*>(nullptr));
            _exit(127);
        }
        return m_pid > 0;
    }

    // The exit status once the program has ended, or -1 if it is still running after a
    // generous limit (or ended by a signal).
    int WaitForExit() {
        int status = 0;
        bool ended = desktop::WaitUntil([&] {
            pid_t result = waitpid(m_pid, &status, WNOHANG);
            return result == m_pid || result < 0;
        });
        if (!ended) {
            return -1;
        }
        m_ended = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int number) { kill(m_pid, number); }

    pid_t Pid() const { return m_pid; }

    std::string StandardError() const {
        std::ifstream file(m_stderrPath);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::vector<std::string> m_unset;
    std::string m_stderrPath;
    pid_t m_pid = -1;
    bool m_ended = false;
};
