// Covers the whole screen with random colour noise at 30 pictures a second, a worst case
// for the encoder and the file size (a cycle of 16 pictures made up front, put through
// MIT-SHM so that the painter itself costs little). Runs until killed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

XImage* MakeNoisePicture(Display* display, int screen, int width, int height, uint32_t& seed) {
    auto* segment = new XShmSegmentInfo{};
    XImage* image = XShmCreateImage(display, DefaultVisual(display, screen), 24, ZPixmap, nullptr,
                                    segment, width, height);
    segment->shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
    segment->shmaddr = image->data = static_cast<char*>(shmat(segment->shmid, nullptr, 0));
    XShmAttach(display, segment);
    XSync(display, False);
    shmctl(segment->shmid, IPC_RMID, nullptr);  // freed once both sides detach
    auto* pixels = reinterpret_cast<uint32_t*>(image->data);
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i) {
        seed ^= seed << 13;  // xorshift: fast, and noise is all that is asked of it
        seed ^= seed >> 17;
        seed ^= seed << 5;
        pixels[i] = seed & 0xffffffu;
    }
    return image;
}

}  // namespace

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr || !XShmQueryExtension(display)) {
        std::fprintf(stderr, "noise_painter: no X display with MIT-SHM\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), 0, 0, width, height, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(display, window);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    uint32_t seed = 12345;
    std::vector<XImage*> pictures;
    for (int i = 0; i < 16; ++i) {
        pictures.push_back(MakeNoisePicture(display, screen, width, height, seed));
    }
    auto next = std::chrono::steady_clock::now();
    for (size_t frame = 0;; ++frame) {
        XShmPutImage(display, window, gc, pictures[frame % pictures.size()], 0, 0, 0, 0, width,
                     height, False);
        XSync(display, False);
        next += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(next);
    }
}
