// Fuzz entry point: opens arbitrary bytes as an AVI file, with and without the index, walks
// every frame and audio operation, and repairs it as an unfinished recording. Buffers are
// exactly as large as the reader says they must be, so any read past them shows up under the
// address sanitizer.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_repair.h"
#include "encoding/avi/avi_writer.h"

namespace {

constexpr int kMaxFrames = 2000;

void Check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

void WalkFrames(avi_file* avi) {
    const int count = AVI_get_frame_count(avi);
    for (int i = 0; i < count && i < kMaxFrames; ++i) {
        const int length = AVI_get_frame_length(avi, i);
        int listed = -1;
        if (length < 0) {  // opened without the index: frames cannot be reached
            char none[1];
            Check(AVI_goto_frame(avi, i, &listed) == -1 && AVI_fetch_frame(avi, none) == -1);
            break;
        }
        Check(AVI_goto_frame(avi, i, &listed) == 0 && listed == length);
        std::vector<char> frame(static_cast<size_t>(length));
        const int got = AVI_fetch_frame(avi, frame.data());
        Check(got == -1 || got == length);
    }
    AVI_goto_frame(avi, count, nullptr);
    AVI_goto_frame(avi, -7, nullptr);
    AVI_get_frame_length(avi, count);
}

void WalkAudio(avi_file* avi) {
    const long long total = AVI_get_audio_total(avi);
    std::vector<char> block(997);
    AVI_rewind_movi(avi);
    int read = 0, got;
    while ((got = AVI_fetch_audio(avi, block.data(), int(block.size()))) > 0) {
        read += got;
    }
    Check(got != 0 || avi->audio_table == nullptr || read == total);
    for (long long byte : {-1LL, 0LL, 1LL, total / 2, total - 1, total, total + 1, total + 1000}) {
        if (AVI_goto_audio_byte(avi, int(std::clamp<long long>(byte, INT_MIN, INT_MAX))) == 0) {
            AVI_fetch_audio(avi, block.data(), 13);
        }
    }
    for (int chunk = -1; chunk <= avi->audio_chunk_count && chunk < kMaxFrames; ++chunk) {
        int length = -1;
        if (AVI_goto_audio_chunk(avi, chunk, &length) == 0) {
            std::vector<char> data(static_cast<size_t>(length));
            Check(AVI_fetch_audio(avi, data.data(), length) <= length);
        }
    }
    AVI_rewind_movi(avi);
    std::vector<char> video(512), audio(64);
    int length = 0;
    for (int i = 0; i < 4 * kMaxFrames &&
                    AVI_fetch_next_chunk(avi, video.data(), 512, audio.data(), 64, &length) != 0;
         ++i) {
    }
}

void Exercise(const std::string& path, int build_index) {
    if (avi_file* avi = AVI_open_for_reading(path.c_str(), build_index)) {
        AVI_get_width(avi);
        AVI_get_height(avi);
        AVI_get_fps(avi);
        AVI_get_compressor(avi);
        WalkFrames(avi);
        WalkAudio(avi);
        AVI_close_file(avi);
    }
}

int FramesRead(const std::string& path) {
    avi_file* avi = AVI_open_for_reading(path.c_str(), 1);
    const int frames = avi != nullptr ? AVI_get_frame_count(avi) : 0;
    AVI_close_file(avi);
    return frames;
}

// The repair keeps at least the frames a reader found before (unless an index chunk lies in
// the input, which the reader trusts and the repair rewrites), and the repaired file reads
// back with them; a refused or failed repair changes nothing.
void Repair(int fd, const std::string& path, const uint8_t* data, size_t size) {
    static const uint8_t kIndexId[] = {'i', 'd', 'x', '1'};
    const bool indexed = std::search(data, data + size, kIndexId, kIndexId + 4) != data + size;
    const int before = FramesRead(path);
    const AviRepairReport report = AVI_repair_recording_fd(fd);
    if (report.outcome == AviRepairOutcome::kRepaired) {
        const int after = FramesRead(path);
        Check(after == report.frames && report.frames >= report.frames_readable_before &&
              (indexed || after >= before));
        return;
    }
    std::vector<uint8_t> now(size + 1);
    Check(pread(fd, now.data(), now.size(), 0) == ssize_t(size) &&
          std::equal(data, data + size, now.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("avi-fuzz", MFD_CLOEXEC);
    if (fd >= 0 && write(fd, data, size) == ssize_t(size)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        Exercise(path, 1);
        Exercise(path, 0);
        Repair(fd, path, data, size);
    }
    if (fd >= 0) {
        close(fd);
    }
    return 0;
}

#ifndef BRINTEL_FUZZ_ENGINE
// Without libFuzzer: replays every file of the folder given, so the corpus runs in every build.
int main(int argc, char** argv) {
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argc > 1 ? argv[1] : ".")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++replayed;
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
#endif
