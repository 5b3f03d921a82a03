#include "recording/recording_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/console_line.h"
#include "recording/frame_pacing.h"

namespace {
constexpr int64_t kSamplesPerVideoFrame =
    audio_format::kSampleRate / CAviRecorder::kFramesPerSecond;
static_assert(kSamplesPerVideoFrame * CAviRecorder::kFramesPerSecond == audio_format::kSampleRate,
              "a video frame lasts a whole number of sample frames");
}  // namespace

std::string CRecordingResult::Summary() const {
    char counts[160];
    std::snprintf(counts, sizeof counts, "[ %d Frames , %d x %d , %lld bytes]", frameCount,
                  frameWidth, frameHeight, static_cast<long long>(totalBytes));
    return std::string("녹화가 완료되었습니다.\n") + counts + "\n" + path;
}

CRecordingSession::CRecordingSession(CAviRecorder& recorder, CFrameSource& source)
    : m_recorder(recorder), m_source(source) {}

CRecordingSession::~CRecordingSession() {
    Stop();
}

bool CRecordingSession::Start(const CCaptureTarget& target, const std::string& path,
                              CUniqueFd file) {
    if (IsRecording()) {
        m_lastError = "already recording";
        return false;
    }
    if (target.region.IsEmpty()) {
        m_lastError = "empty region";
        return false;
    }
    const bool withSound = m_audio != nullptr && m_audio->IsOpen();
    m_recorder.SetAudioFormat(withSound ? audio_format::kMp3FormatTag : 0,
                              audio_format::kSampleRate, audio_format::kChannels);
    CUniqueFd watch(file.IsOpen() ? dup(file.Get()) : -1);
    if (!m_recorder.BeginRecording(target.region, path, std::move(file))) {
        m_lastError = m_recorder.LastError();
        return false;
    }
    m_lastError.clear();
    m_fileWatch = std::move(watch);
    m_result = CRecordingResult();
    m_grabFailure.clear();
    m_referenceRegion = CSvRect{};
    m_frameWidth = m_recorder.FrameWidth();
    m_frameHeight = m_recorder.FrameHeight();
    {
        std::lock_guard<std::mutex> lock(m_regionLock);
        m_target = target;
        m_lastRegion = CSvRect{};
    }
    m_ring.Reset();
    m_recordingStatus = kStatusRecording;
    m_bWorkerEnded = false;
    m_bPaused = false;
    m_encodeThread = std::thread(&CRecordingSession::EncodeThreadProc, this);
    m_grabThread = std::thread(&CRecordingSession::GrabThreadProc, this);
    return true;
}

void CRecordingSession::UpdateTarget(const CCaptureTarget& target) {
    std::lock_guard<std::mutex> lock(m_regionLock);
    m_target = target;
}

CCaptureTarget CRecordingSession::CurrentTarget() const {
    std::lock_guard<std::mutex> lock(m_regionLock);
    return m_target;
}

CSvRect CRecordingSession::LastRegion() const {
    std::lock_guard<std::mutex> lock(m_regionLock);
    return m_lastRegion;
}

void CRecordingSession::PublishRegion(const CSvRect& region) {
    {
        std::lock_guard<std::mutex> lock(m_regionLock);
        if (region == m_lastRegion) {
            return;
        }
        m_lastRegion = region;
    }
    if (m_onRegion) {
        m_onRegion();
    }
}

void CRecordingSession::Pause() {
    if (!m_bPaused) {
        const auto now = CFrameRing::Clock::now();
        m_pausedAtNs = now.time_since_epoch().count();
        m_bPaused = true;
        if (m_audio != nullptr) {
            m_audio->Pause(now);
        }
    }
}

void CRecordingSession::Resume() {
    if (m_bPaused) {
        const auto now = CFrameRing::Clock::now();
        m_resumedAtNs = now.time_since_epoch().count();
        m_bPaused = false;
        if (m_audio != nullptr) {
            m_audio->Resume(now);
        }
    }
}

CRecordingResult CRecordingSession::Stop() {
    if (!m_encodeThread.joinable()) {
        return CRecordingResult();
    }
    m_ring.RequestStop();
    m_grabThread.join();
    m_encodeThread.join();
    return m_result;
}

void CRecordingSession::ReportStatus(const std::string& text) {
    if (m_onStatus) {
        m_onStatus(text);
    }
}

// --- grab stage ---

