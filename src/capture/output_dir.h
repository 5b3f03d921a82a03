#pragma once

#include <string>

// The directory all files are written to (UTF-8): the process's current directory, read
// once when the capture window initialises.
extern std::string g_strOutputDir;

// Reads the current directory, whatever its length; empty if it cannot be read.
std::string CurrentDirectory();
