#include "encoding_test_support.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace enctest {

TempDir::TempDir() {
    char pattern[] = "/tmp/brintel-enc.XXXXXX";
    const char* made = mkdtemp(pattern);
    m_path = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir() {
    if (m_path.rfind("/tmp/brintel-enc.", 0) == 0) {
        std::system(("rm -rf '" + m_path + "'").c_str());
    }
}

namespace {

// A frame whose pixel (x, y) has the colour colourAt(x, y) gives as blue, green, red.
template <typename ColourAt>
BgrFrame Paint(int width, int height, ColourAt colourAt) {
    BgrFrame f{width, height, std::vector<unsigned char>(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t bgr = colourAt(x, y);
            unsigned char* p = &f.pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = bgr >> 16 & 0xFF;
            p[1] = bgr >> 8 & 0xFF;
            p[2] = bgr & 0xFF;
        }
    }
    return f;
}

}  // namespace

BgrFrame StaticDesktopFrame(int width, int height, int n) {
    const int boxX = 8 + (n * 3) % (width / 2 - 24);  // the moving part: a small red box
    return Paint(width, height, [=](int x, int y) -> uint32_t {
        if (y >= 40 && y < 56 && x >= boxX && x < boxX + 16) {
            return 0x1414DC;
        }
        if (y < 16) {
            return 0xA05A28;  // title bar
        }
        if (x <= width / 2) {
            return 0x78643C;  // desktop
        }
        // Short dark strokes on a light panel look like lines of text.
        const bool text = y > 24 && (y % 10) < 2 && ((x / 3) % 5) != 0;
        return text ? 0x1E1E1E : 0xEBEBEB;
    });
}

BgrFrame FullMotionFrame(int width, int height, int n) {
    const int cx = (n * 4) % width;  // a white square sliding over moving gradients
    return Paint(width, height, [=](int x, int y) -> uint32_t {
        if (y >= height / 3 && y < height / 3 + 20 && x >= cx && x < cx + 20) {
            return 0xFAFAFA;
        }
        const int u = x + 2 * n;
        const int v = y + n;
        const auto b = static_cast<uint32_t>(128 + 100 * std::sin(u * 0.07));
        const auto g = static_cast<uint32_t>(128 + 100 * std::cos(v * 0.05 + u * 0.02));
        const auto r = static_cast<uint32_t>((u + v) & 0xFF);
        return b << 16 | g << 8 | r;
    });
}

std::vector<uint8_t> LumaOf(const BgrFrame& frame) {
    std::vector<uint8_t> luma(static_cast<size_t>(frame.width) * frame.height);
    for (size_t i = 0; i < luma.size(); ++i) {
        const unsigned char* p = &frame.pixels[i * 3];
        const double y = 0.098 * p[0] + 0.504 * p[1] + 0.257 * p[2] + 16.0;
        luma[i] = static_cast<uint8_t>(std::lround(y));
    }
    return luma;
}

double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

long FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string RunCommand(const std::string& command, bool* ok) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (ok != nullptr) {
            *ok = false;
        }
        return output;
    }
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        output.append(buffer, got);
    }
    const int status = pclose(pipe);
    if (ok != nullptr) {
        *ok = status == 0;
    }
    return output;
}

std::string ProbeStreamField(const std::string& path, const char* streamSelector,
                             const char* field) {
    const std::string out =
        RunCommand(std::string("ffprobe -v error -count_frames -select_streams ") + streamSelector +
                   " -show_entries stream=" + field + " -of default=noprint_wrappers=1:nokey=1 '" +
                   path + "'");
    std::istringstream lines(out);
    std::string first;
    std::getline(lines, first);
    return first;
}

std::vector<std::vector<uint8_t>> DecodeLuma(const std::string& path, int width, int height,
                                             bool* decodeClean) {
    const std::string raw = path + ".yuv";
    bool ok = false;
    const std::string errors =
        RunCommand("ffmpeg -nostdin -v error -xerror -i '" + path +
                       "' -vsync passthrough -f rawvideo -pix_fmt yuv420p -y '" + raw + "' 2>&1",
                   &ok);
    *decodeClean = ok && errors.empty();

    std::vector<std::vector<uint8_t>> frames;
    std::ifstream in(raw, std::ios::binary);
    const size_t lumaBytes = static_cast<size_t>(width) * height;
    const size_t frameBytes = lumaBytes + 2 * (static_cast<size_t>((width + 1) / 2) *
                                               static_cast<size_t>((height + 1) / 2));
    std::vector<char> frame(frameBytes);
    while (in.read(frame.data(), static_cast<std::streamsize>(frameBytes))) {
        frames.emplace_back(frame.begin(), frame.begin() + static_cast<long>(lumaBytes));
    }
    std::remove(raw.c_str());
    return frames;
}

std::vector<DecodedFrameInfo> ProbeDecodedFrames(const std::string& path) {
    const std::string out = RunCommand(
        "ffprobe -v error -select_streams v:0 -show_frames -show_entries "
        "frame=key_frame,best_effort_timestamp -of csv=p=0 '" +
        path + "'");
    std::vector<DecodedFrameInfo> frames;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        int key = 0;
        int pts = 0;
        if (std::sscanf(line.c_str(), "%d,%d", &key, &pts) == 2) {
            frames.push_back({pts, key == 1});
        }
    }
    return frames;
}

std::vector<std::vector<uint8_t>> ShownPictures(const std::vector<std::vector<uint8_t>>& decoded,
                                                const std::vector<DecodedFrameInfo>& infos,
                                                int slots) {
    std::vector<std::vector<uint8_t>> shown(static_cast<size_t>(slots));
    size_t next = 0;
    for (int slot = 0; slot < slots; ++slot) {
        while (next < decoded.size() && next < infos.size() && infos[next].pts <= slot) {
            ++next;
        }
        if (next > 0) {
            shown[slot] = decoded[next - 1];
        }
    }
    return shown;
}

namespace {

uint32_t U32At(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

}  // namespace

std::vector<IndexEntry> ReadVideoIndex(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<IndexEntry> entries;
    size_t at = 12;  // after "RIFF", the length and "AVI "
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t length = U32At(bytes, at + 4);
        if (id == "idx1") {
            for (size_t e = at + 8; e + 16 <= at + 8 + length && e + 16 <= bytes.size(); e += 16) {
                if (bytes.compare(e, 4, "00db") == 0 || bytes.compare(e, 4, "00dc") == 0) {
                    entries.push_back({U32At(bytes, e + 4), U32At(bytes, e + 12)});
                }
            }
            break;
        }
        at += 8 + length + (length & 1);
    }
    return entries;
}

}  // namespace enctest
