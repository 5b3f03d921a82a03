// How faithful a recording's pictures are: the decoded PSNR against the source of the front's
// planar path (one pass from the 32-bit grab to I420) and of the codec's own conversion
// from 32-bit pixels (the grab stretched to the frame, then handed over as BGRA), on the same
// pictures: the recording benchmark's moving tiles, and a still screen with text.
//
//   psnr_bench [frames]   (default 60; ffmpeg decodes the files)
//
// Prints per picture and path the mean PSNR over all frames, of blue-green-red and of luma,
// and the median time that our side takes to bring one grab into the codec's input: the
// one-pass conversion to I420, or the stretch to the frame size that the codec then converts
// itself.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "encoding/avi_recorder.h"
#include "encoding/venc_interface.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1281;  // odd, as a dragged window often is
constexpr int kHeight = 721;

// The recording benchmark's pattern: 8 x 8 tiles of many colours, scrolled diagonally.
cv::Mat MovingTiles(int n) {
    cv::Mat picture(kHeight, kWidth, CV_8UC4);
    const int offset = (n * 4) % 256;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int tx = (x + offset) / 8 * 8;
            const int ty = (y + offset) / 8 * 8;
            picture.at<cv::Vec4b>(y, x) = cv::Vec4b(static_cast<uchar>((tx * 7 + ty * 3) & 0xFF),
                                                    static_cast<uchar>((tx ^ ty) & 0xFF),
                                                    static_cast<uchar>((tx + 2 * ty) & 0xFF), 0);
        }
    }
    return picture;
}

// A terminal-like window of dark text on white beside coloured text on a dark panel.
cv::Mat StillText(int) {
    cv::Mat picture(kHeight, kWidth, CV_8UC4, cv::Scalar(235, 235, 235, 0));
    cv::rectangle(picture, cv::Rect(0, 0, kWidth, 28), cv::Scalar(140, 80, 40, 0), cv::FILLED);
    cv::rectangle(picture, cv::Rect(kWidth / 2, 28, kWidth / 2, kHeight), cv::Scalar(40, 30, 30, 0),
                  cv::FILLED);
    for (int line = 0; line * 18 + 50 < kHeight; ++line) {
        const std::string text =
            "int frame = ConvertToI420(grab, " + std::to_string(line) + "); // the quick brown fox";
        cv::putText(picture, text, cv::Point(6, 50 + line * 18), cv::FONT_HERSHEY_PLAIN, 1.0,
                    cv::Scalar(20, 20, 20, 0), 1, cv::LINE_AA);
        cv::putText(picture, text, cv::Point(kWidth / 2 + 6, 50 + line * 18),
                    cv::FONT_HERSHEY_PLAIN, 1.0,
                    cv::Scalar(60 + line * 9 % 190, 220, 120 + line * 5 % 130, 0), 1, cv::LINE_AA);
    }
    return picture;
}

// The decoded frames of a file, blue-green-red (bgr) or their luma planes, of the frame size.
std::vector<cv::Mat> Decode(const std::string& path, bool bgr, int width, int height) {
    const std::string command = "ffmpeg -nostdin -v error -i '" + path +
                                "' -vsync passthrough -f rawvideo -pix_fmt " +
                                (bgr ? "bgr24" : "yuv420p") + " -";
    const size_t luma = static_cast<size_t>(width) * height;
    std::vector<char> frame(bgr ? luma * 3 : luma * 3 / 2);
    std::vector<cv::Mat> frames;
    if (FILE* decoder = popen(command.c_str(), "r")) {
        while (std::fread(frame.data(), 1, frame.size(), decoder) == frame.size()) {
            frames.push_back(cv::Mat(height, width, bgr ? CV_8UC3 : CV_8UC1, frame.data()).clone());
        }
        pclose(decoder);
    }
    return frames;
}

