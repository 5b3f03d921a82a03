// End-to-end recording benchmark on the current X display. A window shows a pattern, either
// still (idle) or scrolling diagonally at 60 steps per second (moving); our recording session
// and ffmpeg's x11grab + libxvid (closest settings, one thread and its default threads) record
// it for a fixed time in the same run. Each recorder runs in a child process of its own, so
// its CPU time and peak memory come from the kernel's account of that process alone.
// Prints paced (30 fps) CPU use, unpaced frames per second, our stop latency and peak RSS,
// and the ratios ours / ffmpeg (whose x11grab draws the mouse pointer by default). The moving
// 1920 x 1080 picture is recorded once more with our pointer on too (row "mv+ptr"). A last case
// drives the real program (its capture window at about 1280 x 720, F3, its process's CPU time from
// /proc, F3), so that the window's own cost is counted too.
//
//   recording_bench [seconds [WIDTHxHEIGHT]]   (default 10 seconds, both sizes; run it on a
//                                               bare display, e.g. through
//                                               scripts/with-desktop.sh --bare)
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "recording/recording_session.h"
#include "recording/x11_frame_source.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Child process: a window at (0, 0) of width x height showing a pattern that scrolls
// diagonally at 60 steps per second, or stands still. The drawing is a server-side copy, so
// the child itself costs little.
pid_t StartAnimator(int width, int height, bool moving) {
    std::fflush(stdout);
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
        int offset = moving ? (step * 4) % tile : 0;
        if (moving || step < 2) {
            XCopyArea(display, pixmap, window, gc, offset, offset, width, height, 0, 0);
            XSync(display, False);
        }
        usleep(1000000 / 60);
    }
}

struct Figures {
    double cpuPercent = 0;  // of one core
    double fps = 0;         // encoded (not repeated) frames per wall-clock second
    int frames = 0;
    int repeats = 0;
    double stopMs = 0;  // ours only: from Stop() until the file is finished
    long peakRssKb = 0;
};

// Runs in the child: records and writes frames, repeats and stop latency to fd.
void RecordOursChild(int width, int height, double seconds, bool paced, bool pointer,
                     const std::string& path, int fd) {
    CAviRecorder recorder;
    CX11FrameSource source;
    source.SetIncludePointer(pointer);
    CRecordingSession session(recorder, source);
    session.SetPaced(paced);
    // The recorder prints one line per frame; keep the benchmark's output readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        _exit(1);
    }
    char line[128] = "0 0 0\n";
    if (session.Start(CSvRect{0, 0, width, height}, path)) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        Clock::time_point stop = Clock::now();
        CRecordingResult result = session.Stop();
        double stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stop).count();
        std::snprintf(line, sizeof line, "%d %d %.1f\n", result.frameCount, result.repeatFrames,
                      stopMs);
    }
    if (write(fd, line, std::strlen(line)) < 0) {
        _exit(1);
    }
    _exit(0);
}

