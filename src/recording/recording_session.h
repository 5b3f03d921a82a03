#pragma once
// One recording at a time, in two stages on two threads of its own:
//
// - The grab thread paces the frames to the file's rate. For every frame slot it asks the
//   frame source where the target is on the screen now and whether anything was drawn there
//   since the last grab; when nothing was, or the new grab equals the previous one, the slot
//   becomes a repeat frame. Otherwise it grabs, converts the grab in one pass into the codec's
//   input (planar YUV 4:2:0 of the frame size) in a free buffer of the frame ring, and queues
//   it. It calls the frame source (Open to Close) and the region callback.
// - The encode thread takes the queued frames and repeats in order and feeds the recorder
//   (encoding, writing), then finishes the file. It calls the recorder from the
//   first frame to EndRecording, and the status, frame and finished callbacks.
// - The caller's thread (the window thread) starts and stops, changes the target and reads
//   the last region. Stop signals both stages and waits for them; the encode stage writes
//   every frame grabbed before the stop, then finishes the file. A stop that comes before
//   the first grab still lets that one picture be grabbed, so every file holds one.
//
// Buffers: the ring owns the frames (a few, reused for the whole recording; see frame_ring.h
// for who may touch which), which the codec reads in place; the frame source owns its X
// connection and the shared-memory segment the grabs arrive in.
//
// Locks: the region lock (target and last region) and the ring's lock. Every lock is a leaf
// lock: none is held while another is taken or while a callback, the source or the recorder
// runs. Nothing here waits for the caller's thread: the callbacks must only store or post.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "audio/audio_track.h"
#include "encoding/avi_recorder.h"
#include "encoding/i420_converter.h"
#include "imaging/sv_rect.h"
#include "platform/unique_fd.h"
#include "recording/frame_ring.h"
#include "recording/frame_source.h"

// What a finished recording produced.
struct CRecordingResult {
    std::string path;
    int frameCount = 0;    // frames in the file, repeats included
    int repeatFrames = 0;  // repeats of the previous frame: nothing changed, grabbing fell
                           // behind, or no picture
    int frameWidth = 0;
    int frameHeight = 0;
    int64_t totalBytes = 0;
    bool failed = false;
    std::string error;  // short reason when failed

    // The end-of-recording summary shown to the user.
    std::string Summary() const;
};

class CRecordingSession {
public:
    using StatusCallback = std::function<void(const std::string&)>;
    using NoticeCallback = std::function<void()>;

    static constexpr const char* kStatusRecording = "Recoding...";
    static constexpr const char* kStatusComplete = "Recode Complete!";
    static constexpr const char* kStatusFailed = "Recode Failed: ";  // followed by the reason
    static constexpr const char* kStatusPaused = "Paused";

    CRecordingSession(CAviRecorder& recorder, CFrameSource& source);
    ~CRecordingSession();  // stops and finishes a running recording
    CRecordingSession(const CRecordingSession&) = delete;
    CRecordingSession& operator=(const CRecordingSession&) = delete;

    // Set before Start. Encode thread: the status text after every frame written ("Recoding...")
    // and at the end; the frame notice after every frame written; `finished` once the file is
    // finished (also when the recording stopped by itself after a failure): the caller's
    // thread then calls Stop() to collect the result. Grab thread: the region notice whenever
    // the region the frames are taken from has moved or changed size (read it with
    // LastRegion()).
    void SetStatusCallback(StatusCallback callback) { m_onStatus = std::move(callback); }
    void SetFrameCallback(NoticeCallback callback) { m_onFrame = std::move(callback); }
    void SetFinishedCallback(NoticeCallback callback) { m_onFinished = std::move(callback); }
    void SetRegionCallback(NoticeCallback callback) { m_onRegion = std::move(callback); }

    // Without pacing every frame is grabbed and encoded at once, changed or not, and no repeat
    // frames are written: only for measuring the raw frame rate.
    void SetPaced(bool paced) { m_bPaced = paced; }
    // With a limit the recording ends by itself once the file holds that many frames (repeats
    // included), as if stopped: the finished callback runs. 0 (the default): no limit. Set
    // before Start.
    void SetFrameLimit(int64_t frames) { m_frameLimit = frames; }

