// What keeping a recording playable costs: the AVI writer's header refresh (data pushed to the
// disk, counts rewritten) against the recording it protects.
//
// 1. Records a moving picture through the recording front at 30 frames per second (encoder
//    and writer, no grabbing: the recording's CPU here is below a real one's, so the share
//    printed is an upper bound).
// 2. Writes the same encoded frames again through the writer alone, paced the same, once with
//    the refresh and once without, and prints the CPU, the bytes written and the longest
//    frame write of each, and the refresh's CPU as a share of the recording's.
//
//   avi_refresh_bench [seconds] [folder]    (default 10 s in the current folder; use a folder
//                                            on a real disk, not tmpfs, for the sync figures)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_writer.h"
#include "encoding/avi_recorder.h"
#include "imaging/sv_image.h"

namespace {

using Clock = std::chrono::steady_clock;
const auto kFrameTime = std::chrono::microseconds(1000000 / CAviRecorder::kFramesPerSecond);

// CPU seconds of the calling thread (exact, not sampled at clock ticks).
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// A field of /proc/self/io: "wchar" (bytes passed to write calls) or "write_bytes" (bytes
// sent to the storage layer).
long long IoCounter(const std::string& name) {
    std::ifstream in("/proc/self/io");
    std::string key;
    long long value = 0;
    while (in >> key >> value) {
        if (key == name + ":") {
            return value;
        }
    }
    return 0;
}

// Smooth diagonal waves that move with i, so every frame differs everywhere.
void DrawFrame(CSvImage& image, int width, int height, int i) {
    for (int y = 0; y < height; ++y) {
        unsigned char* row = image.GetRow(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<unsigned char>(std::abs(((2 * x + 5 * i) & 511) - 256));
            row[3 * x + 1] = static_cast<unsigned char>(std::abs(((2 * y + 3 * i) & 511) - 256));
            row[3 * x + 2] = static_cast<unsigned char>(std::abs(((x + y + 7 * i) & 511) - 256));
        }
    }
}

// Records `frames` frames at 30 per second through the front; the thread's CPU seconds.
double RecordThroughFront(int width, int height, int frames, const std::string& path) {
    std::fflush(stdout);  // the front prints one line per frame: not part of the report
    const int savedStdout = dup(1);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    close(devNull);
    CAviRecorder recorder;
    CSvImage image;
    image.Create(width, height, 3);
    double cpu = 0;
    if (recorder.BeginRecording(CSvRect{0, 0, width, height}, path)) {
        Clock::time_point due = Clock::now();
        for (int i = 0; i < frames; ++i) {
            DrawFrame(image, width, height, i);  // stands in for a grab: not counted
            const double before = ThreadCpuSeconds();
            recorder.AddFrame(&image);
            cpu += ThreadCpuSeconds() - before;
            std::this_thread::sleep_until(due += kFrameTime);
        }
        const double before = ThreadCpuSeconds();
        recorder.EndRecording();
        cpu += ThreadCpuSeconds() - before;
    }
    std::fflush(stdout);
    dup2(savedStdout, 1);
    close(savedStdout);
    return cpu;
}

std::vector<std::vector<char>> ReadFrames(const std::string& path) {
    std::vector<std::vector<char>> frames;
    avi_file* in = AVI_open_for_reading(path.c_str(), 1);
    for (int i = 0; in != nullptr && i < AVI_get_frame_count(in); ++i) {
        std::vector<char> frame(static_cast<size_t>(AVI_get_frame_length(in, i)) + 1);
        AVI_fetch_frame(in, frame.data());
        frame.pop_back();
        frames.push_back(std::move(frame));
    }
    AVI_close_file(in);
    return frames;
}

struct WriterFigures {
    double cpuSeconds = 0;
    long long wchar = 0;
    long long writeBytes = 0;
    double longestPutMs = 0;
};

// Writes the frames at 30 per second; refreshMs as for AVI_set_header_refresh.
WriterFigures WriteFrames(const std::vector<std::vector<char>>& frames, int width, int height,
                          int refreshMs, const std::string& path) {
    WriterFigures figures;
    const long long wchar = IoCounter("wchar");
    const long long writeBytes = IoCounter("write_bytes");
    avi_file* avi = AVI_create_output_file(path.c_str());
    if (avi == nullptr) {
        return figures;
    }
    AVI_set_video_format(avi, width, height, CAviRecorder::kFramesPerSecond, "xvid");
    AVI_set_audio_format(avi, 0, 44100, 16, 0);
    AVI_set_header_refresh(avi, refreshMs);
    Clock::time_point due = Clock::now();
    for (size_t i = 0; i < frames.size(); ++i) {
        const double before = ThreadCpuSeconds();
        const Clock::time_point start = Clock::now();
        AVI_put_video_frame(avi, frames[i].data(), int(frames[i].size()), i == 0);
        figures.longestPutMs =
            std::max(figures.longestPutMs,
                     std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        figures.cpuSeconds += ThreadCpuSeconds() - before;
        std::this_thread::sleep_until(due += kFrameTime);
    }
    AVI_close_file(avi);
    figures.wchar = IoCounter("wchar") - wchar;
    figures.writeBytes = IoCounter("write_bytes") - writeBytes;
    std::remove(path.c_str());
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::string folder = argc > 2 ? argv[2] : ".";
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: avi_refresh_bench [seconds] [folder]\n");
        return 2;
    }
    const int frames = int(seconds * CAviRecorder::kFramesPerSecond);
    const int sizes[][2] = {{640, 480}, {1920, 1080}};
    for (const auto& size : sizes) {
        const std::string path = folder + "/avi_refresh_bench.avi";
        const double recording = RecordThroughFront(size[0], size[1], frames, path);
        const std::vector<std::vector<char>> encoded = ReadFrames(path);
        std::remove(path.c_str());
        const int width = CAviRecorder::FrameDimensionOf(size[0]);
        const int height = CAviRecorder::FrameDimensionOf(size[1]);
        const WriterFigures off = WriteFrames(encoded, width, height, -1, path);
        const WriterFigures on = WriteFrames(encoded, width, height, AVI_HEADER_REFRESH_MS, path);
        std::printf(
            "%dx%d, %d frames in %.0f s: recording (encode + write) %.3f CPU s\n"
            "  writer without refresh: %.4f CPU s, %lld bytes written, %lld bytes to storage, "
            "longest frame %.1f ms\n"
            "  writer with refresh:    %.4f CPU s, %lld bytes written, %lld bytes to storage, "
            "longest frame %.1f ms\n"
            "  refresh: %+.4f CPU s = %.3f%% of the recording's CPU, %+lld bytes written\n",
            width, height, int(encoded.size()), seconds, recording, off.cpuSeconds, off.wchar,
            off.writeBytes, off.longestPutMs, on.cpuSeconds, on.wchar, on.writeBytes,
            on.longestPutMs, on.cpuSeconds - off.cpuSeconds,
            recording > 0 ? 100 * (on.cpuSeconds - off.cpuSeconds) / recording : 0.0,
            on.wchar - off.wchar);
        std::fflush(stdout);
    }
    return 0;
}
