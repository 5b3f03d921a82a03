// Fuzz entry point: opens arbitrary bytes as an AVI file, with and without the index,
// and walks every frame and audio operation. Buffers are exactly as large as the reader
// says they must be, so any read past them shows up under the address sanitizer.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_writer.h"

namespace {

constexpr int kMaxFrames = 2000;

void WalkFrames(avi_file* avi) {
    int count = AVI_get_frame_count(avi);
    for (int i = 0; i < count && i < kMaxFrames; ++i) {
        int length = AVI_get_frame_length(avi, i);
        int listed = -1;
        if (length < 0) {  // opened without the index: frames cannot be reached
            char none[1];
            if (AVI_goto_frame(avi, i, &listed) != -1 || AVI_fetch_frame(avi, none) != -1) {
                __builtin_trap();
            }
            break;
        }
        if (AVI_goto_frame(avi, i, &listed) != 0 || listed != length) {
            __builtin_trap();
        }
        std::vector<char> frame(static_cast<size_t>(length));
        int got = AVI_fetch_frame(avi, frame.data());
        if (got != -1 && got != length) {
            __builtin_trap();
        }
    }
    AVI_goto_frame(avi, count, nullptr);
    AVI_goto_frame(avi, -7, nullptr);
    AVI_get_frame_length(avi, count);
}

void WalkAudio(avi_file* avi) {
    int total = AVI_get_audio_total(avi);
    std::vector<char> block(997);
    AVI_rewind_movi(avi);
    int read = 0, got;
    while ((got = AVI_fetch_audio(avi, block.data(), int(block.size()))) > 0) {
        read += got;
    }
    if (got == 0 && avi->audio_table != nullptr && read != total) {
        __builtin_trap();
    }
    long long t = total;
    for (long long byte : {-1LL, 0LL, 1LL, t / 2, t - 1, t, t + 1, t + 1000}) {
        if (AVI_goto_audio_byte(avi, int(std::clamp<long long>(byte, INT_MIN, INT_MAX))) == 0) {
            AVI_fetch_audio(avi, block.data(), 13);
        }
    }
    for (int chunk = -1; chunk <= avi->audio_chunk_count && chunk < kMaxFrames; ++chunk) {
        int length = -1;
        if (AVI_goto_audio_chunk(avi, chunk, &length) == 0) {
            std::vector<char> data(static_cast<size_t>(length));
            if (AVI_fetch_audio(avi, data.data(), length) > length) {
                __builtin_trap();
            }
        }
    }
}

void WalkChunks(avi_file* avi) {
    AVI_rewind_movi(avi);
    std::vector<char> video(512), audio(64);
    int length = 0;
    for (int i = 0; i < 4 * kMaxFrames; ++i) {
        if (AVI_fetch_next_chunk(avi, video.data(), int(video.size()), audio.data(),
                                 int(audio.size()), &length) == 0) {
            break;
        }
    }
}

void Exercise(const std::string& path, int build_index) {
    avi_file* avi = AVI_open_for_reading(path.c_str(), build_index);
    if (avi == nullptr) {
        return;
    }
    AVI_get_width(avi);
    AVI_get_height(avi);
    AVI_get_fps(avi);
    AVI_get_compressor(avi);
    WalkFrames(avi);
    WalkAudio(avi);
    WalkChunks(avi);
    AVI_close_file(avi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = memfd_create("avi-fuzz", MFD_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            return 0;
        }
        done += size_t(n);
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    Exercise(path, 1);
    Exercise(path, 0);
    close(fd);
    return 0;
}
