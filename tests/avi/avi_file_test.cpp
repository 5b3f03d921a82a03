// The AVI writer's layout byte by byte where it matters, its failure handling, the error texts,
// and the reader on the writer's files, other index layouts and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "common/ffprobe_support.h"
#include "encoding/avi/avi_error.h"
#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_writer.h"

using namespace probe;

namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t Id(const char* s) {
    return U32At(Bytes(s, s + 4), 0);
}

void ExpectFields(const Bytes& bytes, const std::vector<std::pair<size_t, std::uint32_t>>& fields) {
    for (auto [at, value] : fields) {
        EXPECT_EQ(U32At(bytes, at), value) << "at byte " << at;
    }
}

// The error code a call leaves when it fails (returns -1); 0 when it succeeds.
template <typename Call>
int ErrorOf(Call call) {
    AVI_last_error = 0;
    return call() == -1 ? AVI_last_error : 0;
}

avi_file* CreateXvid(const std::string& path) {
    avi_file* avi = AVI_create_output_file(path.c_str());
    EXPECT_NE(avi, nullptr);
    AVI_set_video_format(avi, 640, 480, 30.0, "xvid");
    AVI_set_audio_format(avi, 0, 44100, 16, 0);
    return avi;
}

TEST(AviWriter, LayoutOfAnEmptyFileAnOddFrameAndKeyFlags) {
    TempDir dir;
    ASSERT_EQ(AVI_close_file(CreateXvid(dir.Path("empty.avi"))), 0);
    Bytes bytes = ReadFile(dir.Path("empty.avi"));
    ASSERT_EQ(bytes.size(), 2056u);
    // Flags 0x10010: capture file, has index. At 192: one plane, 24 bits per pixel.
    // clang-format off
    ExpectFields(bytes, {{0, Id("RIFF")}, {4, 2048}, {8, Id("AVI ")}, {16, 2004}, {32, 33333},
                         {44, 0x10010}, {48, 0}, {56, 1}, {64, 640}, {68, 480},
                         {108, Id("vids")}, {112, Id("xvid")}, {128, 33333}, {132, 1000000},
                         {148, 0xFFFFFFFF}, {192, 1 | 24 << 16}, {196, Id("xvid")},
                         {200, 640 * 480}, {220, Id("JUNK")}, {224, 1528}, {1756, Id("JUNK")},
                         {1760, 260}, {1764, Id("odml")}, {1768, Id("dmlh")}, {1772, 248},
                         {2024, Id("JUNK")}, {2028, 4}, {2036, Id("LIST")}, {2040, 4},
                         {2044, Id("movi")}, {2048, Id("idx1")}, {2052, 0}});
    // clang-format on
    // The super index and odml reservations stay blank in a file of one part.
    EXPECT_EQ(std::count(bytes.begin() + 228, bytes.begin() + 1756, 0), 1756 - 228);
    EXPECT_EQ(std::count(bytes.begin() + 1776, bytes.begin() + 2024, 0), 2024 - 1776);

    // An odd frame: the pad byte is zero even though the caller's next byte is not.
    avi_file* avi = CreateXvid(dir.Path("one.avi"));
    std::vector<char> data(1002, 'd');
    data[1001] = char(0xAA);
    ASSERT_EQ(AVI_put_video_frame(avi, data.data(), 1001, 1), 0);
    ASSERT_EQ(AVI_close_file(avi), 0);
    bytes = ReadFile(dir.Path("one.avi"));
    ASSERT_EQ(bytes.size(), 3082u);
    // clang-format off
    ExpectFields(bytes, {{4, 3074}, {48, 1}, {140, 1}, {2040, 1014}, {2048, Id("00db")},
                         {2052, 1001}, {3058, Id("idx1")}, {3062, 16}, {3066, Id("00db")},
                         {3070, 0x10}, {3074, 2048}, {3078, 1001}});
    // clang-format on
    EXPECT_EQ(bytes[2056 + 1000], 'd');
    EXPECT_EQ(bytes[2056 + 1001], 0);

    avi = CreateXvid(dir.Path("keys.avi"));
    ASSERT_EQ(AVI_put_video_frame(avi, data.data(), 4, 1), 0);  // 2048: key
    ASSERT_EQ(AVI_put_video_frame(avi, data.data(), 3, 0), 0);  // 2060: delta
    ASSERT_EQ(AVI_put_video_frame(avi, nullptr, 0, 1), 0);      // 2072: empty, never a key
    ASSERT_EQ(AVI_repeat_last_frame(avi), 0);                   // repeats the empty one
    ASSERT_EQ(AVI_put_video_frame(avi, data.data(), 2, 1), 0);  // 2080: key
    ASSERT_EQ(AVI_repeat_last_frame(avi), 0);                   // repeats the key
    ASSERT_EQ(AVI_close_file(avi), 0);
    bytes = ReadFile(dir.Path("keys.avi"));
    ExpectFields(bytes, {{44, 0x10030}, {48, 6}, {2090, Id("idx1")}, {2094, 16 * 6}});
    const std::uint32_t entries[6][3] = {{0x10, 2048, 4}, {0, 2060, 3},    {0, 2072, 0},
                                         {0, 2072, 0},    {0x10, 2080, 2}, {0x10, 2080, 2}};
    size_t at = 2098;
    for (const auto& e : entries) {
        ExpectFields(bytes, {{at, Id("00db")}, {at + 4, e[0]}, {at + 8, e[1]}, {at + 12, e[2]}});
        at += 16;
    }
}

