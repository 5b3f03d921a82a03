// End-to-end recording benchmark on the current X display. A window shows a pattern, either
// still (idle) or scrolling diagonally at 60 steps per second (moving); our recording session
// and ffmpeg's x11grab + libxvid (closest settings, one thread and its default threads) record
// it for a fixed time in the same run. Each recorder runs in a child process of its own, so
// its CPU time and peak memory come from the kernel's account of that process alone.
//
// The recorders take turns (ours, ffmpeg -threads 1, ffmpeg default threads, ours, ...) for a
// number of rounds, so that a change of load on the machine between two runs does not pass for
// a difference between them; each figure is the median over the rounds, and each ratio the
// median of the rounds' ratios ours / ffmpeg.
//
// Prints paced (30 fps) CPU use, unpaced frames per second, our stop latency and peak RSS,
// and the ratios ours / ffmpeg (whose x11grab draws the mouse pointer by default). The moving
// picture of the largest size is recorded once more with our pointer on too (row "mv+ptr").
// Last, the real program (its capture window's region 1280 x 720, F3, its process's CPU time
// from /proc, F3), over a still screen and over ffplay's moving testsrc2 picture, so that the
// window's own cost is counted too.
//
//   recording_bench [seconds [rounds [WIDTHxHEIGHT|program]]]
//       defaults: 5 seconds, 3 rounds, 640x480 and 1920x1080 and the program. Run it on a bare
//       display, e.g. through scripts/with-desktop.sh --bare (BRINTEL_SCREEN=3840x2160x24 for
//       a larger screen).
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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
                     const std::string& path, int left = 0, int top = 0) {
    const char* display = std::getenv("DISPLAY");
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string duration = std::to_string(seconds);
    std::string input = std::string(display ? display : ":0") + "+" + std::to_string(left) + "," +
                        std::to_string(top);
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

// The real program records for `seconds` with F3; *region gets its region on the screen.
Figures RecordProgram(double seconds, const std::string& dir, CSvRect* region) {
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
    // A region of 1280 x 720: the window is 8 pixels wider and its bands 68 pixels higher.
    std::system(("xdotool windowsize --sync " + id + " 1288 788 windowmove --sync " + id +
                 " 0 0 windowfocus --sync " + id)
                    .c_str());
    int windowHeight = 0;
    const std::string geometry = Output("xdotool getwindowgeometry " + id);
    const size_t size = geometry.find("Geometry: ");
    if (size != std::string::npos) {
        std::sscanf(geometry.c_str() + size, "Geometry: %*dx%d", &windowHeight);
    }
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
    int width = 0;
    int height = 0;
    if (written == std::string::npos ||
        std::sscanf(text.c_str() + written, " written: %dx%d, %d frames", &width, &height,
                    &figures.frames) != 3) {
        return figures;
    }
    // The region ends 4 pixels inside the window's left, right and bottom edges.
    *region = CSvRect{4, windowHeight - 4 - height, 4 + width, windowHeight - 4};
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

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The runs of one case: ours, ffmpeg with one thread and with its default threads, taking
// turns for `rounds` rounds.
struct Rounds {
    std::vector<Figures> ours, ff1, ffd;

    static Rounds Run(int rounds, const std::function<Figures()>& ours,
                      const std::function<Figures()>& ff1, const std::function<Figures()>& ffd) {
        Rounds r;
        for (int i = 0; i < rounds; ++i) {
            r.ours.push_back(ours());
            r.ff1.push_back(ff1());
            r.ffd.push_back(ffd());
        }
        return r;
    }
};

// One row: the medians of a measure, and the medians of the rounds' ratios.
void PrintRow(const std::string& name, const char* measure, const Rounds& r,
              double Figures::*value) {
    std::vector<double> ours, ff1, ffd, ratio1, ratioDefault, stop;
    long peakRssKb = 0;
    for (size_t i = 0; i < r.ours.size(); ++i) {
        ours.push_back(r.ours[i].*value);
        ff1.push_back(r.ff1[i].*value);
        ffd.push_back(r.ffd[i].*value);
        ratio1.push_back(Ratio(r.ours[i].*value, r.ff1[i].*value));
        ratioDefault.push_back(Ratio(r.ours[i].*value, r.ffd[i].*value));
        stop.push_back(r.ours[i].stopMs);
        peakRssKb = std::max(peakRssKb, r.ours[i].peakRssKb);
    }
    const Figures& last = r.ours.back();
    std::printf("%-22s %-5s %8.1f %8.1f %8.1f %8.2f %8.2f %8.1f %8.1f %5d/%d\n", name.c_str(),
                measure, Median(ours), Median(ff1), Median(ffd), Median(ratio1),
                Median(ratioDefault), Median(stop), peakRssKb / 1024.0, last.repeats, last.frames);
    std::fflush(stdout);
}

void MoveMouse(int x, int y) {
    std::system(("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string only = argc > 3 ? argv[3] : "";
    if (seconds <= 0 || std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "usage: DISPLAY=:N recording_bench [seconds [rounds [case]]]\n");
        return 2;
    }
    char pattern[] = "/tmp/brintel-bench.XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::printf("%d rounds of %.0f s; medians\n", rounds, seconds);
    std::printf("%-22s %-5s %8s %8s %8s %8s %8s %8s %8s %8s\n", "case", "what", "ours", "ff-t1",
                "ff-tdef", "ratio-t1", "ratio-df", "stop-ms", "rss-MB", "repeats");
    std::vector<std::pair<int, int>> sizes = {{640, 480}, {1920, 1080}};
    int w = 0;
    int h = 0;
    if (std::sscanf(only.c_str(), "%dx%d", &w, &h) == 2) {
        sizes = {{w, h}};
    } else if (!only.empty()) {
        sizes.clear();
    }
    const std::string ff1Path = dir + "/ff1.avi";
    const std::string ffdPath = dir + "/ffd.avi";
    const std::string oursPath = dir + "/ours.avi";
    for (const auto& [width, height] : sizes) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        MoveMouse(width + 10, height + 10);  // off the region where the screen has room
        for (bool moving : {false, true}) {
            pid_t animator = StartAnimator(width, height, moving);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const std::string name = size + (moving ? " moving" : " idle");
            auto paced = [&, width = width, height = height](bool pointer) {
                return Rounds::Run(
                    rounds,
                    [&] { return RecordOurs(width, height, seconds, true, oursPath, pointer); },
                    [&] { return RecordFfmpeg(width, height, seconds, true, "1", ff1Path); },
                    [&] { return RecordFfmpeg(width, height, seconds, true, nullptr, ffdPath); });
            };
            PrintRow(name, "CPU%", paced(false), &Figures::cpuPercent);
            if (moving && width == sizes.back().first) {
                MoveMouse(width / 2, height / 2);  // in the middle of the region
                PrintRow(size + " mv+ptr", "CPU%", paced(true), &Figures::cpuPercent);
                MoveMouse(width + 10, height + 10);
            }
            if (moving) {
                const int cw = width;
                const int ch = height;
                const Rounds unpaced = Rounds::Run(
                    rounds, [&] { return RecordOurs(cw, ch, seconds, false, oursPath); },
                    [&] { return RecordFfmpeg(cw, ch, seconds, false, "1", ff1Path); },
                    [&] { return RecordFfmpeg(cw, ch, seconds, false, nullptr, ffdPath); });
                PrintRow(name, "fps", unpaced, &Figures::fps);
            }
            kill(animator, SIGTERM);
            waitpid(animator, nullptr, 0);
        }
    }
#ifdef BRINTELSHOT_PATH
    if (only.empty() || only == "program") {
        for (bool moving : {false, true}) {
            // Idle: the still pattern; moving: ffplay's test picture fills the screen under the
            // capture window.
            pid_t player = moving ? -1 : StartAnimator(1920, 1080, false);
            if (moving) {
                std::fflush(stdout);
                player = fork();
                if (player == 0) {
                    if (std::freopen("/dev/null", "w", stderr) == nullptr) {
                        _exit(127);
                    }
                    execlp("ffplay", "ffplay", "-loglevel", "quiet", "-an", "-noborder", "-left",
                           "0", "-top", "0", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30",
                           static_cast<char*>(nullptr));
                    _exit(127);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            }
            CSvRect region{4, 64, 1284, 784};  // until the program's first run tells
            const Rounds r = Rounds::Run(
                rounds, [&] { return RecordProgram(seconds, dir, &region); },
                [&] {
                    return RecordFfmpeg(region.Width(), region.Height(), seconds, true, "1",
                                        ff1Path, region.left, region.top);
                },
                [&] {
                    return RecordFfmpeg(region.Width(), region.Height(), seconds, true, nullptr,
                                        ffdPath, region.left, region.top);
                });
            PrintRow("program " + std::to_string(region.Width()) + "x" +
                         std::to_string(region.Height()) + (moving ? " moving" : " idle"),
                     "CPU%", r, &Figures::cpuPercent);
            if (player > 0) {
                kill(player, SIGTERM);
                waitpid(player, nullptr, 0);
            }
        }
    }
#endif
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