bool CRecordingSession::SameAsReference(int slot, const CSvRect& region) const {
    const int reference = m_ring.Reference();
    if (reference < 0 || region != m_referenceRegion) {
        return false;
    }
    // Both are frames of the recording's size; the reference is only read while kept.
    const cv::Mat& previous = m_ring.Pixels(reference);
    const cv::Mat& current = m_ring.Pixels(slot);
    return previous.size() == current.size() &&
           std::memcmp(previous.data, current.data, current.total() * current.elemSize()) == 0;
}

CRecordingSession::Outcome CRecordingSession::GrabFrame(bool* grabbedAny) {
    CSvRect previous;
    {
        std::lock_guard<std::mutex> lock(m_regionLock);
        previous = m_lastRegion;
    }
    const CSvRect region = m_source.Locate(CurrentTarget(), previous);
    PublishRegion(region);
    // Asked for every frame, so that what was drawn before this grab is never reported later.
    const CFrameSource::Change change = m_source.TakeChange(region);
    const bool sameRegion = m_ring.Reference() >= 0 && region == m_referenceRegion;
    if (m_bPaced && sameRegion && change == CFrameSource::Change::kNone) {
        return Outcome::kRepeat;
    }

    std::string error;
    if (region.IsEmpty()) {
        error = "the rectangle is empty";
    } else {
        const int slot = m_ring.AcquireFree();
        if (slot < 0) {
            return Outcome::kStop;
        }
        // The frame's memory is kept from one grab (and recording) to the next.
        cv::Mat& frame = m_ring.Pixels(slot);
        CI420Converter::CreateFrame(m_frameWidth, m_frameHeight, frame);
        CBgrxPicture picture;
        if (m_source.Grab(region, &picture, &error) && m_converter.Convert(picture, frame)) {
            if (m_bPaced && SameAsReference(slot, region)) {
                m_ring.Discard(slot);
                return Outcome::kRepeat;
            }
            m_referenceRegion = region;
            m_ring.Publish(slot);
            *grabbedAny = true;
            return Outcome::kQueued;
        }
        m_ring.Discard(slot);
    }
    if (!*grabbedAny) {
        // With no picture to repeat the file would hold nothing but empty frames.
        m_grabFailure = "Grabbing the screen failed: " + error;
        return Outcome::kFailed;
    }
    // The window is momentarily smaller than its bands, or the grab failed: keep the
    // timeline going with the previous picture.
    return Outcome::kRepeat;
}

// A pause is rare and short-lived against the cost of a recording: looking every 10 ms keeps
// the resume prompt without another wake-up path between the caller and this thread.
bool CRecordingSession::WaitWhilePaused() {
    while (m_bPaused) {
        if (m_ring.WaitForStop(CFrameRing::Clock::now() + std::chrono::milliseconds(10))) {
            return true;
        }
    }
    return false;
}

// The part up to a pause or the stop lasts until then: the slots it still owes are repeats.
int64_t CRecordingSession::PadUntil(int64_t produced, CFrameRing::Clock::duration elapsed) {
    const int64_t pad = FramesWithinLimit(pacing::FramesToPadAtStop(produced, elapsed), produced);
    m_ring.PublishRepeats(pad);
    return pad;
}

int64_t CRecordingSession::FramesWithinLimit(int64_t count, int64_t produced) const {
    return m_frameLimit > 0 ? std::max<int64_t>(0, std::min(count, m_frameLimit - produced))
                            : count;
}

