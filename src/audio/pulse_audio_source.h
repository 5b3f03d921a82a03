#pragma once
// One sound source of a recording through the PulseAudio client library (PulseAudio itself, or
// PipeWire's pulse server): the desktop's sound (the monitor of the default output) or the
// microphone (the default input). The library's own thread receives the blocks, stamps each on
// the monotonic clock of the video frames (its arrival time less the latency the server reports)
// and lays it on the source's timeline; the recording's encode thread takes the sound from
// there. The stream never follows another device: a source that vanishes is reported lost and
// its time stays silent.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/audio_timeline.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

class CPulseAudioSource {
public:
    using Clock = std::chrono::steady_clock;
    enum class Kind { kDesktop, kMicrophone };

    explicit CPulseAudioSource(Kind kind) : m_kind(kind) {}
    ~CPulseAudioSource();
    CPulseAudioSource(const CPulseAudioSource&) = delete;
    CPulseAudioSource& operator=(const CPulseAudioSource&) = delete;

    // "desktop sound" or "microphone", for messages.
    const char* Name() const;

    // Connects to the sound server and starts capturing. False, with the reason ("no
    // microphone"), when the source cannot be recorded.
    bool Open(std::string* error);
    // Ends capturing and the connection; also done by the destructor.
    void Close();

    // Timeline position 0 is `zero`; sound from before it is dropped, and so is sound before
    // firstPosition (what the MP3 encoder's start-up delay makes up for).
    void Begin(Clock::time_point zero, int64_t firstPosition);
    // From `at` until Resume, the sound is left out and the timeline stands still.
    void Pause(Clock::time_point at);
    void Resume(Clock::time_point at);

    // The timeline up to upTo into out (see CAudioTimeline::Take).
    void Take(int64_t upTo, int16_t* out);
    // Waits until the sound up to `position` has come, the source is lost, or `deadline`.
    void WaitFor(int64_t position, Clock::time_point deadline);
    // The timeline position of the time point `at`.
    int64_t PositionOf(Clock::time_point at) const;

    // True once the source is gone; *reason says why.
    bool IsLost(std::string* reason) const;

private:
    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnRead(pa_stream* stream, size_t bytes, void* self);
    bool Connect(std::string* error);
    bool FindDevice(std::string* device, std::string* error);
    bool StartStream(const std::string& device, std::string* error);
    void WaitForServer();
    void ReadBlocks();
    void NoteLost(const std::string& reason);

    const Kind m_kind;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    bool m_closing = false;  // under the loop's lock

    mutable std::mutex m_lock;  // the members below
    std::condition_variable m_placed;
    CAudioTimeline m_timeline;
    bool m_begun = false;
    Clock::time_point m_zero;
    Clock::duration m_pausedFor{0};
    bool m_paused = false;
    Clock::time_point m_pausedAt;
    bool m_lost = false;
    std::string m_lostReason;
};
