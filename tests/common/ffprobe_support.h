#pragma once

// Files, commands and an independent look at written media (ffprobe) for the file-level tests.

#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/desktop_support.h"

namespace probe {

// The names of the plain files in folder that match the regular expression, sorted.
inline std::vector<std::string> FilesIn(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && std::regex_match(name, std::regex(pattern))) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder under the system's temporary folder, removed with its files.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "brintel_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        dir_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // Plain file names matching the regular expression, sorted.
    std::vector<std::string> Files(const std::string& pattern = ".*") const {
        return FilesIn(dir_, pattern);
    }

private:
    std::string dir_;
};

inline std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::uint32_t U32At(const std::vector<unsigned char>& bytes, std::size_t at) {
    return std::uint32_t(bytes.at(at)) | std::uint32_t(bytes.at(at + 1)) << 8 |
           std::uint32_t(bytes.at(at + 2)) << 16 | std::uint32_t(bytes.at(at + 3)) << 24;
}

inline void PutU32At(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<unsigned char>(value >> (8 * i));
    }
}

// Lowers this process's file size limit for one scope; writes past it fail (EFBIG).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

inline std::string Shell(const std::string& command, int* status = nullptr) {
    return desktop::Output(command, status);
}

inline std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

// The non-empty lines of text.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The fields of the first stream that selector ("v:0", "a:0") picks, packets counted;
// empty when there is no such stream.
inline std::map<std::string, std::string> Stream(const std::string& path,
                                                 const std::string& selector) {
    std::map<std::string, std::string> fields;
    for (const std::string& line :
         Lines(Shell("ffprobe -v error -count_packets -select_streams " + selector +
                     " -show_streams -of default=noprint_wrappers=1 " + Quote(path)))) {
        auto eq = line.find('=');
        if (eq != std::string::npos) {
            fields.emplace(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    return fields;
}

// The longest distance in frames from a key frame (or frame 0) to the next key frame or to the
// last coded frame, as the file's index flags them.
inline int LongestKeyFrameGap(const std::string& path) {
    int longest = 0, lastKey = 0, number = 0;
    char flag = 0;
    for (const std::string& line : Lines(Shell("ffprobe -v error -select_streams v:0 -of csv=p=0 "
                                               "-show_entries packet=pts,flags " +
                                               Quote(path)))) {
        if (std::sscanf(line.c_str(), "%d,%c", &number, &flag) == 2) {
            longest = std::max(longest, number - lastKey);
            lastKey = flag == 'K' ? number : lastKey;
        }
    }
    return longest;
}

// Lines ffmpeg prints at error level while decoding the whole file; empty for a clean file.
inline std::string DecodeErrors(const std::string& path) {
    return Shell("ffmpeg -v error -nostdin -i " + Quote(path) + " -f null - 2>&1");
}

// A frame rate written as a fraction ("30/1").
inline double Rate(const std::string& fraction) {
    double num = 0, den = 0;
    return std::sscanf(fraction.c_str(), "%lf/%lf", &num, &den) == 2 && den != 0 ? num / den : 0;
}

}  // namespace probe
