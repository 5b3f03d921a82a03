// The capture window on a real X desktop (Xvfb with openbox, or a bare X server for the
// drag tests), driven with xdotool and looked at through screenshots of the root window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <atomic>
#include <sstream>
#include <cstdlib>
#include <thread>

#include "capture/brintel_shot_dlg.h"
#include "capture/caption_text.h"
#include "capture/command_ids.h"
#include "capture/frame_geometry.h"

// Readable failure messages for Qt values.
void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
void PrintTo(const QColor& c, std::ostream* os) {
    *os << "RGB(" << c.red() << ", " << c.green() << ", " << c.blue() << ")";
}

namespace {

constexpr int kWaitMs = 10000;

// A window whose every pixel has a colour computed from its position, and which records
// where it was clicked.
class CPatternWindow : public QWidget {
public:
    static QColor ColorAt(int x, int y) { return QColor(x & 0xFF, y & 0xFF, 0xC8); }

    QList<QPoint> m_presses;

protected:
    void paintEvent(QPaintEvent*) override {
        QImage image(size(), QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                image.setPixelColor(x, y, ColorAt(x, y));
            }
        }
        QPainter(this).drawImage(0, 0, image);
    }
    void mousePressEvent(QMouseEvent* event) override { m_presses.append(event->pos()); }
};

// Notes when a widget receives a mouse button press.
class CPressWatcher : public QObject {
public:
    explicit CPressWatcher(QWidget* target) : m_target(target) { target->installEventFilter(this); }
    ~CPressWatcher() override { m_target->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            m_bPressed = true;
        }
        return false;
    }
    bool m_bPressed = false;

private:
    QWidget* m_target;
};

// Runs xdotool and waits for it while the event loop keeps running.
bool Xdo(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    if (!process.waitForStarted()) {
        return false;
    }
    // waitForFinished() also returns false once the process has ended, so test the state.
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(10)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::processEvents();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList At(const QPoint& p) {
    return {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())};
}

// Runs a shell script (xdotool steps) on its own thread, so that it can answer modal
// dialogs while this thread runs their event loops.
class CBackgroundScript {
public:
    explicit CBackgroundScript(const std::string& script)
        : m_thread([this, script] {
              m_result = std::system(script.c_str());
              m_bDone = true;
          }) {
        // A script that failed leaves its dialog open, and this thread inside the dialog's
        // event loop: close it, so that the failure is reported instead of hanging.
        QObject::connect(&m_rescue, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (m_bDone && modal != nullptr) {
                m_bRescued = true;
                modal->close();
            }
        });
        m_rescue.start(100);
    }
    ~CBackgroundScript() { m_thread.join(); }
    bool Finish() {
        const bool done = QTest::qWaitFor([this] { return m_bDone.load(); }, 3 * kWaitMs);
        return done && m_result == 0 && !m_bRescued;
    }

private:
    std::atomic<bool> m_bDone{false};
    bool m_bRescued = false;
    int m_result = -1;
    QTimer m_rescue;
    std::thread m_thread;
};

QImage Screenshot() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

QColor ScreenPixel(const QPoint& p) {
    return Screenshot().pixelColor(p);
}

class CaptureDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        pattern.setWindowTitle(QStringLiteral("pattern"));
        pattern.setGeometry(200, 150, 900, 700);
        pattern.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pattern));
        dlg.setGeometry(kStart);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.geometry() == kStart; }, kWaitMs))
            << "window manager placed the window elsewhere";
        dlg.activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.isActiveWindow(); }, kWaitMs));
    }

    QPoint Global(int x, int y) const { return dlg.mapToGlobal(QPoint(x, y)); }
    // The pattern's colour expected on screen at a screen point.
    QColor PatternAt(const QPoint& screen) const {
        const QPoint local = pattern.mapFromGlobal(screen);
        return CPatternWindow::ColorAt(local.x(), local.y());
    }
    // The screen catches up with the windows asynchronously: wait until the pixel at p has
    // the colour c, and on failure report the colour it has.
    ::testing::AssertionResult ScreenShows(const QPoint& p, const QColor& c) {
        QColor seen;
        if (QTest::qWaitFor([&] { return (seen = ScreenPixel(p)) == c; }, kWaitMs)) {
            return ::testing::AssertionSuccess();
        }
        std::ostringstream text;
        PrintTo(seen, &text);
        text << " at " << p.x() << "," << p.y() << ", expected ";
        PrintTo(c, &text);
        return ::testing::AssertionFailure() << text.str();
    }

    // Presses the left button at from, moves to to and releases it there. The moves wait
    // until the capture window has seen the press, so that a window manager asked to run
    // the move or resize is already tracking the pointer.
    bool Drag(const QPoint& from, const QPoint& to) {
        CPressWatcher watcher(&dlg);
        if (!Xdo(At(from) << "mousedown"
                          << "1") ||
            !QTest::qWaitFor([&] { return watcher.m_bPressed; }, kWaitMs)) {
            return false;
        }
        QTest::qWait(150);
        const bool moved = Xdo(At(from + (to - from) / 4)) && Xdo(At(to));
        QTest::qWait(100);
        return Xdo({QStringLiteral("mouseup"), QStringLiteral("1")}) && moved;
    }

    const QRect kStart{420, 300, 400, 330};
    CPatternWindow pattern;
    CBrintelShotDlg dlg;
};

TEST_F(CaptureDesktopTest, StaysOnTopAndShowsBandsAndTheWindowBelowThroughTheRegion) {
    // A normal window activated later, over the capture window's caption.
    QWidget other;
    other.setGeometry(380, 200, 220, 120);  // over the caption band, above the region
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.isActiveWindow(); }, kWaitMs));

    const int w = dlg.width(), h = dlg.height();
    EXPECT_TRUE(ScreenShows(Global(2, 2), QColor(255, 0, 0)));       // caption text area
    EXPECT_TRUE(ScreenShows(Global(w - 2, 2), QColor(50, 50, 50)));  // caption band
    EXPECT_TRUE(ScreenShows(Global(1, h - 2), QColor(0, 255, 0)));   // frame band
    EXPECT_TRUE(ScreenShows(Global(w / 2, h - 1), QColor(0, 255, 0)));
    const CaptureRect region = dlg.CaptureRegion();
    for (QPoint p : {QPoint(region.left, region.top), QPoint(region.right - 1, region.bottom - 1),
                     QPoint(w / 2, h / 2)}) {
        const QPoint screen = Global(p.x(), p.y());
        EXPECT_TRUE(ScreenShows(screen, PatternAt(screen)));
    }

    QDir().mkpath(BRINTEL_ARTIFACT_DIR);
    Screenshot()
        .copy(dlg.geometry().adjusted(-40, -40, 40, 40))
        .save(QStringLiteral(BRINTEL_ARTIFACT_DIR "/capture_window.png"));
}

TEST_F(CaptureDesktopTest, ClicksFallThroughTheRegionButNotThroughTheBand) {
    const int bandY = dlg.m_nToolbarHeight + 31;  // band under the toolbar, no resize zone
    ASSERT_EQ(FrameHitTest(dlg.geometry(), Global(200, bandY).x(), Global(200, bandY).y()),
              FrameHit::Nowhere);
    ASSERT_TRUE(Xdo(At(Global(200, bandY)) << "click"
                                           << "1"));
    const QPoint inRegion = Global(150, 150);
    ASSERT_TRUE(Xdo(At(inRegion) << "click"
                                 << "1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pattern.m_presses.isEmpty(); }, kWaitMs));
    // Only the click into the region arrived, where it was made.
    EXPECT_EQ(pattern.m_presses, QList<QPoint>{pattern.mapFromGlobal(inRegion)});
}

TEST_F(CaptureDesktopTest, DragCaptionMovesWindowAndCoordinatesFollow) {
    const CaptureRect regionBefore = dlg.CaptureRegion();
    const QPoint from = Global(150, 18);
    ASSERT_EQ(FrameHitTest(dlg.geometry(), from.x(), from.y()), FrameHit::Caption);
    const QPoint to = from + QPoint(60, 40);
    ASSERT_TRUE(Drag(from, to));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return dlg.pos() == kStart.topLeft() + QPoint(60, 40); }, kWaitMs))
        << dlg.pos().x() << "," << dlg.pos().y();
    EXPECT_EQ(dlg.size(), kStart.size());
    EXPECT_EQ(dlg.CaptureRegion(), regionBefore);
    const QString expected = CoordinatesText(dlg.CaptureRegionOnScreen());
    EXPECT_TRUE(expected.startsWith(QStringLiteral("[%1,%2] ")
                                        .arg(kStart.left() + 60 + 4)
                                        .arg(kStart.top() + 40 + regionBefore.top)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.LastCoordinatesText() == expected; }, kWaitMs))
        << dlg.LastCoordinatesText().toStdString();
}

