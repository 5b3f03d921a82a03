#pragma once

#include <ctime>
#include <string>

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

// "<name>_<n>.<ext>" for n >= 2; `name` itself for n <= 1.
std::string NumberedFileName(const std::string& fileName, int n);

// Creates an empty file "<dir>/<fileName>", or "<dir>/<name>_2.<ext>", "_3", ... when the
// name is taken, and returns its path. The file is created exclusively, so no existing file
// is ever overwritten, even by another program racing for the same name. Returns an empty
// string and sets *error (a short text) when no file can be created in `dir`.
std::string ReserveUniquePath(const std::string& dir, const std::string& fileName,
                              std::string* error);
