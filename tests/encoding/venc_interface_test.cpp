#include "encoding/venc_interface.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <set>
#include <thread>
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

TEST(VencInterfaceTest, DefaultsAndVersions) {
    Venc_Settings s;
    Venc_ResetParams(&s);
    EXPECT_EQ(1, s.frameWidth);
    EXPECT_EQ(1, s.frameHeight);
    EXPECT_EQ(30.0f, s.framesPerSecond);
    EXPECT_EQ(1.0f, s.qualityLevel);
    EXPECT_EQ(0, s.codecKind);
    EXPECT_EQ(0, s.withAudio);
    EXPECT_EQ(44100, s.sampleRate);
    EXPECT_EQ(16, s.sampleBits);
    EXPECT_EQ(2, s.channelCount);
    EXPECT_EQ(0, s.formatTag);
    Venc_ResetParams(nullptr);
    EXPECT_EQ(2, Venc_ApiVersion());
    EXPECT_EQ(0x010100, Venc_LibraryVersion());
}

TEST(VencInterfaceTest, HandlesCountUpAndAreNeverGivenTwice) {
    EXPECT_EQ(Venc_Status_BadArgument, Venc_NewEncoder(nullptr));
    const int32_t first = NewHandle();
    const int32_t second = NewHandle();
    EXPECT_EQ(first + 1, second);
    EXPECT_EQ(Venc_Status_Ok, Venc_FreeEncoder(first));
    EXPECT_FALSE(Venc_HandleExists(first));
    EXPECT_EQ(second + 1, NewHandle());
    EXPECT_EQ(Venc_Status_Ok, Venc_FreeEncoder(first));  // not listed: nothing happens

    // Two threads taking and freeing handles at once never get the same one.
    std::vector<int32_t> a, b;
    auto take = [](std::vector<int32_t>* out) {
        for (int i = 0; i < 300; ++i) {
            int32_t h = -1;
            Venc_NewEncoder(&h);
            out->push_back(h);
            Venc_FreeEncoder(h);
        }
    };
    std::thread ta(take, &a), tb(take, &b);
    ta.join();
    tb.join();
    std::set<int32_t> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(600u, all.size());
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

    // Without audio, audio calls succeed and write nothing.
    const std::string silent = dir.File("silent.avi");
    ASSERT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, silent.c_str(), &settings));
    EXPECT_EQ(Venc_Status_Ok, Venc_PutAudio(handle, block.data(), 100, nullptr));
    PictureHolder pic(StaticDesktopFrame(kWidth, kHeight, 0));
    int32_t video = 0;
    ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &pic.picture, &video));
    int32_t total = 0;
    ASSERT_EQ(Venc_Status_Ok, Venc_FinishEncoding(handle, &total));
    EXPECT_EQ(video, total);
    EXPECT_EQ(0, ProbeStreamCount(silent, "a"));

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
    EXPECT_EQ(1, ProbeStreamCount(withAudio, "a"));
    EXPECT_EQ("pcm_s16le", ProbeStreamField(withAudio, "a:0", "codec_name"));
}

// A frame the writer refuses (here: the file-size limit) is a failure, is not counted, and
// leaves nothing in the file; the file still finishes and decodes.
TEST(VencInterfaceTest, RefusedFrameIsReportedAndNotCounted) {
    TempDir dir;
    const std::string path = dir.File("limited.avi");
    const int32_t handle = NewHandle();
    const Venc_Settings settings = DefaultSettings();
    ASSERT_EQ(Venc_Status_Ok, Venc_BeginEncoding(handle, path.c_str(), &settings));
    int32_t written = 0;
    for (int n = 0; n < 3; ++n) {
        PictureHolder pic(StaticDesktopFrame(kWidth, kHeight, n));
        int32_t size = 0;
        ASSERT_EQ(Venc_Status_Ok, Venc_PutFrame(handle, &pic.picture, &size));
        written += size;
    }

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(FileSize(path) + 100);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    PictureHolder busy(FullMotionFrame(kWidth, kHeight, 0));  // far more than 100 bytes
    int32_t size = -7;
    const Venc_Status refused = Venc_PutFrame(handle, &busy.picture, &size);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
    EXPECT_EQ(Venc_Status_Failure, refused);
    EXPECT_EQ(-7, size);

    int32_t total = 0;
    EXPECT_EQ(Venc_Status_Ok, Venc_FinishEncoding(handle, &total));
    Venc_FreeEncoder(handle);
    EXPECT_EQ(written, total);
    EXPECT_EQ(3u, ReadVideoIndex(path).size());
    bool clean = false;
    EXPECT_EQ(3u, DecodeLuma(path, kWidth, kHeight, &clean).size());
    EXPECT_TRUE(clean);
}

TEST(VencXvidEncoderTest, PresetsAndColourSpaces) {
    EXPECT_EQ(0, Venc_XvidEncoder::QualityPresetIndex(-0.5f));
    EXPECT_EQ(6, Venc_XvidEncoder::QualityPresetIndex(1.5f));
    EXPECT_EQ(3, Venc_XvidEncoder::QualityPresetIndex(0.5f));
    EXPECT_EQ(5, Venc_XvidEncoder::QualityPresetIndex(0.99f));
    EXPECT_EQ(6, Venc_XvidEncoder::QualityPresetIndex(1.0f));
    EXPECT_EQ(6, Venc_XvidEncoder::QualityPresetIndex(std::nanf("")));
    const int search[] = {0x0, 0x1, 0x11, 0x53, 0x3053, 0x3053, 0x3C53};
    const int vop[] = {0x0, 0x0, 0x2, 0x6, 0x6, 0xE, 0x8E};
    const int csp[] = {0x40, 0x80, 0x100, 0x8000, 0x200, 0x400, 0x800};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(search[i], Venc_XvidEncoder::kSearchFlagsByLevel[i]);
        EXPECT_EQ(vop[i], Venc_XvidEncoder::kVopFlagsByLevel[i]);
        EXPECT_EQ(csp[i], Venc_XvidEncoder::XvidColorspaceOf(i));
    }
    EXPECT_EQ(0x4000, Venc_XvidEncoder::XvidColorspaceOf(7));
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
