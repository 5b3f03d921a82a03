#include "capture/output_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <vector>

#include "recording/output_names.h"

std::string g_strOutputDir;

namespace {

// The kernel still knows the path of a removed current directory and marks it.
std::string RemovedCurrentDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/cwd", buffer.data(), buffer.size());
    if (length <= 0 || size_t(length) >= buffer.size()) {
        return std::string();
    }
    std::string path(buffer.data(), size_t(length));
    const std::string mark = " (deleted)";
    if (path.size() > mark.size() &&
        path.compare(path.size() - mark.size(), mark.size(), mark) == 0) {
        path.resize(path.size() - mark.size());
    }
    return path.empty() || path[0] != '/' ? std::string() : path;
}

}  // namespace

std::string CurrentDirectory() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            return RemovedCurrentDirectory();
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

std::string OutputFolderProblem(const std::string& dir) {
    if (dir.empty()) {
        return "No output folder: the start directory cannot be read";
    }
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 && errno != ENOENT && errno != ENOTDIR) {
        return "Output folder " + dir + " unusable (" + std::strerror(errno) + ")";  // too long
    }
    if (!S_ISDIR(info.st_mode)) {
        return "Output folder " + dir + " not found";
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        return "Output folder " + dir + " not writable";
    }
    return std::string();
}

CReservedFile ReserveOutputFile(const std::string& dir, const std::string& fileName,
                                std::string* error) {
    std::string problem = OutputFolderProblem(dir);
    if (!problem.empty()) {
        *error = problem;
        return CReservedFile();
    }
    std::string reason;
    CReservedFile file = ReserveUniqueFile(dir, fileName, &reason);
    if (!file.fd.IsOpen()) {
        *error = "Cannot write to " + dir + ": " + reason;
    }
    return file;
}

QUrl FolderUrl(const std::string& dir) {
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(dir).toPercentEncoding("/"),
                             QUrl::StrictMode);
}
