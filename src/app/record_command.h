#pragma once

struct CCommandLine;

// --record GEOMETRY --duration SECONDS [--output FILE|DIR] [--cursor]: a recording of the screen
// region without any window, for the duration or until SIGINT, SIGTERM, SIGHUP or SIGQUIT.
// Prints the file's path on standard output (and nothing else there); returns the exit status:
// 0 also when a signal ended it early, 1 with the reason on standard error when it failed.
int RunRecordCommand(const CCommandLine& commandLine);
