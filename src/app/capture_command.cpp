#include "app/capture_command.h"

#include <QFile>

#include <cstdio>

#include "app/app_settings.h"
#include "app/command_args.h"
#include "app/command_line.h"
#include "app/session_check.h"
#include "capture/output_dir.h"
#include "recording/output_names.h"
#include "imaging/screen_grabber.h"
#include "imaging/sv_image.h"

// Xlib last: its macros clash with names in Qt.
#include <X11/Xlib.h>

namespace {

int Fail(const std::string& reason) {
    std::fprintf(stderr, "brintelshot: --capture: %s\n", reason.c_str());
    return 1;
}

// The screen's size in pixels; false when the display cannot be opened.
bool ScreenSize(int* width, int* height) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    *width = DisplayWidth(display, DefaultScreen(display));
    *height = DisplayHeight(display, DefaultScreen(display));
    XCloseDisplay(display);
    return true;
}

// Where F4 would write: the remembered output folder, else the current directory.
std::string DefaultOutputFolder() {
    const QString remembered = CAppSettings().OutputFolder();
    return remembered.isEmpty() ? CurrentDirectory() : QFile::encodeName(remembered).toStdString();
}

}  // namespace

int RunCaptureCommand(const CCommandLine& commandLine) {
    int screenWidth = 0;
    int screenHeight = 0;
    if (!CheckX11Session() || !ScreenSize(&screenWidth, &screenHeight)) {
        return 1;
    }
    CGeometry geometry;
    CSvRect region;
    std::string error;
    if (!ParseGeometry(commandLine.geometry, &geometry, &error) ||
        !PlaceGeometry(geometry, screenWidth, screenHeight, &region, &error)) {
        return Fail(error);
    }

    CScreenGrabber grabber;
    grabber.SetIncludePointer(commandLine.cursor);
    CSvImage image;
    grabber.GrabImage(region, &image);
    if (!image.HasImage()) {
        return Fail(grabber.GetLastError());
    }
    const CReservedFile file =
        ReserveCommandOutput(commandLine.output, DefaultOutputFolder(),
                             CaptureFileName(MakeTimeStamp(kCaptureStampFormat)), &error);
    if (!file.fd.IsOpen()) {
        return Fail(error);
    }
    if (!image.SaveTo(file.fd.Get(), file.path)) {
        std::remove(file.path.c_str());  // reserved above: holds at most part of the image
        return Fail(image.GetLastError());
    }
    std::printf("%s\n", file.path.c_str());
    return 0;
}
