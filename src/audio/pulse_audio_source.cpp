#include "audio/pulse_audio_source.h"

#include <pulse/pulseaudio.h>

#include <vector>

using audio_format::kChannels;
using audio_format::kSampleRate;

namespace {

constexpr pa_usec_t kFragmentUsec = 10000;  // blocks of 10 ms

// The result of one introspection query, filled on the library's thread.
struct DeviceQuery {
    explicit DeviceQuery(pa_threaded_mainloop* mainloop) : loop(mainloop) {}
    pa_threaded_mainloop* loop;
    bool done = false;
    bool found = false;
    std::string name;          // the device asked for; the server's default output
    std::string defaultInput;  // the server's default source
    bool isMonitor = false;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* data) {
    auto* query = static_cast<DeviceQuery*>(data);
    if (info != nullptr) {
        query->found = true;
        query->name = info->default_sink_name ? info->default_sink_name : "";
        query->defaultInput = info->default_source_name ? info->default_source_name : "";
    }
    query->done = true;
    pa_threaded_mainloop_signal(query->loop, 0);
}

// An output answers with the name of its monitor, an input with its own name.
void Take(DeviceQuery* query, const pa_sink_info* info) {
    query->name = info->monitor_source_name ? info->monitor_source_name : "";
}

void Take(DeviceQuery* query, const pa_source_info* info) {
    query->name = info->name;
    query->isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
}

template <typename Info>
void OnDeviceInfo(pa_context*, const Info* info, int eol, void* data) {
    auto* query = static_cast<DeviceQuery*>(data);
    if (eol == 0 && info != nullptr) {
        query->found = true;
        Take(query, info);
    }
    if (eol != 0) {
        query->done = true;
        pa_threaded_mainloop_signal(query->loop, 0);
    }
}

// Runs an operation to its end; the loop's lock is held.
bool Complete(pa_threaded_mainloop* loop, pa_operation* operation, const DeviceQuery& query) {
    if (operation == nullptr) {
        return false;
    }
    while (!query.done && pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(loop);
    }
    pa_operation_unref(operation);
    return query.done;
}

// With the loop's lock held: waits until a context or stream is ready (true) or has failed or
// ended (false). Both kinds of state count failed and ended states as their highest values.
template <typename GetState, typename State>
bool WaitUntilReady(pa_threaded_mainloop* loop, GetState state, State ready) {
    while (state() != ready) {
        if (state() > ready) {
            return false;
        }
        pa_threaded_mainloop_wait(loop);
    }
    return true;
}

}  // namespace

CPulseAudioSource::~CPulseAudioSource() {
    Close();
}

const char* CPulseAudioSource::Name() const {
    return m_kind == Kind::kDesktop ? "desktop sound" : "microphone";
}

bool CPulseAudioSource::Open(std::string* error) {
    Close();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_timeline = CAudioTimeline();
        m_begun = m_paused = m_lost = false;
        m_pausedFor = Clock::duration(0);
        m_lostReason.clear();
    }
    m_loop = pa_threaded_mainloop_new();
    if (m_loop == nullptr || pa_threaded_mainloop_start(m_loop) < 0) {
        *error = "cannot start the sound client";
        Close();
        return false;
    }
    pa_threaded_mainloop_lock(m_loop);
    m_closing = false;
    std::string device;
    const bool ok = Connect(error) && FindDevice(&device, error) && StartStream(device, error);
    pa_threaded_mainloop_unlock(m_loop);
    if (!ok) {
        Close();
    }
    return ok;
}

bool CPulseAudioSource::Connect(std::string* error) {
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "BrintelShot");
    if (m_context == nullptr) {
        *error = "cannot start the sound client";
        return false;
    }
    pa_context_set_state_callback(m_context, &CPulseAudioSource::OnContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
        WaitUntilReady(
            m_loop, [this] { return pa_context_get_state(m_context); }, PA_CONTEXT_READY)) {
        return true;
    }
    *error = std::string("no sound server: ") + pa_strerror(pa_context_errno(m_context));
    return false;
}

bool CPulseAudioSource::FindDevice(std::string* device, std::string* error) {
    DeviceQuery server{m_loop};
    if (!Complete(m_loop, pa_context_get_server_info(m_context, &OnServerInfo, &server), server) ||
        !server.found) {
        *error = "the sound server does not answer";
        return false;
    }
    const std::string& sink = server.name;
    const std::string& source = server.defaultInput;
    DeviceQuery query{m_loop};
    if (m_kind == Kind::kDesktop) {
        if (!sink.empty()) {
            Complete(m_loop,
                     pa_context_get_sink_info_by_name(m_context, sink.c_str(),
                                                      &OnDeviceInfo<pa_sink_info>, &query),
                     query);
        }
        if (!query.found || query.name.empty()) {
            *error = "no sound output";
            return false;
        }
    } else {
        if (!source.empty()) {
            Complete(m_loop,
                     pa_context_get_source_info_by_name(m_context, source.c_str(),
                                                        &OnDeviceInfo<pa_source_info>, &query),
                     query);
        }
        // Without an input the server offers an output's monitor as the default source.
        if (!query.found || query.isMonitor) {
            *error = "no microphone";
            return false;
        }
    }
    *device = query.name;
    return true;
}