TEST(AviWriter, PartsUpToTheSuperIndexLimit) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("parts.avi"));
    AVI_set_part_bytes(avi, 16 * 1024);
    std::vector<char> data(5000, 7);
    int frames = 0;
    while (AVI_put_video_frame(avi, data.data(), 5000, frames % 3 == 0) == 0) {
        ++frames;
    }
    // Two frames in the first part (idx1 takes room there too), three in the others, each
    // with its indexes, until the super index is full.
    const int kFrames = 2 + 93 * 3;
    EXPECT_EQ(AVI_last_error, AVI_ERR_SIZELIM);
    EXPECT_EQ(std::make_pair(avi->part_count, frames), std::make_pair(94, kFrames));
    EXPECT_EQ(AVI_room_left(avi), 16 * 1024 - (avi->file_pos - avi->part_start) - (32 + 3 * 8));
    EXPECT_EQ(ReadFile(dir.Path("parts.avi")).size(), size_t(avi->file_pos));  // nothing of it
    ASSERT_EQ(AVI_close_file(avi), 0);
    Bytes bytes = ReadFile(dir.Path("parts.avi"));
    // The first part: its frames, ix00 (32 + 2 * 8) in the movi list, idx1, then the next
    // part. The header counts the first part's frames, the stream all of them, and the super
    // index names all 94 parts' indexes.
    const std::uint32_t ix00 = 2048 + 2 * 5008, idx1 = ix00 + 48, avix = idx1 + 8 + 32;
    // clang-format off
    ExpectFields(bytes, {{4, avix - 8}, {44, 0x10010}, {48, 2}, {140, kFrames},
                         {2040, idx1 - 2044}, {220, Id("indx")}, {224, 24 + 16 * 94}, {228, 4},
                         {232, 94}, {236, Id("00db")}, {252, ix00}, {256, 0}, {260, 48},
                         {264, 2}, {1756, Id("LIST")}, {1764, Id("odml")}, {1776, kFrames},
                         {ix00, Id("ix00")}, {ix00 + 8, 2 | 1 << 24}, {ix00 + 12, 2},
                         {ix00 + 16, Id("00db")}, {ix00 + 20, 2044}, {ix00 + 32, 12},
                         {ix00 + 36, 5000}, {ix00 + 40, 12 + 5008},
                         {ix00 + 44, 5000 | 0x80000000u}, {idx1, Id("idx1")},
                         {avix + 4, 24 + 3 * 5008 + 56 - 8}, {avix + 8, Id("AVIX")},
                         {avix + 16, 24 + 3 * 5008 + 56 - 20}, {avix + 20, Id("movi")}});
    // clang-format on
    avi_file* in = AVI_open_for_reading(dir.Path("parts.avi").c_str(), 1);
    ASSERT_NE(in, nullptr) << AVI_last_error;
    EXPECT_EQ(AVI_get_frame_count(in), kFrames);  // through the super index
    EXPECT_EQ(in->frame_table[kFrames - 1].offset, std::int64_t(bytes.size()) - 56 - 5000);
    AVI_close_file(in);
}

TEST(AviWriter, MisuseIsRefusedAndChangesNothing) {
    TempDir dir;
    WriteFile(dir.Path("old.avi"), Bytes(10000, 0x55));  // a longer file is cut to length
    avi_file* avi = CreateXvid(dir.Path("old.avi"));
    ASSERT_EQ(AVI_put_video_frame(avi, "abc", 3, 1), 0);
    EXPECT_EQ(ErrorOf([&] { return AVI_put_video_frame(avi, "abc", -5, 1); }), AVI_ERR_WRITE);
    EXPECT_EQ(AVI_put_audio_block(avi, nullptr, 10), -1);
    char buffer[4];
    EXPECT_EQ(ErrorOf([&] { return AVI_fetch_frame(avi, buffer); }), AVI_ERR_NOT_PERM);
    EXPECT_EQ(std::make_tuple(avi->frame_count, avi->index_count, avi->audio_total),
              std::make_tuple(1, 1, 0));
    ASSERT_EQ(AVI_close_output_file(avi), 0);
    // Finished: no more chunks.
    EXPECT_EQ(ErrorOf([&] { return AVI_put_video_frame(avi, "abc", 3, 1); }), AVI_ERR_NOT_PERM);
    EXPECT_EQ(AVI_close_file(avi), 0);
    EXPECT_EQ(ReadFile(dir.Path("old.avi")).size(), 2048u + 12 + 8 + 16);

    avi_file* in = AVI_open_for_reading(dir.Path("old.avi").c_str(), 1);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(ErrorOf([&] { return AVI_put_video_frame(in, "abc", 3, 1); }), AVI_ERR_NOT_PERM);
    EXPECT_EQ(AVI_close_file(in), 0);

    EXPECT_EQ(ErrorOf([] { return AVI_create_output_file("/nonexistent-dir/x.avi") ? 0 : -1; }),
              AVI_ERR_OPEN);
}

