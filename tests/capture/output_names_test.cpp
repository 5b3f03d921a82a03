#include "capture/output_names.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/brintel-names.XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(m_path); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(OutputNames, StampsUseLocalTimeInBothForms) {
    setenv("TZ", "UTC", 1);
    tzset();
    std::time_t when = 1383661353;  // 2013-11-05 14:22:33 UTC
    EXPECT_EQ(MakeTimeStamp(kCaptureStampFormat, when), "131105_142233");
    EXPECT_EQ(MakeTimeStamp(kRecordStampFormat, when), "20131105_142233");
    EXPECT_EQ(CaptureFileName("131105_142233"), "Capture_131105_142233.bmp");
    EXPECT_EQ(RecordFileName("20131105_142233"), "Recode_20131105_142233.avi");
    // A result that does not fit the 128-character buffer gives an empty stamp.
    EXPECT_EQ(MakeTimeStamp(std::string(200, 'x').c_str(), when), "");
}

TEST(OutputNames, NumberGoesBeforeTheExtension) {
    EXPECT_EQ(NumberedFileName("Capture_131105_142233.bmp", 1), "Capture_131105_142233.bmp");
    EXPECT_EQ(NumberedFileName("Capture_131105_142233.bmp", 2), "Capture_131105_142233_2.bmp");
    EXPECT_EQ(NumberedFileName("Recode_x.avi", 13), "Recode_x_13.avi");
    EXPECT_EQ(NumberedFileName("noext", 3), "noext_3");
}

TEST(OutputNames, ReservationNeverTouchesAnExistingFile) {
    TempDir dir;
    std::string error;
    std::string first = ReserveUniquePath(dir.path(), "Capture_1.bmp", &error);
    EXPECT_EQ(first, dir.path() + "/Capture_1.bmp");
    std::ofstream(first) << "first capture";

    std::string second = ReserveUniquePath(dir.path(), "Capture_1.bmp", &error);
    std::string third = ReserveUniquePath(dir.path(), "Capture_1.bmp", &error);
    EXPECT_EQ(second, dir.path() + "/Capture_1_2.bmp");
    EXPECT_EQ(third, dir.path() + "/Capture_1_3.bmp");
    EXPECT_EQ(ReadAll(first), "first capture");
}

TEST(OutputNames, UnwritableDirectoryGivesAReasonAndNoPath) {
    std::string error;
    EXPECT_EQ(ReserveUniquePath("/nonexistent-brintel-dir", "Capture_1.bmp", &error), "");
    EXPECT_FALSE(error.empty());

    if (geteuid() != 0) {  // root writes into read-only directories all the same
        TempDir dir;
        chmod(dir.path().c_str(), 0555);
        error.clear();
        EXPECT_EQ(ReserveUniquePath(dir.path(), "Capture_1.bmp", &error), "");
        EXPECT_FALSE(error.empty());
        chmod(dir.path().c_str(), 0755);
    }
}
