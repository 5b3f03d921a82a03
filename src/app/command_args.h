#pragma once

#include <string>

#include "recording/output_names.h"
#include "imaging/sv_rect.h"

// The arguments that --capture and --record share: the screen region and the output file.

// An X11 geometry WIDTHxHEIGHT+X+Y. A minus sign before an offset counts it from the right or
// bottom screen edge to the region's right or bottom edge, as X11 programs do ("-0-0" is the
// bottom right corner); without offsets the region starts at the top left corner.
struct CGeometry {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
    bool fromRight = false;
    bool fromBottom = false;
};

// False, with a reason in *error, for anything but a geometry with a width and a height of 1 to
// 32767 and offsets of at most 32767.
bool ParseGeometry(const std::string& text, CGeometry* geometry, std::string* error);

// The geometry on a screen of that size; false, with a reason, when it lies wholly off the
// screen (a region partly off the screen is grabbed black there, as the capture window does).
bool PlaceGeometry(const CGeometry& geometry, int screenWidth, int screenHeight, CSvRect* region,
                   std::string* error);

// The screen region a command's geometry names on the X display's screen now; false, after
// saying why on standard error ("brintelshot: <command>: <reason>"), when there is no usable X
// display or the geometry does not fit on its screen.
bool CommandRegion(const std::string& geometry, const char* command, CSvRect* region);

// Where F3 and F4 write: the remembered output folder, else the current directory.
std::string DefaultOutputFolder();

// The file a command writes: --output names an existing folder (the file gets defaultName
// there) or a file; without --output, defaultName in defaultFolder. The file is created empty
// and exclusively, with _2, _3, ... before the extension when the name is taken, so nothing is
// ever overwritten. Empty, with the reason in *error, when no file can be created.
CReservedFile ReserveCommandOutput(const std::string& output, const std::string& defaultFolder,
                                   const std::string& defaultName, std::string* error);
