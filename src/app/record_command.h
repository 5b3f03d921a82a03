#pragma once

struct CCommandLine;

// --record GEOMETRY --duration SECONDS [--output FILE|DIR] [--cursor]: a recording of the screen
// region without any window. Returns the exit status.
int RunRecordCommand(const CCommandLine& commandLine);
