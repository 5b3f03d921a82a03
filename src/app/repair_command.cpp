#include "app/repair_command.h"

#include <unistd.h>

#include <cstdio>

#include "encoding/avi/avi_repair.h"
#include "platform/console_line.h"
#include "recording/output_names.h"

namespace {

// "152 frames (5.1 s)"
std::string FramesText(const AviRepairReport& report) {
    char text[64];
    std::snprintf(text, sizeof text, "%d frames (%.1f s)", report.frames, report.seconds);
    return text;
}

// What the repair did besides keeping the frames, each part only when it happened:
// "; mended 1 damaged chunk header; skipped 120 unreadable bytes; cut 9 bytes after the last
// complete frame".
std::string DamageText(const AviRepairReport& report) {
    std::string text;
    if (report.headers_mended > 0) {
        text += "; mended " + std::to_string(report.headers_mended) + " damaged chunk header" +
                (report.headers_mended > 1 ? "s" : "");
    }
    if (report.bytes_skipped > 0) {
        text += "; skipped " + std::to_string(report.bytes_skipped) + " unreadable bytes";
    }
    if (report.bytes_dropped > 0) {
        text += "; cut " + std::to_string(report.bytes_dropped) +
                " bytes after the last complete frame";
    }
    return text;
}

}  // namespace

int RunRepairCommand(const std::string& path) {
    const AviRepairReport report = AVI_repair_recording(path);
    switch (report.outcome) {
        case AviRepairOutcome::kRepaired:
            std::printf("%s: repaired: kept %s, %lld bytes%s.\n", path.c_str(),
                        FramesText(report).c_str(), static_cast<long long>(report.bytes_kept),
                        DamageText(report).c_str());
            return 0;
        case AviRepairOutcome::kNothingToDo:
            std::printf("%s: a finished recording, nothing to do.\n", path.c_str());
            return 0;
        case AviRepairOutcome::kRefused:
            std::fprintf(stderr, "brintelshot: %s: not repaired: %s.\n", path.c_str(),
                         report.reason.c_str());
            return 2;
        case AviRepairOutcome::kFailed:
        case AviRepairOutcome::kRemoved:
            break;
    }
    std::fprintf(stderr, "brintelshot: %s: repair failed: %s.\n", path.c_str(),
                 report.reason.c_str());
    return 1;
}

std::string RepairUnfinishedRecordings(const std::string& folder, const std::atomic<bool>* cancel) {
    std::string recovered, removed;
    for (const AviFolderRepair& file : AVI_repair_folder(folder, kRecordFilePrefix, cancel)) {
        if (file.report.outcome == AviRepairOutcome::kRemoved) {
            removed += "\n" + file.name;
            WriteLineNoWait(STDERR_FILENO, "brintelshot: removed " + folder + "/" + file.name +
                                               ": an empty recording that ended before its "
                                               "first frame.\n");
        } else {
            recovered +=
                "\n" + file.name + ": " + FramesText(file.report) +
                (file.report.headers_mended + file.report.bytes_skipped > 0 ? ", damage passed over"
                                                                            : "");
        }
    }
    std::string text;
    if (!recovered.empty()) {
        text = "Recovered unfinished recordings:" + recovered;
    }
    if (!removed.empty()) {
        text += std::string(text.empty() ? "" : "\n") +
                "Removed empty recordings (ended before their first frame):" + removed;
    }
    if (!recovered.empty()) {
        WriteLineNoWait(STDOUT_FILENO, "Recovered unfinished recordings:" + recovered + "\n");
    }
    return text;
}
