#include "encoding/avi_recorder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "encoding/nearest_scaler.h"
#include "encoding/venc_interface.h"
#include "encoding_test_support.h"
#include "imaging/sv_image.h"

#include <opencv2/imgproc.hpp>

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
    EXPECT_EQ("", ProbeStreamField(path, "a:0", "codec_name"));  // no audio stream

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

    // A window enlarged during the recording: a grab of twice the size (every pixel doubled)
    // is scaled back to the fixed frame size.
    const std::string scaled = dir.File("scaled.avi");
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 61, 41}, scaled));  // frames 64 x 44
    const BgrFrame frame = FullMotionFrame(64, 44, 0);
    BgrFrame doubled{128, 88, std::vector<unsigned char>(128 * 88 * 3)};
    for (int y = 0; y < 88; ++y) {
        for (int x = 0; x < 128; ++x) {
            std::memcpy(&doubled.pixels[(y * 128 + x) * 3], &frame.pixels[(y / 2 * 64 + x / 2) * 3],
                        3);
        }
    }
    CSvImage image;
    FillImage(image, doubled);
    EXPECT_TRUE(recorder.AddFrame(&image));

    // Pictures the front cannot use are refused without writing anything.
    CSvImage emptyImage;
    EXPECT_FALSE(recorder.AddFrame(&emptyImage));
    EXPECT_FALSE(recorder.AddFrame(nullptr));
    CSvImage gray;
    gray.Create(64, 44, 1);
    EXPECT_FALSE(recorder.AddFrame(&gray));
    EXPECT_STRNE("", recorder.LastError());
    recorder.EndRecording();
    bool clean = false;
    const auto decoded = DecodeLuma(scaled, 64, 44, &clean);
    ASSERT_EQ(1u, decoded.size());
    EXPECT_GE(LumaPsnr(LumaOf(frame), decoded[0]), 40.0);
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

// The disk refuses more data (file-size limit): the frame is reported as failed, and the end of
// the recording still finishes, frees everything and tells the caller that finishing failed.
TEST(AviRecorderTest, WriteFailuresAreReportedNotFatal) {
    TempDir dir;
    const std::string path = dir.File("full.avi");
    CAviRecorder recorder;
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 160, 120}, path));
    CSvImage image;
    FillImage(image, StaticDesktopFrame(164, 124, 0));
    ASSERT_TRUE(recorder.AddFrame(&image));

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(FileSize(path));
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    testing::internal::CaptureStdout();
    FillImage(image, FullMotionFrame(164, 124, 1));
    const bool added = recorder.AddFrame(&image);
    bool failed = false;
    const int total = recorder.EndRecording(&failed);
    const std::string console = testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(added);
    EXPECT_TRUE(failed);
    EXPECT_EQ(1, recorder.FrameCount());
    // Header, the one frame's chunk and nothing more: no part of the refused frame stays.
    EXPECT_EQ(2048 + 8 + total + (total & 1), FileSize(path));
    EXPECT_EQ("Venc Error while writing frame: 1\nVenc Error while ending encoding: 4\n", console);
    EXPECT_STRNE("", recorder.LastError());
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_FALSE(recorder.AddRepeatFrame());
}

// The front's scaling takes exactly the pixels OpenCV's nearest-neighbour resize takes.
TEST(NearestScalerTest, MatchesOpenCvNearestResize) {
    struct Sizes {
        int sw, sh, tw, th;
    };
    CNearestScaler scaler;
    for (const Sizes s :
         {Sizes{1920, 1080, 1924, 1084}, Sizes{641, 479, 644, 480}, Sizes{61, 41, 64, 44},
          Sizes{200, 150, 64, 44}, Sizes{7, 5, 12, 8}, Sizes{3, 3, 300, 3}}) {
        cv::Mat source(s.sh, s.sw, CV_8UC3);
        cv::randu(source, 0, 256);
        cv::Mat expected;
        cv::resize(source, expected, cv::Size(s.tw, s.th), 0, 0, cv::INTER_NEAREST);
        cv::Mat actual(s.th, s.tw, CV_8UC3);
        ASSERT_TRUE(scaler.Scale(source, actual.data, s.tw, s.th, actual.step[0]));
        EXPECT_EQ(0, cv::norm(expected, actual, cv::NORM_INF)) << s.sw << "->" << s.tw;
    }
}