TEST(AviWriter, FailedWritesLoseNothingWrittenBefore) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("full.avi"));
    std::vector<char> frame(1000, 3);
    {
        FileSizeLimit limit(2048 + 5 * 1008 + 500);
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(AVI_put_video_frame(avi, frame.data(), 1000, 1), 0);
        }
        EXPECT_EQ(ErrorOf([&] { return AVI_put_video_frame(avi, frame.data(), 1000, 1); }),
                  AVI_ERR_WRITE);
        // The failed chunk's index entry was withdrawn.
        EXPECT_EQ(std::make_tuple(avi->index_count, avi->frame_count, avi->file_pos),
                  std::make_tuple(5, 5, 2048 + 5 * 1008));
    }
    ASSERT_EQ(AVI_put_video_frame(avi, frame.data(), 1000, 0), 0);  // room again
    ASSERT_EQ(AVI_close_file(avi), 0);
    avi_file* in = AVI_open_for_reading(dir.Path("full.avi").c_str(), 1);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(AVI_get_frame_count(in), 6);
    std::vector<char> back(1000);
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(AVI_fetch_frame(in, back.data()), 1000);
        ASSERT_EQ(back, frame);
    }
    AVI_close_file(in);

    // A full disk (a small file system; where none can be mounted, the file-size limit set
    // at the end stands in): the close gives up the last frame if the index needs its room.
    struct Mount {
        std::string at;
        int status = -1;
        ~Mount() { status == 0 && Shell("umount " + Quote(at)).empty(); }
    } disk{dir.Path("disk")};
    std::filesystem::create_directory(disk.at);
    Shell("mount -t tmpfs -o size=200k tmpfs " + Quote(disk.at) + " 2>&1", &disk.status);
    const std::string path = disk.at + "/full.avi";
    avi = CreateXvid(path);
    std::vector<char> big(9999, 4);
    int frames = 0;
    while ((disk.status == 0 || frames < 20) &&
           AVI_put_video_frame(avi, big.data(), 9999, 1) == 0) {
        ++frames;
    }
    EXPECT_EQ(errno, disk.status == 0 ? ENOSPC : errno);
    {
        FileSizeLimit limit(disk.status == 0 ? RLIM_INFINITY : ReadFile(path).size());
        ASSERT_EQ(AVI_close_output_file(avi), 0);
    }
    const int kept = avi->frame_count;
    EXPECT_EQ(std::make_pair(kept + avi->frames_dropped, kept >= frames - 1),
              std::make_pair(frames, true));
    EXPECT_EQ(AVI_close_file(avi), 0);
    EXPECT_EQ(U32At(ReadFile(path), 44), 0x10010u);  // with its index
    EXPECT_EQ(Stream(path, "v:0")["nb_frames"], std::to_string(kept));
}

std::vector<char> Pattern(int length, int seed) {
    std::vector<char> bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        bytes[size_t(i)] = char(seed * 31 + i * 7);
    }
    return bytes;
}

const int kFrameLengths[] = {101, 0, 64, 7, 2000};
const int kAudioLengths[] = {100, 51, 0, 300};  // bytes before: 0, 100, 151, 151

