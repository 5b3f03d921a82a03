#pragma once

// Starts the brintelshot program as a child process and watches it end.

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
    // environment: arguments of env(1) that change the program's environment, such as
    // {"-u", "DISPLAY", "QT_SCALE_FACTOR=2"}.
    explicit CProgramUnderTest(std::vector<std::string> environment = {})
        : m_arguments(std::move(environment)) {
        m_arguments.insert(m_arguments.begin(), "env");
        m_arguments.push_back(BRINTELSHOT_PATH);
        char path[] = "/tmp/brintelshot-stderr.XXXXXX";
        close(mkstemp(path));
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
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
            std::vector<char*> argv;
            for (std::string& argument : m_arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            if (std::freopen(m_stderrPath.c_str(), "w", stderr) != nullptr) {
                execv("/usr/bin/env", argv.data());
            }
            _exit(127);
        }
        return m_pid > 0;
    }

    // The exit status once the program has ended; -1 when it was ended by a signal or still
    // runs after a generous limit.
    int WaitForExit() {
        int status = 0;
        pid_t result = 0;
        m_ended = desktop::WaitUntil([&] { return (result = waitpid(m_pid, &status, WNOHANG)); });
        return result == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int number) { kill(m_pid, number); }
    pid_t Pid() const { return m_pid; }

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
    std::vector<std::string> m_arguments;
    std::string m_stderrPath;
    pid_t m_pid = -1;
    bool m_ended = false;
};
