// Checks against an independent implementation: ffprobe/ffmpeg read what the writer wrote
// (also while it is still being written, and once repaired), and the reader reads what
// ffmpeg wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/ffprobe_support.h"
#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_repair.h"
#include "encoding/avi/avi_writer.h"

using namespace probe;

namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t Id(const char* s) {
    return U32At(Bytes(s, s + 4), 0);
}

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

// Seconds of MPEG-4 pictures (64 x 48, a key picture every 10) made by ffmpeg.
std::vector<std::pair<std::vector<char>, bool>> MakePictures(const TempDir& dir, int seconds = 1) {
    int status = -1;
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=30 -t " +
              std::to_string(seconds) + " -c:v mpeg4 -g 10 -f m4v " +
              Quote(dir.Path("pictures.m4v")),
          &status);
    EXPECT_EQ(status, 0);
    return SplitPictures(ReadFile(dir.Path("pictures.m4v")));
}

// A recording as it is being written, with a picture of `pictures` or a repeat frame after
// each of its pictures; the header is refreshed after every frame. snapshots[n] is the file
// as a killed writer leaves it after n + 1 frames; the finished file is at path.
struct Recording {
    std::string path;
    std::vector<Bytes> snapshots;
    Bytes finished;
};

Recording Record(const TempDir& dir,
                 const std::vector<std::pair<std::vector<char>, bool>>& pictures,
                 int refresh_ms = 0, std::int64_t part_bytes = AVI_PART_BYTES) {
    Recording r{dir.Path("rec.avi"), {}, {}};
    avi_file* avi = AVI_create_output_file(r.path.c_str());
    EXPECT_NE(avi, nullptr);
    AVI_set_video_format(avi, 64, 48, 30.0, "xvid");
    AVI_set_audio_format(avi, 0, 44100, 16, 0);
    AVI_set_header_refresh(avi, refresh_ms);
    AVI_set_part_bytes(avi, part_bytes);
    for (size_t i = 0; i < pictures.size(); ++i) {
        const auto& [bytes, key] = pictures[i];
        EXPECT_EQ(AVI_put_video_frame(avi, bytes.data(), int(bytes.size()), key), 0);
        r.snapshots.push_back(ReadFile(r.path));
        if (i % 7 == 3) {
            EXPECT_EQ(AVI_put_video_frame(avi, nullptr, 0, 0), 0);
            r.snapshots.push_back(ReadFile(r.path));
        }
    }
    EXPECT_EQ(AVI_close_file(avi), 0);
    r.finished = ReadFile(r.path);
    return r;
}

// A file of one part, read while it is written (killed after the refresh, also inside the
// next chunk) and when finished.
TEST(AviFfmpeg, FfprobeReadsTheFileWhileWrittenAndFinished) {
    TempDir dir;
    auto pictures = MakePictures(dir);
    ASSERT_EQ(pictures.size(), 30u);
    Recording r = Record(dir, pictures);  // and 4 repeat frames
    ASSERT_EQ(r.snapshots.size(), 34u);
    EXPECT_EQ(Stream(r.path, "v:0")["nb_frames"], "34");
    EXPECT_EQ(Record(dir, pictures, -1).finished, r.finished);  // refreshes leave no trace

    const std::string cut = dir.Path("cut.avi");
    for (size_t n : {0, 4, 33}) {
        SCOPED_TRACE("after frame " + std::to_string(n + 1));
        const Bytes& snapshot = r.snapshots[n];
        EXPECT_EQ(U32At(snapshot, 48), n + 1);  // the header counts every frame so far
        // Cut off anywhere after the refresh: also inside the next frame's chunk.
        for (size_t extra : {size_t(0), size_t(5)}) {
            Bytes bytes = snapshot;
            bytes.insert(bytes.end(), r.finished.begin() + long(bytes.size()),
                         r.finished.begin() + long(bytes.size() + extra));
            WriteFile(cut, bytes);
            EXPECT_EQ(Stream(cut, "v:0")["nb_frames"], std::to_string(n + 1));
            EXPECT_EQ(DecodeErrors(cut), "");
            avi_file* in = AVI_open_for_reading(cut.c_str(), 1);
            ASSERT_NE(in, nullptr) << "error " << AVI_last_error;
            EXPECT_EQ(AVI_get_frame_count(in), int(n + 1));
            AVI_close_file(in);
        }
    }
}

