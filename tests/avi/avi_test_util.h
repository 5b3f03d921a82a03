// Shared helpers for the AVI library tests: temporary files, file bytes, little-endian
// fields, running external tools.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace avitest {

// A fresh directory under the system's temporary directory, removed with its files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

std::vector<unsigned char> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::uint32_t U32At(const std::vector<unsigned char>& bytes, std::size_t at);
std::uint32_t U16At(const std::vector<unsigned char>& bytes, std::size_t at);
void PutU32At(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value);
std::string IdAt(const std::vector<unsigned char>& bytes, std::size_t at);

// Runs a shell command; returns its standard output, and its exit status via status.
std::string RunCommand(const std::string& command, int* status = nullptr);
// Parses key=value lines (ffprobe's default output without wrappers).
std::map<std::string, std::string> KeyValues(const std::string& text);

}  // namespace avitest
