#pragma once

#include <string>

// Console lines that can never stall or end the program: a line goes out only when the
// descriptor takes it at once. A full pipe, a suspended terminal, a closed stream or a reader
// that has gone away (with SIGPIPE ignored, as the program does) just lose the line. No stdio
// buffer is involved, so nothing is left to block at a later flush or at exit.

// Writes text to fd if fd can take it without waiting; true when all of it was written.
bool WriteLineNoWait(int fd, const std::string& text);

// Formats like printf and writes the result to standard output with WriteLineNoWait.
bool ConsoleLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// From now on ConsoleLine drops its lines (false: back to standard output), for a command
// whose standard output carries its result alone.
void DropConsoleLines(bool drop);

// Puts /dev/null in the place of standard input, output or error where the program was
// started with one of them closed. Otherwise the next file or connection the program opens
// takes that number, and console lines would be written into it. Call first thing in main.
void KeepStandardStreamsOpen();
