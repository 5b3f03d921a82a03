#include "encoding/venc_interface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "encoding/venc_xvid_encoder.h"
#include "encoding_test_support.h"

using namespace enctest;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

Venc_Settings DefaultSettings(int width = kWidth, int height = kHeight) {
    Venc_Settings settings;
    Venc_ResetParams(&settings);
    settings.frameWidth = width;
    settings.frameHeight = height;
    return settings;
}

// Keeps a picture record and the pixels it points at together.
struct PictureHolder {
    BgrFrame frame;
    Venc_Picture picture{};

    explicit PictureHolder(BgrFrame f) : frame(std::move(f)) {
        picture.picWidth = frame.width;
        picture.picHeight = frame.height;
        picture.pixelBytes = 3;
        picture.layout = Venc_Layout_Bgr24;
        picture.pixelData = frame.pixels.data();
    }
};

int32_t NewHandle() {
    int32_t handle = -1;
    EXPECT_EQ(Venc_Status_Ok, Venc_NewEncoder(&handle));
    return handle;
}

}  // namespace

TEST(VencInterfaceTest, HandlesCountUpAndAreNeverGivenTwice) {
    EXPECT_EQ(Venc_Status_BadArgument, Venc_NewEncoder(nullptr));
    const int32_t first = NewHandle();
    const int32_t second = NewHandle();
    EXPECT_EQ(first + 1, second);
    EXPECT_EQ(Venc_Status_Ok, Venc_FreeEncoder(first));
    EXPECT_FALSE(Venc_HandleExists(first));
    EXPECT_EQ(second + 1, NewHandle());
    EXPECT_EQ(Venc_Status_Ok, Venc_FreeEncoder(first));  // not listed: nothing happens
}

TEST(VencInterfaceTest, UnknownHandleAndWrongStateAreToldApart) {
    const int32_t fresh = NewHandle();
    const int32_t freed = NewHandle();
    Venc_FreeEncoder(freed);
    PictureHolder pic(StaticDesktopFrame(kWidth, kHeight, 0));
    const char audio[4] = {};
    int32_t total = -7;

    EXPECT_EQ(Venc_Status_WrongState, Venc_PutFrame(fresh, &pic.picture, nullptr));
    EXPECT_EQ(Venc_Status_WrongState, Venc_PutRepeatFrame(fresh));
    EXPECT_EQ(Venc_Status_WrongState, Venc_PutAudio(fresh, audio, 4, nullptr));
    EXPECT_EQ(Venc_Status_WrongState, Venc_FinishEncoding(fresh, &total));
    for (const int32_t gone : {freed, int32_t{-5}}) {
        EXPECT_EQ(Venc_Status_BadHandle, Venc_PutFrame(gone, &pic.picture, nullptr));
        EXPECT_EQ(Venc_Status_BadHandle, Venc_PutRepeatFrame(gone));
        EXPECT_EQ(Venc_Status_BadHandle, Venc_PutAudio(gone, audio, 4, nullptr));
        EXPECT_EQ(Venc_Status_BadHandle, Venc_FinishEncoding(gone, &total));
    }
    EXPECT_EQ(-7, total);
    // A null picture is refused before the handle is looked at.
    EXPECT_EQ(Venc_Status_BadArgument, Venc_PutFrame(-5, nullptr, nullptr));
    const Venc_Settings settings = DefaultSettings();
    EXPECT_EQ(Venc_Status_BadArgument, Venc_BeginEncoding(-5, nullptr, &settings));
    EXPECT_EQ(Venc_Status_BadHandle, Venc_BeginEncoding(-5, "/tmp/x.avi", &settings));
    Venc_FreeEncoder(fresh);
}