// The writer's file read back: frames and audio blocks interleaved, 25 fps, 16-bit stereo.
class AviReader : public ::testing::Test {
protected:
    void SetUp() override {
        avi_file* avi = AVI_create_output_file(path_.c_str());
        ASSERT_NE(avi, nullptr);
        AVI_set_video_format(avi, 320, 240, 25.0, "xvid");
        AVI_set_audio_format(avi, 2, 48000, 16, 1);
        for (int i = 0; i < 5; ++i) {
            auto frame = Pattern(kFrameLengths[i], i);
            ASSERT_EQ(AVI_put_video_frame(avi, frame.data(), kFrameLengths[i], i == 0), 0);
            if (i < 4) {
                auto audio = Pattern(kAudioLengths[i], 100 + i);
                ASSERT_EQ(AVI_put_audio_block(avi, audio.data(), kAudioLengths[i]), 0);
                audio_.insert(audio_.end(), audio.begin(), audio.end());
            }
        }
        ASSERT_EQ(AVI_close_file(avi), 0);
        good_ = ReadFile(path_);
        index_ = 2044 + U32At(good_, 2040);
    }
    avi_file* Open(int build_index = 1) {
        avi_file* in = AVI_open_for_reading(path_.c_str(), build_index);
        EXPECT_NE(in, nullptr) << "error " << AVI_last_error;
        return in;
    }
    static int OpenError(const std::string& path) {
        return ErrorOf([&] { return AVI_open_for_reading(path.c_str(), 1) ? 0 : -1; });
    }
    // The file, changed as given, reads back every frame.
    void ExpectFramesAfter(Bytes bytes) {
        WriteFile(path_, bytes);
        avi_file* in = Open();
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(AVI_get_frame_count(in), 5);
        for (int i = 0; i < 5; ++i) {
            std::vector<char> back(size_t(kFrameLengths[i]) + 1);
            ASSERT_EQ(AVI_fetch_frame(in, back.data()), kFrameLengths[i]) << "frame " << i;
            back.pop_back();
            EXPECT_EQ(back, Pattern(kFrameLengths[i], i)) << "frame " << i;
        }
        EXPECT_EQ(AVI_get_audio_total(in), 451);
        AVI_close_file(in);
    }

    TempDir dir_;
    std::string path_ = dir_.Path("sample.avi");
    std::vector<char> audio_;
    Bytes good_;
    size_t index_ = 0;
};

// Every frame and audio byte reads back from the writer's file, also with no idx1 (the data
// chunks are indexed), offsets counted from the movi list, or marks in lower case.
TEST_F(AviReader, ReadsBackWithEachIndexLayoutAndMarks) {
    avi_file* in = Open();  // header fields: avi_ffmpeg_test and record_command_test
    std::vector<char> got(600);
    EXPECT_EQ(AVI_fetch_audio(in, got.data(), 600), 451);  // across chunks, then short
    EXPECT_EQ(std::vector<char>(got.begin(), got.begin() + 451), audio_);
    ASSERT_EQ(AVI_goto_audio_byte(in, 100), 0);  // a boundary selects the later chunk
    EXPECT_EQ(std::make_pair(in->audio_chunk_pos, in->audio_byte_pos), std::make_pair(1, 0));
    AVI_close_file(in);

    ExpectFramesAfter(Bytes(good_.begin(), good_.begin() + long(index_)));
    in = Open(0);  // header only: the index-based calls say so
    EXPECT_EQ(AVI_get_frame_count(in), 5);
    EXPECT_EQ(AVI_get_frame_length(in, 0), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_NO_IDX);
    AVI_close_file(in);

    Bytes bytes = good_;  // offsets counted from the movi list
    for (size_t at = index_ + 8; at < bytes.size(); at += 16) {
        PutU32At(bytes, at + 8, U32At(bytes, at + 8) - 2044);
    }
    ExpectFramesAfter(bytes);

    bytes = good_;
    for (size_t at : {0, 8, 12, 20, 2036, 2044}) {
        std::transform(&bytes[at], &bytes[at + 4], &bytes[at], ::tolower);
    }
    ExpectFramesAfter(bytes);
}

TEST_F(AviReader, DamagedFilesGiveErrorCodes) {
    // The last two: a header list longer than the file, an index entry past its end.
    const std::tuple<size_t, std::uint32_t, int> damages[] = {
        {8, Id("XVI "), AVI_ERR_NO_AVI},     {20, Id("xdrl"), AVI_ERR_NO_HDRL},
        {2044, Id("xovi"), AVI_ERR_NO_MOVI}, {108, Id("xids"), AVI_ERR_NO_VIDS},
        {16, 0xFFFFFFF0u, AVI_ERR_READ},     {good_.size() - 4, 1u << 30, AVI_ERR_READ}};
    for (auto [at, value, code] : damages) {
        Bytes bytes = good_;
        PutU32At(bytes, at, value);
        WriteFile(path_, bytes);
        EXPECT_EQ(OpenError(path_), code) << at;
    }
    WriteFile(path_, Bytes(good_.begin(), good_.begin() + 6));
    EXPECT_EQ(OpenError(path_), AVI_ERR_READ);
    EXPECT_EQ(OpenError(dir_.Path("missing.avi")), AVI_ERR_OPEN);

    // Cut inside the last frame: idx1 is gone and that frame with it; the rest reads.
    WriteFile(path_, Bytes(good_.begin(), good_.begin() + long(index_) - 1000));
    avi_file* in = Open();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(AVI_get_frame_count(in), 4);
    AVI_close_file(in);
}

}  // namespace
