// Reading files back: round trips from the writer, other index layouts, audio positions,
// and damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avi_test_util.h"
#include "encoding/avi/avi_reader.h"
#include "encoding/avi/avi_writer.h"

using namespace avitest;

namespace {

std::vector<char> Bytes(int length, int seed) {
    std::vector<char> bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        bytes[size_t(i)] = char(seed * 31 + i * 7);
    }
    return bytes;
}

const int kFrameLengths[] = {101, 0, 64, 7, 2000};
const int kAudioLengths[] = {100, 51, 0, 300};  // bytes before: 0, 100, 151, 151

// Frames and audio blocks interleaved, 25 fps, 16-bit stereo PCM.
void WriteSample(const std::string& path) {
    avi_file* avi = AVI_create_output_file(path.c_str());
    ASSERT_NE(avi, nullptr);
    AVI_set_video_format(avi, 320, 240, 25.0, "xvid");
    AVI_set_audio_format(avi, 2, 48000, 16, 1);
    for (int i = 0; i < 5; ++i) {
        auto frame = Bytes(kFrameLengths[i], i);
        ASSERT_EQ(AVI_put_video_frame(avi, frame.data(), kFrameLengths[i], i == 0), 0);
        if (i < 4) {
            auto audio = Bytes(kAudioLengths[i], 100 + i);
            ASSERT_EQ(AVI_put_audio_block(avi, audio.data(), kAudioLengths[i]), 0);
        }
    }
    ASSERT_EQ(AVI_close_file(avi), 0);
}

std::vector<char> AllAudio() {
    std::vector<char> all;
    for (int i = 0; i < 4; ++i) {
        auto block = Bytes(kAudioLengths[i], 100 + i);
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

void ExpectSampleFrames(avi_file* in) {
    ASSERT_EQ(AVI_get_frame_count(in), 5);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(AVI_get_frame_length(in, i), kFrameLengths[i]);
        std::vector<char> back(size_t(kFrameLengths[i]) + 1);
        ASSERT_EQ(AVI_fetch_frame(in, back.data()), kFrameLengths[i]) << "frame " << i;
        back.pop_back();
        EXPECT_EQ(back, Bytes(kFrameLengths[i], i)) << "frame " << i;
    }
    char spare[1];
    EXPECT_EQ(AVI_fetch_frame(in, spare), 0);
}

class AviReader : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.Path("sample.avi");
        WriteSample(path_);
    }
    avi_file* Open(int build_index = 1) {
        avi_file* in = AVI_open_for_reading(path_.c_str(), build_index);
        EXPECT_NE(in, nullptr) << "error " << AVI_last_error;
        return in;
    }
    // Reopening a damaged copy must fail with the given code.
    void ExpectOpenFails(const std::vector<unsigned char>& bytes, int code) {
        WriteFile(path_, bytes);
        AVI_last_error = 0;
        EXPECT_EQ(AVI_open_for_reading(path_.c_str(), 1), nullptr);
        EXPECT_EQ(AVI_last_error, code);
    }
    size_t IndexAt(const std::vector<unsigned char>& bytes) {
        return 2040 + 4 + U32At(bytes, 2040);
    }

    TempDir dir_;
    std::string path_;
};

TEST_F(AviReader, RoundTripFieldsFramesAndAudio) {
    avi_file* in = Open();
    EXPECT_EQ(AVI_get_width(in), 320);
    EXPECT_EQ(AVI_get_height(in), 240);
    EXPECT_NEAR(AVI_get_fps(in), 25.0, 1e-9);
    EXPECT_STREQ(AVI_get_compressor(in), "xvid");
    EXPECT_EQ(AVI_get_audio_channels(in), 2);
    EXPECT_EQ(AVI_get_audio_rate(in), 48000);
    EXPECT_EQ(AVI_get_audio_bits(in), 16);
    EXPECT_EQ(AVI_get_audio_format(in), 1);
    EXPECT_EQ(AVI_get_audio_total(in), 451);
    EXPECT_EQ(in->frame_table[0].offset, 2048u + 8);  // absolute offsets, data after header
    ExpectSampleFrames(in);

    std::vector<char> audio(600);
    EXPECT_EQ(AVI_fetch_audio(in, audio.data(), 600), 451);  // across chunks, then short
    audio.resize(451);
    EXPECT_EQ(audio, AllAudio());
    AVI_close_file(in);
}