TEST_F(CaptureDesktopTest, DragBottomEdgeChangesOnlyRegionHeight) {
    const QPoint from = Global(200, dlg.height() - 2);
    ASSERT_EQ(FrameHitTest(dlg.geometry(), from.x(), from.y()), FrameHit::Bottom);
    const QPoint to = from + QPoint(0, 50);
    ASSERT_TRUE(Drag(from, to));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.height() == kStart.height() + 50; }, kWaitMs))
        << dlg.height();
    EXPECT_EQ(dlg.geometry().topLeft(), kStart.topLeft());
    EXPECT_EQ(dlg.width(), kStart.width());
    EXPECT_EQ(dlg.CaptureRegion(),
              CaptureRegionForSize(kStart.width(), kStart.height() + 50, dlg.m_nToolbarHeight));
}

TEST_F(CaptureDesktopTest, ToolbarButtonsShowTheirTooltips) {
    const std::pair<int, const char*> tips[] = {{ID_RECORD, "녹화(F3)"},
                                                {ID_CAPTURE, "화면캡쳐(F4)"},
                                                {ID_OPEN_FOLDER, "폴더열기(F5)"},
                                                {ID_HELP_PAGE, "도움말(F1)"},
                                                {ID_REGION_SET, "영역설정"}};
    for (const auto& [id, text] : tips) {
        const QRect button = dlg.ToolButtonRect(id);
        ASSERT_FALSE(button.isEmpty()) << id;
        ASSERT_TRUE(Xdo(At(Global(200, 200))));  // away from the toolbar first
        EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, kWaitMs));
        ASSERT_TRUE(Xdo(At(Global(button.center().x(), button.center().y()))));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return QToolTip::isVisible() && QToolTip::text() == QString::fromUtf8(text); },
            kWaitMs))
            << text << " got " << QToolTip::text().toStdString();
    }
}

// The region dialog, opened by the toolbar button and answered with the given keys.
std::string RegionDialogScript(const QPoint& button, const std::string& keys) {
    return "timeout 20 xdotool mousemove " + std::to_string(button.x()) + " " +
           std::to_string(button.y()) +
           " click 1 && timeout 20 xdotool search --sync --onlyvisible --name '^Region Setting$'"
           " windowactivate --sync %1 && sleep 0.2 && " +
           keys;
}

TEST_F(CaptureDesktopTest, RegionDialogSetsExactRegionSize) {
    const QRect button = dlg.ToolButtonRect(ID_REGION_SET);
    CBackgroundScript script(RegionDialogScript(
        Global(button.center().x(), button.center().y()),
        "xdotool type 320 && xdotool key Tab && xdotool type 240 && xdotool key Return"));
    ASSERT_TRUE(script.Finish());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const CaptureRect r = dlg.CaptureRegion();
            return r.Width() == 320 && r.Height() == 240;
        },
        kWaitMs));
    EXPECT_EQ(dlg.pos(), kStart.topLeft());
    EXPECT_EQ(dlg.CaptureRegionOnScreen().Width(), 320);
}