void CRecordingSession::GrabThreadProc() {
    using Clock = CFrameRing::Clock;
    std::string error;
    if (!m_source.Open(&error)) {
        m_grabFailure = "Grabbing the screen failed: " + error;
        m_ring.FinishGrabbing();
        return;
    }
    Clock::time_point start = Clock::now();
    if (m_audio != nullptr) {
        m_audio->Begin(start);
    }
    int64_t produced = 0;  // frame slots filled: frames queued and repeats
    bool grabbedAny = false;
    bool failed = false;
    for (;;) {
        if (FramesWithinLimit(1, produced) == 0) {
            break;
        }
        if (m_bPaused) {
            // The part before the pause lasts until the pause, as at a stop; the next slot is
            // due at the resume.
            const Clock::time_point pausedAt{Clock::duration(m_pausedAtNs.load())};
            if (m_bPaced) {
                produced += PadUntil(produced, pausedAt - start);
            }
            m_ring.RequestFlush();
            const bool stop = WaitWhilePaused();
            const Clock::time_point resumedAt =
                stop ? Clock::now() : Clock::time_point{Clock::duration(m_resumedAtNs.load())};
            start = std::max(pausedAt, resumedAt) - pacing::SlotTime(produced);
            if (stop) {
                break;
            }
            continue;
        }
        if (m_bPaced) {
            const pacing::Step step = pacing::NextStep(produced, Clock::now() - start);
            if (!step.grabFrame) {
                if (m_ring.WaitForStop(Clock::now() + step.waitFor)) {
                    break;
                }
                continue;
            }
            const int64_t repeats = FramesWithinLimit(step.repeatFrames, produced);
            m_ring.PublishRepeats(repeats);
            produced += repeats;
            if (FramesWithinLimit(1, produced) == 0) {
                break;
            }
        } else if (grabbedAny && m_ring.WaitForStop(Clock::now())) {
            break;
        }
        const Outcome outcome = GrabFrame(&grabbedAny);
        if (outcome == Outcome::kStop) {
            break;
        }
        if (outcome == Outcome::kFailed) {
            failed = true;
            break;
        }
        if (outcome == Outcome::kRepeat) {
            m_ring.PublishRepeats(1);
        }
        ++produced;
    }
    if (!failed && m_bPaced) {
        PadUntil(produced, Clock::now() - start);
    }
    m_source.Close();
    m_ring.FinishGrabbing();
}

// --- encode stage ---

bool CRecordingSession::WriteItem(const CFrameRing::Item& item) {
    if (item.flush) {
        return m_recorder.RefreshFile();
    }
    for (int64_t i = 0; i < item.repeats; ++i) {
        if (!m_recorder.AddRepeatFrame()) {
            return false;
        }
    }
    if (item.slot >= 0 && !m_recorder.AddPlanarFrame(m_ring.Pixels(item.slot))) {
        return false;
    }
    if (!WriteSound(false)) {
        return false;
    }
    if (m_onFrame) {
        m_onFrame();
    }
    ReportStatus(m_recordingStatus);
    return true;
}

bool CRecordingSession::WriteSound(bool finish) {
    if (m_audio == nullptr || !m_audio->IsOpen()) {
        return true;
    }
    const auto sink = [this](const unsigned char* data, int bytes) {
        return m_recorder.AddAudioChunk(data, bytes);
    };
    const int64_t videoEnd = int64_t(m_recorder.FrameCount()) * kSamplesPerVideoFrame;
    const bool ok = finish ? m_audio->Finish(videoEnd, sink) : m_audio->Pump(videoEnd, sink);
    const std::string loss = m_audio->TakeLossNotice();
    if (!loss.empty()) {
        WriteLineNoWait(2, "brintelshot: " + loss + "; the recording goes on without it\n");
        m_recordingStatus = std::string(kStatusRecording) + " (" + loss + ")";
    }
    return ok;
}

void CRecordingSession::EncodeThreadProc() {
    bool ok = true;
    CFrameRing::Item item;
    // The slot last encoded stays out of the ring until the next one is encoded or the file
    // is finished: the recorder encodes that picture again in place of a repeat where a key
    // frame is due, and at the end of a still tail.
    int encoded = -1;
    while (m_ring.Take(&item)) {
        ok = WriteItem(item);
        if (item.slot >= 0) {
            if (encoded >= 0) {
                m_ring.Release(encoded);
            }
            encoded = item.slot;
        }
        if (!ok) {
            m_ring.Halt();
            break;
        }
    }
    if (ok && !m_grabFailure.empty()) {
        ok = false;
        m_result.error = m_grabFailure;
    }
    FinishFile(ok);
    if (encoded >= 0) {
        m_ring.Release(encoded);
    }
}

void CRecordingSession::FinishFile(bool ok) {
    m_result.failed = !ok;
    if (!ok && m_result.error.empty()) {
        m_result.error = m_recorder.LastError();
    }
    if (ok && !WriteSound(true)) {
        m_result.failed = true;
        m_result.error = m_recorder.LastError();
    }
    bool finishFailed = false;
    m_result.totalBytes = m_recorder.EndRecording(&finishFailed);
    if (finishFailed && !m_result.failed) {
        m_result.failed = true;
        m_result.error = m_recorder.LastError();
    }
    // A file whose folder was removed (or that was deleted) during the recording is gone
    // with it, however well it was finished.
    struct stat info {};
    if (!m_result.failed && m_fileWatch.IsOpen() && fstat(m_fileWatch.Get(), &info) == 0 &&
        info.st_nlink == 0) {
        m_result.failed = true;
        m_result.error = "the file was deleted during the recording (with its folder?)";
    }
    m_fileWatch.Reset();
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
