// The writer's file layout, byte by byte where it matters, and its failure handling.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <vector>

#include "avi_test_util.h"
#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_writer.h"

using namespace avitest;

namespace {

avi_file* CreateXvid(const std::string& path, double fps = 30.0) {
    avi_file* avi = AVI_create_output_file(path.c_str());
    EXPECT_NE(avi, nullptr);
    AVI_set_video_format(avi, 640, 480, fps, "xvid");
    AVI_set_audio_format(avi, 0, 44100, 16, 0);
    return avi;
}

TEST(AviWriter, EmptyFileHasHeaderAndEmptyIndex) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("empty.avi"));
    ASSERT_EQ(AVI_close_file(avi), 0);
    auto bytes = ReadFile(dir.Path("empty.avi"));
    ASSERT_EQ(bytes.size(), 2056u);
    EXPECT_EQ(IdAt(bytes, 0), "RIFF");
    EXPECT_EQ(U32At(bytes, 4), 2048u);
    EXPECT_EQ(IdAt(bytes, 8), "AVI ");
    EXPECT_EQ(U32At(bytes, 16), 200u);      // hdrl list length without audio
    EXPECT_EQ(U32At(bytes, 32), 33333u);    // microseconds per frame at 30 fps
    EXPECT_EQ(U32At(bytes, 44), 0x10010u);  // was capture file + has index
    EXPECT_EQ(U32At(bytes, 48), 0u);        // frames
    EXPECT_EQ(U32At(bytes, 56), 1u);        // streams
    EXPECT_EQ(U32At(bytes, 64), 640u);
    EXPECT_EQ(U32At(bytes, 68), 480u);
    EXPECT_EQ(IdAt(bytes, 108), "vids");
    EXPECT_EQ(IdAt(bytes, 112), "xvid");
    EXPECT_EQ(U32At(bytes, 128), 33333u);
    EXPECT_EQ(U32At(bytes, 132), 1000000u);
    EXPECT_EQ(U32At(bytes, 148), 0xFFFFFFFFu);
    EXPECT_EQ(U16At(bytes, 192), 1u);
    EXPECT_EQ(U16At(bytes, 194), 24u);
    EXPECT_EQ(IdAt(bytes, 196), "xvid");
    EXPECT_EQ(U32At(bytes, 200), 640u * 480u);
    EXPECT_EQ(IdAt(bytes, 220), "JUNK");
    EXPECT_EQ(U32At(bytes, 224), 1808u);
    for (size_t i = 228; i < 2036; ++i) {
        ASSERT_EQ(bytes[i], 0) << "filler byte " << i;
    }
    EXPECT_EQ(IdAt(bytes, 2036), "LIST");
    EXPECT_EQ(U32At(bytes, 2040), 4u);
    EXPECT_EQ(IdAt(bytes, 2044), "movi");
    EXPECT_EQ(IdAt(bytes, 2048), "idx1");
    EXPECT_EQ(U32At(bytes, 2052), 0u);
}

TEST(AviWriter, OddFrameGetsZeroPadAndIndexEntry) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("one.avi"));
    // The byte after the caller's data is not zero: the pad must not come from there.
    std::vector<char> data(1002, 'd');
    data[1001] = char(0xAA);
    ASSERT_EQ(AVI_put_video_frame(avi, data.data(), 1001, 1), 0);
    ASSERT_EQ(AVI_close_file(avi), 0);

    auto bytes = ReadFile(dir.Path("one.avi"));
    ASSERT_EQ(bytes.size(), 3082u);
    EXPECT_EQ(U32At(bytes, 4), 3074u);
    EXPECT_EQ(U32At(bytes, 48), 1u);
    EXPECT_EQ(U32At(bytes, 140), 1u);
    EXPECT_EQ(U32At(bytes, 2040), 1014u);
    EXPECT_EQ(IdAt(bytes, 2048), "00db");
    EXPECT_EQ(U32At(bytes, 2052), 1001u);
    EXPECT_EQ(bytes[2056 + 1000], 'd');
    EXPECT_EQ(bytes[2056 + 1001], 0);
    EXPECT_EQ(IdAt(bytes, 3058), "idx1");
    EXPECT_EQ(U32At(bytes, 3062), 16u);
    EXPECT_EQ(IdAt(bytes, 3066), "00db");
    EXPECT_EQ(U32At(bytes, 3070), 0x10u);
    EXPECT_EQ(U32At(bytes, 3074), 2048u);
    EXPECT_EQ(U32At(bytes, 3078), 1001u);
}

