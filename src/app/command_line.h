#pragma once

#include <string>

#include "audio/audio_track.h"

// What the command line asks for. Without options the program opens its capture window; the
// other modes run without it (and without the tray icon and the keyboard hook).
struct CCommandLine {
    enum class Mode {
        Window,   // the capture window in the notification area (no options)
        Help,     // --help
        Version,  // --version
        Capture,  // --capture GEOMETRY [--output FILE|DIR]
        Record,   // --record GEOMETRY --duration SECONDS [--output FILE|DIR] [--audio SOURCE]
        Repair,   // --repair FILE
        Invalid   // anything else: error says why
    };

    Mode mode = Mode::Window;
    std::string geometry;  // --capture, --record: WIDTHxHEIGHT+X+Y
    std::string output;    // --output (empty: the output folder and the usual names)
    double durationSeconds = 0;
    bool cursor = false;                     // --cursor
    AudioChoice audio = AudioChoice::kNone;  // --audio
    std::string repairPath;
    std::string error;
};

// Parses the arguments (argv[0] is the program). Syntax is checked here, without a display:
// a geometry that is no WIDTHxHEIGHT+X+Y, a duration that is no positive number, options that
// do not go together.
CCommandLine ParseCommandLine(int argc, char** argv);

// The usage text that --help prints.
std::string UsageText();

// Carries out every mode but Window and returns the exit status: 0 for --help and --version,
// 2 for Invalid (after the error and "Try 'brintelshot --help' ..." on standard error), else
// the command's own.
int RunCommandLine(const CCommandLine& commandLine);