TEST(VencInterfaceTest, CodecKindMattersOnlyForAFreshHandle) {
    TempDir dir;
    const int32_t handle = NewHandle();
    Venc_Settings settings = DefaultSettings();
    settings.codecKind = 1;
    EXPECT_EQ(Venc_Status_BadArgument,
              Venc_BeginEncoding(handle, dir.File("a.avi").c_str(), &settings));
    EXPECT_FALSE(FileExists(dir.File("a.avi")));
    EXPECT_EQ(Venc_Status_WrongState, Venc_FinishEncoding(handle, nullptr));

    settings.codecKind = 0;
    ASSERT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, dir.File("a.avi").c_str(), &settings));
    PictureHolder pic(StaticDesktopFrame(kWidth, kHeight, 0));
    int32_t size = 0;
    ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &pic.picture, &size));
    EXPECT_GT(size, 0);
    EXPECT_EQ(Venc_Status_WrongState,
              Venc_BeginEncoding(handle, dir.File("other.avi").c_str(), &settings));
    EXPECT_FALSE(FileExists(dir.File("other.avi")));
    int32_t total = 0;
    ASSERT_EQ(Venc_Status_Ok, Venc_FinishEncoding(handle, &total));
    EXPECT_EQ(size, total);
    int32_t untouched = -7;
    EXPECT_EQ(Venc_Status_WrongState, Venc_FinishEncoding(handle, &untouched));
    EXPECT_EQ(-7, untouched);

    // The same handle begins a second, independent file; its encoder exists, so codecKind 1
    // is not looked at.
    settings = DefaultSettings(64, 48);
    settings.codecKind = 1;
    ASSERT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, dir.File("b.avi").c_str(), &settings));
    PictureHolder small(FullMotionFrame(64, 48, 0));
    ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &small.picture, nullptr));
    ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &small.picture, nullptr));
    ASSERT_EQ(Venc_Status_Ok, Venc_FinishEncoding(handle, nullptr));
    Venc_FreeEncoder(handle);
    EXPECT_EQ("1", ProbeStreamField(dir.File("a.avi"), "v:0", "nb_frames"));
    EXPECT_EQ("2", ProbeStreamField(dir.File("b.avi"), "v:0", "nb_frames"));
    EXPECT_EQ("64", ProbeStreamField(dir.File("b.avi"), "v:0", "width"));
}

TEST(VencInterfaceTest, FreeingAnEncodingHandleLeavesAFinishedFile) {
    TempDir dir;
    const std::string path = dir.File("freed.avi");
    const int32_t handle = NewHandle();
    const Venc_Settings settings = DefaultSettings();
    ASSERT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, path.c_str(), &settings));
    for (int n = 0; n < 5; ++n) {
        PictureHolder pic(StaticDesktopFrame(kWidth, kHeight, n));
        ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &pic.picture, nullptr));
    }
    EXPECT_EQ(Venc_Status_Ok, Venc_FreeEncoder(handle));
    EXPECT_EQ("5", ProbeStreamField(path, "v:0", "nb_frames"));
    bool clean = false;
    EXPECT_EQ(5u, DecodeLuma(path, kWidth, kHeight, &clean).size());
    EXPECT_TRUE(clean);
}

TEST(VencInterfaceTest, BadSettingsAreRefused) {
    TempDir dir;
    const int32_t handle = NewHandle();
    struct Case {
        int width, height;
    };
    for (const Case c :
         {Case{0, 120}, Case{160, 0}, Case{-16, 120}, Case{160, -8}, Case{100000, 100000}}) {
        const Venc_Settings settings = DefaultSettings(c.width, c.height);
        EXPECT_NE(Venc_Status_Ok,
                  Venc_BeginEncoding(handle, dir.File("bad.avi").c_str(), &settings));
        EXPECT_FALSE(FileExists(dir.File("bad.avi"))) << c.width << "x" << c.height;
    }
    // The codec takes only even sizes: refused as a failure, and the handle stays usable.
    Venc_Settings odd = DefaultSettings(161, 121);
    EXPECT_EQ(Venc_Status_Failure, Venc_BeginEncoding(handle, dir.File("odd.avi").c_str(), &odd));

    Venc_Settings audio = DefaultSettings();
    audio.withAudio = 1;
    audio.sampleBits = 257;
    EXPECT_EQ(Venc_Status_BadArgument,
              Venc_BeginEncoding(handle, dir.File("audio257.avi").c_str(), &audio));
    EXPECT_TRUE(FileExists(dir.File("audio257.avi")));
    audio.sampleBits = 256;
    audio.channelCount = 256;
    audio.sampleRate = 0;
    EXPECT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, dir.File("edge.avi").c_str(), &audio));
    EXPECT_EQ(Venc_Status_Ok, Venc_FinishEncoding(handle, nullptr));
    Venc_FreeEncoder(handle);
}

