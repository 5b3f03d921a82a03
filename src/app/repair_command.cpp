#include "app/repair_command.h"

#include <cstdio>

#include "encoding/avi/avi_repair.h"
#include "recording/output_names.h"

namespace {

// "152 frames (5.1 s)"
std::string FramesText(const AviRepairReport& report) {
    char text[64];
    std::snprintf(text, sizeof text, "%d frames (%.1f s)", report.frames, report.seconds);
    return text;
}

}  // namespace

int RunRepairCommand(const std::string& path) {
    const AviRepairReport report = AVI_repair_recording(path);
    switch (report.outcome) {
        case AviRepairOutcome::kRepaired:
            std::printf(
                "%s: repaired: kept %s, %lld bytes; dropped %lld bytes of an incomplete "
                "last frame.\n",
                path.c_str(), FramesText(report).c_str(), static_cast<long long>(report.bytes_kept),
                static_cast<long long>(report.bytes_dropped));
            return 0;
        case AviRepairOutcome::kNothingToDo:
            std::printf("%s: a finished recording, nothing to do.\n", path.c_str());
            return 0;
        case AviRepairOutcome::kRefused:
            std::fprintf(stderr, "brintelshot: %s: not repaired: %s.\n", path.c_str(),
                         report.reason.c_str());
            return 2;
        case AviRepairOutcome::kFailed:
            break;
    }
    std::fprintf(stderr, "brintelshot: %s: repair failed: %s.\n", path.c_str(),
                 report.reason.c_str());
    return 1;
}

std::string RepairUnfinishedRecordings(const std::string& folder) {
    std::string recovered;
    for (const std::string& path : AVI_find_unfinished_recordings(folder, kRecordFilePrefix)) {
        const AviRepairReport report = AVI_repair_recording(path);
        if (report.outcome != AviRepairOutcome::kRepaired) {
            continue;
        }
        recovered += "\n" + path.substr(path.find_last_of('/') + 1) + ": " + FramesText(report);
    }
    if (!recovered.empty()) {
        recovered = "Recovered unfinished recordings:" + recovered;
        std::printf("%s\n", recovered.c_str());
        std::fflush(stdout);
    }
    return recovered;
}