TEST(AviWriter, KeyFlagsEmptyFramesAndRepeats) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("keys.avi"));
    const char data[4] = {1, 2, 3, 4};
    ASSERT_EQ(AVI_put_video_frame(avi, data, 4, 1), 0);     // 2048: key
    ASSERT_EQ(AVI_put_video_frame(avi, data, 3, 0), 0);     // 2060: delta
    ASSERT_EQ(AVI_put_video_frame(avi, nullptr, 0, 1), 0);  // 2072: empty, never a key
    ASSERT_EQ(AVI_repeat_last_frame(avi), 0);               // repeats the empty one
    ASSERT_EQ(AVI_put_video_frame(avi, data, 2, 1), 0);     // 2080: key
    ASSERT_EQ(AVI_repeat_last_frame(avi), 0);               // repeats the key
    EXPECT_EQ(avi->frame_count, 6);
    ASSERT_EQ(AVI_close_file(avi), 0);

    auto bytes = ReadFile(dir.Path("keys.avi"));
    EXPECT_EQ(U32At(bytes, 44), 0x10030u);  // repeats need the index
    EXPECT_EQ(U32At(bytes, 48), 6u);
    size_t index = 2090;
    ASSERT_EQ(IdAt(bytes, index), "idx1");
    struct Entry {
        std::uint32_t flags, offset, length;
    } expected[] = {{0x10, 2048, 4}, {0, 2060, 3},    {0, 2072, 0},
                    {0, 2072, 0},    {0x10, 2080, 2}, {0x10, 2080, 2}};
    ASSERT_EQ(U32At(bytes, index + 4), 16u * 6);
    for (int i = 0; i < 6; ++i) {
        size_t at = index + 8 + 16 * i;
        EXPECT_EQ(IdAt(bytes, at), "00db");
        EXPECT_EQ(U32At(bytes, at + 4), expected[i].flags) << "entry " << i;
        EXPECT_EQ(U32At(bytes, at + 8), expected[i].offset) << "entry " << i;
        EXPECT_EQ(U32At(bytes, at + 12), expected[i].length) << "entry " << i;
    }
}

TEST(AviWriter, AudioStreamList) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("audio.avi"));
    AVI_set_audio_format(avi, 2, 44100, 16, 1);
    const char video[2] = {0, 0};
    std::vector<char> audio(4000, 7);
    ASSERT_EQ(AVI_put_video_frame(avi, video, 2, 1), 0);
    ASSERT_EQ(AVI_put_audio_block(avi, audio.data(), 4000), 0);
    ASSERT_EQ(AVI_put_audio_block(avi, audio.data(), 1001), 0);
    EXPECT_EQ(AVI_get_audio_total(avi), 5001);
    ASSERT_EQ(AVI_close_file(avi), 0);

    auto bytes = ReadFile(dir.Path("audio.avi"));
    EXPECT_EQ(U32At(bytes, 16), 308u);
    EXPECT_EQ(U32At(bytes, 56), 2u);
    EXPECT_EQ(IdAt(bytes, 240), "auds");
    EXPECT_EQ(U32At(bytes, 260), 4u);  // sample frame: 2 bytes x 2 channels
    EXPECT_EQ(U32At(bytes, 264), 176400u);
    EXPECT_EQ(U32At(bytes, 272), 5001u / 4);
    EXPECT_EQ(U32At(bytes, 284), 4u);
    EXPECT_EQ(U16At(bytes, 312), 1u);
    EXPECT_EQ(U16At(bytes, 314), 2u);
    EXPECT_EQ(U32At(bytes, 316), 44100u);
    EXPECT_EQ(U32At(bytes, 320), 176400u);
    EXPECT_EQ(U16At(bytes, 324), 4u);
    EXPECT_EQ(U16At(bytes, 326), 16u);
    EXPECT_EQ(IdAt(bytes, 328), "JUNK");
    EXPECT_EQ(U32At(bytes, 332), 1700u);
    EXPECT_EQ(IdAt(bytes, 2058), "01wb");
}

