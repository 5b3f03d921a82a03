// What drawing the mouse pointer adds to one 1920 x 1080 frame when the pointer keeps its shape:
// the blend alone (24- and 32-bit frames), the blend with the pointer read from the X server,
// and the whole per-frame call of a recording (a grabber from the pool, read and blend); next
// to it the image conversion paid once per shape change, and a 32-bit grab of the same frame
// for scale. Microseconds per frame, averaged over many frames. Run it on an X server:
//   scripts/with-desktop.sh --bare build/bench/imaging/pointer_bench
#include <X11/Xlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "imaging/pointer_overlay.h"
#include "imaging/screen_grabber.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

double MicrosecondsPerRun(int runs, const std::function<void()>& work) {
    work();  // warm-up: connections, caches
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        work();
    }
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::micro>(stop - start).count() / runs;
}

// A 32 x 32 pointer like a theme's: an opaque disc with a soft edge, transparent corners.
std::vector<unsigned long> SoftDisc(int side) {
    std::vector<unsigned long> argb(static_cast<size_t>(side) * side);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double distance = std::hypot(x - side / 2.0 + 0.5, y - side / 2.0 + 0.5);
            const double coverage = std::min(1.0, std::max(0.0, side / 2.0 - distance));
            const unsigned long alpha = static_cast<unsigned long>(coverage * 255);
            const unsigned long grey = alpha * 200 / 255;  // premultiplied
            argb[y * side + x] = alpha << 24 | grey << 16 | grey << 8 | grey;
        }
    }
    return argb;
}

}  // namespace

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "pointer_bench: no X display\n");
        return 1;
    }
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, kWidth / 2, kHeight / 2);
    XSync(display, False);
    const CSvRect frameRect{0, 0, kWidth, kHeight};
    cv::Mat frame32(kHeight, kWidth, CV_8UC4, cv::Scalar(40, 80, 120, 255));
    cv::Mat frame24(kHeight, kWidth, CV_8UC3, cv::Scalar(40, 80, 120));

    const int side = 32;
    const std::vector<unsigned long> disc = SoftDisc(side);
    CPointerOverlay still;
    still.SetImage(1, side, side, side / 2, side / 2, disc.data());
    still.SetPosition(kWidth / 2, kHeight / 2);
    const double blend32 = MicrosecondsPerRun(20000, [&] { still.Blend(frameRect, frame32); });
    const double blend24 = MicrosecondsPerRun(20000, [&] { still.Blend(frameRect, frame24); });
    unsigned long serial = 2;
    const double convert = MicrosecondsPerRun(
        20000, [&] { still.SetImage(serial++, side, side, side / 2, side / 2, disc.data()); });

    CPointerOverlay server;
    std::string error;
    if (!server.Read(display, &error)) {
        std::fprintf(stderr, "pointer_bench: %s\n", error.c_str());
        return 1;
    }
    const CSvRect area = server.ScreenArea();
    const double readAndBlend = MicrosecondsPerRun(2000, [&] {
        server.Read(display, &error);
        server.Blend(frameRect, frame32);
    });
    const double perFrameCall = MicrosecondsPerRun(2000, [&] {
        CScreenGrabber grabber;  // one per frame, from the pool, as the recording does
        grabber.DrawPointer(frameRect, frame32);
    });
    cv::Mat grabbed;
    const double grab = MicrosecondsPerRun(200, [&] {
        CScreenGrabber grabber;
        grabber.GrabBitmap(frameRect, &grabbed);
    });
    XCloseDisplay(display);

    std::printf("pointer on a %dx%d frame, microseconds per frame\n", kWidth, kHeight);
    std::printf("  blend of a still %dx%d pointer, 32-bit frame   %8.2f\n", side, side, blend32);
    std::printf("  blend of a still %dx%d pointer, 24-bit frame   %8.2f\n", side, side, blend24);
    std::printf("  image conversion on a shape change (%dx%d)     %8.2f\n", side, side, convert);
    std::printf("  read from the server (%dx%d) and blend         %8.2f\n", area.Width(),
                area.Height(), readAndBlend);
    std::printf("  CScreenGrabber::DrawPointer (the per-frame call) %6.2f\n", perFrameCall);
    std::printf("  for scale: GrabBitmap of the whole frame         %8.2f\n", grab);
    return 0;
}
