#include "recording/output_names.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

std::string MakeTimeStamp(const char* format, std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return std::string();
    }
    char buffer[128];
    size_t length = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

std::string MakeTimeStamp(const char* format) {
    return MakeTimeStamp(format, std::time(nullptr));
}

std::string CaptureFileName(const std::string& stamp) {
    return "Capture_" + stamp + ".bmp";
}

std::string RecordFileName(const std::string& stamp) {
    return kRecordFilePrefix + stamp + ".avi";
}

std::string NumberedFileName(const std::string& fileName, int n) {
    if (n <= 1) {
        return fileName;
    }
    size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        dot = fileName.size();
    }
    return fileName.substr(0, dot) + "_" + std::to_string(n) + fileName.substr(dot);
}

CReservedFile ReserveUniqueFile(const std::string& dir, const std::string& fileName,
                                std::string* error) {
    // The bound only guards against a directory that reports every name as taken.
    constexpr int kMaxAttempts = 10000;
    for (int n = 1; n <= kMaxAttempts; ++n) {
        std::string path = dir + "/" + NumberedFileName(fileName, n);
        // O_EXCL also refuses a symbolic link in the name's place, wherever it points.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // A start-up scan of another instance takes an unlocked empty recording for the
            // leftover of one that ended before its first frame.
            flock(fd, LOCK_EX | LOCK_NB);
            return CReservedFile{std::move(path), CUniqueFd(fd)};
        }
        if (errno != EEXIST) {
            if (error != nullptr) {
                *error = std::strerror(errno);
            }
            return CReservedFile();
        }
    }
    if (error != nullptr) {
        *error = "no free file name";
    }
    return CReservedFile();
}
