// The capture window's state, shape and painting, rendered off screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QTest>

#include "capture/brintel_shot_dlg.h"
#include "capture/frame_geometry.h"
#include "capture/toolbar_images.h"

// Readable failure messages for Qt strings.
void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

QColor PixelAt(QWidget& w, int x, int y) {
    return w.grab().toImage().pixelColor(x, y);
}

class CapturePaintTest : public ::testing::Test {
protected:
    void SetUp() override {
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }
    CBrintelShotDlg dlg;
};

TEST_F(CapturePaintTest, InitialRegionAndMargins) {
    const int t = dlg.m_nToolbarHeight;
    EXPECT_GT(t, 15);
    EXPECT_EQ(dlg.m_rcMargin, QMargins(4, 4, 4, 4));
    EXPECT_EQ(dlg.CaptureRegion(), (CaptureRect{4, t + 34, dlg.width() - 4, dlg.height() - 4}));
}

TEST_F(CapturePaintTest, RegionAndShapeFollowEverySize) {
    const int t = dlg.m_nToolbarHeight;
    for (QSize size : {QSize(648, 480 + t + 38), QSize(100, 90), QSize(10, t + 38)}) {
        dlg.resize(size);
        EXPECT_EQ(dlg.CaptureRegion(), CaptureRegionForSize(size.width(), size.height(), t));
        EXPECT_EQ(dlg.mask(), OpaqueRegion(size.width(), size.height(), dlg.CaptureRegion(), true));
    }
    // No drag or resize makes the region inverted.
    dlg.resize(1, 1);
    EXPECT_GE(dlg.CaptureRegion().Width(), 0);
    EXPECT_GE(dlg.CaptureRegion().Height(), 0);
}

TEST_F(CapturePaintTest, PaintsBandsInTheirColours) {
    dlg.resize(300, 250);
    const int t = dlg.m_nToolbarHeight;
    EXPECT_EQ(PixelAt(dlg, 1, 1), QColor(255, 0, 0));         // caption text area
    EXPECT_EQ(PixelAt(dlg, 298, 1), QColor(50, 50, 50));      // caption band, right end
    EXPECT_EQ(PixelAt(dlg, 1, 200), QColor(0, 255, 0));       // frame band
    EXPECT_EQ(PixelAt(dlg, 150, t + 31), QColor(0, 255, 0));  // band under the toolbar
    EXPECT_EQ(PixelAt(dlg, 150, 150), QColor(1, 1, 1));       // capture region: colour key
    EXPECT_EQ(dlg.LastCaptionText(), " Brintel Shot");
    const CaptureRect onScreen = dlg.CaptureRegionOnScreen();
    EXPECT_EQ(dlg.LastCoordinatesText(),
              QString("[%1,%2] 292x%3").arg(onScreen.left).arg(onScreen.top).arg(250 - t - 38));
}

TEST_F(CapturePaintTest, StatusTextLeavesTheCaptionAfterOneSecondWithoutOtherRepaints) {
    dlg.SetStatusText("1.bmp");
    dlg.repaint();
    EXPECT_EQ(dlg.LastCaptionText(), " Brintel Shot - 1.bmp");
    // Nothing else repaints the window: the caption must still return to its plain text.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.LastCaptionText() == " Brintel Shot"; }, 5000));
}

TEST_F(CapturePaintTest, LongStatusIsCutWithEllipsisAtTheCaptionArea) {
    dlg.resize(335, 280);
    const QString status =
        QString::fromUtf8("녹화 완료 파일 이름이 아주 길어서 캡션에 다 들어가지 않는 경우");
    dlg.SetStatusText(status);
    dlg.repaint();
    const QString caption = dlg.LastCaptionText();
    ASSERT_TRUE(caption.endsWith("...")) << caption.toStdString();
    ASSERT_TRUE(caption.startsWith(" Brintel Shot - "));
    // The kept part is a prefix of the full caption; the last kept character is the one
    // that made the text reach the caption area's width (335 - 125 pixels).
    const QString kept = caption.chopped(3);
    EXPECT_TRUE((" Brintel Shot - " + status).startsWith(kept));
    const QFontMetrics metrics(dlg.CaptionFont());
    EXPECT_GE(metrics.horizontalAdvance(caption), 210);
    EXPECT_LT(metrics.horizontalAdvance(kept.chopped(1) + "..."), 210);
}

TEST(ToolbarImages, StripHoldsSixImagesWithTransparentBackground) {
    for (int i = 0; i < kToolbarImageCount; ++i) {
        const QImage image = ToolbarIcon(i).pixmap(16, 15).toImage();
        ASSERT_EQ(image.size(), QSize(16, 15)) << i;
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << i;  // the grey background
    }
    auto pixel = [](int index, int x, int y) {
        return ToolbarIcon(index).pixmap(16, 15).toImage().pixelColor(x, y).rgba();
    };
    EXPECT_EQ(pixel(kRecordImage, 7, 7), qRgb(255, 0, 0));     // red disc
    EXPECT_EQ(pixel(kRegionImage, 1, 7), qRgb(0, 128, 0));     // green outline
    EXPECT_EQ(pixel(kRegionImage, 7, 7) >> 24, 0u);            // hollow inside
    EXPECT_EQ(pixel(kRecordingImage, 2, 7), qRgb(0, 0, 0));    // black border
    EXPECT_EQ(pixel(kRecordingImage, 7, 7), qRgb(255, 0, 0));  // red square
    EXPECT_TRUE(ToolbarIcon(kToolbarImageCount).isNull());
    EXPECT_TRUE(ToolbarIcon(-1).isNull());
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
