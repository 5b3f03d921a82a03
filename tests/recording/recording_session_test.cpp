// The recording session against the real grabber (on its own bare Xvfb), the real Xvid
// encoder and ffprobe/ffmpeg as the independent reader.
#include "recording/recording_session.h"
#include "recording/x11_frame_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include <opencv2/core.hpp>
#include <thread>

#include "test_support.h"

using std::chrono::milliseconds;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
const CSvRect kRegion{100, 80, 100 + kWidth, 80 + kHeight};

class RecordingSessionTest : public ::testing::Test {
protected:
    RecordingSessionTest() {
        m_session.SetFinishedCallback([this] { m_finished = true; });
    }

    PatternWindow m_window{kRegion.left, kRegion.top, kWidth, kHeight};
    TempDir m_dir;
    const std::string m_path = m_dir.path() + "/Recode_test.avi";
    CAviRecorder m_recorder;
    CX11FrameSource m_source;
    CRecordingSession m_session{m_recorder, m_source};
    std::atomic<bool> m_finished{false};
};

// Wraps the X source and draws one pixel into the pattern window just before the change
// check of frame `drawBefore`, noting whether that very frame was grabbed.
class PixelDrawingSource : public CFrameSource {
public:
    PixelDrawingSource(CX11FrameSource& x11, PatternWindow& window, int drawBefore)
        : m_x11(x11), m_window(window), m_drawBefore(drawBefore) {}
    bool Open(std::string* error) override { return m_x11.Open(error); }
    void Close() override { m_x11.Close(); }
    CSvRect Locate(const CCaptureTarget& target, const CSvRect& previous) override {
        return m_x11.Locate(target, previous);
    }
    Change TakeChange(const CSvRect& region) override {
        if (m_checks++ == m_drawBefore) {
            m_window.SetPixel(kPixelX, kPixelY, 0xFFFFFF);
            m_bDrawn = true;
        } else if (m_bDrawn && !m_bGrabbedAfterDrawing) {
            m_bMissed = true;
        }
        return m_x11.TakeChange(region);
    }
    bool Grab(const CSvRect& region, CBgrxPicture* picture, std::string* error) override {
        if (m_bDrawn && !m_bMissed) {
            m_bGrabbedAfterDrawing = true;
        }
        return m_x11.Grab(region, picture, error);
    }

    static constexpr int kPixelX = 150;
    static constexpr int kPixelY = 100;
    std::atomic<bool> m_bGrabbedAfterDrawing{false};
    std::atomic<bool> m_bMissed{false};

private:
    CX11FrameSource& m_x11;
    PatternWindow& m_window;
    int m_drawBefore;
    int m_checks = 0;
    bool m_bDrawn = false;
};

TEST_F(RecordingSessionTest, OnePixelDrawnIntoAnIdleRegionIsInTheNextFrame) {
    ASSERT_TRUE(m_window.IsOpen());
    PixelDrawingSource source(m_source, m_window, 10);
    CAviRecorder recorder;
    CRecordingSession session(recorder, source);
    ASSERT_TRUE(session.Start(kRegion, m_path));
    std::this_thread::sleep_for(milliseconds(800));
    const CRecordingResult result = session.Stop();
    EXPECT_FALSE(result.failed) << result.error;
    EXPECT_TRUE(source.m_bGrabbedAfterDrawing);
    EXPECT_FALSE(source.m_bMissed);
    EXPECT_EQ(result.frameCount - result.repeatFrames, 3);  // and the closing picture

    // The pixel lies where the nearest-neighbour stretch to 324 x 244 puts it.
    const Recording file = ReadRecording(m_path);
    ASSERT_GE(file.frames.size(), 2u);
    const int x = PixelDrawingSource::kPixelX * 324 / 320 + 1;
    const int y = PixelDrawingSource::kPixelY * 244 / 240 + 1;
    const cv::Rect around(x - 2, y - 2, 5, 5);
    cv::Mat difference;
    cv::absdiff(file.frames.front()(around), file.frames.back()(around), difference);
    double largest = 0;
    cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
    EXPECT_GE(largest, 60);
}

TEST_F(RecordingSessionTest, RefusedStartsStartNoWorker) {
    for (const auto& [region, path] :
         {std::pair(CSvRect{10, 10, 10, 200}, m_path),
          std::pair(kRegion, std::string("/nonexistent-brintel-dir/Recode_x.avi"))}) {
        EXPECT_FALSE(m_session.Start(region, path)) << path;
        EXPECT_FALSE(m_session.IsRecording());
        EXPECT_FALSE(m_session.LastError().empty());
    }
    EXPECT_FALSE(m_session.Stop().failed);  // nothing to stop
    EXPECT_TRUE(m_dir.Files().empty());
}

TEST_F(RecordingSessionTest, NothingGrabbedEndsAsAFailureNotAsEmptyFrames) {
    // Without a display no grab succeeds; the worker stops by itself and says why.
    const std::string display = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    ASSERT_TRUE(m_session.Start(kRegion, m_path));
    for (int i = 0; i < 100 && !m_finished; ++i) {
        std::this_thread::sleep_for(milliseconds(50));
    }
    const CRecordingResult result = m_session.Stop();
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_TRUE(m_finished) << "the worker did not stop by itself";
    EXPECT_TRUE(result.failed);
    EXPECT_NE(result.error.find("DISPLAY"), std::string::npos) << result.error;
    EXPECT_EQ(result.frameCount, 0);
}

}  // namespace
