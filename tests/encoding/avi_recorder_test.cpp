#include "encoding/avi_recorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "encoding/venc_interface.h"
#include "encoding_test_support.h"
#include "imaging/sv_image.h"

using namespace enctest;

namespace {

using FrameMaker = std::function<BgrFrame(int width, int height, int n)>;

void FillImage(CSvImage& image, const BgrFrame& frame) {
    image.Create(frame.width, frame.height, 3);
    for (int y = 0; y < frame.height; ++y) {
        std::memcpy(image.GetRow(y), &frame.pixels[static_cast<size_t>(y) * frame.width * 3],
                    static_cast<size_t>(frame.width) * 3);
    }
}

// Records `count` pictures through the front, with one repeat frame right after picture
// `repeatAfter`, and checks the file with ffprobe and ffmpeg.
void RecordAndVerify(const FrameMaker& make, int count, int repeatAfter) {
    TempDir dir;
    const std::string path = dir.File("clip.avi");
    CAviRecorder recorder;
    const CSvRect region{10, 50, 170, 170};  // 160 x 120
    ASSERT_TRUE(recorder.BeginRecording(region, path)) << recorder.LastError();
    const int width = recorder.FrameWidth();
    const int height = recorder.FrameHeight();
    ASSERT_EQ(164, width);
    ASSERT_EQ(124, height);

    std::vector<std::vector<uint8_t>> sourceLuma;  // per file frame; repeats copy the previous
    testing::internal::CaptureStdout();
    for (int n = 0; n < count; ++n) {
        const BgrFrame frame = make(width, height, n);
        CSvImage image;
        FillImage(image, frame);
        ASSERT_TRUE(recorder.AddFrame(&image)) << recorder.LastError();
        sourceLuma.push_back(LumaOf(frame));
        if (n == repeatAfter) {
            ASSERT_TRUE(recorder.AddRepeatFrame());
            sourceLuma.push_back(sourceLuma.back());
        }
    }
    const int frames = static_cast<int>(sourceLuma.size());
    EXPECT_EQ(frames, recorder.FrameCount());
    bool failed = true;
    const int total = recorder.EndRecording(&failed);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(failed);
    EXPECT_EQ(0, console.rfind("Frame 0 : ", 0)) << console;
    EXPECT_NE(std::string::npos,
              console.find("Frame " + std::to_string(repeatAfter + 1) + " : 0 bytes\n"));
    EXPECT_NE(std::string::npos,
              console.find(path + " written: 160x120, " + std::to_string(frames) + " frames, " +
                           std::to_string(total) + " bytes\n"))
        << console;

    EXPECT_EQ("mpeg4", ProbeStreamField(path, "v:0", "codec_name"));
    EXPECT_EQ("xvid", ProbeStreamField(path, "v:0", "codec_tag_string"));
    EXPECT_EQ("164", ProbeStreamField(path, "v:0", "width"));
    EXPECT_EQ("124", ProbeStreamField(path, "v:0", "height"));
    EXPECT_EQ("30/1", ProbeStreamField(path, "v:0", "r_frame_rate"));
    EXPECT_EQ(std::to_string(frames), ProbeStreamField(path, "v:0", "nb_frames"));

    // Every coded frame decodes; a player shows the source in every slot, the picture before
    // the repeat frame in its slot.
    bool clean = false;
    const auto decoded = DecodeLuma(path, width, height, &clean);
    EXPECT_TRUE(clean);
    const auto infos = ProbeDecodedFrames(path);
    ASSERT_EQ(static_cast<size_t>(frames - 1), decoded.size());
    ASSERT_EQ(decoded.size(), infos.size());
    const auto shown = ShownPictures(decoded, infos, frames);
    for (int i = 0; i < frames; ++i) {
        EXPECT_GE(LumaPsnr(sourceLuma[i], shown[i]), 40.0) << "frame " << i;
    }
    EXPECT_EQ(shown[repeatAfter], shown[repeatAfter + 1]);

    // Only the frames the decoder sees as key frames carry the key-frame flag in the index.
    const auto index = ReadVideoIndex(path);
    ASSERT_EQ(static_cast<size_t>(frames), index.size());
    std::set<int> flagged;
    std::set<int> keys;
    uint32_t indexedBytes = 0;
    for (int i = 0; i < frames; ++i) {
        if (index[i].flags & 0x10) {
            flagged.insert(i);
        }
        indexedBytes += index[i].length;
    }
    for (const DecodedFrameInfo& info : infos) {
        if (info.key) {
            keys.insert(info.pts);
        }
    }
    EXPECT_EQ(keys, flagged);
    EXPECT_EQ(1u, flagged.count(0));
    EXPECT_LT(flagged.size(), static_cast<size_t>(frames));
    EXPECT_EQ(0u, index[repeatAfter + 1].length);
    EXPECT_EQ(0u, index[repeatAfter + 1].flags);
    EXPECT_EQ(static_cast<uint32_t>(total), indexedBytes);
}

}  // namespace

