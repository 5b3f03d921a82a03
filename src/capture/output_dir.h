#pragma once

#include <string>

#include <QUrl>

#include "recording/output_names.h"

// The directory all files are written to, as the bytes of its path (file names are byte
// strings on Linux and need not be UTF-8): the process's current directory when the capture
// window initialises, or the folder the user chose.
extern std::string g_strOutputDir;

// Reads the current directory, whatever its length. A current directory that has been removed
// still has a path (where files would go); empty only when not even that can be read.
std::string CurrentDirectory();

// Empty when files can be created in dir; otherwise a text for the user that says what is
// wrong and where files would go ("Output folder /home/me/gone not found"); it holds no ": ", so
// the caption shows it whole.
std::string OutputFolderProblem(const std::string& dir);

// Creates an empty, unused file for fileName in dir (Capture_..._2.bmp when the name is taken)
// and returns it with the descriptor to write it through; no descriptor, *error set and
// nothing created when the folder cannot take it.
CReservedFile ReserveOutputFile(const std::string& dir, const std::string& fileName,
                                std::string* error);

// The file URL of a folder, its bytes kept exactly as they are (also those that are not UTF-8),
// as the shell's file opener needs it.
QUrl FolderUrl(const std::string& dir);