bool CPulseAudioSource::StartStream(const std::string& device, std::string* error) {
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, kSampleRate, kChannels};
    m_stream = pa_stream_new(m_context, "BrintelShot recording", &sampleFormat, nullptr);
    if (m_stream == nullptr) {
        *error = std::string("cannot record the ") + Name();
        return false;
    }
    pa_stream_set_state_callback(m_stream, &CPulseAudioSource::OnStreamState, this);
    pa_stream_set_read_callback(m_stream, &CPulseAudioSource::OnRead, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &sampleFormat));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(m_stream, device.c_str(), &attributes, flags) >= 0 &&
        WaitUntilReady(
            m_loop, [this] { return pa_stream_get_state(m_stream); }, PA_STREAM_READY)) {
        return true;
    }
    *error = std::string("cannot record the ") + Name() + ": " +
             pa_strerror(pa_context_errno(m_context));
    return false;
}

void CPulseAudioSource::Close() {
    if (m_loop == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(m_loop);
    m_closing = true;
    if (m_stream != nullptr) {
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}

void CPulseAudioSource::OnContextState(pa_context* context, void* data) {
    auto* self = static_cast<CPulseAudioSource*>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state) && !self->m_closing) {
        self->NoteLost(std::string("the sound server went away: ") +
                       pa_strerror(pa_context_errno(context)));
    }
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void CPulseAudioSource::OnStreamState(pa_stream* stream, void* data) {
    auto* self = static_cast<CPulseAudioSource*>(data);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && !self->m_closing) {
        self->NoteLost(pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
    }
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void CPulseAudioSource::OnRead(pa_stream*, size_t, void* data) {
    static_cast<CPulseAudioSource*>(data)->ReadBlocks();
}

void CPulseAudioSource::ReadBlocks() {
    while (pa_stream_readable_size(m_stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(m_stream, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        const Clock::time_point now = Clock::now();
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(m_stream, &latency, &negative) < 0 || negative) {
            latency = 0;
        }
        // The latency is how long ago the first frame of what is waiting was captured. A hole
        // in the stream (no data) is left to the timeline's silence.
        if (data != nullptr) {
            const Clock::time_point captured = now - std::chrono::microseconds(latency);
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_begun && !m_paused) {
                m_timeline.Place(PositionOf(captured), static_cast<const int16_t*>(data),
                                 int64_t(bytes / (sizeof(int16_t) * kChannels)));
                m_placed.notify_all();
            }
        }
        pa_stream_drop(m_stream);
    }
}

void CPulseAudioSource::NoteLost(const std::string& reason) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_lost) {
        m_lost = true;
        m_lostReason = reason;
    }
    m_placed.notify_all();
}

int64_t CPulseAudioSource::PositionOf(Clock::time_point at) const {
    const auto since =
        std::chrono::duration_cast<std::chrono::nanoseconds>(at - m_zero - m_pausedFor);
    // Rounded down, also before zero.
    const int64_t scaled = since.count() * kSampleRate;
    return scaled >= 0 ? scaled / 1000000000 : -((-scaled + 999999999) / 1000000000);
}

void CPulseAudioSource::Begin(Clock::time_point zero, int64_t firstPosition) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_zero = zero;
    m_timeline.DropBefore(firstPosition);
    m_begun = true;
}

void CPulseAudioSource::Pause(Clock::time_point at) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_paused) {
        m_paused = true;
        m_pausedAt = at;
    }
}

void CPulseAudioSource::Resume(Clock::time_point at) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_paused) {
        m_paused = false;
        m_pausedFor += at - m_pausedAt;
    }
}

void CPulseAudioSource::Take(int64_t upTo, int16_t* out) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_timeline.Take(upTo, out);
}

void CPulseAudioSource::WaitFor(int64_t position, Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_placed.wait_until(lock, deadline, [&] { return m_lost || m_timeline.End() >= position; });
}

bool CPulseAudioSource::IsLost(std::string* reason) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_lost && reason != nullptr) {
        *reason = m_lostReason;
    }
    return m_lost;
}