TEST(AviRecorderTest, FrameSizeIsNextMultipleOfFourAbove) {
    EXPECT_EQ(644, CAviRecorder::FrameDimensionOf(640));
    EXPECT_EQ(644, CAviRecorder::FrameDimensionOf(641));
    EXPECT_EQ(480, CAviRecorder::FrameDimensionOf(479));
    EXPECT_EQ(4, CAviRecorder::FrameDimensionOf(0));
}

TEST(AviRecorderTest, StaticDesktopSequenceDecodesFaithfully) {
    RecordAndVerify(StaticDesktopFrame, 45, 20);
}

TEST(AviRecorderTest, FullMotionSequenceDecodesFaithfully) {
    RecordAndVerify(FullMotionFrame, 30, 10);
}

TEST(AviRecorderTest, EmptyRecordingAndResizedImages) {
    TempDir dir;
    CAviRecorder recorder;
    const std::string empty = dir.File("empty.avi");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 640, 480}, empty));
    EXPECT_EQ(644, recorder.FrameWidth());
    EXPECT_EQ(484, recorder.FrameHeight());
    recorder.EndRecording();
    EXPECT_EQ(empty + " written: 640x480, 0 frames, 0 bytes\n",
              testing::internal::GetCapturedStdout());
    EXPECT_GT(FileSize(empty), 2048);

    // A window enlarged during the recording: its grabs are scaled to the fixed frame size.
    const std::string scaled = dir.File("scaled.avi");
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 61, 41}, scaled));
    CSvImage image;
    FillImage(image, StaticDesktopFrame(61, 41, 0));
    EXPECT_TRUE(recorder.AddFrame(&image));
    FillImage(image, StaticDesktopFrame(200, 150, 1));
    EXPECT_TRUE(recorder.AddFrame(&image));
    EXPECT_EQ(64, image.GetWidth());
    EXPECT_EQ(44, image.GetHeight());

    // Pictures the front cannot use are refused without writing anything.
    CSvImage emptyImage;
    EXPECT_FALSE(recorder.AddFrame(&emptyImage));
    EXPECT_FALSE(recorder.AddFrame(nullptr));
    CSvImage gray;
    gray.Create(64, 44, 1);
    EXPECT_FALSE(recorder.AddFrame(&gray));
    EXPECT_STRNE("", recorder.LastError());
    recorder.EndRecording();
    EXPECT_EQ("2", ProbeStreamField(scaled, "v:0", "nb_frames"));
}

TEST(AviRecorderTest, FailedBeginLeavesEverythingAlone) {
    TempDir dir;
    CAviRecorder recorder;
    const std::string first = dir.File("first.avi");
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 32, 32}, first));
    CSvImage image;
    FillImage(image, FullMotionFrame(36, 36, 0));
    ASSERT_TRUE(recorder.AddFrame(&image));
    recorder.EndRecording();
    const long firstSize = FileSize(first);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(recorder.BeginRecording(CSvRect{0, 0, 32, 32}, dir.File("missing/x.avi")));
    EXPECT_EQ("Venc Error while starting encoding: 4\n", testing::internal::GetCapturedStdout());
    EXPECT_STRNE("", recorder.LastError());
    EXPECT_FALSE(recorder.IsRecording());

    FillImage(image, FullMotionFrame(36, 36, 1));
    EXPECT_FALSE(recorder.AddFrame(&image));
    EXPECT_FALSE(recorder.AddRepeatFrame());
    bool failed = true;
    EXPECT_EQ(0, recorder.EndRecording(&failed));
    EXPECT_FALSE(failed);
    EXPECT_EQ(firstSize, FileSize(first));

    // A frame size the codec refuses (negative) fails before any file exists.
    const std::string negative = dir.File("negative.avi");
    EXPECT_FALSE(recorder.BeginRecording(CSvRect{0, 0, -9, 10}, negative));
    EXPECT_FALSE(FileExists(negative));
}
