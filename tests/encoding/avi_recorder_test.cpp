#include "encoding/avi_recorder.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <set>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "encoding_test_support.h"
#include "imaging/sv_image.h"

using namespace enctest;

namespace {

void FillImage(CSvImage& image, const cv::Mat& picture) {
    image.CopyFrom(&picture);
}

// The 32-bit form of a blue-green-red picture as a grab gives it: anything in the fourth byte.
cv::Mat GrabOf(const cv::Mat& bgr) {
    cv::Mat bgrx, unused(bgr.size(), CV_8UC1);
    cv::cvtColor(bgr, bgrx, cv::COLOR_BGR2BGRA);
    cv::randu(unused, 0, 256);
    cv::insertChannel(unused, bgrx, 3);
    return bgrx;
}

// Records `count` grabs of an odd-sized region through the front, with one repeat frame right
// after picture `repeatAfter`, and checks the file with ffprobe and ffmpeg: every slot shows
// the picture stretched (nearest neighbour) to the frame, in its colours.
void RecordAndVerify(cv::Mat (*make)(int, int, int), int count, int repeatAfter, double psnr) {
    TempDir dir;
    const std::string path = dir.Path("clip.avi");
    CAviRecorder recorder;
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{10, 50, 173, 171}, path)) << recorder.LastError();
    const int width = recorder.FrameWidth(), height = recorder.FrameHeight();

    std::vector<cv::Mat> expected;  // per file frame; repeats show the previous picture
    testing::internal::CaptureStdout();
    for (int n = 0; n < count; ++n) {
        const cv::Mat picture = make(163, 121, n), grab = GrabOf(picture);
        ASSERT_TRUE(recorder.AddFrame(CBgrxPicture{grab.data, grab.cols, grab.rows, grab.step[0]}))
            << recorder.LastError();
        expected.emplace_back();
        cv::resize(picture, expected.back(), cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
        if (n == repeatAfter) {
            ASSERT_TRUE(recorder.AddRepeatFrame());
            expected.push_back(expected.back());
        }
    }
    const int frames = int(expected.size());
    EXPECT_EQ(frames, recorder.FrameCount());
    bool failed = true;
    const int total = recorder.EndRecording(&failed);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(failed);
    EXPECT_NE(console.find("Frame " + std::to_string(repeatAfter + 1) + " : 0 bytes\n"),
              std::string::npos);
    EXPECT_NE(console.find(path + " written: 163x121, " + std::to_string(frames) + " frames, " +
                           std::to_string(total) + " bytes\n"),
              std::string::npos)
        << console;

    auto video = Stream(path, "v:0");  // 163 x 121 rounds up to the next multiple of 4 above
    EXPECT_EQ(video["codec_name"] + " " + video["codec_tag_string"] + " " + video["width"] + "x" +
                  video["height"] + " " + video["r_frame_rate"] + " " + video["nb_frames"],
              "mpeg4 xvid 164x124 30/1 " + std::to_string(frames));
    EXPECT_TRUE(Stream(path, "a:0").empty());

    // Every coded frame decodes; a player shows the source in every slot (the last decoded
    // frame not after it), so the repeat frame's slot shows the picture before it.
    bool clean = false;
    const auto decoded = DecodeFrames(path, width, height, &clean);
    EXPECT_TRUE(clean);
    const auto infos = ProbeDecodedFrames(path);
    ASSERT_EQ(decoded.size(), size_t(frames - 1));
    ASSERT_EQ(infos.size(), decoded.size());
    std::vector<cv::Mat> shown(static_cast<size_t>(frames));
    for (size_t slot = 0, next = 0; slot < shown.size(); ++slot) {
        while (next < infos.size() && infos[next].pts <= int(slot)) {
            ++next;
        }
        shown[slot] = next > 0 ? decoded[next - 1] : cv::Mat();
        EXPECT_GE(cv::PSNR(expected[slot], shown[slot]), psnr) << "frame " << slot;
    }
    EXPECT_EQ(shown[repeatAfter].data, shown[repeatAfter + 1].data);

    // Only the frames the decoder sees as key frames carry the key-frame flag in the index.
    const auto index = ReadVideoIndex(path);
    ASSERT_EQ(index.size(), size_t(frames));
    std::set<int> flagged, keys;
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
    EXPECT_EQ(flagged.count(0), 1u);
    EXPECT_LT(flagged.size(), size_t(frames));
    EXPECT_EQ(index[repeatAfter + 1].length + index[repeatAfter + 1].flags, 0u);
    EXPECT_EQ(indexedBytes, uint32_t(total));
}

}  // namespace

TEST(AviRecorderTest, StaticAndFullMotionSequencesDecodeFaithfully) {
    RecordAndVerify(StaticDesktopFrame, 45, 20, 32.0);
    RecordAndVerify(FullMotionFrame, 30, 10, 30.0);
}

