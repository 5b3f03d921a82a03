#include "capture/output_names.h"

#include <gtest/gtest.h>

#include <fstream>

#include "test_support.h"

TEST(OutputNames, StampsAndNumberedNames) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::time_t when = 1383661353;  // 2013-11-05 14:22:33 UTC
    EXPECT_EQ(CaptureFileName(MakeTimeStamp(kCaptureStampFormat, when)),
              "Capture_131105_142233.bmp");
    EXPECT_EQ(RecordFileName(MakeTimeStamp(kRecordStampFormat, when)),
              "Recode_20131105_142233.avi");
    // A result that does not fit the 128-character buffer gives an empty stamp.
    EXPECT_EQ(MakeTimeStamp(std::string(200, 'x').c_str(), when), "");
    EXPECT_EQ(NumberedFileName("Recode_x.avi", 1), "Recode_x.avi");
    EXPECT_EQ(NumberedFileName("Recode_x.avi", 13), "Recode_x_13.avi");
    EXPECT_EQ(NumberedFileName("noext", 3), "noext_3");
}

TEST(OutputNames, ReservationNeverTouchesAnExistingFile) {
    TempDir dir;
    std::string error;
    const std::string first = ReserveUniquePath(dir.path(), "Capture_1.bmp", &error);
    EXPECT_EQ(first, dir.path() + "/Capture_1.bmp");
    std::ofstream(first) << "first capture";
    EXPECT_EQ(ReserveUniquePath(dir.path(), "Capture_1.bmp", &error),
              dir.path() + "/Capture_1_2.bmp");
    EXPECT_EQ(ReserveUniquePath(dir.path(), "Capture_1.bmp", &error),
              dir.path() + "/Capture_1_3.bmp");
    std::ifstream in(first);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "first capture");
    // A folder that cannot take the file gives a reason and no path.
    error.clear();
    EXPECT_EQ(ReserveUniquePath("/nonexistent-brintel-dir", "Capture_1.bmp", &error), "");
    EXPECT_FALSE(error.empty());
}
