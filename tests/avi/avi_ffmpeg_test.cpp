// Checks against an independent implementation: ffprobe/ffmpeg read what the writer wrote,
// and the reader reads what ffmpeg wrote.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ffprobe_support.h"
#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_writer.h"

using namespace probe;

namespace {

// Splits an MPEG-4 elementary stream into pictures at the picture start codes (00 00 01 B6);
// stream headers before the first picture belong to the first. Keeps each picture's key mark.
std::vector<std::pair<std::vector<char>, bool>> SplitPictures(const std::vector<unsigned char>& s) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 4 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xB6) {
            starts.push_back(i);
        }
    }
    std::vector<std::pair<std::vector<char>, bool>> pictures;
    for (size_t n = 0; n < starts.size(); ++n) {
        size_t end = n + 1 < starts.size() ? starts[n + 1] : s.size();
        pictures.push_back(
            {std::vector<char>(s.begin() + long(n == 0 ? 0 : starts[n]), s.begin() + long(end)),
             (s[starts[n] + 4] >> 6) == 0});  // picture coding type I
    }
    return pictures;
}

TEST(AviFfmpeg, FfprobeReadsWrittenFile) {
    TempDir dir;
    int status = -1;
    Shell(
        "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=30 -t 1 -c:v mpeg4 -g 10 -f m4v " +
            Quote(dir.Path("pictures.m4v")),
        &status);
    ASSERT_EQ(status, 0);
    auto pictures = SplitPictures(ReadFile(dir.Path("pictures.m4v")));
    ASSERT_EQ(pictures.size(), 30u);

    const std::string path = dir.Path("out.avi");
    avi_file* avi = AVI_create_output_file(path.c_str());
    ASSERT_NE(avi, nullptr);
    AVI_set_video_format(avi, 64, 48, 30.0, "xvid");
    AVI_set_audio_format(avi, 0, 44100, 16, 0);
    for (size_t i = 0; i < pictures.size(); ++i) {
        const auto& [bytes, key] = pictures[i];
        ASSERT_EQ(AVI_put_video_frame(avi, bytes.data(), int(bytes.size()), key), 0);
        if (i == 4 || i == 15) {  // the recorder's way of keeping real time
            ASSERT_EQ(AVI_put_video_frame(avi, nullptr, 0, 1), 0);
            ASSERT_EQ(AVI_put_video_frame(avi, nullptr, 0, 1), 0);
        }
    }
    ASSERT_EQ(AVI_close_file(avi), 0);

    auto stream = Stream(path, "v:0");
    EXPECT_EQ(
        Lines(Shell("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + Quote(path))),
        std::vector<std::string>{"video"});
    EXPECT_EQ(stream["codec_tag_string"], "xvid");
    EXPECT_EQ(stream["codec_name"], "mpeg4");
    EXPECT_EQ(stream["width"] + "x" + stream["height"], "64x48");
    EXPECT_NEAR(Rate(stream["r_frame_rate"]), 30.0, 0.01);
    EXPECT_EQ(stream["nb_frames"], "34");
    EXPECT_EQ(stream["nb_read_packets"], "30");  // the 30 pictures; empty chunks give none
    EXPECT_NEAR(std::atof(stream["duration"].c_str()), 34 / 30.0, 0.01);

    // Decoded at a constant rate, the file shows all 34 frame slots.
    std::string count =
        Shell("ffmpeg -v error -i " + Quote(path) + " -fps_mode cfr -f framemd5 - | grep -vc '^#'");
    EXPECT_EQ(std::atoi(count.c_str()), 34);
}

TEST(AviFfmpeg, ReaderReadsFfmpegFile) {
    TempDir dir;
    const std::string path = dir.Path("x.avi");
    int status = -1;
    Shell(
        "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=30 -f lavfi -i sine -t 1 "
        "-c:v mpeg4 -vtag xvid -c:a pcm_s16le " +
            Quote(path) + " && ffmpeg -v error -y -i " + Quote(path) + " -map 0:v -c copy -f m4v " +
            Quote(dir.Path("v.m4v")) + " -map 0:a -c copy -f s16le " + Quote(dir.Path("a.raw")),
        &status);
    ASSERT_EQ(status, 0);
    auto video = Stream(path, "v:0");
    auto audio = Stream(path, "a:0");

    avi_file* in = AVI_open_for_reading(path.c_str(), 1);
    ASSERT_NE(in, nullptr) << "error " << AVI_last_error;
    EXPECT_EQ(std::to_string(AVI_get_frame_count(in)), video["nb_read_packets"]);
    EXPECT_EQ(std::to_string(AVI_get_width(in)), video["width"]);
    EXPECT_EQ(std::to_string(AVI_get_height(in)), video["height"]);
    EXPECT_NEAR(AVI_get_fps(in), Rate(video["r_frame_rate"]), 1e-6);
    EXPECT_EQ(AVI_get_compressor(in), video["codec_tag_string"]);
    EXPECT_EQ(std::to_string(AVI_get_audio_channels(in)), audio["channels"]);
    EXPECT_EQ(std::to_string(AVI_get_audio_rate(in)), audio["sample_rate"]);
    EXPECT_EQ(std::to_string(AVI_get_audio_bits(in)), audio["bits_per_sample"]);
    EXPECT_EQ(AVI_get_audio_format(in), std::strtol(audio["codec_tag"].c_str(), nullptr, 16));

    // Every frame's bytes, against the packets ffmpeg copies out of the file.
    auto sizes =
        Lines(Shell("ffprobe -v error -select_streams v:0 -show_entries packet=size "
                    "-of csv=p=0 " +
                    Quote(path)));
    ASSERT_EQ(int(sizes.size()), AVI_get_frame_count(in));
    std::vector<unsigned char> all_frames;
    for (int i = 0; i < AVI_get_frame_count(in); ++i) {
        int length = AVI_get_frame_length(in, i);
        EXPECT_EQ(std::to_string(length), sizes[size_t(i)]) << "frame " << i;
        std::vector<char> frame(static_cast<size_t>(length));
        ASSERT_EQ(AVI_fetch_frame(in, frame.data()), length);
        all_frames.insert(all_frames.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(all_frames, ReadFile(dir.Path("v.m4v")));

    auto pcm = ReadFile(dir.Path("a.raw"));
    ASSERT_EQ(size_t(AVI_get_audio_total(in)), pcm.size());
    std::vector<unsigned char> samples(pcm.size() + 16);
    ASSERT_EQ(AVI_fetch_audio(in, reinterpret_cast<char*>(samples.data()), int(samples.size())),
              int(pcm.size()));
    samples.resize(pcm.size());
    EXPECT_EQ(samples, pcm);
    AVI_close_file(in);
}

}  // namespace
