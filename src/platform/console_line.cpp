#include "platform/console_line.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace {

std::atomic<bool> g_dropConsoleLines{false};

// Zero timeout: asks whether a write would go through now, never waits for it.
bool WritableNow(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready == 1 && (entry.revents & POLLOUT) != 0 &&
           (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
}

// The bytes from a buffer of the caller's, so that a formatted line costs no allocation.
bool WriteNoWait(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        if (!WritableNow(fd)) {
            return false;
        }
        const ssize_t written = ::write(fd, data + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool WriteLineNoWait(int fd, const std::string& text) {
    return WriteNoWait(fd, text.data(), text.size());
}

void KeepStandardStreamsOpen() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number is fd itself: the ones below it are open by now.
            const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                ::close(opened);
            }
        }
    }
}

void DropConsoleLines(bool drop) {
    g_dropConsoleLines = drop;
}

bool ConsoleLine(const char* format, ...) {
    if (g_dropConsoleLines) {
        return false;
    }
    char buffer[512];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    bool written = false;
    if (length >= 0 && static_cast<size_t>(length) < sizeof buffer) {
        written = WriteNoWait(STDOUT_FILENO, buffer, static_cast<size_t>(length));
    } else if (length > 0) {  // a long path
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, again);
        text.pop_back();
        written = WriteNoWait(STDOUT_FILENO, text.data(), text.size());
    }
    va_end(again);
    return written;
}
