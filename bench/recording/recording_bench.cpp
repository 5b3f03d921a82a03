// End-to-end recording benchmark on the current X display: a window drawing a moving pattern,
// recorded for a fixed time by our recording session (paced at 30 fps, and unpaced to measure
// the raw frame rate) and by ffmpeg's x11grab + libxvid with the closest settings, in the same
// run. Prints CPU use, frame rates, repeat frames and the ratios ours / ffmpeg.
//
//   recording_bench [seconds]      (default 10; run it on a bare display, e.g. through
//                                   scripts/with-desktop.sh --bare)
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "capture/recording_session.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double SelfCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// Child process: a window at (0, 0) of width x height whose content scrolls diagonally at
// 60 steps per second. The drawing is a server-side copy, so the child itself costs little.
pid_t StartAnimator(int width, int height) {
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        _exit(1);
    }
    int screen = DefaultScreen(display);
    Window root = RootWindow(display, screen);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    Window window = XCreateWindow(display, root, 0, 0, width, height, 0, CopyFromParent,
                                  InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    const int tile = 256;
    Pixmap pixmap =
        XCreatePixmap(display, window, width + tile, height + tile, DefaultDepth(display, screen));
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    for (int y = 0; y < height + tile; y += 8) {
        for (int x = 0; x < width + tile; x += 8) {
            unsigned long colour =
                ((x * 7 + y * 3) & 0xFF) | (((x ^ y) & 0xFF) << 8) | (((x + 2 * y) & 0xFF) << 16);
            XSetForeground(display, gc, colour);
            XFillRectangle(display, pixmap, gc, x, y, 8, 8);
        }
    }
    XMapRaised(display, window);
    for (int step = 0;; ++step) {
        int offset = (step * 4) % tile;
        XCopyArea(display, pixmap, window, gc, offset, offset, width, height, 0, 0);
        XSync(display, False);
        usleep(1000000 / 60);
    }
}

struct Figures {
    double cpuPercent = 0;  // of one core
    double fps = 0;         // frames in the file per wall-clock second
    int frames = 0;
    int repeats = 0;
};

Figures RecordOurs(int width, int height, double seconds, bool paced, const std::string& path) {
    CAviRecorder recorder;
    CRecordingSession session(recorder);
    session.SetPaced(paced);
    // The recorder prints one line per frame; keep the benchmark's output readable.
    std::fflush(stdout);
    int savedStdout = dup(1);
    FILE* devNull = std::freopen("/dev/null", "w", stdout);
    (void)devNull;
    double cpuBefore = SelfCpuSeconds();
    Clock::time_point start = Clock::now();
    Figures figures;
    if (session.Start(CSvRect{0, 0, width, height}, path)) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        CRecordingResult result = session.Stop();
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        figures.cpuPercent = 100 * (SelfCpuSeconds() - cpuBefore) / wall;
        figures.frames = result.frameCount;
        figures.repeats = result.repeatFrames;
        figures.fps = (result.frameCount - result.repeatFrames) / wall;
    }
    std::fflush(stdout);
    dup2(savedStdout, 1);
    close(savedStdout);
    return figures;
}

int CountFrames(const std::string& path) {
    std::string command =
        "ffprobe -v error -select_streams v:0 -count_packets -show_entries "
        "stream=nb_read_packets -of csv=p=0 '" +
        path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    int frames = 0;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%d", &frames) != 1) {
            frames = 0;
        }
        pclose(pipe);
    }
    return frames;
}

Figures RecordFfmpeg(int width, int height, double seconds, bool paced, const std::string& path) {
    const char* display = std::getenv("DISPLAY");
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string duration = std::to_string(seconds);
    std::string input = std::string(display ? display : ":0") + "+0,0";
    Clock::time_point start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        // The settings closest to ours (as in bench/encoding/compare_ffmpeg_xvid.sh):
        // quantiser 2 on every frame, 4MV, AC prediction, trellis, motion-estimation quality 6,
        // no B-frames, key interval 240, one encoder thread.
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "x11grab",
               "-framerate", paced ? "30" : "1000", "-video_size", size.c_str(), "-i",
               input.c_str(), "-t", duration.c_str(), "-c:v", "libxvid", "-qscale:v", "2", "-flags",
               "+mv4+aic", "-trellis", "1", "-me_quality", "6", "-bf", "0", "-g", "240", "-threads",
               "1", "-vtag", "xvid", "-fps_mode", paced ? "cfr" : "passthrough", path.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    Figures figures;
    figures.cpuPercent = 100 * CpuSeconds(usage) / wall;
    figures.frames = CountFrames(path);
    figures.fps = figures.frames / wall;
    return figures;
}

void Report(int width, int height, const Figures& oursPaced, const Figures& ffPaced,
            const Figures& oursFree, const Figures& ffFree) {
    std::printf(
        "%dx%d paced 30 fps: ours CPU %.1f%% (%d frames, %d repeats), ffmpeg CPU %.1f%% "
        "(%d frames); CPU ratio ours/ffmpeg %.2f\n",
        width, height, oursPaced.cpuPercent, oursPaced.frames, oursPaced.repeats,
        ffPaced.cpuPercent, ffPaced.frames,
        ffPaced.cpuPercent > 0 ? oursPaced.cpuPercent / ffPaced.cpuPercent : 0.0);
    std::printf("%dx%d unpaced: ours %.1f fps, ffmpeg %.1f fps; speed ratio ours/ffmpeg %.2f\n",
                width, height, oursFree.fps, ffFree.fps,
                ffFree.fps > 0 ? oursFree.fps / ffFree.fps : 0.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (seconds <= 0 || std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "usage: DISPLAY=:N recording_bench [seconds]\n");
        return 2;
    }
    char pattern[] = "/tmp/brintel-bench.XXXXXX";
    std::string dir = mkdtemp(pattern);
    const int sizes[][2] = {{640, 480}, {1920, 1080}};
    for (const auto& size : sizes) {
        int width = size[0];
        int height = size[1];
        pid_t animator = StartAnimator(width, height);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::string base = dir + "/" + std::to_string(width);
        Figures oursPaced = RecordOurs(width, height, seconds, true, base + "_ours_paced.avi");
        Figures ffPaced = RecordFfmpeg(width, height, seconds, true, base + "_ff_paced.avi");
        Figures oursFree = RecordOurs(width, height, seconds, false, base + "_ours_free.avi");
        Figures ffFree = RecordFfmpeg(width, height, seconds, false, base + "_ff_free.avi");
        kill(animator, SIGTERM);
        waitpid(animator, nullptr, 0);
        Report(width, height, oursPaced, ffPaced, oursFree, ffFree);
    }
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