Figures RecordOurs(int width, int height, double seconds, bool paced, const std::string& path,
                   bool pointer = false) {
    int fds[2];
    if (pipe(fds) != 0) {
        return Figures();
    }
    std::fflush(stdout);
    Clock::time_point start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        RecordOursChild(width, height, seconds, paced, pointer, path, fds[1]);
    }
    close(fds[1]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    Figures figures;
    FILE* in = fdopen(fds[0], "r");
    if (in == nullptr ||
        std::fscanf(in, "%d %d %lf", &figures.frames, &figures.repeats, &figures.stopMs) != 3) {
        figures.frames = 0;
    }
    if (in != nullptr) {
        std::fclose(in);
    }
    figures.cpuPercent = 100 * CpuSeconds(usage) / wall;
    figures.fps = (figures.frames - figures.repeats) / wall;
    figures.peakRssKb = usage.ru_maxrss;
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

// threads: "1", or nullptr for ffmpeg's default.
Figures RecordFfmpeg(int width, int height, double seconds, bool paced, const char* threads,
                     const std::string& path) {
    const char* display = std::getenv("DISPLAY");
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string duration = std::to_string(seconds);
    std::string input = std::string(display ? display : ":0") + "+0,0";
    std::fflush(stdout);
    Clock::time_point start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        // The settings closest to ours (as in bench/encoding/compare_ffmpeg_xvid.sh):
        // quantiser 2 on every frame, 4MV, AC prediction, trellis, motion-estimation quality 6,
        // no B-frames, key interval 240.
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "x11grab",
               "-framerate", paced ? "30" : "1000", "-video_size", size.c_str(), "-i",
               input.c_str(), "-t", duration.c_str(), "-c:v", "libxvid", "-qscale:v", "2", "-flags",
               "+mv4+aic", "-trellis", "1", "-me_quality", "6", "-bf", "0", "-g", "240", "-threads",
               threads != nullptr ? threads : "0", "-vtag", "xvid", "-fps_mode",
               paced ? "cfr" : "passthrough", path.c_str(), static_cast<char*>(nullptr));
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
    figures.peakRssKb = usage.ru_maxrss;
    return figures;
}

#ifdef BRINTELSHOT_PATH
std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            text.append(buffer, n);
        }
        pclose(pipe);
    }
    return text;
}

double ProcessCpuSeconds(pid_t pid) {
    std::string stat = Output("cat /proc/" + std::to_string(pid) + "/stat");
    const size_t end = stat.rfind(')');
    if (end == std::string::npos) {
        return 0;
    }
    // Fields after the command name: state is field 3; utime and stime are fields 14 and 15.
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return double(utime + stime) / sysconf(_SC_CLK_TCK);
}

