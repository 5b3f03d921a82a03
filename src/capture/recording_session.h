#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "encoding/avi_recorder.h"
#include "imaging/sv_rect.h"
#include "platform/auto_reset_event.h"

class CScreenGrabber;
class CSvImage;

// What a finished recording produced.
struct CRecordingResult {
    std::string path;
    int frameCount = 0;    // frames in the file, repeats included
    int repeatFrames = 0;  // repeats of the previous frame: grabbing fell behind, or no picture
    int frameWidth = 0;
    int frameHeight = 0;
    int totalBytes = 0;
    bool failed = false;
    std::string error;  // short reason when failed

    // The end-of-recording summary shown to the user.
    std::string Summary() const;
};

// One recording at a time: the stop event, the worker thread that grabs the capture region
// and feeds the recorder at 30 frames per second, and the hand-over of the region and the
// status texts between the window thread and the worker. Nothing here waits for the window
// thread: the callbacks are called on the worker and must only store or post.
class CRecordingSession {
public:
    using StatusCallback = std::function<void(const std::string&)>;
    using FrameCallback = std::function<void()>;
    using FinishedCallback = std::function<void()>;

    static constexpr const char* kStatusRecording = "Recoding...";
    static constexpr const char* kStatusComplete = "Recode Complete!";
    static constexpr const char* kStatusFailed = "Recode Failed: ";  // followed by the reason

    explicit CRecordingSession(CAviRecorder& recorder);
    ~CRecordingSession();  // stops and finishes a running recording
    CRecordingSession(const CRecordingSession&) = delete;
    CRecordingSession& operator=(const CRecordingSession&) = delete;

    // Set before Start. Status texts and the per-frame notice come from the worker;
    // `finished` too, once the worker has finished the file (also when it stopped by itself
    // after a failure): the window thread then calls Stop() to collect the result.
    void SetStatusCallback(StatusCallback callback) { m_onStatus = std::move(callback); }
    void SetFrameCallback(FrameCallback callback) { m_onFrame = std::move(callback); }
    void SetFinishedCallback(FinishedCallback callback) { m_onFinished = std::move(callback); }

    // Without pacing every iteration grabs and encodes at once and no repeat frames are
    // written: only for measuring the raw frame rate.
    void SetPaced(bool paced) { m_bPaced = paced; }

    // Begins the file at `path` with the frame size taken from `screenRegion` and starts the
    // worker. False, with no worker started, when the region is empty, a recording already
    // runs, or the recorder cannot begin; the reason is in LastError(). `file`, when open, is
    // the descriptor that reserved `path`: the recording is written through it.
    bool Start(const CSvRect& screenRegion, const std::string& path, CUniqueFd file = CUniqueFd());

    // Where the next frames are grabbed, in screen coordinates; callable from any thread.
    void UpdateRegion(const CSvRect& screenRegion);

    // Signals the worker, waits until it has finished the file and returns what it wrote.
    // Returns an empty result when no recording was started.
    CRecordingResult Stop();

    // True from Start until Stop, also after the worker stopped by itself.
    bool IsRecording() const { return m_hRecordThread.joinable(); }
    // True once the worker has finished the file, until the next Start; callable from any
    // thread.
    bool HasWorkerEnded() const { return m_bWorkerEnded; }
    const std::string& LastError() const { return m_lastError; }

private:
    void RecordThreadProc();
    bool RecordFrame(CScreenGrabber& grabber, CSvImage& image);
    bool AppendRepeats(int64_t count);
    CSvRect CurrentRegion();
    void ReportStatus(const std::string& text);

    CAviRecorder& m_recorder;
    CAutoResetEvent m_hStopEvent;
    std::thread m_hRecordThread;

    std::mutex m_regionLock;
    CSvRect m_region;

    StatusCallback m_onStatus;
    FrameCallback m_onFrame;
    FinishedCallback m_onFinished;
    bool m_bPaced = true;
    std::atomic<bool> m_bWorkerEnded{false};

    // Written by the worker, read by the window thread after joining it.
    CRecordingResult m_result;
    std::string m_lastError;
};
