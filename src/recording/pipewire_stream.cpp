#include "recording/pipewire_stream.h"

#include <unistd.h>

#include <chrono>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

struct CPipeWireStream::State {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};

    // Guarded by the loop's lock.
    CStreamPlacement placement;
    spa_video_info_raw format{};
    pw_buffer* newest = nullptr;  // held until a newer one comes
    uint64_t pictures = 0;
    std::string failure;
};

namespace {

using State = CPipeWireStream::State;

bool PixelsOf(spa_video_format format, StreamPixels* pixels) {
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRx:
            *pixels = StreamPixels::kBgrx;
            return true;
        case SPA_VIDEO_FORMAT_BGRA:
            *pixels = StreamPixels::kBgra;
            return true;
        case SPA_VIDEO_FORMAT_RGBx:
            *pixels = StreamPixels::kRgbx;
            return true;
        case SPA_VIDEO_FORMAT_RGBA:
            *pixels = StreamPixels::kRgba;
            return true;
        default:
            return false;
    }
}

void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* s = static_cast<State*>(data);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        s->failure = std::string("the screen-sharing stream ended") +
                     (error != nullptr ? std::string(": ") + error : std::string());
        pw_thread_loop_signal(s->loop, false);
    }
}

void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* s = static_cast<State*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) {
        return;
    }
    spa_video_info_raw format{};
    if (spa_format_video_raw_parse(param, &format) < 0) {
        return;
    }
    s->format = format;
    // Pictures in memory this process can read: plain or shared-memory buffers.
    uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))))};
    pw_stream_update_params(s->stream, params, 1);
}

void OnProcess(void* data) {
    auto* s = static_cast<State*>(data);
    pw_buffer* newest = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
        if (newest != nullptr) {
            pw_stream_queue_buffer(s->stream, newest);
        }
        newest = b;
    }
    if (newest == nullptr) {
        return;
    }
    const spa_data& d = newest->buffer->datas[0];
    // A buffer with no picture (only a pointer update) changes nothing.
    if (d.data == nullptr || d.chunk == nullptr || d.chunk->size == 0) {
        pw_stream_queue_buffer(s->stream, newest);
        return;
    }
    if (s->newest != nullptr) {
        pw_stream_queue_buffer(s->stream, s->newest);
    }
    s->newest = newest;
    ++s->pictures;
    pw_thread_loop_signal(s->loop, false);
}

const pw_stream_events kStreamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = OnStateChanged;
    events.param_changed = OnParamChanged;
    events.process = OnProcess;
    return events;
}();

// The formats asked for: every 32-bit layout the copy understands, any size and rate.
const spa_pod* FormatParam(spa_pod_builder* builder) {
    const spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
    const spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    const spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
    const spa_fraction defaultRate = SPA_FRACTION(30, 1);
    const spa_fraction minRate = SPA_FRACTION(0, 1);
    const spa_fraction maxRate = SPA_FRACTION(1000, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
}

}  // namespace

CPipeWireStream::CPipeWireStream() = default;

CPipeWireStream::~CPipeWireStream() {
    Disconnect();
}

bool CPipeWireStream::Connect(int remoteFd, uint32_t node, const CStreamPlacement& placement,
                              std::string* error) {
    Disconnect();
    pw_init(nullptr, nullptr);
    m_pState = std::make_unique<State>();
    State& s = *m_pState;
    s.placement = placement;
    s.loop = pw_thread_loop_new("brintel-screen", nullptr);
    if (s.loop == nullptr) {
        ::close(remoteFd);
        *error = "cannot start the PipeWire thread";
        return false;
    }
    s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
    if (s.context == nullptr || pw_thread_loop_start(s.loop) < 0) {
        ::close(remoteFd);
        *error = "cannot start the PipeWire thread";
        return false;
    }
    pw_thread_loop_lock(s.loop);
    s.core = pw_context_connect_fd(s.context, remoteFd, nullptr, 0);  // owns the fd now
    if (s.core == nullptr) {
        pw_thread_loop_unlock(s.loop);
        *error = "cannot connect to PipeWire for the screen's pictures";
        return false;
    }
    s.stream = pw_stream_new(s.core, "BrintelShot screen",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    int result = -1;
    if (s.stream != nullptr) {
        pw_stream_add_listener(s.stream, &s.streamListener, &kStreamEvents, &s);
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1] = {FormatParam(&builder)};
        result = pw_stream_connect(
            s.stream, PW_DIRECTION_INPUT, node,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 1);
    }
    pw_thread_loop_unlock(s.loop);
    if (result < 0) {
        *error = "cannot open the screen-sharing stream";
        return false;
    }
    return true;
}