// The real program records for `seconds` with F3; *width and *height get its region's size.
Figures RecordProgram(double seconds, const std::string& dir, int* width, int* height) {
    Figures figures;
    const std::string out = dir + "/program.out";
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0 || std::freopen(out.c_str(), "w", stdout) == nullptr ||
            std::freopen("/dev/null", "w", stderr) == nullptr) {
            _exit(127);
        }
        // BRINTELSHOT names another build of the program to measure.
        const char* program = std::getenv("BRINTELSHOT");
        program = program != nullptr ? program : BRINTELSHOT_PATH;
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string window =
        Output("xdotool search --sync --onlyvisible --pid " + std::to_string(pid) + " | head -n 1");
    const std::string id = window.substr(0, window.find('\n'));
    std::system(("xdotool windowsize --sync " + id + " 1288 790 windowmove --sync " + id +
                 " 0 0 windowfocus --sync " + id)
                    .c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::system("xdotool key F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double cpuBefore = ProcessCpuSeconds(pid);
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = ProcessCpuSeconds(pid) - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::system("xdotool key F3");
    std::string text;
    for (int i = 0; i < 100 && text.find(" written: ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        text = Output("cat '" + out + "'");
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    const size_t written = text.find(" written: ");
    if (written == std::string::npos ||
        std::sscanf(text.c_str() + written, " written: %dx%d, %d frames", width, height,
                    &figures.frames) != 3) {
        return figures;
    }
    for (size_t at = 0; (at = text.find(" : 0 bytes\n", at)) != std::string::npos; ++at) {
        ++figures.repeats;
    }
    figures.cpuPercent = 100 * cpu / wall;
    return figures;
}
#endif

double Ratio(double ours, double theirs) {
    return theirs > 0 ? ours / theirs : 0.0;
}

// One paced case: CPU use of ours and ffmpeg's, their ratios, our stop latency and memory.
void PrintCpuRow(const std::string& name, const Figures& ours, const Figures& ff1,
                 const Figures& ffd) {
    std::printf("%-16s %-9s %9.1f %9.1f %9.1f %9.2f %9.2f %9.1f %9.1f %4d/%d\n", name.c_str(),
                "CPU%", ours.cpuPercent, ff1.cpuPercent, ffd.cpuPercent,
                Ratio(ours.cpuPercent, ff1.cpuPercent), Ratio(ours.cpuPercent, ffd.cpuPercent),
                ours.stopMs, ours.peakRssKb / 1024.0, ours.repeats, ours.frames);
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
    std::printf("%-16s %-9s %9s %9s %9s %9s %9s %9s %9s %8s\n", "case", "measure", "ours", "ff-t1",
                "ff-tdef", "ratio-t1", "ratio-def", "stop-ms", "rss-MB", "repeats");
    const std::string only = argc > 2 ? argv[2] : "";
    for (const auto& size : sizes) {
        const int width = size[0];
        const int height = size[1];
        if (!only.empty() && only != std::to_string(width) + "x" + std::to_string(height)) {
            continue;
        }
        for (bool moving : {false, true}) {
            pid_t animator = StartAnimator(width, height, moving);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const std::string name = std::to_string(width) + "x" + std::to_string(height) +
                                     (moving ? " moving" : " idle");
            const std::string base = dir + "/" + std::to_string(width);
            Figures ours = RecordOurs(width, height, seconds, true, base + "_ours.avi");
            Figures ff1 = RecordFfmpeg(width, height, seconds, true, "1", base + "_ff1.avi");
            Figures ffd = RecordFfmpeg(width, height, seconds, true, nullptr, base + "_ffd.avi");
            PrintCpuRow(name, ours, ff1, ffd);
            if (moving && width == 1920) {
                // The pointer in the middle of the region, drawn into every frame.
                std::system(("xdotool mousemove " + std::to_string(width / 2) + " " +
                             std::to_string(height / 2))
                                .c_str());
                ours = RecordOurs(width, height, seconds, true, base + "_ours.avi", true);
                PrintCpuRow(std::to_string(width) + "x" + std::to_string(height) + " mv+ptr", ours,
                            ff1, ffd);
            }
            if (moving) {
                ours = RecordOurs(width, height, seconds, false, base + "_ours.avi");
                ff1 = RecordFfmpeg(width, height, seconds, false, "1", base + "_ff1.avi");
                ffd = RecordFfmpeg(width, height, seconds, false, nullptr, base + "_ffd.avi");
                std::printf("%-16s %-9s %9.1f %9.1f %9.1f %9.2f %9.2f %9.1f %9.1f %4d/%d\n",
                            name.c_str(), "fps", ours.fps, ff1.fps, ffd.fps,
                            Ratio(ours.fps, ff1.fps), Ratio(ours.fps, ffd.fps), ours.stopMs,
                            ours.peakRssKb / 1024.0, ours.repeats, ours.frames);
                std::fflush(stdout);
            }
            kill(animator, SIGTERM);
            waitpid(animator, nullptr, 0);
        }
    }
#ifdef BRINTELSHOT_PATH
    if (only.empty() || only == "program") {
        for (bool moving : {false, true}) {
            pid_t animator = StartAnimator(1920, 1080, moving);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            int width = 0;
            int height = 0;
            const Figures ours = RecordProgram(seconds, dir, &width, &height);
            const std::string base = dir + "/program";
            const Figures ff1 = RecordFfmpeg(width, height, seconds, true, "1", base + "_ff1.avi");
            const Figures ffd =
                RecordFfmpeg(width, height, seconds, true, nullptr, base + "_ffd.avi");
            const std::string name = "program " + std::to_string(width) + "x" +
                                     std::to_string(height) + (moving ? " moving" : " idle");
            std::printf("%-16s %-9s %9.1f %9.1f %9.1f %9.2f %9.2f %9s %9s %4d/%d\n", name.c_str(),
                        "CPU%", ours.cpuPercent, ff1.cpuPercent, ffd.cpuPercent,
                        Ratio(ours.cpuPercent, ff1.cpuPercent),
                        Ratio(ours.cpuPercent, ffd.cpuPercent), "-", "-", ours.repeats,
                        ours.frames);
            std::fflush(stdout);
            kill(animator, SIGTERM);
            waitpid(animator, nullptr, 0);
        }
    }
#endif
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