TEST_F(CaptureDesktopTest, RegionDialogEscapeChangesNothing) {
    const QRect button = dlg.ToolButtonRect(ID_REGION_SET);
    CBackgroundScript script(RegionDialogScript(Global(button.center().x(), button.center().y()),
                                                "xdotool type 500 && xdotool key Escape"));
    ASSERT_TRUE(script.Finish());
    QTest::qWait(0);
    EXPECT_EQ(dlg.geometry(), kStart);
}

TEST_F(CaptureDesktopTest, RegionDialogRejectsUnusableSizesWithAMessage) {
    QString shownText;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownText = box->text();
        }
    });
    watch.start(20);
    const QRect button = dlg.ToolButtonRect(ID_REGION_SET);
    const QPoint click = Global(button.center().x(), button.center().y());
    // Width field keys, height field keys, the message expected.
    const char* const cases[][3] = {
        {"", "240", "크기가 너무 작습니다."},     // an empty field reads as 0
        {"100", "-5", "크기가 너무 작습니다."},   // a region turned inside out
        {"40000", "240", "크기가 너무 큽니다."},  // beyond what X can size a window to
    };
    for (const auto& [width, height, message] : cases) {
        shownText.clear();
        std::string keys = std::string(*width ? "xdotool type -- " : "true ") + width +
                           " && xdotool key Tab && xdotool type -- " + height +
                           " && xdotool key Return && timeout 20 xdotool search --sync"
                           " --onlyvisible --name '^BrintelShot$' windowactivate --sync %1"
                           " && sleep 0.2 && xdotool key Return";
        CBackgroundScript script(RegionDialogScript(click, keys));
        ASSERT_TRUE(script.Finish()) << width << " x " << height;
        EXPECT_EQ(shownText, QString::fromUtf8(message)) << width << " x " << height;
        EXPECT_EQ(dlg.geometry(), kStart);
    }
}

TEST_F(CaptureDesktopTest, EnterEscAndAltF4HideTheWindowWhichComesBackInPlace) {
    QSignalSpy hidden(&dlg, &CBrintelShotDlg::hiddenByUser);
    for (const char* key : {"Escape", "Return", "alt+F4"}) {
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.isActiveWindow(); }, kWaitMs)) << key;
        const int before = int(hidden.count());
        ASSERT_TRUE(Xdo({QStringLiteral("key"), QString::fromLatin1(key)}));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.isVisible(); }, kWaitMs)) << key;
        EXPECT_EQ(hidden.count(), before + 1) << key;
    }
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.geometry() == kStart; }, kWaitMs));
}

TEST_F(CaptureDesktopTest, SnapMakesRegionCoverExactlyTheTargetRect) {
    const QRect target(QPoint(pattern.mapToGlobal(QPoint(100, 120))), QSize(333, 217));
    dlg.SnapToWindowRect(target);
    const CaptureRect expected{target.left(), target.top(), target.left() + target.width(),
                               target.top() + target.height()};
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.CaptureRegionOnScreen() == expected; }, kWaitMs));
    // On screen: the target's corner pixels show through, one pixel outside is the band.
    const QPoint topLeft = target.topLeft();
    const QPoint bottomRight = target.bottomRight();
    EXPECT_TRUE(ScreenShows(topLeft, PatternAt(topLeft)));
    EXPECT_TRUE(ScreenShows(bottomRight, PatternAt(bottomRight)));
    EXPECT_TRUE(ScreenShows(topLeft - QPoint(1, 0), QColor(0, 255, 0)));
    EXPECT_TRUE(ScreenShows(bottomRight + QPoint(0, 1), QColor(0, 255, 0)));
}

TEST_F(CaptureDesktopTest, CaptionContextMenuAsksForTheAboutBox) {
    QSignalSpy about(&dlg, &CBrintelShotDlg::aboutRequested);
    const QPoint caption = Global(150, 15);
    CBackgroundScript script("xdotool mousemove " + std::to_string(caption.x()) + " " +
                             std::to_string(caption.y()) +
                             " click 3 && sleep 0.5 && xdotool key Down Return");
    ASSERT_TRUE(script.Finish());
    EXPECT_TRUE(QTest::qWaitFor([&] { return about.count() == 1; }, kWaitMs));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
