// Frames per second of the recording front (resize, copy, encode, write) and of the codec
// alone, for 640 x 480 and 1920 x 1080 regions with static-desktop and full-motion content,
// at quality 1.0. With --raw-dir it also writes the frames the codec saw, as packed 24-bit
// blue-green-red files, so that another encoder can be timed on exactly the same input.
//
//   encoding_bench [--raw-dir DIR] [--frames-small N] [--frames-large N] [--runs N]
//
// Each figure is the best of --runs runs (3 by default), which keeps the figures steady on a
// machine that is busy with other work.
// Every case prints one line "RESULT case=... width=... height=... frames=... front_fps=...
// codec_fps=... [raw=FILE]"; the human-readable table goes to standard error.

#include <fcntl.h>
#include <unistd.h>
#include <xvid.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encoding/avi_recorder.h"
#include "encoding/venc_xvid_encoder.h"
#include "imaging/sv_image.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDistinctFrames = 16;

struct Frame {
    int width;
    int height;
    std::vector<unsigned char> bgr;  // packed rows, top first
};

void Put(Frame& f, int x, int y, unsigned char b, unsigned char g, unsigned char r) {
    unsigned char* p = &f.bgr[(static_cast<size_t>(y) * f.width + x) * 3];
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

// Windows, a title bar, lines of text-like strokes and a small box that moves with n.
Frame StaticDesktop(int width, int height, int n) {
    Frame f{width, height, std::vector<unsigned char>(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool titleBar = y < 24;
            const bool window = x > width / 3 && x < width - 16 && y > 40 && y < height - 40;
            const bool text = window && y > 60 && (y % 14) < 2 && ((x / 4) % 7) != 0;
            if (titleBar) {
                Put(f, x, y, 160, 90, 40);
            } else if (text) {
                Put(f, x, y, 30, 30, 30);
            } else if (window) {
                Put(f, x, y, 240, 240, 240);
            } else {
                Put(f, x, y, 120, 100, 60);
            }
        }
    }
    const int boxX = 20 + (n * 6) % (width / 3 - 60);
    for (int y = 100; y < 132 && y < height; ++y) {
        for (int x = boxX; x < boxX + 32; ++x) {
            Put(f, x, y, 20, 20, 220);
        }
    }
    return f;
}

// Every pixel changes from frame to frame.
Frame FullMotion(int width, int height, int n) {
    Frame f{width, height, std::vector<unsigned char>(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int u = x + 5 * n;
            const int v = y + 3 * n;
            Put(f, x, y, static_cast<unsigned char>(128 + 100 * std::sin(u * 0.031)),
                static_cast<unsigned char>(128 + 100 * std::cos(v * 0.023 + u * 0.011)),
                static_cast<unsigned char>((u + v) & 0xFF));
        }
    }
    return f;
}

// Frame number i of the sequence goes forth and back through the distinct frames, so that the
// content moves smoothly without a jump.
int PingPong(int i) {
    const int period = 2 * kDistinctFrames - 2;
    const int k = i % period;
    return k < kDistinctFrames ? k : period - k;
}

double FrontFps(const std::vector<Frame>& regionFrames, int frames, const std::string& path) {
    // The front prints one line per frame; that is part of its cost, but not of the report.
    fflush(stdout);
    const int savedStdout = dup(1);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    close(devNull);

    CAviRecorder recorder;
    const Frame& first = regionFrames[0];
    double seconds = 0.0;
    if (recorder.BeginRecording(CSvRect{0, 0, first.width, first.height}, path)) {
        for (int i = 0; i < frames; ++i) {
            const Frame& source = regionFrames[PingPong(i)];
            CSvImage image;  // stands in for a grab: not timed
            image.Create(source.width, source.height, 3);
            for (int y = 0; y < source.height; ++y) {
                std::memcpy(image.GetRow(y), &source.bgr[static_cast<size_t>(y) * source.width * 3],
                            static_cast<size_t>(source.width) * 3);
            }
            const auto start = Clock::now();
            recorder.AddFrame(&image);
            seconds += std::chrono::duration<double>(Clock::now() - start).count();
        }
        recorder.EndRecording();
    }
    fflush(stdout);
    dup2(savedStdout, 1);
    close(savedStdout);
    std::remove(path.c_str());
    return seconds > 0.0 ? frames / seconds : 0.0;
}

// The codec with the front's settings (preset 6, fixed quantiser, no B-frames), no file.
double CodecFps(const std::vector<Frame>& codecFrames, int frames) {
    const Frame& first = codecFrames[0];
    xvid_gbl_init_t init{};
    init.version = Venc_XvidEncoder::kXvidStructVersion;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    xvid_enc_create_t create{};
    create.version = Venc_XvidEncoder::kXvidStructVersion;
    create.profile = XVID_PROFILE_AS_L4;
    create.width = first.width;
    create.height = first.height;
    Venc_XvidEncoder::CodecTimeBaseOf(30.0f, &create.fincr, &create.fbase);
    create.max_key_interval = 240;
    create.bquant_ratio = 150;
    create.bquant_offset = 100;
    if (xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr) != 0) {
        return 0.0;
    }
    std::vector<unsigned char> bitstream(static_cast<size_t>(first.width) * first.height * 4);
    const int preset = Venc_XvidEncoder::QualityPresetIndex(1.0f);
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        xvid_enc_frame_t frame{};
        xvid_enc_stats_t stats{};
        frame.version = stats.version = Venc_XvidEncoder::kXvidStructVersion;
        frame.bitstream = bitstream.data();
        frame.length = static_cast<int>(bitstream.size());
        frame.input.csp = XVID_CSP_BGR;
        frame.input.plane[0] = const_cast<unsigned char*>(codecFrames[PingPong(i)].bgr.data());
        frame.input.stride[0] = 3 * first.width;
        frame.vop_flags = Venc_XvidEncoder::kVopFlagsByLevel[preset];
        frame.motion = Venc_XvidEncoder::kSearchFlagsByLevel[preset];
        xvid_encore(create.handle, XVID_ENC_ENCODE, &frame, &stats);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    xvid_encore(create.handle, XVID_ENC_DESTROY, nullptr, nullptr);
    return frames / seconds;
}