// Frames decoded at a constant rate by ffmpeg (from `seek` seconds on) and GStreamer: their
// counts and ffmpeg's last frame's checksum.
struct Decoded {
    int ffmpeg = 0, gstreamer = 0;
    std::string last;
};
Decoded Decode(const std::string& path, double seek = 0) {
    auto md5 = Lines(Shell("ffmpeg -v error -ss " + std::to_string(seek) + " -i " + Quote(path) +
                           " -fps_mode cfr -f framemd5 - | grep -v '^#'"));
    std::string gst = Shell("gst-launch-1.0 -v filesrc location=" + Quote(path) +
                            " ! avidemux ! avdec_mpeg4 ! videorate ! video/x-raw,framerate=30/1 "
                            "! fakesink silent=false 2>/dev/null | grep -c chain");
    return {int(md5.size()), std::atoi(gst.c_str()), md5.empty() ? "" : md5.back().substr(40)};
}

// Pictures, then a still stretch longer than a part, then pictures again, in parts of 16 KiB.
// Killed in its second part the file plays every frame written, and once finished it plays
// and seeks whole, in ffmpeg and GStreamer.
TEST(AviFfmpeg, PartsPlayWholeWhileWrittenAndFinished) {
    TempDir dir;
    auto pictures = MakePictures(dir, 4);
    const int kStill = 1100, kFrames = int(pictures.size()) + kStill;
    const std::string path = dir.Path("parts.avi"), killed = dir.Path("killed.avi");
    avi_file* avi = AVI_create_output_file(path.c_str());
    AVI_set_video_format(avi, 64, 48, 30.0, "xvid");
    AVI_set_header_refresh(avi, 0);
    AVI_set_part_bytes(avi, 16 * 1024);
    int kill_at = 0;
    for (int i = 0; i < kFrames; ++i) {
        const bool still = i >= 60 && i < 60 + kStill;
        const auto& [bytes, key] = pictures[size_t(i < 60 ? i : std::max(60, i - kStill))];
        ASSERT_EQ(AVI_put_video_frame(avi, still ? nullptr : bytes.data(),
                                      still ? 0 : int(bytes.size()), key),
                  0);
        if (kill_at == 0 && avi->part_count == 2 && !still) {
            kill_at = i + 1;
            WriteFile(killed, ReadFile(path));
        }
    }
    ASSERT_EQ(AVI_close_file(avi), 0);
    Bytes file = ReadFile(path);
    int parts = 1, parts_opened_still = 0;
    for (size_t at = 12; at + 24 < file.size(); at += 2) {
        if (U32At(file, at) == Id("RIFF") && U32At(file, at + 8) == Id("AVIX")) {
            ++parts;
            parts_opened_still += U32At(file, at + 28) == 0;  // the first chunk is a repeat
        }
    }
    EXPECT_GE(parts, 4);
    EXPECT_GE(parts_opened_still, 1);

    auto stream = Stream(path, "v:0");
    EXPECT_EQ(stream["codec_name"] + " " + stream["codec_tag_string"], "mpeg4 xvid");
    EXPECT_EQ(stream["width"] + "x" + stream["height"] + " " + stream["r_frame_rate"],
              "64x48 30/1");
    EXPECT_EQ(std::make_pair(stream["nb_frames"], stream["nb_read_packets"]),
              std::make_pair(std::to_string(kFrames), std::to_string(pictures.size())));
    EXPECT_NEAR(std::atof(stream["duration"].c_str()), kFrames / 30.0, 0.01);
    EXPECT_EQ(DecodeErrors(path), "");
    Decoded whole = Decode(path), end = Decode(path, kFrames / 30.0 - 1);
    EXPECT_EQ(std::make_pair(whole.ffmpeg, whole.gstreamer), std::make_pair(kFrames, kFrames));
    EXPECT_NEAR(end.ffmpeg, 30, 1);  // the seek lands a second before the end
    EXPECT_EQ(end.last, whole.last);

    ASSERT_GT(kill_at, 0);
    EXPECT_EQ(Stream(killed, "v:0")["nb_frames"], std::to_string(kill_at));
    Decoded part = Decode(killed);
    EXPECT_EQ(std::make_pair(part.ffmpeg, part.gstreamer), std::make_pair(kill_at, kill_at));
}

