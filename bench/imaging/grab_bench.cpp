// Milliseconds per screen grab (median), MIT-SHM and plain XGetImage, next to one memcpy of
// the same 32-bit frame. Run it on an X server, for example:
//   scripts/with-desktop.sh --bare build/bench/imaging/grab_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "imaging/screen_grabber.h"

namespace {

double MedianMs(int runs, const std::function<void()>& work) {
    for (int i = 0; i < 3; ++i) {
        work();  // warm-up: connections, segments, caches
    }
    std::vector<double> ms;
    ms.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto stop = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::nth_element(ms.begin(), ms.begin() + runs / 2, ms.end());
    return ms[runs / 2];
}

}  // namespace

int main() {
    {
        CScreenGrabber probe;
        if (!probe.IsAvailable()) {
            std::fprintf(stderr, "grab_bench: %s\n", probe.GetLastError().c_str());
            return 1;
        }
        if (!probe.UsesSharedMemory()) {
            std::fprintf(stderr, "grab_bench: note: the server offers no shared memory\n");
        }
    }
    std::printf("%-11s %14s %14s %14s %14s\n", "size", "GrabImage shm", "GrabImage get",
                "GrabBitmap shm", "memcpy 32-bit");
    const struct { int width, height, runs; } sizes[] = {{640, 480, 300}, {1920, 1080, 100}};
    for (const auto& size : sizes) {
        const CSvRect rect{0, 0, size.width, size.height};
        auto grab = [&](CScreenGrabber::Transfer transfer) {
            return MedianMs(size.runs, [&] {
                CScreenGrabber grabber(transfer);  // one grabber per grab, as the program does
                CSvImage image;
                grabber.GrabImage(rect, &image);
            });
        };
        const double shm = grab(CScreenGrabber::Transfer::kAuto);
        const double plain = grab(CScreenGrabber::Transfer::kNoSharedMemory);
        const double bitmap = MedianMs(size.runs, [&] {
            CScreenGrabber grabber;
            cv::Mat bitmap;
            grabber.GrabBitmap(rect, &bitmap);
        });
        const size_t bytes = static_cast<size_t>(size.width) * size.height * 4;
        std::vector<char> from(bytes, 1), to(bytes);
        const double copy = MedianMs(size.runs, [&] {
            std::memcpy(to.data(), from.data(), bytes);
            from[0] = to[bytes - 1];  // keeps the copy from being optimised away
        });
        std::printf("%4dx%-6d %11.3f ms %11.3f ms %11.3f ms %11.3f ms\n", size.width, size.height,
                    shm, plain, bitmap, copy);
    }
    return 0;
}
