// Pure geometry and text rules of the capture window.
#include <gtest/gtest.h>

#include <climits>

#include "capture/caption_text.h"
#include "capture/decimal_field.h"
#include "capture/frame_geometry.h"
#include "capture/recording_blink.h"

namespace {

const QRect kWindow(100, 200, 335, 280);  // right edge x = 435, bottom edge y = 480

TEST(FrameHitTest, CaptionZoneRows) {
    EXPECT_EQ(FrameHitTest(kWindow, 200, 200), FrameHit::Top);  // top resize border
    EXPECT_EQ(FrameHitTest(kWindow, 200, 207), FrameHit::Top);
    EXPECT_EQ(FrameHitTest(kWindow, 200, 208), FrameHit::Caption);
    EXPECT_EQ(FrameHitTest(kWindow, 200, 229), FrameHit::Caption);
    EXPECT_EQ(FrameHitTest(kWindow, 200, 230), FrameHit::Nowhere);
}

TEST(FrameHitTest, GripsRunTheFullCaptionHeightAndFrameSides) {
    // Corners: the 7-pixel grips cover all 30 caption rows, border or not.
    EXPECT_EQ(FrameHitTest(kWindow, 100, 200), FrameHit::TopLeft);
    EXPECT_EQ(FrameHitTest(kWindow, 106, 229), FrameHit::TopLeft);
    EXPECT_EQ(FrameHitTest(kWindow, 107, 229), FrameHit::Caption);
    EXPECT_EQ(FrameHitTest(kWindow, 428, 200), FrameHit::TopRight);
    EXPECT_EQ(FrameHitTest(kWindow, 434, 229), FrameHit::TopRight);
    EXPECT_EQ(FrameHitTest(kWindow, 427, 229), FrameHit::Caption);
    // Sides below the caption zone.
    EXPECT_EQ(FrameHitTest(kWindow, 100, 300), FrameHit::Left);
    EXPECT_EQ(FrameHitTest(kWindow, 106, 300), FrameHit::Left);
    EXPECT_EQ(FrameHitTest(kWindow, 107, 300), FrameHit::Nowhere);
    EXPECT_EQ(FrameHitTest(kWindow, 428, 300), FrameHit::Right);
    EXPECT_EQ(FrameHitTest(kWindow, 434, 300), FrameHit::Right);
}

TEST(FrameHitTest, BottomZoneAndOutside) {
    EXPECT_EQ(FrameHitTest(kWindow, 200, 472), FrameHit::Nowhere);
    EXPECT_EQ(FrameHitTest(kWindow, 200, 473), FrameHit::Bottom);
    EXPECT_EQ(FrameHitTest(kWindow, 200, 479), FrameHit::Bottom);
    EXPECT_EQ(FrameHitTest(kWindow, 106, 479), FrameHit::BottomLeft);
    EXPECT_EQ(FrameHitTest(kWindow, 428, 473), FrameHit::BottomRight);
    EXPECT_EQ(FrameHitTest(kWindow, 200, 480), FrameHit::Nowhere);
    EXPECT_EQ(FrameHitTest(kWindow, 435, 300), FrameHit::Nowhere);
    EXPECT_EQ(FrameHitTest(kWindow, 99, 300), FrameHit::Nowhere);
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
}

TEST(CaptureRegion, SnapRectInflatesByMarginsCaptionAndToolbar) {
    const QRect target(500, 300, 320, 240);
    const QMargins margin(4, 4, 4, 4);
    const QRect window = WindowRectForCaptureRect(target, margin, 26);
    EXPECT_EQ(window, QRect(496, 300 - 60, 328, 240 + 64));
    const CaptureRect region = CaptureRegionForSize(window.width(), window.height(), 26);
    EXPECT_EQ(QRect(window.topLeft() + QPoint(region.left, region.top),
                    QSize(region.Width(), region.Height())),
              target);
}

TEST(OpaqueRegion, CutsOutRegionAndDarkBand) {
    const CaptureRect capture = CaptureRegionForSize(200, 150, 26);  // (4, 60, 196, 146)
    const QRegion lit = OpaqueRegion(200, 150, capture, true);
    EXPECT_FALSE(lit.contains(QPoint(4, 60)));
    EXPECT_FALSE(lit.contains(QPoint(195, 145)));
    EXPECT_TRUE(lit.contains(QPoint(3, 100)));    // band
    EXPECT_TRUE(lit.contains(QPoint(100, 146)));  // band
    EXPECT_TRUE(lit.contains(QPoint(100, 59)));   // band below the toolbar
    EXPECT_TRUE(lit.contains(QPoint(100, 10)));   // caption

    const QRegion dark = OpaqueRegion(200, 150, capture, false);
    EXPECT_FALSE(dark.contains(QPoint(0, 100)));
    EXPECT_FALSE(dark.contains(QPoint(199, 149)));
    EXPECT_FALSE(dark.contains(QPoint(100, 56)));
    EXPECT_TRUE(dark.contains(QPoint(100, 55)));  // toolbar row
    EXPECT_EQ(dark, QRegion(0, 0, 200, 56));
}

TEST(DraggedGeometry, MovesAndResizesByTheDraggedEdgesOnly) {
    const QRect start(100, 100, 300, 200);
    const QSize minimum(10, 64);
    EXPECT_EQ(DraggedGeometry(start, FrameHit::Caption, {30, -20}, minimum),
              QRect(130, 80, 300, 200));
    EXPECT_EQ(DraggedGeometry(start, FrameHit::Bottom, {30, 50}, minimum),
              QRect(100, 100, 300, 250));
    EXPECT_EQ(DraggedGeometry(start, FrameHit::TopLeft, {-10, -20}, minimum),
              QRect(90, 80, 310, 220));
    // Shrinking stops at the minimum, with the opposite edge in place.
    EXPECT_EQ(DraggedGeometry(start, FrameHit::Left, {1000, 0}, minimum), QRect(390, 100, 10, 200));
    EXPECT_EQ(DraggedGeometry(start, FrameHit::Bottom, {0, -1000}, minimum),
              QRect(100, 100, 300, 64));
}

TEST(RecordingBlink, DarkThenLitThenNextCycle) {
    CRecordingBlink blink;
    const uint32_t t0 = 5000;
    EXPECT_FALSE(blink.IsLitAt(t0));  // the first paint starts in the dark phase
    EXPECT_FALSE(blink.IsLitAt(t0 + 199));
    EXPECT_TRUE(blink.IsLitAt(t0 + 200));
    EXPECT_TRUE(blink.IsLitAt(t0 + 299));
    EXPECT_TRUE(blink.IsLitAt(t0 + 300));  // lit once more, starts the next cycle
    EXPECT_FALSE(blink.IsLitAt(t0 + 301));
    EXPECT_FALSE(blink.IsLitAt(t0 + 499));
    EXPECT_TRUE(blink.IsLitAt(t0 + 500));
}

TEST(RecordingBlink, SurvivesTickWrapAround) {
    CRecordingBlink blink;
    const uint32_t t0 = 0xFFFFFF00u;
    EXPECT_FALSE(blink.IsLitAt(t0));
    EXPECT_FALSE(blink.IsLitAt(t0 + 150));  // wrapped past zero
    EXPECT_TRUE(blink.IsLitAt(t0 + 250));
    EXPECT_TRUE(blink.IsLitAt(t0 + 350));
    EXPECT_FALSE(blink.IsLitAt(t0 + 360));
}

TEST(DecimalField, ReadsLikeAtoiAndClamps) {
    EXPECT_EQ(ParseDecimalField("320"), 320);
    EXPECT_EQ(ParseDecimalField("12abc"), 12);
    EXPECT_EQ(ParseDecimalField(""), 0);
    EXPECT_EQ(ParseDecimalField("abc"), 0);
    EXPECT_EQ(ParseDecimalField("  \t-5"), -5);
    EXPECT_EQ(ParseDecimalField("+7"), 7);
    EXPECT_EQ(ParseDecimalField("- 5"), 0);
    EXPECT_EQ(ParseDecimalField("640x480"), 640);
    EXPECT_EQ(ParseDecimalField("99999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseDecimalField("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseDecimalField("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(ParseDecimalField("\xd9\xa3"), 0);  // a non-ASCII digit is not a digit
}

TEST(CaptionText, FormatsCoordinatesAndCaption) {
    EXPECT_EQ(CoordinatesText(CaptureRect{-20, -5, 300, 235}), "[-20,-5] 320x240");
    EXPECT_EQ(CaptionText(false, "Capture_1.bmp"), " Brintel Shot");
    EXPECT_EQ(CaptionText(true, "Capture_1.bmp"), " Brintel Shot - Capture_1.bmp");
}

// Ten pixels per character code unit: easy widths to reason about.
int TenPerUnit(const QString& s) {
    return int(s.size()) * 10;
}

TEST(FitCaptionText, KeepsFittingTextAndCutsAtTheWidth) {
    EXPECT_EQ(FitCaptionText("abcde", 50, TenPerUnit), "abcde");
    // 45 pixels: "..." is 30 < 45, add 'a' -> 40 < 45, add 'b' -> 50, stop.
    EXPECT_EQ(FitCaptionText("abcdefgh", 45, TenPerUnit), "ab...");
    EXPECT_EQ(FitCaptionText("abcdefgh", 40, TenPerUnit), "a...");
    EXPECT_EQ(FitCaptionText("abcdefgh", 0, TenPerUnit), "...");
}

TEST(FitCaptionText, NeverSplitsACharacter) {
    // "가" (one code unit) and an emoji (two code units, one character).
    const QString text = QString::fromUtf8("가\xF0\x9F\x98\x80가나다라마바사");
    const QString fitted = FitCaptionText(text, 55, TenPerUnit);
    // "..."=30 -> "가..."=40 -> "가😀..."=60 >= 55: the emoji is kept whole.
    EXPECT_EQ(fitted, QString::fromUtf8("가\xF0\x9F\x98\x80..."));
    EXPECT_TRUE(fitted.isValidUtf16());
}

}  // namespace