TEST(AviRepair, FinishesWhatTheWriterWouldHaveAndIsSafeToRepeat) {
    TempDir dir;
    Recording r = Record(dir, MakePictures(dir));
    const std::string path = dir.Path("killed.avi");
    // Killed after the last frame: the repair writes what the writer's close wrote, key
    // flags (from the pictures' coding types) included.
    WriteFile(path, r.snapshots.back());
    AviRepairReport report = AVI_repair_recording(path);
    ASSERT_EQ(report.outcome, AviRepairOutcome::kRepaired) << report.reason;
    EXPECT_EQ(report.frames, 34);
    EXPECT_NEAR(report.seconds, 34 / 30.0, 0.001);
    EXPECT_EQ(report.bytes_kept, std::int64_t(r.snapshots.back().size()));
    EXPECT_EQ(report.bytes_dropped, 0);
    EXPECT_EQ(ReadFile(path), r.finished);
    EXPECT_EQ(AVI_repair_recording(path).outcome, AviRepairOutcome::kNothingToDo);
    EXPECT_EQ(ReadFile(path), r.finished);

    // A repair that was itself interrupted, with the index partly or wholly written but not
    // the header, is finished the same way.
    const size_t data_end = 2044 + U32At(r.finished, 2040);
    for (size_t end : {data_end + 3, data_end + 20, r.finished.size()}) {
        Bytes bytes(r.finished.begin(), r.finished.begin() + long(end));
        std::copy(r.snapshots.back().begin(), r.snapshots.back().begin() + 2048, bytes.begin());
        WriteFile(path, bytes);
        ASSERT_EQ(AVI_repair_recording(path).outcome, AviRepairOutcome::kRepaired);
        EXPECT_EQ(ReadFile(path), r.finished) << "index cut at " << end;
    }

    // Cut in the middle of the last picture: the frames before it are kept, as a repair of
    // the file after those frames gives them.
    Bytes torn = r.snapshots.back();
    torn.resize(torn.size() - 9);
    WriteFile(path, torn);
    report = AVI_repair_recording(path);
    ASSERT_EQ(report.outcome, AviRepairOutcome::kRepaired);
    EXPECT_EQ(report.frames, 33);
    EXPECT_GT(report.bytes_dropped, 0);
    Bytes repaired = ReadFile(path);
    WriteFile(path, r.snapshots[32]);
    ASSERT_EQ(AVI_repair_recording(path).outcome, AviRepairOutcome::kRepaired);
    EXPECT_EQ(ReadFile(path), repaired);
    EXPECT_EQ(Stream(path, "v:0")["nb_frames"], "33");
    EXPECT_EQ(DecodeErrors(path), "");
}

TEST(AviRepair, LeavesAloneWhatIsNoUnfinishedRecording) {
    TempDir dir;
    Recording r = Record(dir, MakePictures(dir));
    int status = -1;
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=30 -t 1 -c:v mpeg4 -vtag xvid " +
              Quote(dir.Path("Recode_ffmpeg.avi")),
          &status);
    ASSERT_EQ(status, 0);
    Bytes foreign = ReadFile(dir.Path("Recode_ffmpeg.avi"));
    Bytes unheaded(2100, 0);
    std::copy(r.snapshots[0].begin() + 2048, r.snapshots[0].begin() + 2100,
              unheaded.begin() + 2048);
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"Recode_text.avi", Bytes(3000, 'x')}, {"Recode_ffmpeg.avi", foreign},
        {"Recode_unheaded.avi", unheaded},     {"Recode_finished.avi", r.finished},
        {"Recode_killed.avi", r.snapshots[9]}, {"killed.avi", r.snapshots[9]}};
    for (const auto& [name, bytes] : files) {
        WriteFile(dir.Path(name), bytes);
    }
    EXPECT_EQ(AVI_find_unfinished_recordings(dir.Path(""), "Recode_"),
              std::vector<std::string>{dir.Path("Recode_killed.avi")});

    for (size_t i = 0; i < 4; ++i) {
        AviRepairReport report = AVI_repair_recording(dir.Path(files[i].first));
        EXPECT_EQ(report.outcome,
                  i < 3 ? AviRepairOutcome::kRefused : AviRepairOutcome::kNothingToDo)
            << files[i].first;
        EXPECT_EQ(ReadFile(dir.Path(files[i].first)), files[i].second) << files[i].first;
    }
    EXPECT_EQ(AVI_repair_recording(dir.Path("Recode_ffmpeg.avi")).reason,
              "an AVI file that BrintelShot did not write");

    // A file still being written is not touched.
    avi_file* avi = AVI_create_output_file(dir.Path("Recode_live.avi").c_str());
    AVI_set_video_format(avi, 64, 48, 30.0, "xvid");
    ASSERT_EQ(AVI_put_video_frame(avi, "abcd", 4, 1), 0);
    Bytes live = ReadFile(dir.Path("Recode_live.avi"));
    EXPECT_EQ(AVI_repair_recording(dir.Path("Recode_live.avi")).outcome,
              AviRepairOutcome::kRefused);
    EXPECT_EQ(ReadFile(dir.Path("Recode_live.avi")), live);
    AVI_close_file(avi);
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

    // Every frame's bytes, against the stream ffmpeg copies out of the file.
    std::vector<unsigned char> all_frames;
    for (int i = 0; i < AVI_get_frame_count(in); ++i) {
        int length = AVI_get_frame_length(in, i);
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