void CPipeWireStream::Disconnect() {
    if (m_pState == nullptr) {
        return;
    }
    State& s = *m_pState;
    if (s.loop != nullptr) {
        pw_thread_loop_stop(s.loop);
    }
    if (s.stream != nullptr) {
        pw_stream_destroy(s.stream);  // gives back the held buffer with the rest
    }
    if (s.core != nullptr) {
        pw_core_disconnect(s.core);
    }
    if (s.context != nullptr) {
        pw_context_destroy(s.context);
    }
    if (s.loop != nullptr) {
        pw_thread_loop_destroy(s.loop);
    }
    m_pState.reset();
}

bool CPipeWireStream::WaitForPicture(int timeoutMs, std::string* error) {
    if (m_pState == nullptr) {
        *error = "the screen-sharing stream is not open";
        return false;
    }
    State& s = *m_pState;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pw_thread_loop_lock(s.loop);
    while (s.newest == nullptr && s.failure.empty() &&
           std::chrono::steady_clock::now() < deadline) {
        pw_thread_loop_timed_wait(s.loop, 1);
    }
    const bool got = s.newest != nullptr && s.failure.empty();
    if (!got) {
        *error = s.failure.empty() ? "no picture came from the screen-sharing stream in " +
                                         std::to_string(timeoutMs / 1000) + " s"
                                   : s.failure;
    }
    pw_thread_loop_unlock(s.loop);
    return got;
}

bool CPipeWireStream::IsLive() const {
    if (m_pState == nullptr) {
        return false;
    }
    pw_thread_loop_lock(m_pState->loop);
    const bool live = m_pState->failure.empty();
    pw_thread_loop_unlock(m_pState->loop);
    return live;
}

uint64_t CPipeWireStream::PictureCount() const {
    if (m_pState == nullptr) {
        return 0;
    }
    pw_thread_loop_lock(m_pState->loop);
    const uint64_t count = m_pState->pictures;
    pw_thread_loop_unlock(m_pState->loop);
    return count;
}

bool CPipeWireStream::CopyRegion(const CSvRect& screenRegion, cv::Mat& bgrx, std::string* error) {
    if (m_pState == nullptr) {
        *error = "the screen-sharing stream is not open";
        return false;
    }
    State& s = *m_pState;
    pw_thread_loop_lock(s.loop);
    bool copied = false;
    CStreamPicture picture;
    if (!s.failure.empty()) {
        *error = s.failure;
    } else if (s.newest == nullptr) {
        *error = "no picture has come from the screen-sharing stream yet";
    } else if (!PixelsOf(s.format.format, &picture.pixels)) {
        *error = "the screen-sharing stream sends pictures in a layout this program cannot read";
    } else {
        const spa_data& d = s.newest->buffer->datas[0];
        picture.data = static_cast<const uint8_t*>(d.data) + d.chunk->offset;
        picture.width = static_cast<int>(s.format.size.width);
        picture.height = static_cast<int>(s.format.size.height);
        picture.stride = d.chunk->stride > 0 ? d.chunk->stride : picture.width * 4;
        const bool whole = static_cast<uint64_t>(picture.stride) * picture.height <=
                           static_cast<uint64_t>(d.maxsize) - d.chunk->offset;
        copied = whole && CopyStreamRegion(picture, s.placement, screenRegion, bgrx);
        if (!copied) {
            *error = "the screen-sharing stream sent a picture smaller than its size";
        }
    }
    pw_thread_loop_unlock(s.loop);
    return copied;
}
