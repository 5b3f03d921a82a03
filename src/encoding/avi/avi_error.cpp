#include "encoding/avi/avi_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

thread_local int AVI_last_error = 0;

static const char* const avi_messages[AVI_ERR_COUNT] = {
    "aviio - No Error",
    "aviio - AVI file size limit reached",
    "aviio - Error opening AVI file",
    "aviio - Error reading from AVI file",
    "aviio - Error writing to AVI file",
    "aviio - Error writing index (file may still be useable)",
    "aviio - Error closing AVI file",
    "aviio - Operation (read/write) not permitted",
    "aviio - Out of memory (malloc failed)",
    "aviio - Not an AVI file",
    "aviio - AVI file has no header list (corrupted?)",
    "aviio - AVI file has no MOVI list (corrupted?)",
    "aviio - AVI file has no video data",
    "aviio - operation needs an index",
    "aviio - Unknown Error",
};

static int avi_message_index() {
    if (AVI_last_error < 0 || AVI_last_error >= AVI_ERR_COUNT) {
        return AVI_ERR_UNKNOWN;
    }
    return AVI_last_error;
}

// Codes whose cause is a failed system call, so errno says more.
static bool avi_is_io_error(int code) {
    return code >= AVI_ERR_OPEN && code <= AVI_ERR_CLOSE;
}

void AVI_report_error(const char* text) {
    int reason = errno;
    int code = avi_message_index();
    std::fprintf(stderr, "%s: %s\n", text != nullptr ? text : "", avi_messages[code]);
    if (avi_is_io_error(code)) {
        errno = reason;
        std::perror("REASON");
    }
}

const char* AVI_error_text() {
    static thread_local char text[4096];
    int code = avi_message_index();
    if (!avi_is_io_error(code)) {
        return avi_messages[code];
    }
    std::snprintf(text, sizeof text, "%s - %s", avi_messages[code], std::strerror(errno));
    return text;
}
