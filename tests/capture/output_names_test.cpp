#include "capture/output_names.h"

#include <gtest/gtest.h>

#include <fstream>

#include "test_support.h"

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
