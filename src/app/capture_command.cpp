#include "app/capture_command.h"

#include <cstdio>
#include <filesystem>

#include "app/command_args.h"
#include "app/command_line.h"
#include "recording/output_names.h"
#include "imaging/screen_grabber.h"
#include "imaging/sv_image.h"

namespace {

int Fail(const std::string& reason) {
    std::fprintf(stderr, "brintelshot: --capture: %s\n", reason.c_str());
    return 1;
}

}  // namespace

int RunCaptureCommand(const CCommandLine& commandLine) {
    CSvRect region;
    if (!CommandRegion(commandLine.geometry, "--capture", &region)) {
        return 1;
    }
    std::string error;
    const std::string& output = commandLine.output;
    const std::string sizeProblem =
        StillSizeProblem(region.Width(), region.Height(),
                         output.empty() || std::filesystem::is_directory(output) ? ".bmp" : output);
    if (!sizeProblem.empty()) {
        return Fail(sizeProblem);
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
