// ffprobe, ffmpeg and GStreamer read what the writer wrote (also while it is being written and
// once repaired), and the reader reads what ffmpeg wrote.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <thread>
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
std::vector<std::pair<std::vector<char>, bool>> MakePictures(int seconds = 1) {
    const std::string m4v = Shell("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=30 -t " +
                                  std::to_string(seconds) + " -c:v mpeg4 -g 10 -f m4v -");
    return SplitPictures(Bytes(m4v.begin(), m4v.end()));
}

// A recording being written: a picture of `pictures` or a repeat frame after each picture, with
// sound MP3 frames up to each frame's time before it; the header refreshed after every frame.
// snapshots[n] is the file a writer killed after n + 1 frames leaves; the finished one is at path.
struct Recording {
    std::string path;
    std::vector<Bytes> snapshots;
    Bytes finished;
};

Recording Record(const TempDir& dir,
                 const std::vector<std::pair<std::vector<char>, bool>>& pictures,
                 int refresh_ms = 0, std::int64_t part_bytes = AVI_PART_BYTES, bool sound = false) {
    Recording r{dir.Path("rec.avi"), {}, {}};
    const std::string mp3 = Shell(
        "ffmpeg -v error -f lavfi -i sine -t 1 -ar 48000 -ac 2 "
        "-b:a 32k -write_xing 0 -id3v2_version 0 -f mp3 -");
    avi_file* avi = AVI_create_output_file(r.path.c_str());
    EXPECT_NE(avi, nullptr);
    AVI_set_video_format(avi, 64, 48, 30.0, "xvid");
    AVI_set_audio_format(avi, sound ? 2 : 0, 48000, 16, sound ? 0x55 : 0);
    AVI_set_header_refresh(avi, refresh_ms);
    AVI_set_part_bytes(avi, part_bytes);
    for (size_t i = 0, mp3_frames = 0; i < pictures.size(); ++i) {
        while (sound && mp3_frames * 1152 * 30 < size_t(avi->frame_count + 1) * 48000) {
            const size_t at = mp3_frames++ * 96 % mp3.size();  // the second's sound over again
            EXPECT_EQ(AVI_put_audio_block(avi, mp3.data() + at, 96), 0);
        }
        const auto& [bytes, key] = pictures[i];  // an empty picture is a repeat frame
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

// Frames decoded at a constant rate by ffmpeg (from `seek` seconds on) and GStreamer: their
// counts and ffmpeg's last frame's checksum.
struct Decoded {
    int ffmpeg = 0, gstreamer = 0;
    std::string last;
};
Decoded Decode(const std::string& path, double seek = 0) {
    auto md5 = Lines(Shell("ffmpeg -v error -ss " + std::to_string(seek) + " -i " + Quote(path) +
                           " -map 0:v -fps_mode cfr -f framemd5 - | grep -v '^#'"));
    std::string gst = Shell("gst-launch-1.0 -v filesrc location=" + Quote(path) +
                            " ! avidemux ! avdec_mpeg4 ! videorate ! video/x-raw,framerate=30/1 "
                            "! fakesink silent=false 2>/dev/null | grep -c chain");
    return {int(md5.size()), std::atoi(gst.c_str()), md5.empty() ? "" : md5.back().substr(40)};
}

// Pictures, a still stretch longer than a part, pictures, in parts of 16 KiB, without and with
// sound. Killed in its first or second part (also inside the next chunk) the file plays every
// frame written and is repaired whole; finished, it plays and seeks whole in ffmpeg and GStreamer.
TEST(AviFfmpeg, PartsPlayWholeWhileWrittenAndFinished) {
    for (bool sound : {false, true}) {
        SCOPED_TRACE(sound ? "with sound" : "without sound");
        TempDir dir;
        auto pictures = MakePictures(4);
        pictures.insert(pictures.begin() + 60, 1100, {});  // empty pictures: repeat frames
        Recording r = Record(dir, pictures, 0, 16 * 1024, sound);
        const int kFrames = int(r.snapshots.size());
        EXPECT_EQ(Record(dir, pictures, -1, 16 * 1024, sound).finished, r.finished);  // unrefreshed
        int parts = 1, parts_opened_still = 0;  // parts whose first chunk is a repeat
        for (size_t at = 12; at + 32 < r.finished.size(); at += 2) {
            const bool part =
                U32At(r.finished, at) == Id("RIFF") && U32At(r.finished, at + 8) == Id("AVIX");
            parts += part;
            parts_opened_still += part && U32At(r.finished, at + 28) == 0;
        }
        EXPECT_GE(std::make_pair(parts, parts_opened_still), std::make_pair(4, 1));

        auto v = Stream(r.path, "v:0");
        EXPECT_EQ(v["codec_name"] + " " + v["codec_tag_string"] + " " + v["width"] + "x" +
                      v["height"] + " " + v["r_frame_rate"] + " " + v["nb_frames"],
                  "mpeg4 xvid 64x48 30/1 " + std::to_string(kFrames));
        EXPECT_EQ(DecodeErrors(r.path), "");
        Decoded whole = Decode(r.path), end = Decode(r.path, kFrames / 30.0 - 1);
        EXPECT_EQ(std::make_pair(whole.ffmpeg, whole.gstreamer), std::make_pair(kFrames, kFrames));
        EXPECT_NEAR(end.ffmpeg, 30, 1);  // the seek lands a second before the end
        EXPECT_EQ(end.last, whole.last);

        // The header counts the first part's frames in the main header, all in the stream header.
        size_t second = 0;
        for (; U32At(r.snapshots[second], 48) == second + 1; ++second) {
            EXPECT_EQ(U32At(r.snapshots[second], 140), second + 1);
        }
        const std::string cut = dir.Path("cut.avi");
        for (size_t n : {size_t(3), second + 2}) {  // in the first part, in the second
            SCOPED_TRACE("after frame " + std::to_string(n + 1));
            for (size_t extra : {size_t(0), size_t(5)}) {  // killed inside the next chunk too
                Bytes bytes = r.snapshots[n];
                bytes.insert(bytes.end(), r.finished.begin() + long(bytes.size()),
                             r.finished.begin() + long(bytes.size() + extra));
                WriteFile(cut, bytes);
                EXPECT_EQ(Stream(cut, "v:0")["nb_frames"], std::to_string(n + 1));
                Decoded part = Decode(cut);
                EXPECT_EQ(std::make_pair(part.ffmpeg, part.gstreamer),
                          std::make_pair(int(n) + 1, int(n) + 1));
                EXPECT_EQ(AVI_repair_recording(cut).frames, int(n + 1));
            }
        }
        // Killed after its last frame (in its last part), also after an interrupted repair (the
        // index partly or wholly written, not the header), the repair writes what the close wrote,
        // key flags included; a second run has nothing to do.
        const Bytes& killed = r.snapshots.back();
        for (size_t end :
             {killed.size(), killed.size() + 3, killed.size() + 20, r.finished.size()}) {
            Bytes bytes = end == killed.size()
                              ? killed
                              : Bytes(r.finished.begin(), r.finished.begin() + long(end));
            std::copy(killed.begin(), killed.begin() + 2048, bytes.begin());
            WriteFile(cut, bytes);
            AviRepairReport report = AVI_repair_recording(cut);
            ASSERT_EQ(report.outcome, AviRepairOutcome::kRepaired) << report.reason;
            EXPECT_EQ(report.frames, kFrames);
            EXPECT_NEAR(report.seconds, kFrames / 30.0, 0.001);
            EXPECT_EQ(ReadFile(cut), r.finished) << "index cut at " << end;
            if (end == killed.size()) {
                EXPECT_EQ(std::make_pair(report.bytes_kept, report.bytes_dropped),
                          std::make_pair(std::int64_t(end), std::int64_t(0)));
            }
        }
        EXPECT_EQ(AVI_repair_recording(cut).outcome, AviRepairOutcome::kNothingToDo);
        EXPECT_NEAR(std::atof(Stream(cut, "a:0")["duration"].c_str()), sound ? kFrames / 30.0 : 0,
                    0.03);
    }
}

// Past 4 GiB through the real writer, with pre-encoded pictures of noise (all key frames):
// offsets above 32 bits in the super index, the standard indexes and the reader.
TEST(AviFfmpeg, LargeFilePast4GiB) {
    TempDir dir;
    struct statvfs disk {};
    if (statvfs(dir.path().c_str(), &disk) != 0 || disk.f_bavail * disk.f_frsize < (6ull << 30)) {
        GTEST_SKIP() << "less than 6 GiB free";
    }
    Shell(
        "ffmpeg -v error -f lavfi -i 'nullsrc=s=1280x720:r=30,geq=random(1)*255:128:128' -t 1 "
        "-c:v mpeg4 -q:v 2 -g 1 -f m4v " +
        Quote(dir.Path("noise.m4v")));
    auto pictures = SplitPictures(ReadFile(dir.Path("noise.m4v")));
    ASSERT_EQ(pictures.size(), 30u);
    const std::string path = dir.Path("large.avi");
    avi_file* avi = AVI_create_output_file(path.c_str());
    AVI_set_video_format(avi, 1280, 720, 30.0, "xvid");
    int frames = 0;
    for (; avi->file_pos < (std::int64_t(1) << 32) + (64 << 20); ++frames) {
        const auto& [bytes, key] = pictures[size_t(frames) % 30];
        ASSERT_EQ(AVI_put_video_frame(avi, bytes.data(), int(bytes.size()), key), 0);
    }
    ASSERT_EQ(avi->part_count, 5);
    ASSERT_EQ(AVI_close_file(avi), 0);

    EXPECT_EQ(Stream(path, "v:0")["nb_frames"], std::to_string(frames));
    EXPECT_NEAR(Lines(Shell("ffmpeg -v error -ss " + std::to_string(frames / 30.0 - 1) + " -i " +
                            Quote(path) + " -f framemd5 - 2>&1 | grep -v '^#'"))
                    .size(),
                30, 1);  // seeks a second before the end, and decodes without an error
    avi_file* in = AVI_open_for_reading(path.c_str(), 1);
    ASSERT_NE(in, nullptr) << AVI_last_error;
    EXPECT_EQ(AVI_get_frame_count(in), frames);
    EXPECT_GT(in->frame_table[frames - 1].offset, std::int64_t(1) << 32);
    ASSERT_EQ(AVI_get_frame_length(in, frames - 1),
              int(pictures[size_t(frames - 1) % 30].first.size()));
    AVI_close_file(in);
}

int DecodedFrames(const std::string& path, const std::string& stream = "v:0") {
    return std::atoi(Shell("ffprobe -v quiet -count_frames -select_streams " + stream +
                           " -show_entries stream=nb_read_frames -of csv=p=0 " + Quote(path))
                         .c_str());
}

// Single damages (of its 11th of 34 chunks or, with sound, a sound chunk or frame; its header,
// its end): every frame is kept, all that ffmpeg decodes too; a second run finds nothing to do.
TEST(AviRepair, PassesOverDamage) {
    for (const auto& [sound, target] : {std::pair(false, 10), {true, 11}, {true, 14}}) {
        TempDir dir;
        Recording r = Record(dir, MakePictures(), 0, AVI_PART_BYTES, sound);
        const std::string path = dir.Path("killed.avi");
        const Bytes killed = r.snapshots.back();
        std::vector<size_t> chunks;
        for (size_t at = 2048; at + 8 <= killed.size();
             at += 8 + ((U32At(killed, at + 4) + 1) & ~1u)) {
            chunks.push_back(at);
        }
        const size_t c = chunks[size_t(target)], length = U32At(killed, c + 4);
        const std::vector<std::tuple<std::string, int, std::function<void(Bytes&)>>> damages = {
            {"id", 34, [&](Bytes& b) { b[c + 1] ^= 0x04; }},
            {"length smaller", 34, [&](Bytes& b) { PutU32At(b, c + 4, length - 6); }},
            {"length larger", 34, [&](Bytes& b) { PutU32At(b, c + 4, length + 40); }},
            {"length past the end", 34, [&](Bytes& b) { PutU32At(b, c + 4, length | 1u << 30); }},
            {"picture start code and data", 34,
             [&](Bytes& b) { b[c + 10] ^= 0x01, b[c + 8 + length / 2] ^= 0x80; }},
            {"header frame count and filler", 34,
             [&](Bytes& b) { PutU32At(b, 48, 7), b[500] = 0x55; }},
            {"cut inside the last picture", 34, [&](Bytes& b) { b.resize(b.size() - 9); }},
            {"zeros over a repeat frame (sound: two sound chunks) and the next header",
             sound ? 34 : 32,
             [&](Bytes& b) { std::fill(&b[chunks[12] - 4], &b[chunks[13] + 12], 0); }}};
        for (const auto& [what, frames, damage] : damages) {
            SCOPED_TRACE(what + " of chunk " + std::to_string(target) + (sound ? ", sound" : ""));
            Bytes bytes = killed;
            damage(bytes);
            WriteFile(path, bytes);
            const int before = DecodedFrames(path), sound_before = DecodedFrames(path, "a:0");
            AviRepairReport report = AVI_repair_recording(path);
            ASSERT_EQ(report.outcome, AviRepairOutcome::kRepaired) << report.reason;
            EXPECT_EQ(report.frames, frames);
            EXPECT_GE(DecodedFrames(path), before);
            EXPECT_GE(DecodedFrames(path, "a:0"), sound_before);
            EXPECT_EQ(AVI_repair_recording(path).outcome, AviRepairOutcome::kNothingToDo);
        }
    }
}

// The start-up scan repairs the unfinished recordings of this program (here with sound) whatever
// their names, removes the empty leftovers named as its recordings are, and leaves all else as it
// was, as `--repair` does; it never follows a link, nor a name swapped for one after it was opened.
TEST(AviRepair, FolderScanRepairsOursRemovesEmptyLeftoversAndLeavesTheRest) {
    TempDir dir, outside;
    Recording r = Record(dir, MakePictures(), 0, AVI_PART_BYTES, true);  // with sound
    Bytes unheaded = r.snapshots[0];
    std::fill(unheaded.begin(), unheaded.begin() + 2048, 0);
    Shell("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=30 -t 1 -c:v mpeg4 -vtag xvid " +
          Quote(dir.Path("Recode_ffmpeg.avi")));
    const std::vector<std::pair<std::string, Bytes>> kept = {
        {"Recode_ffmpeg.avi", ReadFile(dir.Path("Recode_ffmpeg.avi"))},
        {"Recode_unheaded.avi", unheaded},
        {"Recode_torn.avi", Bytes(r.snapshots[0].begin(), r.snapshots[0].end() - 3)},
        {"Recode_finished.avi", r.finished},
        {"zeros.avi", Bytes(2048, 0)}};
    for (const auto& [name, bytes] : kept) {
        WriteFile(dir.Path(name), bytes);
    }
    for (const char* name : {"Recode_killed.avi", "demo.avi", "Recode_swapped.avi"}) {
        WriteFile(dir.Path(name), r.snapshots[9]);
    }
    WriteFile(dir.Path("Recode_empty.avi"), Bytes(2048, 0));
    WriteFile(dir.Path("Recode_none.avi"), Bytes());
    WriteFile(outside.Path("elsewhere.avi"), r.snapshots[9]);
    symlink(outside.Path("elsewhere.avi").c_str(), dir.Path("Recode_link.avi").c_str());
    // Being written (no frame yet): held by its writer, not taken for a leftover.
    avi_file* live = AVI_create_output_file(dir.Path("Recode_live.avi").c_str());

    // Once the scan opens it, the name is swapped for a link to the file outside.
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, dir.Path("Recode_swapped.avi").c_str(), IN_OPEN), 0);
    std::thread swapper([&] {
        char event[sizeof(inotify_event) + NAME_MAX + 1];
        if (read(watch, event, sizeof event) > 0) {
            rename(dir.Path("Recode_swapped.avi").c_str(), dir.Path("moved").c_str());
            symlink(outside.Path("elsewhere.avi").c_str(), dir.Path("Recode_swapped.avi").c_str());
        }
    });
    std::string done;
    for (const AviFolderRepair& file : AVI_repair_folder(dir.path(), "Recode_")) {
        done += file.name + (file.report.outcome == AviRepairOutcome::kRemoved ? "-" : "+") + " ";
    }
    swapper.join();
    close(watch);
    EXPECT_EQ(done,
              "Recode_empty.avi- Recode_killed.avi+ Recode_none.avi- Recode_swapped.avi+ "
              "demo.avi+ ");
    EXPECT_EQ(dir.Files().size(), 12u);  // all written but the two removed, and "moved"
    EXPECT_EQ(ReadFile(dir.Path("moved")), ReadFile(dir.Path("demo.avi")));
    EXPECT_EQ(DecodedFrames(dir.Path("demo.avi")), 9);  // 10 chunks, one a repeat
    for (const auto& [name, bytes] : kept) {
        AviRepairReport report = AVI_repair_recording(dir.Path(name));
        EXPECT_EQ(report.outcome, name == "Recode_finished.avi" ? AviRepairOutcome::kNothingToDo
                                                                : AviRepairOutcome::kRefused);
        EXPECT_EQ(ReadFile(dir.Path(name)), bytes) << name;
        EXPECT_EQ(report.reason == "no complete frame to keep", name == "Recode_torn.avi") << name;
    }
    EXPECT_EQ(AVI_repair_recording(dir.Path("Recode_link.avi")).outcome,
              AviRepairOutcome::kRefused);
    EXPECT_EQ(ReadFile(outside.Path("elsewhere.avi")), r.snapshots[9]);
    AVI_close_file(live);
}

