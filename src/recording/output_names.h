#pragma once

#include <ctime>
#include <string>

#include "platform/unique_fd.h"

// Time stamps and collision-free names for the files written into the output directory.

// Stamp format of still captures (two-digit year) and of recordings (four-digit year).
inline constexpr const char* kCaptureStampFormat = "%y%m%d_%H%M%S";
inline constexpr const char* kRecordStampFormat = "%Y%m%d_%H%M%S";

// `when` as local time in strftime `format`; empty when the result does not fit 128
// characters or the time cannot be converted.
std::string MakeTimeStamp(const char* format, std::time_t when);
// The same for the current time.
std::string MakeTimeStamp(const char* format);

std::string CaptureFileName(const std::string& stamp);  // "Capture_<stamp>.bmp"
std::string RecordFileName(const std::string& stamp);   // "Recode_<stamp>.avi"
// How every recording's name begins.
inline constexpr const char* kRecordFilePrefix = "Recode_";

// "<name>_<n>.<ext>" for n >= 2; `name` itself for n <= 1.
std::string NumberedFileName(const std::string& fileName, int n);

// A file this program has just created, and the descriptor that created it.
struct CReservedFile {
    std::string path;
    CUniqueFd fd;  // open for reading and writing
};

// Creates an empty file "<dir>/<fileName>", or "<dir>/<name>_2.<ext>", "_3", ... when the
// name is taken. The file is created exclusively and never through a symbolic link, so no
// existing file is ever overwritten, even by another program racing for the same name. Write
// the file through the returned descriptor only: the name may have been swapped for something
// else since. Returns no descriptor and sets *error (a short text) when no file can be
// created in `dir`.
CReservedFile ReserveUniqueFile(const std::string& dir, const std::string& fileName,
                                std::string* error);
