#include "capture/recording_session.h"

#include <chrono>
#include <cstdio>

#include "capture/frame_pacing.h"
#include "imaging/screen_grabber.h"
#include "imaging/sv_image.h"

std::string CRecordingResult::Summary() const {
    char counts[160];
    std::snprintf(counts, sizeof counts, "[ %d Frames , %d x %d , %d bytes]", frameCount,
                  frameWidth, frameHeight, totalBytes);
    return std::string("녹화가 완료되었습니다.\n") + counts + "\n" + path;
}

CRecordingSession::CRecordingSession(CAviRecorder& recorder) : m_recorder(recorder) {}

CRecordingSession::~CRecordingSession() {
    Stop();
}

bool CRecordingSession::Start(const CSvRect& screenRegion, const std::string& path,
                              CUniqueFd file) {
    if (IsRecording()) {
        m_lastError = "already recording";
        return false;
    }
    if (screenRegion.IsEmpty()) {
        m_lastError = "empty region";
        return false;
    }
    if (!m_recorder.BeginRecording(screenRegion, path, std::move(file))) {
        m_lastError = m_recorder.LastError();
        return false;
    }
    m_lastError.clear();
    m_result = CRecordingResult();
    UpdateRegion(screenRegion);
    // A stop signalled after the previous worker had already left its loop must not end
    // this recording at once.
    m_hStopEvent.Wait(0);
    m_bWorkerEnded = false;
    m_hRecordThread = std::thread(&CRecordingSession::RecordThreadProc, this);
    return true;
}

void CRecordingSession::UpdateRegion(const CSvRect& screenRegion) {
    std::lock_guard<std::mutex> lock(m_regionLock);
    m_region = screenRegion;
}

CSvRect CRecordingSession::CurrentRegion() {
    std::lock_guard<std::mutex> lock(m_regionLock);
    return m_region;
}

CRecordingResult CRecordingSession::Stop() {
    if (!m_hRecordThread.joinable()) {
        return CRecordingResult();
    }
    m_hStopEvent.Set();
    m_hRecordThread.join();
    return m_result;
}

void CRecordingSession::ReportStatus(const std::string& text) {
    if (m_onStatus) {
        m_onStatus(text);
    }
}

bool CRecordingSession::RecordFrame(CScreenGrabber& grabber, CSvImage& image) {
    grabber.GrabImage(CurrentRegion(), &image);
    if (image.HasImage()) {
        return m_recorder.AddFrame(&image);
    }
    if (m_recorder.FrameCount() == 0) {
        // With no picture to repeat the file would hold nothing but empty frames.
        m_result.error = "Grabbing the screen failed: " + grabber.GetLastError();
        return false;
    }
    // The window is momentarily smaller than its bands: keep the timeline going with the
    // previous picture.
    return m_recorder.AddRepeatFrame();
}

bool CRecordingSession::AppendRepeats(int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        if (!m_recorder.AddRepeatFrame()) {
            return false;
        }
    }
    return true;
}

void CRecordingSession::RecordThreadProc() {
    using Clock = std::chrono::steady_clock;
    CScreenGrabber grabber;
    CSvImage image;  // reused by every grab of the same size
    const Clock::time_point start = Clock::now();
    bool ok = true;
    for (;;) {
        pacing::Nanoseconds elapsed = Clock::now() - start;
        pacing::Step step;
        if (m_bPaced) {
            step = pacing::NextStep(m_recorder.FrameCount(), elapsed);
        } else {
            step.grabFrame = true;
        }
        if (step.grabFrame) {
            ok = AppendRepeats(step.repeatFrames) && RecordFrame(grabber, image);
            if (!ok) {
                break;
            }
            if (m_onFrame) {
                m_onFrame();
            }
            ReportStatus(kStatusRecording);
            step.waitFor = pacing::Nanoseconds(0);
        }
        auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(step.waitFor).count();
        if (m_hStopEvent.Wait(static_cast<uint32_t>(waitMs < 0 ? 0 : waitMs))) {
            break;
        }
    }
    if (ok && m_bPaced) {
        ok =
            AppendRepeats(pacing::FramesToPadAtStop(m_recorder.FrameCount(), Clock::now() - start));
    }

    m_result.failed = !ok;
    if (!ok && m_result.error.empty()) {
        m_result.error = m_recorder.LastError();
    }
    bool finishFailed = false;
    m_result.totalBytes = m_recorder.EndRecording(&finishFailed);
    if (finishFailed && !m_result.failed) {
        m_result.failed = true;
        m_result.error = m_recorder.LastError();
    }
    m_result.path = m_recorder.OutputPath();
    m_result.frameCount = m_recorder.FrameCount();
    m_result.repeatFrames = m_recorder.RepeatFrameCount();
    m_result.frameWidth = m_recorder.FrameWidth();
    m_result.frameHeight = m_recorder.FrameHeight();

    ReportStatus(m_result.failed ? kStatusFailed + m_result.error : kStatusComplete);
    m_bWorkerEnded = true;
    if (m_onFinished) {
        m_onFinished();
    }
}