TEST(AviRecorderTest, EnlargedImagesAreScaledAndUnusableOnesRefused) {
    TempDir dir;
    CAviRecorder recorder;
    const std::string path = dir.Path("scaled.avi");
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 61, 41}, path));  // frames 64 x 44
    // A window enlarged during the recording: a grab of twice the size (every pixel doubled)
    // is scaled back to the fixed frame size.
    const cv::Mat frame = FullMotionFrame(64, 44, 0);
    cv::Mat doubled;
    cv::resize(frame, doubled, cv::Size(128, 88), 0, 0, cv::INTER_NEAREST);
    CSvImage image, empty, gray;
    FillImage(image, doubled);
    EXPECT_TRUE(recorder.AddFrame(&image));
    gray.Create(64, 44, 1);
    for (CSvImage* unusable : {&empty, &gray, static_cast<CSvImage*>(nullptr)}) {
        EXPECT_FALSE(recorder.AddFrame(unusable));
    }
    EXPECT_FALSE(recorder.AddFrame(CBgrxPicture{}));
    EXPECT_FALSE(recorder.AddPlanarFrame(cv::Mat(64, 64, CV_8UC1)));  // a frame of 64 x 42
    EXPECT_STRNE(recorder.LastError(), "");
    recorder.EndRecording();
    bool clean = false;
    const auto decoded = DecodeFrames(path, 64, 44, &clean);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_GE(cv::PSNR(frame, decoded[0]), 36.0);
    cv::Mat grab = GrabOf(frame), planes(66, 64, CV_8UC1);  // luma: BT.601's, nearest level
    ASSERT_TRUE(CI420Converter().Convert(CBgrxPicture{grab.data, 64, 44, grab.step[0]}, planes));
    for (const uchar *p = grab.data, *y = planes.data; p < grab.dataend; p += 4, ++y) {
        ASSERT_EQ(*y, (98 * p[0] + 504 * p[1] + 257 * p[2] + 16500) / 1000) << (p - grab.data) / 4;
    }
}

// A begin that fails (no folder; a region beyond the 13 bits per dimension of the video
// header) writes nothing and leaves the recorder idle; a region of 8187 (frame 8188) records.
TEST(AviRecorderTest, FailedBeginsLeaveEverythingAlone) {
    TempDir dir;
    CAviRecorder recorder;
    const std::string largest = dir.Path("largest.avi");
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 8187, 3}, largest)) << recorder.LastError();
    CSvImage image;
    FillImage(image, StaticDesktopFrame(8188, 4, 0));
    ASSERT_TRUE(recorder.AddFrame(&image));
    recorder.EndRecording();
    auto video = Stream(largest, "v:0");
    EXPECT_EQ(video["width"] + "x" + video["height"], "8188x4");
    const auto largestBytes = ReadFile(largest);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(recorder.BeginRecording(CSvRect{0, 0, 32, 32}, dir.Path("missing/x.avi")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Venc Error while starting encoding: 4\n");
    EXPECT_STREQ(recorder.LastError(), "Starting the encoder failed: No such file or directory");
    EXPECT_FALSE(recorder.AddFrame(&image));
    EXPECT_FALSE(recorder.AddRepeatFrame());
    bool failed = true;
    EXPECT_EQ(recorder.EndRecording(&failed), 0);
    EXPECT_FALSE(failed);
    for (const CSvRect region : {CSvRect{0, 0, 8188, 3}, CSvRect{0, 0, 3, 8188}}) {
        EXPECT_FALSE(recorder.BeginRecording(region, dir.Path("too_large.avi")));
        EXPECT_STREQ(recorder.LastError(), "region too large for the video format");
        EXPECT_FALSE(recorder.IsRecording());
        EXPECT_TRUE(ReadFile(dir.Path("too_large.avi")).empty());
    }
    EXPECT_EQ(ReadFile(largest), largestBytes);
}

// A recording that ends with no picture in it leaves no file, and says so.
TEST(AviRecorderTest, ARecordingWithoutAPictureLeavesNoFile) {
    TempDir dir;
    const std::string path = dir.Path("empty.avi");
    CAviRecorder recorder;
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 32, 32}, path));
    bool failed = false;
    recorder.EndRecording(&failed);
    EXPECT_TRUE(failed);
    EXPECT_STREQ(recorder.LastError(), "Nothing recorded: no frame was written");
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// The disk refuses more data (file-size limit): the frame is reported as failed and not
// counted, and the end of the recording still finishes and tells the caller it failed.
TEST(AviRecorderTest, WriteFailuresAreReportedNotFatal) {
    TempDir dir;
    const std::string path = dir.Path("full.avi");
    CAviRecorder recorder;
    ASSERT_TRUE(recorder.BeginRecording(CSvRect{0, 0, 160, 120}, path));
    CSvImage image;
    FillImage(image, StaticDesktopFrame(164, 124, 0));
    ASSERT_TRUE(recorder.AddFrame(&image));

    testing::internal::CaptureStdout();
    FillImage(image, FullMotionFrame(164, 124, 1));
    bool added = true, failed = false;
    int64_t total = -1;
    std::string frameError;
    {
        FileSizeLimit limit(ReadFile(path).size() + 24);  // room for one frame's index
        added = recorder.AddFrame(&image);
        frameError = recorder.LastError();
        total = recorder.EndRecording(&failed);
    }
    const std::string console = testing::internal::GetCapturedStdout();

    EXPECT_FALSE(added);
    EXPECT_EQ(frameError, "Writing a frame failed: File too large");  // the system's reason
    EXPECT_FALSE(failed);                                             // finished with its index
    EXPECT_EQ(recorder.FrameCount(), 1);
    // Header, the one frame's chunk and its index: no part of the refused frame stays.
    EXPECT_EQ(ReadFile(path).size(), size_t(2048 + 8 + total + (total & 1) + 24));
    EXPECT_EQ(console, "Venc Error while writing frame: 1\n" + path +
                           " written: 160x120, 1 frames, " + std::to_string(total) + " bytes\n");
    EXPECT_FALSE(recorder.IsRecording());
}
