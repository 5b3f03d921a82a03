#pragma once

// Runs the brintelshot program as a child process, its standard output and error going to
// scratch files, and watches it end. Each program gets a fresh settings folder
// (XDG_CONFIG_HOME) of its own unless the environment names one.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/desktop_support.h"

class CProgramUnderTest {
public:
    // Starts the program with arguments in workDir (the current directory when empty);
    // environment holds arguments of env(1) that change its environment, such as
    // {"-u", "DISPLAY"}. The program's standard output goes to a scratch file, or to
    // standardOutput when that is a descriptor (a pipe, say; the caller keeps and closes its
    // own copy), or is closed with kNoStandardOutput.
    static constexpr int kNoStandardOutput = -2;
    explicit CProgramUnderTest(std::vector<std::string> environment = {},
                               const std::string& workDir = "",
                               std::vector<std::string> arguments = {}, int standardOutput = -1) {
        m_stdoutPath = ScratchFile("stdout");
        m_stderrPath = ScratchFile("stderr");
        m_configDir = "/tmp/brintelshot-config.XXXXXX";
        if (mkdtemp(m_configDir.data()) == nullptr) {
            m_configDir.clear();
        }
        std::string config = "XDG_CONFIG_HOME=" + m_configDir;
        std::vector<char*> argv{const_cast<char*>("env")};
        for (std::string& argument : environment) {
            argv.push_back(argument.data());
            if (argument.rfind("XDG_CONFIG_HOME=", 0) == 0) {
                config.clear();
            }
        }
        if (!config.empty()) {
            argv.push_back(config.data());
        }
        argv.push_back(const_cast<char*>(BRINTELSHOT_PATH));
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
            // Standard error first, so that a closed standard output stays closed.
            const bool errorSet = std::freopen(m_stderrPath.c_str(), "w", stderr) != nullptr;
            const bool outputSet = standardOutput == kNoStandardOutput ? close(STDOUT_FILENO) == 0
                                   : standardOutput >= 0
                                       ? dup2(standardOutput, STDOUT_FILENO) == STDOUT_FILENO
                                       : std::freopen(m_stdoutPath.c_str(), "w", stdout) != nullptr;
            if ((workDir.empty() || chdir(workDir.c_str()) == 0) && errorSet && outputSet) {
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
        std::remove(m_stdoutPath.c_str());
        std::remove(m_stderrPath.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(m_configDir, ignored);
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

    std::string StandardOutput() const { return FileText(m_stdoutPath); }
    std::string StandardError() const { return FileText(m_stderrPath); }

    long ErrorLines() const {
        std::string text = StandardError();
        return std::count(text.begin(), text.end(), '\n');
    }

private:
    static std::string ScratchFile(const std::string& what) {
        std::string path = "/tmp/brintelshot-" + what + ".XXXXXX";
        close(mkstemp(path.data()));
        return path;
    }

    static std::string FileText(const std::string& path) {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }

    std::string m_stdoutPath;
    std::string m_stderrPath;
    std::string m_configDir;
    pid_t m_pid = -1;
    bool m_ended = false;
};