TEST_F(AviReader, AudioPositions) {
    avi_file* in = Open();
    auto all = AllAudio();
    std::vector<char> got(40);
    ASSERT_EQ(AVI_goto_audio_byte(in, 160), 0);  // inside the fourth chunk
    EXPECT_EQ(in->audio_chunk_pos, 3);
    EXPECT_EQ(in->audio_byte_pos, 9);
    ASSERT_EQ(AVI_goto_audio_byte(in, 100), 0);  // a boundary selects the later chunk
    EXPECT_EQ(in->audio_chunk_pos, 1);
    EXPECT_EQ(in->audio_byte_pos, 0);
    ASSERT_EQ(AVI_goto_audio_byte(in, 90), 0);
    ASSERT_EQ(AVI_fetch_audio(in, got.data(), 40), 40);
    EXPECT_EQ(got, std::vector<char>(all.begin() + 90, all.begin() + 130));
    ASSERT_EQ(AVI_goto_audio_byte(in, 1000000), 0);  // past the end reads nothing
    EXPECT_EQ(AVI_fetch_audio(in, got.data(), 40), 0);

    int length = -1;
    ASSERT_EQ(AVI_goto_audio_chunk(in, 3, &length), 0);
    EXPECT_EQ(length, 300);
    ASSERT_EQ(AVI_goto_audio_chunk(in, 0, &length), 0);  // back from the last chunk
    EXPECT_EQ(length, 100);
    EXPECT_EQ(AVI_goto_audio_chunk(in, 4, &length), -1);
    EXPECT_EQ(AVI_goto_audio_chunk(in, -1, &length), -1);
    AVI_close_file(in);
}

TEST_F(AviReader, FramePositionsOutsideTheTableAreRefused) {
    avi_file* in = Open();
    EXPECT_EQ(AVI_get_frame_length(in, 5), 0);
    EXPECT_EQ(AVI_get_frame_length(in, -1), 0);
    int length = -1;
    AVI_last_error = 0;
    EXPECT_EQ(AVI_goto_frame(in, 5, &length), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_READ);
    EXPECT_EQ(AVI_goto_frame(in, -3, &length), 0);  // negative means the first frame
    EXPECT_EQ(length, 101);
    ASSERT_EQ(AVI_goto_frame(in, 4, &length), 0);
    EXPECT_EQ(length, 2000);
    std::vector<char> back(2000);
    EXPECT_EQ(AVI_fetch_frame(in, back.data()), 2000);
    ASSERT_EQ(AVI_rewind_movi(in), 0);
    ExpectSampleFrames(in);
    AVI_close_file(in);
}

