#include "app/command_args.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include <QFile>

#include "app/app_settings.h"
#include "app/session_check.h"
#include "capture/output_dir.h"
#include "platform/x_connection.h"

// Xlib last: its macros clash with names in Qt.
#include <X11/Xlib.h>

namespace {

constexpr long kMaxSide = 32767;  // the X protocol's limit for sizes and positions

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool ParseGeometry(const std::string& text, CGeometry* geometry, std::string* error) {
    static const std::regex pattern(R"((\d{1,6})[xX](\d{1,6})(?:([+-])(\d{1,6})([+-])(\d{1,6}))?)");
    std::smatch match;
    if (!std::regex_match(text, match, pattern)) {
        *error =
            "bad geometry '" + text + "': expected WIDTHxHEIGHT+X+Y, for example 640x480+100+50";
        return false;
    }
    const long width = std::stol(match[1]);
    const long height = std::stol(match[2]);
    const long x = match[4].matched ? std::stol(match[4]) : 0;
    const long y = match[6].matched ? std::stol(match[6]) : 0;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        *error = "bad geometry '" + text + "': width and height must be 1 to 32767 pixels";
        return false;
    }
    if (x > kMaxSide || y > kMaxSide) {
        *error = "bad geometry '" + text + "': offsets must be at most 32767 pixels";
        return false;
    }
    geometry->width = int(width);
    geometry->height = int(height);
    geometry->fromRight = match[3] == "-";
    geometry->fromBottom = match[5] == "-";
    geometry->x = int(geometry->fromRight ? -x : x);
    geometry->y = int(geometry->fromBottom ? -y : y);
    return true;
}

bool PlaceGeometry(const CGeometry& geometry, int screenWidth, int screenHeight, CSvRect* region,
                   std::string* error) {
    const int left = geometry.fromRight ? screenWidth - geometry.width + geometry.x : geometry.x;
    const int top = geometry.fromBottom ? screenHeight - geometry.height + geometry.y : geometry.y;
    *region = CSvRect{left, top, left + geometry.width, top + geometry.height};
    if (region->right <= 0 || region->bottom <= 0 || left >= screenWidth || top >= screenHeight) {
        *error = "the region " + std::to_string(geometry.width) + "x" +
                 std::to_string(geometry.height) + " at " + std::to_string(left) + "," +
                 std::to_string(top) + " lies outside the screen (" + std::to_string(screenWidth) +
                 "x" + std::to_string(screenHeight) + ")";
        return false;
    }
    return true;
}

bool CommandRegion(const std::string& geometry, const char* command, CSvRect* region) {
    if (!CheckX11Session()) {
        return false;
    }
    CGeometry parsed;
    std::string error;
    const CXConnection x;
    if (!x.IsOpen()) {
        error = "cannot open the X display";
    } else {
        Display* display = x.Display();
        const int width = DisplayWidth(display, DefaultScreen(display));
        const int height = DisplayHeight(display, DefaultScreen(display));
        if (ParseGeometry(geometry, &parsed, &error) &&
            PlaceGeometry(parsed, width, height, region, &error)) {
            return true;
        }
    }
    std::fprintf(stderr, "brintelshot: %s: %s\n", command, error.c_str());
    return false;
}

std::string DefaultOutputFolder() {
    const QString remembered = CAppSettings().OutputFolder();
    return remembered.isEmpty() ? CurrentDirectory() : QFile::encodeName(remembered).toStdString();
}

CReservedFile ReserveCommandOutput(const std::string& output, const std::string& defaultFolder,
                                   const std::string& defaultName, std::string* error) {
    std::string folder = defaultFolder;
    std::string name = defaultName;
    if (!output.empty() && (IsFolder(output) || output.back() == '/')) {
        folder = output;
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
    } else if (!output.empty()) {
        const size_t slash = output.rfind('/');
        folder = slash == std::string::npos ? "." : output.substr(0, std::max<size_t>(slash, 1));
        name = output.substr(slash == std::string::npos ? 0 : slash + 1);
    }
    return ReserveOutputFile(folder, name, error);
}
