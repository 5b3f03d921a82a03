#pragma once

struct CCommandLine;

// --capture GEOMETRY [--output FILE|DIR]: one still of the screen region, written as F4 writes
// it, without any window. Prints the file's path on standard output; returns the exit status
// (1, with the reason on standard error, when nothing could be written).
int RunCaptureCommand(const CCommandLine& commandLine);
