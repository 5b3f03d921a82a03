#include "recording/output_names.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "test_support.h"

TEST(OutputNames, ReservationNeverTouchesAnExistingFileOrLink) {
    TempDir dir;
    std::string error;
    CReservedFile first = ReserveUniqueFile(dir.path(), "Capture_1.bmp", &error);
    EXPECT_EQ(first.path, dir.path() + "/Capture_1.bmp");
    EXPECT_TRUE(first.fd.IsOpen());
    std::ofstream(first.path) << "first capture";
    EXPECT_EQ(ReserveUniqueFile(dir.path(), "Capture_1.bmp", &error).path,
              dir.path() + "/Capture_1_2.bmp");
    // A link in a free name's place is a taken name too; what it points at is not created.
    const std::string target = dir.path() + "/elsewhere";
    ASSERT_EQ(symlink(target.c_str(), (dir.path() + "/Capture_1_3.bmp").c_str()), 0);
    EXPECT_EQ(ReserveUniqueFile(dir.path(), "Capture_1.bmp", &error).path,
              dir.path() + "/Capture_1_4.bmp");
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    std::ifstream in(first.path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "first capture");
    // A folder that cannot take the file gives a reason and no file.
    error.clear();
    const CReservedFile none =
        ReserveUniqueFile("/nonexistent-brintel-dir", "Capture_1.bmp", &error);
    EXPECT_FALSE(none.fd.IsOpen());
    EXPECT_EQ(none.path, "");
    EXPECT_FALSE(error.empty());
}
