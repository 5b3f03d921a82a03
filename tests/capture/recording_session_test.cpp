// The recording session against the real grabber (on its own bare Xvfb), the real Xvid
// encoder and ffprobe/ffmpeg as the independent reader.
#include "capture/recording_session.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cmath>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

#include "test_support.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRegionLeft = 100;
constexpr int kRegionTop = 80;
constexpr int kRegionWidth = 320;
constexpr int kRegionHeight = 240;

CSvRect Region() {
    return CSvRect{kRegionLeft, kRegionTop, kRegionLeft + kRegionWidth, kRegionTop + kRegionHeight};
}

// Changes the pattern window every `periodMs` on its own thread while it lives.
class PatternAnimator {
public:
    PatternAnimator(PatternWindow& window, int count, int periodMs)
        : m_thread([this, &window, count, periodMs] {
              for (int i = 1; !m_stop; ++i) {
                  window.Show(i % count);
                  std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
              }
          }) {}
    ~PatternAnimator() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct StatusLog {
    std::mutex lock;
    std::vector<std::string> texts;
    void Add(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        if (texts.empty() || texts.back() != text) {
            texts.push_back(text);
        }
    }
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

TEST(RecordingSession, RecordsInRealTimeAndEveryFrameDecodes) {
    PatternWindow window(kRegionLeft, kRegionTop, kRegionWidth, kRegionHeight);
    ASSERT_TRUE(window.IsOpen());
    TempDir dir;
    CAviRecorder recorder;
    CRecordingSession session(recorder);
    StatusLog statuses;
    std::atomic<bool> finished{false};
    session.SetStatusCallback([&](const std::string& text) { statuses.Add(text); });
    session.SetFinishedCallback([&] { finished = true; });

    const std::string path = dir.path() + "/Recode_test.avi";
    CRecordingResult result;
    double seconds;
    {
        PatternAnimator animator(window, 8, 100);
        Clock::time_point start = Clock::now();
        ASSERT_TRUE(session.Start(Region(), path)) << session.LastError();
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        Clock::time_point stop = Clock::now();
        result = session.Stop();
        seconds = Seconds(stop - start);
    }
    EXPECT_FALSE(session.IsRecording());
    EXPECT_TRUE(finished);
    EXPECT_FALSE(result.failed) << result.error;
    EXPECT_EQ(result.path, path);
    EXPECT_EQ(result.frameWidth, 324);
    EXPECT_EQ(result.frameHeight, 244);
    EXPECT_NEAR(result.frameCount, 30 * seconds, 1.5);
    ASSERT_GE(statuses.texts.size(), 2u);
    EXPECT_EQ(statuses.texts.front(), "Recoding...");
    EXPECT_EQ(statuses.texts.back(), "Recode Complete!");
    EXPECT_EQ(result.Summary(), "녹화가 완료되었습니다.\n[ " + std::to_string(result.frameCount) +
                                    " Frames , 324 x 244 , " + std::to_string(result.totalBytes) +
                                    " bytes]\n" + path);

    VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.codecName, "mpeg4");
    EXPECT_EQ(probe.codecTag, "xvid");
    EXPECT_EQ(probe.frameRate, "30/1");
    EXPECT_EQ(probe.width, 324);
    EXPECT_EQ(probe.height, 244);
    EXPECT_EQ(probe.frameCount, result.frameCount);
    EXPECT_NEAR(probe.duration, seconds, 1.0 / 30 + 0.01);

    int errors = -1;
    std::vector<cv::Mat> frames = DecodeFrames(path, 324, 244, &errors);
    EXPECT_EQ(errors, 0);
    ASSERT_FALSE(frames.empty());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_GE(BestPatternPsnr(frames[i], 8, kRegionWidth, kRegionHeight), 35.0)
            << "frame " << i;
    }
}

