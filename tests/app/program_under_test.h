#pragma once

// Runs the brintelshot program as a child process, its standard error going to a scratch file,
// and watches it end.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/desktop_support.h"

class CProgramUnderTest {
public:
    // Starts the program; environment holds arguments of env(1) that change its environment,
    // such as {"-u", "DISPLAY", "QT_SCALE_FACTOR=2"}.
    explicit CProgramUnderTest(std::vector<std::string> environment = {}) {
        char path[] = "/tmp/brintelshot-stderr.XXXXXX";
        close(mkstemp(path));
        m_stderrPath = path;
        std::vector<char*> argv{const_cast<char*>("env")};
        for (std::string& argument : environment) {
            argv.push_back(argument.data());
        }
        argv.push_back(const_cast<char*>(BRINTELSHOT_PATH));
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
            if (std::freopen(path, "w", stderr) != nullptr) {
                execv("/usr/bin/env", argv.data());
            }
            _exit(127);
        }
    }

    ~CProgramUnderTest() {
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_stderrPath.c_str());
    }

    pid_t Pid() const { return m_pid; }

    // The exit status once the program has ended; -1 when it was ended by a signal or still
    // runs after a generous limit.
    int WaitForExit() {
        int status = 0;
        pid_t result = 0;
        m_ended = desktop::WaitUntil([&] { return (result = waitpid(m_pid, &status, WNOHANG)); });
        return result == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string StandardError() const {
        std::stringstream text;
        text << std::ifstream(m_stderrPath).rdbuf();
        return text.str();
    }

    long ErrorLines() const {
        std::string text = StandardError();
        return std::count(text.begin(), text.end(), '\n');
    }

private:
    std::string m_stderrPath;
    pid_t m_pid = -1;
    bool m_ended = false;
};