bool WriteRaw(const std::vector<Frame>& codecFrames, int frames, const std::string& path) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool ok = true;
    for (int i = 0; i < frames && ok; ++i) {
        const Frame& f = codecFrames[PingPong(i)];
        ok = std::fwrite(f.bgr.data(), 1, f.bgr.size(), out) == f.bgr.size();
    }
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string rawDir;
    int framesSmall = 150;
    int framesLarge = 60;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--raw-dir") {
            rawDir = argv[i + 1];
        } else if (option == "--frames-small") {
            framesSmall = std::atoi(argv[i + 1]);
        } else if (option == "--frames-large") {
            framesLarge = std::atoi(argv[i + 1]);
        } else if (option == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    const std::string scratch = rawDir.empty() ? std::string("/tmp") : rawDir;

    struct Case {
        int width, height;
        const char* content;
        Frame (*make)(int, int, int);
    };
    const Case cases[] = {{640, 480, "static", StaticDesktop},
                          {640, 480, "motion", FullMotion},
                          {1920, 1080, "static", StaticDesktop},
                          {1920, 1080, "motion", FullMotion}};
    std::fprintf(stderr, "%-18s %8s %12s %12s\n", "case", "frames", "front fps", "codec fps");
    for (const Case& c : cases) {
        const int frameWidth = CAviRecorder::FrameDimensionOf(c.width);
        const int frameHeight = CAviRecorder::FrameDimensionOf(c.height);
        const int frames = c.width > 1000 ? framesLarge : framesSmall;
        std::vector<Frame> regionFrames, codecFrames;
        for (int n = 0; n < kDistinctFrames; ++n) {
            regionFrames.push_back(c.make(c.width, c.height, n));
            codecFrames.push_back(c.make(frameWidth, frameHeight, n));
        }
        const std::string name =
            std::to_string(c.width) + "x" + std::to_string(c.height) + "_" + c.content;
        double front = 0.0;
        double codec = 0.0;
        for (int run = 0; run < runs; ++run) {
            front = std::max(front,
                             FrontFps(regionFrames, frames, scratch + "/bench_" + name + ".avi"));
            codec = std::max(codec, CodecFps(codecFrames, frames));
        }
        std::fprintf(stderr, "%-18s %8d %12.1f %12.1f\n", name.c_str(), frames, front, codec);
        std::printf("RESULT case=%s width=%d height=%d frames=%d front_fps=%.1f codec_fps=%.1f",
                    name.c_str(), frameWidth, frameHeight, frames, front, codec);
        if (!rawDir.empty()) {
            const std::string raw = rawDir + "/" + name + ".bgr";
            if (WriteRaw(codecFrames, frames, raw)) {
                std::printf(" raw=%s", raw.c_str());
            }
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