TEST(AviWriter, AudioWithoutChannelsCountsAStreamButListsNone) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("a0.avi"), 0.0);
    ASSERT_EQ(AVI_put_audio_block(avi, "ab", 2), 0);
    ASSERT_EQ(AVI_close_file(avi), 0);
    auto bytes = ReadFile(dir.Path("a0.avi"));
    EXPECT_EQ(U32At(bytes, 32), 0u);  // fps 0
    EXPECT_EQ(U32At(bytes, 16), 200u);
    EXPECT_EQ(U32At(bytes, 56), 2u);
    EXPECT_EQ(IdAt(bytes, 220), "JUNK");
}

TEST(AviWriter, IndexGrowsBy4096Entries) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("many.avi"));
    EXPECT_EQ(avi->index_capacity, 0);
    ASSERT_EQ(AVI_put_video_frame(avi, nullptr, 0, 0), 0);
    EXPECT_EQ(avi->index_capacity, 4096);
    for (int i = 1; i < 4096; ++i) {
        ASSERT_EQ(AVI_put_video_frame(avi, nullptr, 0, 0), 0);
    }
    EXPECT_EQ(avi->index_capacity, 4096);
    ASSERT_EQ(AVI_put_video_frame(avi, "x", 1, 1), 0);
    EXPECT_EQ(avi->index_capacity, 8192);
    ASSERT_EQ(AVI_close_file(avi), 0);
    auto bytes = ReadFile(dir.Path("many.avi"));
    size_t index = 2048 + 4096 * 8 + 10;
    ASSERT_EQ(IdAt(bytes, index), "idx1");
    EXPECT_EQ(U32At(bytes, index + 4), 4097u * 16);
    EXPECT_EQ(U32At(bytes, index + 8 + 4096 * 16 + 8), 2048u + 4096 * 8);
    EXPECT_EQ(bytes.size(), index + 8 + 4097 * 16);
}

TEST(AviWriter, SizeLimitRefusesBeforeWriting) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("limit.avi"));
    ASSERT_EQ(AVI_put_video_frame(avi, "abcd", 4, 1), 0);
    // Pretend the file is nearly full; the descriptor still writes at its real end.
    int real_pos = avi->file_pos;
    avi->file_pos = AVI_MAX_FILE_BYTES - 1000;
    int room = AVI_room_left(avi);
    EXPECT_EQ(room, 1000 - 16 - 8);
    std::vector<char> data(2000, 1);
    int fits = room - 8 - 16;  // chunk header and its index entry
    AVI_last_error = 0;
    EXPECT_EQ(AVI_put_video_frame(avi, data.data(), fits + 2, 1), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_SIZELIM);
    EXPECT_EQ(avi->index_count, 1);
    EXPECT_EQ(avi->frame_count, 1);
    EXPECT_EQ(ReadFile(dir.Path("limit.avi")).size(), size_t(real_pos));
    EXPECT_EQ(AVI_put_video_frame(avi, data.data(), fits, 1), 0);
    EXPECT_EQ(AVI_room_left(avi), 0);
    avi->file_pos = real_pos + 8 + fits;
    EXPECT_EQ(AVI_close_file(avi), 0);
}

TEST(AviWriter, ExistingLongerFileIsCut) {
    TempDir dir;
    WriteFile(dir.Path("old.avi"), std::vector<unsigned char>(10000, 0x55));
    avi_file* avi = CreateXvid(dir.Path("old.avi"));
    ASSERT_EQ(AVI_put_video_frame(avi, "ab", 2, 1), 0);
    ASSERT_EQ(AVI_close_file(avi), 0);
    EXPECT_EQ(ReadFile(dir.Path("old.avi")).size(), 2048u + 10 + 8 + 16);
}

TEST(AviWriter, BadArgumentsChangeNothing) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("bad.avi"));
    ASSERT_EQ(AVI_put_video_frame(avi, "abc", 3, 1), 0);
    AVI_last_error = 0;
    EXPECT_EQ(AVI_put_video_frame(avi, "abc", -5, 1), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_WRITE);
    AVI_last_error = 0;
    EXPECT_EQ(AVI_put_audio_block(avi, nullptr, 10), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_WRITE);
    EXPECT_EQ(avi->frame_count, 1);
    EXPECT_EQ(avi->index_count, 1);
    EXPECT_EQ(avi->file_pos, 2048 + 12);
    EXPECT_EQ(avi->audio_total, 0);
    EXPECT_EQ(ReadFile(dir.Path("bad.avi")).size(), 2048u + 12);

    ASSERT_EQ(AVI_close_output_file(avi), 0);
    AVI_last_error = 0;
    EXPECT_EQ(AVI_put_video_frame(avi, "abc", 3, 1), -1);  // finished: no more chunks
    EXPECT_EQ(AVI_last_error, AVI_ERR_NOT_PERM);
    EXPECT_EQ(AVI_close_file(avi), 0);  // finishing again writes the same file
    auto bytes = ReadFile(dir.Path("bad.avi"));
    EXPECT_EQ(bytes.size(), 2048u + 12 + 8 + 16);
    EXPECT_EQ(U32At(bytes, 4), bytes.size() - 8);
}

