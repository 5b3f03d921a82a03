#include "app/record_command.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocale>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/command_args.h"
#include "app/command_line.h"
#include "app/wayland_screen.h"
#include "encoding/avi_recorder.h"
#include "platform/console_line.h"
#include "recording/output_names.h"
#include "recording/recording_session.h"
#include "recording/x11_frame_source.h"

namespace {

using Clock = std::chrono::steady_clock;

// The signals that end the window program end a recording too, and finish its file.
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

int Fail(const std::string& reason) {
    std::fprintf(stderr, "brintelshot: --record: %s\n", reason.c_str());
    return 1;
}

// Blocks the end signals in this thread and in every thread started after it (the recording's
// threads inherit the mask) and returns a descriptor that reads them; not open on failure.
CUniqueFd BlockEndSignals() {
    sigset_t wanted;
    sigemptyset(&wanted);
    for (int number : kEndSignals) {
        sigaddset(&wanted, number);
    }
    if (pthread_sigmask(SIG_BLOCK, &wanted, nullptr) != 0) {
        return CUniqueFd();
    }
    return CUniqueFd(signalfd(-1, &wanted, SFD_CLOEXEC));
}

long long FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

std::string DataSize(long long bytes) {
    return QLocale::c()
        .formattedDataSize(std::max(bytes, 0LL), 1, QLocale::DataSizeSIFormat)
        .toStdString();
}

// A progress line on a terminal; never waits for it.
void ShowLine(const std::string& text) {
    WriteLineNoWait(STDERR_FILENO, "brintelshot: " + text + "\n");
}

// Waits until the recording has finished by itself (its frames are all written, or it failed)
// or an end signal came, with a progress line every second when showProgress. Returns the
// signal's number, or 0.
int WaitForEnd(int endSignals, int finished, double durationSeconds, const std::string& path,
               bool showProgress) {
    const Clock::time_point start = Clock::now();
    long long secondsShown = 0;
    for (;;) {
        int timeoutMs = -1;
        if (showProgress) {
            const auto next = start + std::chrono::seconds(secondsShown + 1);
            timeoutMs = static_cast<int>(std::max<long long>(
                0, std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count()));
        }
        pollfd waits[2] = {{endSignals, POLLIN, 0}, {finished, POLLIN, 0}};
        const int ready = ::poll(waits, 2, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            return 0;  // cannot wait: stop now rather than record on unseen
        }
        if (waits[0].revents & POLLIN) {
            signalfd_siginfo info{};
            const ssize_t got = ::read(endSignals, &info, sizeof info);
            return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo)
                                                            : SIGTERM;
        }
        if (waits[1].revents & POLLIN) {
            return 0;
        }
        if (showProgress && Clock::now() >= start + std::chrono::seconds(secondsShown + 1)) {
            ++secondsShown;
            char length[64];
            std::snprintf(length, sizeof length, "recording %lld s of %g s, ", secondsShown,
                          durationSeconds);
            ShowLine(length + DataSize(FileSize(path)));
        }
    }
}

// Prints the file's path on standard output when there is a file, and says how the recording
// ended: the reason on failure, a summary on a terminal. Returns the exit status.
int Report(const CRecordingResult& result, int signal, bool onTerminal) {
    const bool fileKept = FileSize(result.path) >= 0;
    if (fileKept) {
        std::printf("%s\n", result.path.c_str());
        std::fflush(stdout);
    }
    if (result.failed) {
        return Fail(fileKept ? "the recording stopped: " + result.error +
                                   "; what was recorded before is in " + result.path + " (" +
                                   std::to_string(result.frameCount) + " frames)"
                             : result.error);
    }
    if (onTerminal) {
        const std::string summary = "recorded " + std::to_string(result.frameCount) + " frames, " +
                                    std::to_string(result.frameWidth) + "x" +
                                    std::to_string(result.frameHeight) + ", " +
                                    DataSize(FileSize(result.path));
        ShowLine(signal != 0 ? "stopped by SIG" + std::string(sigabbrev_np(signal)) + ": " + summary
                             : summary);
    }
    return 0;
}

}  // namespace

int RunRecordCommand(const CCommandLine& commandLine) {
    // Before any thread exists, so that no thread takes these signals' default action.
    const CUniqueFd endSignals = BlockEndSignals();
    // A reader of standard output or error that went away costs a line, never the recording;
    // a write past the file-size limit fails and finishes the file instead of ending the
    // program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Standard output carries the written file's name alone, as --capture's does.
    DropConsoleLines(true);
    if (!endSignals.IsOpen()) {
        return Fail("cannot watch for the signals that end the recording");
    }
    CSvRect region;
    if (!CommandRegion(commandLine.geometry, "--record", &region)) {
        return 1;
    }
    std::string error;
    CReservedFile file =
        ReserveCommandOutput(commandLine.output, DefaultOutputFolder(),
                             RecordFileName(MakeTimeStamp(kRecordStampFormat)), &error);
    if (!file.fd.IsOpen()) {
        return Fail(error);
    }
    const std::string path = file.path;
    const CUniqueFd finished(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!finished.IsOpen()) {
        std::remove(path.c_str());
        return Fail("cannot wait for the recording");
    }

    // A Wayland desktop shares its screen through its portal (perhaps after asking the user).
    const auto wayland = IsWaylandSession() ? std::make_unique<CCommandLineScreen>() : nullptr;
    if (wayland && !wayland->screen.PrepareAndWait(commandLine.cursor, &error, endSignals.Get())) {
        std::remove(path.c_str());
        return Fail(error);
    }
    CX11FrameSource x11Source;
    x11Source.SetIncludePointer(commandLine.cursor);
    CAviRecorder recorder;
    CRecordingSession session(
        recorder, wayland ? wayland->screen.Frames() : static_cast<CFrameSource&>(x11Source));
    session.SetFrameLimit(std::max<int64_t>(
        1, std::llround(commandLine.durationSeconds * CAviRecorder::kFramesPerSecond)));
    session.SetFinishedCallback([fd = finished.Get()] {
        const uint64_t one = 1;
        const ssize_t ignored = ::write(fd, &one, sizeof one);
        (void)ignored;
    });
    if (!session.Start(CCaptureTarget{0, region}, path, std::move(file.fd))) {
        std::remove(path.c_str());  // reserved above: nothing in it is worth keeping
        return Fail(session.LastError());
    }
    const bool onTerminal = isatty(STDERR_FILENO) == 1;
    const int signal =
        WaitForEnd(endSignals.Get(), finished.Get(), commandLine.durationSeconds, path, onTerminal);
    const CRecordingResult result = session.Stop();

    return Report(result, signal, onTerminal);
}