TEST(VencInterfaceTest, BadPicturesWriteNothing) {
    TempDir dir;
    const std::string path = dir.File("pictures.avi");
    const int32_t handle = NewHandle();
    const Venc_Settings settings = DefaultSettings();
    ASSERT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, path.c_str(), &settings));
    PictureHolder good(StaticDesktopFrame(kWidth, kHeight, 0));
    int32_t first = 0;
    ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &good.picture, &first));

    int32_t size = -7;
    for (int variant = 0; variant < 5; ++variant) {
        Venc_Picture bad = good.picture;
        switch (variant) {
            case 0:
                bad.picWidth = kWidth + 2;
                break;
            case 1:
                bad.picHeight = kHeight - 2;
                break;
            case 2:
                bad.layout = 7;
                break;
            case 3:
                bad.layout = -1;
                break;
            case 4:
                bad.layout = Venc_Layout_Bgra32;
                break;  // 3-byte pixels read as 4
        }
        EXPECT_EQ(Venc_Status_BadArgument, Venc_PutFrame(handle, &bad, &size)) << variant;
    }
    // No input picture: the codec has nothing to encode, which is a failure, not a frame.
    Venc_Picture none = good.picture;
    none.pixelData = nullptr;
    EXPECT_EQ(Venc_Status_Failure, Venc_PutFrame(handle, &none, &size));
    EXPECT_EQ(-7, size);

    int32_t total = 0;
    ASSERT_EQ(Venc_Status_Ok, Venc_FinishEncoding(handle, &total));
    Venc_FreeEncoder(handle);
    EXPECT_EQ(first, total);
    EXPECT_EQ(1u, ReadVideoIndex(path).size());
}

TEST(VencInterfaceTest, AudioPassesThrough) {
    TempDir dir;
    const int32_t handle = NewHandle();
    Venc_Settings settings = DefaultSettings();
    const std::vector<char> block(4410 * 4, 0x11);  // 0.1 s of 16-bit stereo

    int32_t total = 0;
    const std::string withAudio = dir.File("audio.avi");
    settings.withAudio = 1;
    settings.formatTag = 1;  // PCM
    ASSERT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, withAudio.c_str(), &settings));
    int32_t audioTotal = 0;
    int32_t frameBytes = 0;
    for (int n = 0; n < 3; ++n) {
        PictureHolder frame(StaticDesktopFrame(kWidth, kHeight, n));
        int32_t size = 0;
        ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &frame.picture, &size));
        frameBytes += size;
        ASSERT_EQ(Venc_Status_Ok, Venc_PutAudio(handle, block.data(),
                                                static_cast<int32_t>(block.size()), &audioTotal));
    }
    EXPECT_EQ(Venc_Status_Ok, Venc_PutAudio(handle, nullptr, 0, nullptr));
    EXPECT_EQ(Venc_Status_BadArgument, Venc_PutAudio(handle, nullptr, 10, nullptr));
    EXPECT_EQ(static_cast<int32_t>(3 * block.size()), audioTotal);
    ASSERT_EQ(Venc_Status_Ok, Venc_FinishEncoding(handle, &total));
    Venc_FreeEncoder(handle);
    EXPECT_EQ(frameBytes + audioTotal, total);
    EXPECT_EQ("pcm_s16le", ProbeStreamField(withAudio, "a:0", "codec_name"));
}

TEST(VencXvidEncoderTest, QualityLevelEdgesSelectPresets) {
    const float levels[] = {-0.5f, 1.5f, 0.5f, 0.99f, 1.0f, std::nanf("")};
    const int presets[] = {0, 6, 3, 5, 6, 6};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(presets[i], Venc_XvidEncoder::QualityPresetIndex(levels[i])) << levels[i];
    }
}

// Tiny frames of noise make the largest frames per pixel; the buffer must still hold them.
TEST(VencXvidEncoderTest, TinyNoisyFramesFitTheBuffer) {
    TempDir dir;
    const std::string path = dir.File("tiny.avi");
    EXPECT_GE(Venc_BaseEncoder::FrameBufferSizeFor(2, 2), 65536u);
    Venc_XvidEncoder encoder;
    Venc_Settings settings = DefaultSettings(2, 2);
    settings.qualityLevel = std::nanf("");
    ASSERT_EQ(Venc_Status_Ok, encoder.BeginEncoding(path, settings));
    unsigned seed = 7;
    for (int n = 0; n < 10; ++n) {
        BgrFrame noise{2, 2, std::vector<unsigned char>(12)};
        for (auto& byte : noise.pixels) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<unsigned char>(seed >> 16);
        }
        PictureHolder pic(noise);
        ASSERT_EQ(Venc_Status_Ok, encoder.PutFrame(pic.picture, nullptr));
    }
    EXPECT_EQ(Venc_Status_Ok, encoder.FinishEncoding(nullptr));
    EXPECT_EQ("10", ProbeStreamField(path, "v:0", "nb_frames"));
}
