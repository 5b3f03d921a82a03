#include "encoding/venc_interface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "encoding/venc_xvid_encoder.h"
#include "encoding_test_support.h"

using namespace enctest;

namespace {

Venc_Settings Settings(int width = 160, int height = 120) {
    Venc_Settings settings;
    Venc_ResetParams(&settings);
    settings.frameWidth = width;
    settings.frameHeight = height;
    return settings;
}

// Keeps a picture record and the pixels it points at together.
struct PictureHolder {
    cv::Mat frame;
    Venc_Picture picture{};
    explicit PictureHolder(cv::Mat f) : frame(std::move(f)) {
        picture = {frame.cols, frame.rows, 3, Venc_Layout_Bgr24, frame.data};
    }
};

int32_t NewHandle() {
    int32_t handle = -1;
    EXPECT_EQ(Venc_NewEncoder(&handle), Venc_Status_Ok);
    return handle;
}

}  // namespace

TEST(VencInterfaceTest, HandlesCountUpAndUnknownHandleAndWrongStateAreToldApart) {
    EXPECT_EQ(Venc_NewEncoder(nullptr), Venc_Status_BadArgument);
    const int32_t fresh = NewHandle();
    const int32_t freed = NewHandle();
    EXPECT_EQ(freed, fresh + 1);
    EXPECT_EQ(Venc_FreeEncoder(freed), Venc_Status_Ok);
    EXPECT_FALSE(Venc_HandleExists(freed));
    EXPECT_EQ(NewHandle(), freed + 1);                   // never given twice
    EXPECT_EQ(Venc_FreeEncoder(freed), Venc_Status_Ok);  // not listed: nothing happens

    PictureHolder pic(StaticDesktopFrame(160, 120, 0));
    const char audio[4] = {};
    int64_t total = -7;
    for (const int32_t handle : {fresh, freed, int32_t{-5}}) {
        const Venc_Status expected =
            handle == fresh ? Venc_Status_WrongState : Venc_Status_BadHandle;
        EXPECT_EQ(Venc_PutFrame(handle, &pic.picture, nullptr), expected) << handle;
        EXPECT_EQ(Venc_PutRepeatFrame(handle), expected) << handle;
        EXPECT_EQ(Venc_PutAudio(handle, audio, 4, nullptr), expected) << handle;
        EXPECT_EQ(Venc_FinishEncoding(handle, &total), expected) << handle;
    }
    EXPECT_EQ(total, -7);
    // A null picture or path is refused before the handle is looked at.
    const Venc_Settings settings = Settings();
    EXPECT_EQ(Venc_PutFrame(-5, nullptr, nullptr), Venc_Status_BadArgument);
    EXPECT_EQ(Venc_BeginEncoding(-5, nullptr, &settings), Venc_Status_BadArgument);
    EXPECT_EQ(Venc_BeginEncoding(-5, "/tmp/x.avi", &settings), Venc_Status_BadHandle);
    Venc_FreeEncoder(fresh);
}

