// Messages for the library's error numbers (AVI_last_error).
#pragma once

#include "encoding/avi/avi_file.h"

// Writes "text: message" to standard error, and for input/output errors a second line
// with the system's reason.
void AVI_report_error(const char* text);
// The message of AVI_last_error, with the system's reason for input/output errors. The
// text lives in a static buffer that the next call may overwrite.
const char* AVI_error_text();
