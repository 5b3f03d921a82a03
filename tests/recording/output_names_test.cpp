#include "recording/output_names.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "encoding/avi_recorder.h"
#include "imaging/sv_image.h"
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

// Someone swaps a reserved name for a link between the reservation and the recording: the
// recording goes through the reserving descriptor into the file the program created, and the
// link's target stays untouched.
TEST(OutputNames, ARecordingIsWrittenThroughTheDescriptorThatReservedItsName) {
    TempDir dir;
    const std::string victim = dir.path() + "/victim";
    std::ofstream(victim) << "not the program's";
    std::string error;
    CReservedFile file = ReserveUniqueFile(dir.path(), "Recode_1.avi", &error);
    const std::string moved = file.path + ".moved";
    ASSERT_EQ(rename(file.path.c_str(), moved.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), file.path.c_str()), 0);

    CAviRecorder recorder;
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 60, 40}, file.path, std::move(file.fd)));
    CSvImage image;
    image.Create(64, 44, 3);
    ASSERT_TRUE(recorder.AddFrame(&image));
    bool failed = true;
    recorder.EndRecording(&failed);
    EXPECT_FALSE(failed);

    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not the program's");
    const Recording recording = ReadRecording(moved);
    EXPECT_EQ(recording.frameCount, 1);
    EXPECT_EQ(recording.decodeErrors, 0);
}