TEST(VencInterfaceTest, CodecKindMattersOnlyForAFreshHandleAndItBeginsAgainAfterFinish) {
    TempDir dir;
    const int32_t handle = NewHandle();
    Venc_Settings settings = Settings();
    settings.codecKind = 1;
    EXPECT_EQ(Venc_BeginEncoding(handle, dir.Path("a.avi").c_str(), &settings),
              Venc_Status_BadArgument);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("a.avi")));
    for (auto [width, height] : {std::pair{0, 120}, {-16, 120}, {100000, 100000}}) {
        Venc_Settings bad = Settings(width, height);
        EXPECT_NE(Venc_BeginEncoding(handle, dir.Path("a.avi").c_str(), &bad), Venc_Status_Ok);
        EXPECT_FALSE(std::filesystem::exists(dir.Path("a.avi"))) << width << "x" << height;
    }

    settings.codecKind = 0;
    ASSERT_EQ(Venc_BeginEncoding(handle, dir.Path("a.avi").c_str(), &settings), Venc_Status_Ok);
    PictureHolder pic(StaticDesktopFrame(160, 120, 0));
    int32_t size = 0;
    int64_t total = 0;
    ASSERT_EQ(Venc_PutFrame(handle, &pic.picture, &size), Venc_Status_Ok);
    EXPECT_EQ(Venc_BeginEncoding(handle, dir.Path("other.avi").c_str(), &settings),
              Venc_Status_WrongState);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("other.avi")));
    // Pictures that do not match the settings are refused and write nothing.
    Venc_Picture wrongWidth = pic.picture, wrongLayout = pic.picture, none = pic.picture;
    wrongWidth.picWidth += 2;
    wrongLayout.layout = Venc_Layout_Bgra32;  // 3-byte pixels read as 4
    none.pixelData = nullptr;                 // the codec has nothing to encode: a failure
    EXPECT_EQ(Venc_PutFrame(handle, &wrongWidth, nullptr), Venc_Status_BadArgument);
    EXPECT_EQ(Venc_PutFrame(handle, &wrongLayout, nullptr), Venc_Status_BadArgument);
    EXPECT_EQ(Venc_PutFrame(handle, &none, nullptr), Venc_Status_Failure);
    ASSERT_EQ(Venc_FinishEncoding(handle, &total), Venc_Status_Ok);
    EXPECT_EQ(total, size);
    EXPECT_EQ(Venc_FinishEncoding(handle, nullptr), Venc_Status_WrongState);

    // The same handle begins a second, independent file; its encoder exists, so codecKind 1
    // is not looked at. Freeing the handle while it encodes finishes the file.
    settings = Settings(64, 48);
    settings.codecKind = 1;
    ASSERT_EQ(Venc_BeginEncoding(handle, dir.Path("b.avi").c_str(), &settings), Venc_Status_Ok);
    PictureHolder small(FullMotionFrame(64, 48, 0));
    ASSERT_EQ(Venc_PutFrame(handle, &small.picture, nullptr), Venc_Status_Ok);
    ASSERT_EQ(Venc_PutFrame(handle, &small.picture, nullptr), Venc_Status_Ok);
    EXPECT_EQ(Venc_FreeEncoder(handle), Venc_Status_Ok);
    EXPECT_EQ(Stream(dir.Path("a.avi"), "v:0")["nb_frames"], "1");
    auto second = Stream(dir.Path("b.avi"), "v:0");
    EXPECT_EQ(second["nb_frames"] + " " + second["width"], "2 64");
    EXPECT_EQ(DecodeErrors(dir.Path("b.avi")), "");
}

TEST(VencInterfaceTest, AudioPassesThrough) {
    TempDir dir;
    const std::string path = dir.Path("audio.avi");
    const int32_t handle = NewHandle();
    Venc_Settings settings = Settings();
    settings.withAudio = 1;
    settings.formatTag = 1;  // PCM, 16-bit stereo
    ASSERT_EQ(Venc_BeginEncoding(handle, path.c_str(), &settings), Venc_Status_Ok);
    const std::vector<char> block(4410 * 4, 0x11);  // 0.1 s
    int32_t frameBytes = 0;
    int64_t audioTotal = 0, total = 0;
    for (int n = 0; n < 3; ++n) {
        PictureHolder frame(StaticDesktopFrame(160, 120, n));
        int32_t size = 0;
        ASSERT_EQ(Venc_PutFrame(handle, &frame.picture, &size), Venc_Status_Ok);
        frameBytes += size;
        ASSERT_EQ(Venc_PutAudio(handle, block.data(), int32_t(block.size()), &audioTotal),
                  Venc_Status_Ok);
    }
    EXPECT_EQ(Venc_PutAudio(handle, nullptr, 0, nullptr), Venc_Status_Ok);
    EXPECT_EQ(Venc_PutAudio(handle, nullptr, 10, nullptr), Venc_Status_BadArgument);
    EXPECT_EQ(audioTotal, int32_t(3 * block.size()));
    ASSERT_EQ(Venc_FinishEncoding(handle, &total), Venc_Status_Ok);
    Venc_FreeEncoder(handle);
    EXPECT_EQ(total, frameBytes + audioTotal);
    EXPECT_EQ(Stream(path, "a:0")["codec_name"], "pcm_s16le");
}

// Tiny frames of noise make the largest frames per pixel; the buffer must still hold them.
TEST(VencXvidEncoderTest, TinyNoisyFramesFitTheBuffer) {
    TempDir dir;
    const std::string path = dir.Path("tiny.avi");
    Venc_XvidEncoder encoder;
    Venc_Settings settings = Settings(2, 2);
    settings.qualityLevel = std::nanf("");
    ASSERT_EQ(encoder.BeginEncoding(path, settings), Venc_Status_Ok);
    unsigned seed = 7;
    for (int n = 0; n < 10; ++n) {
        PictureHolder pic(
            Paint(2, 2, [&](int, int) { return (seed = seed * 1103515245u + 12345u) >> 8; }));
        ASSERT_EQ(encoder.PutFrame(pic.picture, nullptr), Venc_Status_Ok);
    }
    EXPECT_EQ(encoder.FinishEncoding(nullptr), Venc_Status_Ok);
    EXPECT_EQ(Stream(path, "v:0")["nb_frames"], "10");
}