TEST(RecordingSession, SlowGrabsBecomeRepeatFramesAndKeepTheDuration) {
    PatternWindow window(kRegionLeft, kRegionTop, kRegionWidth, kRegionHeight);
    TempDir dir;
    CAviRecorder recorder;
    CRecordingSession session(recorder);
    // The per-frame notice runs on the worker: sleeping there makes each frame take 100 ms.
    session.SetFrameCallback([] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });

    const std::string path = dir.path() + "/Recode_slow.avi";
    Clock::time_point start = Clock::now();
    ASSERT_TRUE(session.Start(Region(), path)) << session.LastError();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Clock::time_point stop = Clock::now();
    CRecordingResult result = session.Stop();
    double seconds = Seconds(stop - start);

    EXPECT_FALSE(result.failed) << result.error;
    EXPECT_GT(result.repeatFrames, result.frameCount / 2);
    // The stop may wait out the frame in progress (up to 100 ms), which the file covers too.
    EXPECT_NEAR(result.frameCount, 30 * seconds, 4);
    VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.frameCount, result.frameCount);
    EXPECT_NEAR(probe.duration, result.frameCount / 30.0, 1.0 / 30 + 0.01);
    int errors = -1;
    EXPECT_FALSE(DecodeFrames(path, 324, 244, &errors).empty());
    EXPECT_EQ(errors, 0);
}

TEST(RecordingSession, StartAndImmediateStopGiveAValidFile) {
    TempDir dir;
    CAviRecorder recorder;
    CRecordingSession session(recorder);
    const std::string path = dir.path() + "/Recode_short.avi";
    ASSERT_TRUE(session.Start(Region(), path));
    CRecordingResult result = session.Stop();
    EXPECT_FALSE(result.failed) << result.error;
    EXPECT_TRUE(ProbeVideo(path).ok);
    // The same session records again afterwards.
    ASSERT_TRUE(session.Start(Region(), dir.path() + "/Recode_again.avi"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_GT(session.Stop().frameCount, 3);
}

TEST(RecordingSession, RefusedStartsStartNoWorker) {
    TempDir dir;
    CAviRecorder recorder;
    CRecordingSession session(recorder);
    EXPECT_FALSE(session.Start(CSvRect{10, 10, 10, 200}, dir.path() + "/Recode_empty.avi"));
    EXPECT_FALSE(session.IsRecording());
    EXPECT_FALSE(session.LastError().empty());

    EXPECT_FALSE(session.Start(Region(), "/nonexistent-brintel-dir/Recode_x.avi"));
    EXPECT_FALSE(session.IsRecording());
    EXPECT_FALSE(session.LastError().empty());
    EXPECT_FALSE(session.Stop().failed);  // nothing to stop
}

TEST(RecordingSession, WriteFailureMidwayFinishesTheFileAndReportsIt) {
    PatternWindow window(kRegionLeft, kRegionTop, kRegionWidth, kRegionHeight);
    TempDir dir;
    CAviRecorder recorder;
    CRecordingSession session(recorder);
    StatusLog statuses;
    std::atomic<bool> finished{false};
    session.SetStatusCallback([&](const std::string& text) { statuses.Add(text); });
    session.SetFinishedCallback([&] { finished = true; });

    // Every frame changes the whole picture, so the file grows fast and reaches the limit.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 300 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    const std::string path = dir.path() + "/Recode_full.avi";
    {
        PatternAnimator animator(window, 8, 20);
        ASSERT_TRUE(session.Start(Region(), path));
        for (int i = 0; i < 100 && !finished; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    CRecordingResult result = session.Stop();
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_TRUE(finished) << "the worker did not stop by itself";
    EXPECT_TRUE(result.failed);
    EXPECT_FALSE(result.error.empty());
    ASSERT_FALSE(statuses.texts.empty());
    EXPECT_EQ(statuses.texts.back().rfind("Recode Failed", 0), 0u) << statuses.texts.back();

    VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_GT(probe.frameCount, 0);
    int errors = -1;
    std::vector<cv::Mat> frames = DecodeFrames(path, 324, 244, &errors);
    EXPECT_EQ(errors, 0);
    EXPECT_GT(frames.size(), 0u);
}