TEST_F(AviReader, NextChunkInFileOrder) {
    avi_file* in = Open();
    std::vector<char> video(2000), audio(120);
    int length = 0;
    std::vector<std::pair<int, int>> seen;
    int result;
    while ((result = AVI_fetch_next_chunk(in, video.data(), 1000, audio.data(), 120, &length)) !=
           0) {
        seen.push_back({result, length});
    }
    std::vector<std::pair<int, int>> expected = {{1, 101}, {2, 100}, {1, 0},    {2, 51},   {1, 64},
                                                 {2, 0},   {1, 7},   {-2, 300}, {-1, 2000}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(in->next_frame, 5);
    ASSERT_EQ(AVI_rewind_movi(in), 0);
    ASSERT_EQ(AVI_fetch_next_chunk(in, video.data(), 2000, audio.data(), 120, &length), 1);
    video.resize(101);
    EXPECT_EQ(video, Bytes(101, 0));
    AVI_close_file(in);
}

TEST_F(AviReader, WithoutIndexTheDataChunksAreIndexed) {
    auto bytes = ReadFile(path_);
    bytes.resize(IndexAt(bytes));  // drop idx1
    WriteFile(path_, bytes);
    avi_file* in = Open();
    ExpectSampleFrames(in);
    EXPECT_EQ(AVI_get_audio_total(in), 451);
    AVI_close_file(in);

    in = Open(0);  // header only: the index-based calls say so
    EXPECT_EQ(AVI_get_frame_count(in), 5);
    AVI_last_error = 0;
    EXPECT_EQ(AVI_get_frame_length(in, 0), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_NO_IDX);
    char buffer[8];
    EXPECT_EQ(AVI_fetch_audio(in, buffer, 8), -1);
    EXPECT_EQ(AVI_goto_audio_chunk(in, 0, nullptr), -1);
    AVI_close_file(in);
}

TEST_F(AviReader, IndexOffsetsFromTheMoviList) {
    auto bytes = ReadFile(path_);
    size_t index = IndexAt(bytes);
    for (size_t at = index + 8; at < bytes.size(); at += 16) {
        PutU32At(bytes, at + 8, U32At(bytes, at + 8) - 2044);  // 4 = just after "movi"
    }
    WriteFile(path_, bytes);
    avi_file* in = Open();
    ExpectSampleFrames(in);
    AVI_close_file(in);
}

TEST_F(AviReader, LowerCaseMarks) {
    auto bytes = ReadFile(path_);
    for (size_t at : {size_t(0), size_t(8), size_t(12), size_t(20), size_t(2036), size_t(2044)}) {
        for (size_t i = at; i < at + 4; ++i) {
            bytes[i] = static_cast<unsigned char>(tolower(bytes[i]));
        }
    }
    WriteFile(path_, bytes);
    avi_file* in = Open();
    ExpectSampleFrames(in);
    AVI_close_file(in);
}

TEST_F(AviReader, DamagedFilesGiveErrorCodes) {
    auto good = ReadFile(path_);
    auto bytes = good;
    bytes[8] = 'X';
    ExpectOpenFails(bytes, AVI_ERR_NO_AVI);
    ExpectOpenFails(std::vector<unsigned char>(good.begin(), good.begin() + 6), AVI_ERR_READ);
    bytes = good;
    bytes[20] = 'x';  // "hdrl" is gone
    ExpectOpenFails(bytes, AVI_ERR_NO_HDRL);
    bytes = good;
    bytes[2044] = 'x';
    ExpectOpenFails(bytes, AVI_ERR_NO_MOVI);
    bytes = good;
    bytes[108] = 'x';  // no video stream
    ExpectOpenFails(bytes, AVI_ERR_NO_VIDS);
    bytes = good;
    PutU32At(bytes, 16, 0xFFFFFFF0u);  // header list longer than the file
    ExpectOpenFails(bytes, AVI_ERR_READ);

    // An index entry whose data lies past the end of the file.
    bytes = good;
    size_t last_entry = bytes.size() - 16;
    PutU32At(bytes, last_entry + 12, 1u << 30);
    ExpectOpenFails(bytes, AVI_ERR_READ);

    // Cut inside the last frame: idx1 is gone and that frame with it; the rest reads.
    bytes = good;
    bytes.resize(IndexAt(bytes) - 1000);
    WriteFile(path_, bytes);
    avi_file* in = Open();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(AVI_get_frame_count(in), 4);
    AVI_close_file(in);

    AVI_last_error = 0;
    EXPECT_EQ(AVI_open_for_reading(dir_.Path("missing.avi").c_str(), 1), nullptr);
    EXPECT_EQ(AVI_last_error, AVI_ERR_OPEN);
}

TEST_F(AviReader, ReaderCallsOnOutputHandleAreRefused) {
    avi_file* out = AVI_create_output_file(dir_.Path("out.avi").c_str());
    ASSERT_NE(out, nullptr);
    char buffer[4];
    int length = 0;
    AVI_last_error = 0;
    EXPECT_EQ(AVI_fetch_frame(out, buffer), -1);
    EXPECT_EQ(AVI_last_error, AVI_ERR_NOT_PERM);
    EXPECT_EQ(AVI_get_frame_length(out, 0), -1);
    EXPECT_EQ(AVI_rewind_movi(out), -1);
    EXPECT_EQ(AVI_goto_frame(out, 0, &length), -1);
    EXPECT_EQ(AVI_goto_audio_byte(out, 0), -1);
    EXPECT_EQ(AVI_goto_audio_chunk(out, 0, &length), -1);
    EXPECT_EQ(AVI_fetch_audio(out, buffer, 4), -1);
    EXPECT_EQ(AVI_fetch_next_chunk(out, buffer, 4, buffer, 4, &length), 0);
    EXPECT_EQ(AVI_close_file(out), 0);
}

}  // namespace