    // With an open track the file gets its sound: the track begins at the first frame's moment
    // and is written between the frames, and the file ends with as much sound as picture. A
    // source lost on the way is reported once on standard error and in the status text from
    // then on; the recording goes on with silence for it. Null (the default): no sound. Set
    // before Start; the track must stay open until Stop has returned.
    void SetAudioTrack(CAudioTrack* track) { m_audio = track; }

    // Begins the file at `path` with the frame size taken from the target region's size and
    // starts both stages. False, with nothing started, when the region is empty, a recording
    // already runs, or the recorder cannot begin; the reason is in LastError().
    // `file`, when open, is the descriptor that reserved `path`: the recording is written
    // through it.
    bool Start(const CCaptureTarget& target, const std::string& path, CUniqueFd file = CUniqueFd());
    bool Start(const CSvRect& screenRegion, const std::string& path, CUniqueFd file = CUniqueFd()) {
        return Start(CCaptureTarget{0, screenRegion}, path, std::move(file));
    }

    // What the next frames are taken from; callable from any thread.
    void UpdateTarget(const CCaptureTarget& target);
    // The screen region the last frame was taken from (empty before the first); callable from
    // any thread.
    CSvRect LastRegion() const;

    // Stops both stages, waits until the file is finished and returns what was written.
    // Returns an empty result when no recording was started.
    CRecordingResult Stop();

    // While paused no frame slot passes: the file's timeline goes on at Resume where it stopped
    // at Pause (frames already grabbed are still written). The file's header is brought up to
    // date with everything written before the pause, so a paused recording that never resumes
    // still plays. A stop while paused finishes the file as usual. Callable from any thread;
    // Start begins unpaused.
    void Pause();
    void Resume();
    bool IsPaused() const { return m_bPaused; }

    // True from Start until Stop, also after the recording stopped by itself.
    bool IsRecording() const { return m_encodeThread.joinable(); }
    // True once the file is finished, until the next Start; callable from any thread.
    bool HasWorkerEnded() const { return m_bWorkerEnded; }
    const std::string& LastError() const { return m_lastError; }

private:
    enum class Outcome { kQueued, kRepeat, kStop, kFailed };

    void GrabThreadProc();
    Outcome GrabFrame(bool* grabbedAny);
    bool SameAsReference(int slot, const CSvRect& region) const;
    // Waits while paused; true when the recording is to stop.
    bool WaitWhilePaused();
    void PublishRegion(const CSvRect& region);
    CCaptureTarget CurrentTarget() const;
    // Publishes the repeats that fill the slots due by elapsed; returns how many.
    int64_t PadUntil(int64_t produced, CFrameRing::Clock::duration elapsed);
    // How many of `count` frames still fit under the frame limit after `produced`.
    int64_t FramesWithinLimit(int64_t count, int64_t produced) const;

    void EncodeThreadProc();
    bool WriteItem(const CFrameRing::Item& item);
    bool WriteSound(bool finish);
    void FinishFile(bool ok);
    void ReportStatus(const std::string& text);

    CAviRecorder& m_recorder;
    CFrameSource& m_source;
    CFrameRing m_ring;
    std::thread m_grabThread;
    std::thread m_encodeThread;

    mutable std::mutex m_regionLock;
    CCaptureTarget m_target;
    CSvRect m_lastRegion;

    StatusCallback m_onStatus;
    NoticeCallback m_onFrame;
    NoticeCallback m_onFinished;
    NoticeCallback m_onRegion;
    CAudioTrack* m_audio = nullptr;
    bool m_bPaced = true;
    int64_t m_frameLimit = 0;
    std::atomic<bool> m_bWorkerEnded{false};
    std::atomic<bool> m_bPaused{false};
    // When the last Pause and Resume were asked for (steady clock, nanoseconds since its
    // epoch): the file's timeline leaves out exactly that time.
    std::atomic<int64_t> m_pausedAtNs{0};
    std::atomic<int64_t> m_resumedAtNs{0};

    // Grab thread only (the frame size is set before it starts).
    CSvRect m_referenceRegion;  // where the reference slot's pixels come from
    CI420Converter m_converter;
    int m_frameWidth = 0;
    int m_frameHeight = 0;
    // Written by the grab thread before it finishes grabbing, read by the encode thread after.
    std::string m_grabFailure;
    // Encode thread only: the status text while recording.
    std::string m_recordingStatus;
    CUniqueFd m_fileWatch;  // the file being written, to see at the end whether it still exists
    // Written by the encode thread, read by the caller's thread after joining it.
    CRecordingResult m_result;
    std::string m_lastError;
};
