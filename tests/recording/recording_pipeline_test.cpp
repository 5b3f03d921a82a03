// The recording session's two stages fed by a frame source in the test (no X server): every
// grabbed frame reaches the file, also when the stop comes while the ring is full or before
// the first grab, and a source that tells nothing changed gets no grab at all. Built with
// -fsanitize=thread (see the README) these tests also check the stages' hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "recording/recording_session.h"
#include "test_support.h"

using std::chrono::milliseconds;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Gives picture `Picture()` for every grab, and the change the test sets.
class TestFrameSource : public CFrameSource {
public:
    TestFrameSource() {
        for (int i = 0; i < kPictures; ++i) {
            cv::cvtColor(PatternImage(i, kWidth, kHeight), m_pictures[i], cv::COLOR_BGR2BGRA);
        }
    }

    bool Open(std::string*) override { return true; }
    void Close() override {}
    CSvRect Locate(const CCaptureTarget& target, const CSvRect&) override { return target.region; }
    Change TakeChange(const CSvRect&) override { return m_change; }
    bool Grab(const CSvRect&, CBgrxPicture* picture, std::string*) override {
        const int grab = m_grabs++;
        cv::Mat& p = m_pictures[m_bNewPictureEveryGrab ? grab % kPictures : 0];
        *picture = CBgrxPicture{p.data, p.cols, p.rows, p.step[0]};
        return true;
    }

    static constexpr int kPictures = 8;
    std::atomic<Change> m_change{Change::kUnknown};
    std::atomic<bool> m_bNewPictureEveryGrab{true};
    std::atomic<int> m_grabs{0};

private:
    cv::Mat m_pictures[kPictures];
};

class RecordingPipelineTest : public ::testing::Test {
protected:
    TempDir m_dir;
    const std::string m_path = m_dir.path() + "/Recode_pipeline.avi";
    TestFrameSource m_source;
    CAviRecorder m_recorder;
    CRecordingSession m_session{m_recorder, m_source};
};

TEST_F(RecordingPipelineTest, ASlowEncodeStageLosesNoFrameAndKeepsTheTime) {
    // A slow encode stage: the grab stage fills the ring and waits for free buffers.
    std::atomic<int> encodeMs{30};
    m_session.SetFrameCallback([&] { std::this_thread::sleep_for(milliseconds(encodeMs)); });
    m_session.SetPaced(false);
    ASSERT_TRUE(m_session.Start(CSvRect{0, 0, kWidth, kHeight}, m_path));
    while (m_source.m_grabs < CFrameRing::kSlotCount + 4) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    const CRecordingResult result = m_session.Stop();
    EXPECT_FALSE(result.failed) << result.error;
    EXPECT_EQ(result.repeatFrames, 0);
    EXPECT_EQ(result.frameCount, m_source.m_grabs.load());

    const Recording file = ReadRecording(m_path);
    ASSERT_EQ(int(file.frames.size()), result.frameCount);
    for (int i = 0; i < result.frameCount; ++i) {
        cv::Mat expected;
        cv::resize(PatternImage(i % TestFrameSource::kPictures, kWidth, kHeight), expected,
                   file.frames[i].size(), 0, 0, cv::INTER_NEAREST);
        EXPECT_GE(cv::PSNR(file.frames[i], expected), 35.0) << "frame " << i;
    }

    // Paced, with 100 ms a frame: the slots it falls behind become repeat frames, so the file
    // lasts as long as the recording (the stop may wait out the frame in progress).
    encodeMs = 100;
    m_session.SetPaced(true);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_session.Start(CSvRect{0, 0, kWidth, kHeight}, m_path));
    std::this_thread::sleep_for(milliseconds(1500));
    const std::chrono::duration<double> recorded = std::chrono::steady_clock::now() - start;
    const CRecordingResult paced = m_session.Stop();
    EXPECT_FALSE(paced.failed) << paced.error;
    EXPECT_GT(paced.repeatFrames, paced.frameCount / 2);
    EXPECT_NEAR(paced.frameCount, 30 * recorded.count(), 4);
    EXPECT_EQ(ReadRecording(m_path).frames.size(), size_t(paced.frameCount));
}

// F3 F3 within a frame time: the stop comes before the first grab, which is taken all the
// same, so every file holds a picture. Then an unchanged region, whether the source says so
// (no grab at all) or every grab equals the one before, gives repeat frames, closed by the
// picture again.
TEST_F(RecordingPipelineTest, QuickStopsKeepAPictureAndUnchangedRegionsRepeatIt) {
    m_source.m_bNewPictureEveryGrab = false;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(m_session.Start(CSvRect{0, 0, kWidth, kHeight}, m_path));
        ASSERT_FALSE(m_session.Stop().failed) << "start " << i;
    }
    for (const CFrameSource::Change change :
         {CFrameSource::Change::kNone, CFrameSource::Change::kUnknown}) {
        m_source.m_change = change;
        const int grabs = m_source.m_grabs;
        ASSERT_TRUE(m_session.Start(CSvRect{0, 0, kWidth, kHeight}, m_path));
        std::this_thread::sleep_for(milliseconds(500));
        const CRecordingResult result = m_session.Stop();
        EXPECT_FALSE(result.failed) << result.error;
        EXPECT_GE(result.frameCount, 14);
        EXPECT_EQ(result.repeatFrames, result.frameCount - 2);
        EXPECT_EQ(m_source.m_grabs - grabs == 1, change == CFrameSource::Change::kNone);
        EXPECT_EQ(ReadRecording(m_path).frames.size(), size_t(result.frameCount));
    }
}

}  // namespace
