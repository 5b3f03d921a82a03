// Pure geometry and text rules of the capture window.
#include <gtest/gtest.h>

#include <climits>

#include "capture/caption_text.h"
#include "capture/decimal_field.h"
#include "capture/frame_geometry.h"
#include "capture/recording_blink.h"
#include "capture/status_line.h"

namespace {

TEST(FrameHitTest, ZoneBoundaries) {
    const QRect window(100, 200, 335, 280);  // right edge x = 435, bottom edge y = 480
    // Caption rows: the 8-pixel top border, then the caption up to row 29; the 7-pixel
    // corner grips cover all 30 caption rows, border or not; then the sides, the bottom rows
    // and outside.
    const struct {
        int x, y;
        FrameHit hit;
    } cases[] = {{200, 200, FrameHit::Top},         {200, 207, FrameHit::Top},
                 {200, 208, FrameHit::Caption},     {200, 229, FrameHit::Caption},
                 {200, 230, FrameHit::Nowhere},     {100, 200, FrameHit::TopLeft},
                 {106, 229, FrameHit::TopLeft},     {107, 229, FrameHit::Caption},
                 {428, 200, FrameHit::TopRight},    {434, 229, FrameHit::TopRight},
                 {427, 229, FrameHit::Caption},     {100, 300, FrameHit::Left},
                 {106, 300, FrameHit::Left},        {107, 300, FrameHit::Nowhere},
                 {428, 300, FrameHit::Right},       {434, 300, FrameHit::Right},
                 {200, 472, FrameHit::Nowhere},     {200, 473, FrameHit::Bottom},
                 {200, 479, FrameHit::Bottom},      {106, 479, FrameHit::BottomLeft},
                 {428, 473, FrameHit::BottomRight}, {200, 480, FrameHit::Nowhere},
                 {435, 300, FrameHit::Nowhere},     {99, 300, FrameHit::Nowhere}};
    for (const auto& c : cases) {
        EXPECT_EQ(FrameHitTest(window, c.x, c.y), c.hit) << c.x << "," << c.y;
    }
}

TEST(CaptureRegion, FollowsEverySize) {
    EXPECT_EQ(CaptureRegionForSize(335, 280, 26), (CaptureRect{4, 60, 331, 276}));
    // A window of (w + 8) x (h + T + 38) has a region of exactly w x h.
    for (int t : {22, 26, 31}) {
        const CaptureRect r = CaptureRegionForSize(640 + 8, 480 + t + 38, t);
        EXPECT_EQ(r.Width(), 640);
        EXPECT_EQ(r.Height(), 480);
    }
    // The smallest window gives an empty, not an inverted, region.
    const CaptureRect smallest = CaptureRegionForSize(8, 26 + 38, 26);
    EXPECT_EQ(smallest.Width(), 0);
    EXPECT_EQ(smallest.Height(), 0);
    EXPECT_TRUE(ToQRect(smallest).isEmpty());
    // In the blink's dark phase only the caption and toolbar stay opaque.
    EXPECT_EQ(OpaqueRegion(200, 150, CaptureRegionForSize(200, 150, 26), false),
              QRegion(0, 0, 200, 56));
    // Shrinking by hand stops at the minimum, with the opposite edge in place.
    EXPECT_EQ(DraggedGeometry(QRect(100, 100, 300, 200), FrameHit::Left, {1000, 0}, {10, 64}),
              QRect(390, 100, 10, 200));
}

TEST(RecordingBlink, DarkThenLitWithTheClockGiven) {
    // Starts in the dark phase; lit from 200 ms, lit once more at 300 ms, which starts the
    // next cycle. The second start lies just before the tick count wraps around.
    const std::pair<uint32_t, bool> steps[] = {{0, false},   {199, false}, {200, true},
                                               {299, true},  {300, true},  {301, false},
                                               {499, false}, {500, true}};
    for (const uint32_t t0 : {5000u, 0xFFFFFF00u}) {
        CRecordingBlink blink;
        for (const auto& [at, lit] : steps) {
            EXPECT_EQ(blink.IsLitAt(t0 + at), lit) << t0 << " + " << at;
        }
    }
}

TEST(RecordingBlink, SteppedOnlyAtItsChangesLooksAsWhenRepaintedEveryFrame) {
    for (const uint32_t t0 : {5000u, 0xFFFFFF00u}) {
        CRecordingBlink perFrame;  // asked at every frame of a 30 frames per second recording
        CRecordingBlink stepped;   // asked only when it says the band changes next
        uint32_t nextStep = 0;
        bool steppedLit = true;
        for (uint32_t frame = 0; frame < 90; ++frame) {
            const uint32_t at = frame * 1000 / 30;
            while (nextStep <= at) {
                steppedLit = stepped.IsLitAt(t0 + nextStep);
                nextStep += stepped.MsUntilNextStep(t0 + nextStep);
            }
            EXPECT_EQ(steppedLit, perFrame.IsLitAt(t0 + at)) << t0 << " + " << at;
        }
    }
}

TEST(StatusLine, ShowsATextForOneSecondOrUntilTheNext) {
    CStatusLine status;
    EXPECT_FALSE(status.At(0).fresh);
    EXPECT_EQ(status.MsUntilExpiry(0), -1);
    const uint32_t t0 = 0xFFFFFE00u;  // the second runs across the tick count's wrap-around
    EXPECT_TRUE(status.Set("Recoding...", "", false, t0));
    EXPECT_FALSE(status.Set("Recoding...", "", false, t0 + 600));  // only kept fresh
    EXPECT_EQ(status.MsUntilExpiry(t0 + 700), 901);
    EXPECT_EQ(status.At(t0 + 1600).text, "Recoding...");
    EXPECT_FALSE(status.At(t0 + 1601).fresh);
    EXPECT_TRUE(status.Set("Recoding...", "", false, t0 + 1700));  // shown again

    EXPECT_TRUE(status.Set("Copy Failed: gone", "Copy Failed: the X server: gone", true, 10));
    const CStatusLine::State failure = status.At(10 + 3600 * 1000);
    EXPECT_TRUE(failure.fresh);
    EXPECT_EQ(failure.text, "Copy Failed: gone");
    EXPECT_EQ(failure.fullText, "Copy Failed: the X server: gone");
    EXPECT_EQ(status.MsUntilExpiry(20), -1);
    EXPECT_TRUE(status.Set("Copy Failed: gone", "", false, 30));  // no longer lasting
    EXPECT_EQ(status.At(30).fullText, "Copy Failed: gone");
}

TEST(DecimalField, ReadsLikeAtoiAndClamps) {
    const std::pair<const char*, int> cases[] = {{"640x480", 640},
                                                 {"", 0},
                                                 {"  \t-5", -5},
                                                 {"+7", 7},
                                                 {"- 5", 0},
                                                 {"99999999999999999999", INT_MAX},
                                                 {"-2147483648", INT_MIN},
                                                 {"-99999999999999999999", INT_MIN},
                                                 {"\xd9\xa3", 0}};  // a non-ASCII digit is none
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(ParseDecimalField(text), value) << text;
    }
}

TEST(FitCaptionText, CutsAtTheWidthOnWholeCharacters) {
    // Ten pixels per UTF-16 code unit: easy widths to reason about.
    auto tenPerUnit = [](const QString& s) { return int(s.size()) * 10; };
    EXPECT_EQ(FitCaptionText("abcde", 50, tenPerUnit), "abcde");
    // 45 pixels: "..." is 30 < 45, add 'a' -> 40 < 45, add 'b' -> 50, stop.
    EXPECT_EQ(FitCaptionText("abcdefgh", 45, tenPerUnit), "ab...");
    EXPECT_EQ(FitCaptionText("abcdefgh", 0, tenPerUnit), "...");
    // "가" is one code unit, the emoji two: "가..." = 40, "가😀..." = 60 >= 55, and the emoji
    // stays whole.
    const QString fitted =
        FitCaptionText(QString::fromUtf8("가\xF0\x9F\x98\x80가나다라마바사"), 55, tenPerUnit);
    EXPECT_EQ(fitted, QString::fromUtf8("가\xF0\x9F\x98\x80..."));
    EXPECT_TRUE(fitted.isValidUtf16());
}

}  // namespace