TEST(AviWriter, WriterCallsOnInputHandleAreRefused) {
    TempDir dir;
    avi_file* out = CreateXvid(dir.Path("in.avi"));
    ASSERT_EQ(AVI_put_video_frame(out, "abc", 3, 1), 0);
    ASSERT_EQ(AVI_close_file(out), 0);
    avi_file* in = AVI_open_for_reading(dir.Path("in.avi").c_str(), 1);
    ASSERT_NE(in, nullptr);
    AVI_last_error = 0;
    EXPECT_EQ(AVI_put_video_frame(in, "abc", 3, 1), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_NOT_PERM);
    EXPECT_EQ(AVI_repeat_last_frame(in), -1);
    EXPECT_EQ(AVI_put_audio_block(in, "abc", 3), -1);
    EXPECT_EQ(AVI_room_left(in), 0);
    AVI_set_video_format(in, 1, 1, 1.0, "abcd");
    EXPECT_EQ(AVI_get_width(in), 640);
    EXPECT_EQ(AVI_close_file(in), 0);
    EXPECT_EQ(ReadFile(dir.Path("in.avi")).size(), 2048u + 12 + 8 + 16);
}

TEST(AviWriter, OpenFailures) {
    AVI_last_error = 0;
    EXPECT_EQ(AVI_create_output_file("/nonexistent-dir/x.avi"), nullptr);
    EXPECT_EQ(AVI_last_error, AVI_ERR_OPEN);
    AVI_last_error = 0;
    EXPECT_EQ(AVI_create_output_file("/dev/full"), nullptr);
    EXPECT_EQ(AVI_last_error, AVI_ERR_WRITE);
}

// Lowers the file size limit of this process for one scope; writes past it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_;
};

TEST(AviWriter, FailedWriteLosesNothingWrittenBefore) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("full.avi"));
    std::vector<char> frame(1000, 3);
    int written = 0;
    {
        FileSizeLimit limit(2048 + 5 * 1008 + 500);
        while (AVI_put_video_frame(avi, frame.data(), 1000, 1) == 0) {
            ++written;
        }
        EXPECT_EQ(AVI_last_error, AVI_ERR_WRITE);
        EXPECT_EQ(written, 5);
        EXPECT_EQ(avi->index_count, 5);  // the failed chunk's entry was withdrawn
        EXPECT_EQ(avi->frame_count, 5);
        EXPECT_EQ(avi->file_pos, 2048 + 5 * 1008);
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
}

TEST(AviWriter, IndexThatCannotBeWrittenStillLeavesAReadableFile) {
    TempDir dir;
    avi_file* avi = CreateXvid(dir.Path("noidx.avi"));
    ASSERT_EQ(AVI_put_video_frame(avi, "abcd", 4, 1), 0);
    ASSERT_EQ(AVI_put_video_frame(avi, "efg", 3, 0), 0);
    {
        FileSizeLimit limit(2048 + 24 + 20);  // room for part of the index only
        AVI_last_error = 0;
        EXPECT_EQ(AVI_close_file(avi), -1);
        EXPECT_EQ(AVI_last_error, AVI_ERR_WRITE_INDEX);
    }
    auto bytes = ReadFile(dir.Path("noidx.avi"));
    ASSERT_EQ(bytes.size(), 2048u + 24);
    EXPECT_EQ(U32At(bytes, 44), 0x10000u);  // no index flag
    EXPECT_EQ(U32At(bytes, 4), 2048u + 24 - 8);
    avi_file* in = AVI_open_for_reading(dir.Path("noidx.avi").c_str(), 1);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(AVI_get_frame_count(in), 2);
    EXPECT_EQ(AVI_get_frame_length(in, 1), 3);
    AVI_close_file(in);
}

}  // namespace