// Luma of blue-green-red as BT.601 studio range defines it.
cv::Mat LumaOf(const cv::Mat& bgr) {
    cv::Mat luma(bgr.size(), CV_8UC1);
    for (int y = 0; y < bgr.rows; ++y) {
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3b p = bgr.at<cv::Vec3b>(y, x);
            luma.at<uchar>(y, x) =
                static_cast<uchar>(std::lround(16 + 0.098 * p[0] + 0.504 * p[1] + 0.257 * p[2]));
        }
    }
    return luma;
}

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// The recording front's planar path; *convertMs gets the median time of the conversion alone.
void RecordPlanar(cv::Mat (*make)(int), int frames, int width, int height, const std::string& path,
                  double* convertMs) {
    CAviRecorder recorder;
    CI420Converter converter;
    cv::Mat frame;
    CI420Converter::CreateFrame(width, height, frame);
    std::vector<double> times;
    if (recorder.BeginRecording(CSvRect{0, 0, kWidth, kHeight}, path)) {
        for (int n = 0; n < frames; ++n) {
            cv::Mat grab = make(n);
            const CBgrxPicture picture{grab.data, grab.cols, grab.rows, grab.step[0]};
            const Clock::time_point start = Clock::now();
            converter.Convert(picture, frame);
            times.push_back(Milliseconds(start));
            recorder.AddFrame(picture);
        }
        recorder.EndRecording();
    }
    *convertMs = Median(times);
}

// The same settings, each grab stretched (nearest) and handed to the codec as BGRA pixels.
void RecordThroughCodecConversion(cv::Mat (*make)(int), int frames, int width, int height,
                                  const std::string& path, double* stretchMs) {
    std::vector<double> times;
    cv::Mat stretched;  // kept, as a recording keeps its frame
    Venc_Settings settings;
    Venc_ResetParams(&settings);
    settings.frameWidth = width;
    settings.frameHeight = height;
    int32_t handle = -1;
    Venc_NewEncoder(&handle);
    if (Venc_BeginEncoding(handle, path.c_str(), &settings) == Venc_Status_Ok) {
        for (int n = 0; n < frames; ++n) {
            cv::Mat grab = make(n);
            const Clock::time_point start = Clock::now();
            cv::resize(grab, stretched, cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
            times.push_back(Milliseconds(start));
            Venc_Picture picture{width, height, 4, Venc_Layout_Bgra32, stretched.data};
            Venc_PutFrame(handle, &picture, nullptr);
        }
        Venc_FinishEncoding(handle, nullptr);
    }
    Venc_FreeEncoder(handle);
    *stretchMs = Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    char pattern[] = "/tmp/brintel-psnr.XXXXXX";
    const std::string dir = mkdtemp(pattern);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 1;
    }
    const int width = CAviRecorder::FrameDimensionOf(kWidth);
    const int height = CAviRecorder::FrameDimensionOf(kHeight);
    struct Picture {
        const char* name;
        cv::Mat (*make)(int);
    };
    std::fprintf(stderr, "%-14s %-22s %10s %10s %11s\n", "picture", "path", "PSNR bgr", "PSNR luma",
                 "convert ms");
    for (const Picture& picture :
         {Picture{"moving tiles", MovingTiles}, Picture{"still text", StillText}}) {
        for (const bool planar : {false, true}) {
            const std::string path = dir + "/" + (planar ? "planar" : "bgra") + ".avi";
            double convertMs = 0;
            if (planar) {
                RecordPlanar(picture.make, frames, width, height, path, &convertMs);
            } else {
                RecordThroughCodecConversion(picture.make, frames, width, height, path, &convertMs);
            }
            const auto bgr = Decode(path, true, width, height);
            const auto yuv = Decode(path, false, width, height);
            double bgrSum = 0;
            double lumaSum = 0;
            for (size_t n = 0; n < bgr.size() && n < yuv.size(); ++n) {
                cv::Mat source, sourceBgr;
                cv::resize(picture.make(static_cast<int>(n)), source, cv::Size(width, height), 0, 0,
                           cv::INTER_NEAREST);
                cv::cvtColor(source, sourceBgr, cv::COLOR_BGRA2BGR);
                bgrSum += cv::PSNR(sourceBgr, bgr[n]);
                lumaSum += cv::PSNR(LumaOf(sourceBgr), yuv[n].rowRange(0, height));
            }
            const double count = static_cast<double>(std::max<size_t>(1, bgr.size()));
            std::fprintf(stderr, "%-14s %-22s %10.3f %10.3f %11.3f   (%zu frames)\n", picture.name,
                         planar ? "planar (one pass)" : "32-bit (codec's own)", bgrSum / count,
                         lumaSum / count, convertMs, bgr.size());
        }
    }
    return std::system(("rm -rf '" + dir + "'").c_str()) == 0 ? 0 : 1;
}
