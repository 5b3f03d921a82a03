// Error messages and the report on standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "avi_test_util.h"
#include "encoding/avi/avi_error.h"

using namespace avitest;

namespace {

// Captures what the code under test writes to standard error.
std::string CaptureStderr(void (*action)()) {
    TempDir dir;
    std::string path = dir.Path("stderr.txt");
    fflush(stderr);
    int saved = dup(2);
    FILE* file = fopen(path.c_str(), "w");
    dup2(fileno(file), 2);
    action();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    fclose(file);
    auto bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(AviError, Texts) {
    AVI_last_error = 0;
    EXPECT_STREQ(AVI_error_text(), "aviio - No Error");
    AVI_last_error = 9;
    EXPECT_STREQ(AVI_error_text(), "aviio - Not an AVI file");
    AVI_last_error = 13;
    EXPECT_STREQ(AVI_error_text(), "aviio - operation needs an index");
    AVI_last_error = 42;
    EXPECT_STREQ(AVI_error_text(), "aviio - Unknown Error");
    AVI_last_error = -3;
    EXPECT_STREQ(AVI_error_text(), "aviio - Unknown Error");
    AVI_last_error = 5;
    errno = ENOSPC;
    EXPECT_EQ(std::string(AVI_error_text()),
              "aviio - Error writing index (file may still be useable) - No space left on device");
}

TEST(AviError, ReportWithoutReason) {
    std::string text = CaptureStderr([] {
        AVI_last_error = 9;
        AVI_report_error("x");
    });
    EXPECT_EQ(text, "x: aviio - Not an AVI file\n");
}

TEST(AviError, ReportWithSystemReason) {
    std::string text = CaptureStderr([] {
        AVI_last_error = 2;
        errno = ENOENT;
        AVI_report_error("open");
    });
    EXPECT_EQ(text, "open: aviio - Error opening AVI file\nREASON: No such file or directory\n");
}

}  // namespace
