#include "app/capture_command.h"

#include <cstdio>

#include "app/command_args.h"
#include "app/command_line.h"
#include "app/wayland_screen.h"
#include "recording/output_names.h"
#include "imaging/screen_grabber.h"
#include "imaging/sv_image.h"

namespace {

int Fail(const std::string& reason) {
    std::fprintf(stderr, "brintelshot: --capture: %s\n", reason.c_str());
    return 1;
}

// The region as the screen shows it: from the X server, or shared by a Wayland desktop.
bool GrabRegion(const CSvRect& region, bool pointer, CSvImage* image, std::string* error) {
    if (IsWaylandSession()) {
        CCommandLineScreen wayland;
        return wayland.screen.PrepareAndWait(pointer, error) &&
               GrabStill(wayland.screen, region, image, error);
    }
    CScreenGrabber grabber;
    grabber.SetIncludePointer(pointer);
    grabber.GrabImage(region, image);
    *error = grabber.GetLastError();
    return image->HasImage();
}

}  // namespace

int RunCaptureCommand(const CCommandLine& commandLine) {
    CSvRect region;
    if (!CommandRegion(commandLine.geometry, "--capture", &region)) {
        return 1;
    }
    std::string error;
    CSvImage image;
    if (!GrabRegion(region, commandLine.cursor, &image, &error)) {
        return Fail(error);
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