TEST(AviFfmpeg, ReaderReadsFfmpegFile) {
    TempDir dir;
    const std::string path = dir.Path("x.avi");
    int status = -1;
    Shell(
        "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=30 -f lavfi -i sine -t 1 "
        "-c:v mpeg4 -vtag xvid -c:a pcm_s16le " +
            Quote(path) + " && ffmpeg -v error -y -i " + Quote(path) + " -map 0:v -c copy -f m4v " +
            Quote(dir.Path("v.m4v")),
        &status);
    ASSERT_EQ(status, 0);
    auto video = Stream(path, "v:0");
    auto audio = Stream(path, "a:0");

    avi_file* in = AVI_open_for_reading(path.c_str(), 1);
    ASSERT_NE(in, nullptr) << "error " << AVI_last_error;
    EXPECT_EQ(std::to_string(AVI_get_frame_count(in)) + " " + std::to_string(AVI_get_width(in)) +
                  "x" + std::to_string(AVI_get_height(in)) + " " + AVI_get_compressor(in),
              video["nb_read_packets"] + " " + video["width"] + "x" + video["height"] + " " +
                  video["codec_tag_string"]);
    EXPECT_NEAR(AVI_get_fps(in), Rate(video["r_frame_rate"]), 1e-6);
    EXPECT_EQ(std::to_string(AVI_get_audio_channels(in)) + " " +
                  std::to_string(AVI_get_audio_rate(in)) + " " +
                  std::to_string(AVI_get_audio_bits(in)) + " " +
                  std::to_string(AVI_get_audio_format(in)),
              audio["channels"] + " " + audio["sample_rate"] + " " + audio["bits_per_sample"] +
                  " " + std::to_string(std::strtol(audio["codec_tag"].c_str(), nullptr, 16)));

    // Every frame's bytes, against the stream ffmpeg copies out of the file.
    std::vector<unsigned char> all_frames;
    for (int i = 0; i < AVI_get_frame_count(in); ++i) {
        std::vector<char> frame(size_t(AVI_get_frame_length(in, i)));
        ASSERT_EQ(AVI_fetch_frame(in, frame.data()), int(frame.size()));
        all_frames.insert(all_frames.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(all_frames, ReadFile(dir.Path("v.m4v")));

    AVI_close_file(in);
}

}  // namespace
