// The capture window, its commands and keys on a real X desktop (Xvfb with openbox, or a
// bare X server for the drag tests), driven with xdotool and looked at through screenshots
// of the root window; recordings are read back with ffprobe/ffmpeg, still captures and the
// clipboard compared pixel by pixel with the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolTip>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "capture/brintel_shot_dlg.h"
#include "capture/caption_text.h"
#include "capture/command_ids.h"
#include "capture/frame_geometry.h"
#include "capture/toolbar_images.h"
#include "imaging/screen_grabber.h"
#include "test_support.h"

// Readable failure messages for Qt strings.
void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

constexpr int kWaitMs = 10000;
constexpr char kCaptures[] = R"(Capture_\d{6}_\d{6}(_\d+)?\.bmp)";
constexpr char kRecordings[] = R"(Recode_\d{8}_\d{6}(_\d+)?\.avi)";
constexpr char kOutputFiles[] = "(Capture|Recode)_.*";

// A window whose every pixel has a colour computed from its position.
class CPatternWindow : public QWidget {
public:
    static QColor ColorAt(int x, int y) { return QColor(x & 0xFF, y & 0xFF, 0xC8); }

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
};

// Notes where a widget receives mouse button presses (a filter that is deleted is removed).
class CPressWatcher : public QObject {
public:
    explicit CPressWatcher(QWidget* target) { target->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            m_presses.append(static_cast<QMouseEvent*>(event)->position().toPoint());
        }
        return false;
    }
    QList<QPoint> m_presses;
};

// Runs a shell script (xdotool steps) while the event loop keeps running, so that the script
// can answer the modal dialogs it opens. A script that failed would leave its dialog open,
// and this thread inside the dialog's event loop: that dialog is closed, and false returned.
bool Shell(const QString& script) {
    QProcess process;
    bool rescued = false;
    QTimer rescue;
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (process.state() == QProcess::NotRunning && modal != nullptr) {
            rescued = true;
            modal->close();
        }
    });
    rescue.start(100);
    process.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    if (!process.waitForStarted()) {
        return false;
    }
    const bool ended =
        QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 3 * kWaitMs);
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 &&
           !rescued;
}

QString MoveTo(const QPoint& p) {
    return QStringLiteral("xdotool mousemove %1 %2").arg(p.x()).arg(p.y());
}

QImage Screenshot() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
    return !a.empty() && a.size() == b.size() && a.type() == b.type() && cv::norm(a, b) == 0;
}

// The screen's pixels under a rectangle, as blue-green-red.
cv::Mat ReadRegion(const CaptureRect& r) {
    const QImage rgb = Screenshot().copy(ToQRect(r)).convertToFormat(QImage::Format_RGB888);
    cv::Mat bgr;
    cv::cvtColor(cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.bits()),
                         rgb.bytesPerLine()),
                 bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

// Someone else who can write into the output folder: each new recording or capture file is
// moved aside (to its name + ".moved") the moment it appears, and a symbolic link to `target`
// put in its place.
class CNameSwapper {
public:
    CNameSwapper(const std::string& dir, const std::string& target)
        : m_fd(inotify_init1(IN_CLOEXEC)) {
        inotify_add_watch(m_fd, dir.c_str(), IN_CREATE);
        m_thread = std::thread([this, dir, target] { SwapNewFiles(dir, target); });
    }
    ~CNameSwapper() {
        m_stop = true;
        m_thread.join();
        close(m_fd);
    }
    int Swaps() const { return m_swaps; }

private:
    void SwapNewFiles(const std::string& dir, const std::string& target) {
        alignas(inotify_event) char buffer[4096];
        std::set<std::string> swapped;  // the links put in place appear as new names too
        while (!m_stop) {
            pollfd ready{m_fd, POLLIN, 0};
            if (poll(&ready, 1, 50) != 1) {
                continue;
            }
            const ssize_t length = read(m_fd, buffer, sizeof buffer);
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                const std::string name = event->len > 0 ? event->name : "";
                const std::string path = dir + "/" + name;
                const bool ours = name.rfind("Recode_", 0) == 0 || name.rfind("Capture_", 0) == 0;
                if (ours && name.find(".moved") == std::string::npos &&
                    swapped.insert(name).second &&
                    rename(path.c_str(), (path + ".moved").c_str()) == 0 &&
                    symlink(target.c_str(), path.c_str()) == 0) {
                    ++m_swaps;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_swaps{0};
    std::thread m_thread;
};

class CaptureDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_inOutputDir);
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
    QPoint ButtonCentre(int id) const { return dlg.mapToGlobal(dlg.ToolButtonRect(id).center()); }
    // The pattern's colour expected on screen at a screen point.
    QColor PatternAt(const QPoint& screen) const {
        const QPoint local = pattern.mapFromGlobal(screen);
        return CPatternWindow::ColorAt(local.x(), local.y());
    }
    // The screen catches up with the windows asynchronously.
    bool ScreenShows(const QPoint& p, const QColor& c) {
        return QTest::qWaitFor([&] { return Screenshot().pixelColor(p) == c; }, kWaitMs);
    }

    // Drags the pointer from `from` to `to` with the left button held and releases it there.
    // The drag begins when the pointer first moves with the button down, so the button goes
    // down one pixel before `from`. The moves wait until the capture window has seen the
    // press and the first move, so that a window manager asked to run the move or resize is
    // already tracking the pointer.
    bool Drag(const QPoint& from, const QPoint& to) {
        CPressWatcher watcher(&dlg);
        const bool pressed =
            Shell(MoveTo(from - QPoint(1, 1)) + " mousedown 1") &&
            QTest::qWaitFor([&] { return !watcher.m_presses.isEmpty(); }, kWaitMs) &&
            Shell(MoveTo(from));
        QTest::qWait(150);
        const bool moved = pressed && Shell(MoveTo(from + (to - from) / 4)) && Shell(MoveTo(to));
        QTest::qWait(100);
        return Shell("xdotool mouseup 1") && moved;
    }

    // Opens the region dialog with its toolbar button and answers it with the given keys.
    bool AnswerRegionDialog(const QString& keys) {
        return Shell("timeout 20 " + MoveTo(ButtonCentre(ID_REGION_SET)) +
                     " click 1 && timeout 20 xdotool search --sync --onlyvisible --name "
                     "'^Region Setting$' windowactivate --sync %1 && sleep 0.2 && " +
                     keys);
    }

    // Presses keys (xdotool key syntax) with the capture window active.
    void Key(const QString& keys) {
        ASSERT_TRUE(Shell(QStringLiteral("xdotool windowactivate --sync %1 && xdotool key %2")
                              .arg(dlg.winId())
                              .arg(keys)));
        QTest::qWait(150);
    }

    bool RecordButtonShows(int image) const {
        const QIcon icon = dlg.findChild<QToolBar*>()->actions().at(0)->icon();
        return icon.pixmap(16, 15).toImage() == ToolbarIcon(image).pixmap(16, 15).toImage();
    }

    std::string Caption() const { return dlg.LastCaptionText().toStdString(); }

    const QRect kStart{420, 300, 600, 330};  // wide enough for every status text
    TempDir m_dir;
    const bool m_inOutputDir = chdir(m_dir.path().c_str()) == 0;  // before the window exists
    CPatternWindow pattern;
    CBrintelShotDlg dlg;
};

// Clicks fall through the region but not through the band; keys hide the window.
TEST_F(CaptureDesktopTest, StaysOnTopAndShowsBandsAndTheWindowBelowThroughTheRegion) {
    QWidget other;  // a normal window activated later, over the caption band
    other.setGeometry(380, 200, 220, 120);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.isActiveWindow(); }, kWaitMs));

    const int w = dlg.width(), h = dlg.height();
    EXPECT_TRUE(ScreenShows(Global(2, 2), QColor(255, 0, 0)));       // caption text area
    EXPECT_TRUE(ScreenShows(Global(w - 2, 2), QColor(50, 50, 50)));  // caption band
    EXPECT_TRUE(ScreenShows(Global(1, h - 2), QColor(0, 255, 0)));   // frame band
    const CaptureRect region = dlg.CaptureRegion();
    // Inside the region's corners the window below shows; one pixel outside is the band.
    for (QPoint p : {QPoint(region.left, region.top), QPoint(region.right - 1, region.bottom - 1),
                     QPoint(w / 2, h / 2)}) {
        EXPECT_TRUE(ScreenShows(Global(p.x(), p.y()), PatternAt(Global(p.x(), p.y()))));
    }
    EXPECT_TRUE(ScreenShows(Global(region.left - 1, region.top), QColor(0, 255, 0)));
    EXPECT_TRUE(ScreenShows(Global(region.right - 1, region.bottom), QColor(0, 255, 0)));

    const QPoint band = Global(200, dlg.m_nToolbarHeight + 31);  // under the toolbar
    ASSERT_EQ(FrameHitTest(dlg.geometry(), band.x(), band.y()), FrameHit::Nowhere);
    const QPoint inRegion = Global(150, 150);
    CPressWatcher onWindow(&dlg), below(&pattern);
    ASSERT_TRUE(Shell(MoveTo(band) + " click 1 && " + MoveTo(inRegion) + " click 1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !below.m_presses.isEmpty(); }, kWaitMs));
    // Each click arrived where it was made: on the band or on the window below.
    EXPECT_EQ(onWindow.m_presses, QList<QPoint>{dlg.mapFromGlobal(band)});
    EXPECT_EQ(below.m_presses, QList<QPoint>{pattern.mapFromGlobal(inRegion)});

    // Enter, Esc and Alt+F4 hide the window.
    QSignalSpy hidden(&dlg, &CBrintelShotDlg::hiddenByUser);
    for (const char* key : {"Escape", "Return", "alt+F4"}) {
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.isActiveWindow(); }, kWaitMs)) << key;
        const int before = int(hidden.count());
        ASSERT_TRUE(Shell(QStringLiteral("xdotool key ") + key));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.isVisible(); }, kWaitMs)) << key;
        EXPECT_EQ(hidden.count(), before + 1) << key;
    }
}

TEST_F(CaptureDesktopTest, DragCaptionMovesWindowAndCoordinatesFollowDragBottomEdgeSizes) {
    const CaptureRect regionBefore = dlg.CaptureRegion();
    const QPoint from = Global(150, 18);
    ASSERT_EQ(FrameHitTest(dlg.geometry(), from.x(), from.y()), FrameHit::Caption);
    // A tap (press and release at once) moves nothing, then or with the pointer later.
    ASSERT_TRUE(Shell(MoveTo(from) + " mousedown 1 mouseup 1 sleep 0.3 mousemove_relative 90 70"));
    QTest::qWait(300);
    EXPECT_EQ(dlg.pos(), kStart.topLeft());

    ASSERT_TRUE(Drag(from, from + QPoint(60, 40)));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return dlg.pos() == kStart.topLeft() + QPoint(60, 40); }, kWaitMs))
        << dlg.pos().x() << "," << dlg.pos().y();
    EXPECT_EQ(dlg.size(), kStart.size());
    const QString expected = QStringLiteral("[%1,%2] %3x%4")
                                 .arg(kStart.left() + 60 + 4)
                                 .arg(kStart.top() + 40 + regionBefore.top)
                                 .arg(regionBefore.Width())
                                 .arg(regionBefore.Height());
    EXPECT_EQ(CoordinatesText(dlg.CaptureRegionOnScreen()), expected);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.LastCoordinatesText() == expected; }, kWaitMs))
        << dlg.LastCoordinatesText().toStdString();

    // Four-digit coordinates show whole: the red caption text area ends before them.
    dlg.move(1000, 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.LastCoordinatesText().startsWith("[1004,"); }));
    const QImage caption = dlg.grab(QRect(0, 0, dlg.width(), 30)).toImage();
    int redEnd = caption.width();
    while (redEnd > 0 && caption.pixelColor(redEnd - 1, 1) != QColor(255, 0, 0))
        --redEnd;
    const int textLeft =
        dlg.width() - 5 -
        QFontMetrics(dlg.CaptionFont()).horizontalAdvance(dlg.LastCoordinatesText());
    EXPECT_LT(redEnd, textLeft);

    // The bottom edge changes only the region's height.
    const QPoint top = dlg.pos();
    const QPoint edge = Global(200, dlg.height() - 2);
    ASSERT_EQ(FrameHitTest(dlg.geometry(), edge.x(), edge.y()), FrameHit::Bottom);
    ASSERT_TRUE(Drag(edge, edge + QPoint(0, 50)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.height() == kStart.height() + 50; }, kWaitMs))
        << dlg.height();
    EXPECT_EQ(dlg.pos(), top);
    EXPECT_EQ(dlg.CaptureRegion(),
              CaptureRegionForSize(kStart.width(), kStart.height() + 50, dlg.m_nToolbarHeight));
}

// The region dialog; regions too large to record, and empty ones.
TEST_F(CaptureDesktopTest, RegionDialogSetsExactSizesAndRefusesOthers) {
    ASSERT_TRUE(AnswerRegionDialog("xdotool type 500 && xdotool key Escape"));
    QTest::qWait(0);
    EXPECT_EQ(dlg.geometry(), kStart);  // Escape changes nothing

    QString shownText;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownText = box->text();
        }
    });
    watch.start(20);
    // Width field keys, height field keys, the message expected.
    const char* const refused[][3] = {
        {"", "240", "크기가 너무 작습니다."},     // an empty field reads as 0
        {"100", "-5", "크기가 너무 작습니다."},   // a region turned inside out
        {"40000", "240", "크기가 너무 큽니다."},  // beyond what X can size a window to
    };
    for (const auto& [width, height, message] : refused) {
        shownText.clear();
        ASSERT_TRUE(AnswerRegionDialog(
            QString(*width ? "xdotool type -- " : "true ") + width +
            " && xdotool key Tab && xdotool type -- " + height +
            " && xdotool key Return && timeout 20 xdotool search --sync --onlyvisible --name "
            "'^BrintelShot$' windowactivate --sync %1 && sleep 0.2 && xdotool key Return"))
            << width << " x " << height;
        EXPECT_EQ(shownText, QString::fromUtf8(message)) << width << " x " << height;
        EXPECT_EQ(dlg.geometry(), kStart);
    }

    // The video format holds at most 8188 pixels a side (the frame of a region of 8187); a
    // wider region is still captured and copied, but not recorded.
    ASSERT_TRUE(AnswerRegionDialog(
        "xdotool type 9000 && xdotool key Tab && xdotool type 600 && xdotool key Return"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.CaptureRegion().Width() == 9000; }, kWaitMs));
    EXPECT_EQ(dlg.y(), kStart.top());  // (a window wider than the screen starts at its left)
    Key("F3");
    EXPECT_FALSE(dlg.IsRecording());
    EXPECT_EQ(Caption(), " Brintel Shot - Recode Failed: region too large for the video format");
    EXPECT_TRUE(m_dir.Files().empty());

    Key("F4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dir.Files(kCaptures).size() == 1; }, kWaitMs));
    EXPECT_EQ(cv::imread(m_dir.path() + "/" + m_dir.Files(kCaptures)[0]).size(),
              cv::Size(9000, 600));
    const std::string png = m_dir.path() + "/clip.png";
    Key("ctrl+c");
    ASSERT_TRUE(
        Shell(QString::fromStdString("xclip -selection clipboard -t image/png -o > " + png)));
    EXPECT_EQ(cv::imread(png).size(), cv::Size(9000, 600));

    // An empty region is neither captured nor recorded.
    dlg.resize(600, dlg.m_nToolbarHeight + 38);  // a region 0 pixels high
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.CaptureRegion().Height() == 0; }, kWaitMs));
    Key("F4");
    Key("F3");
    EXPECT_FALSE(dlg.IsRecording());
    EXPECT_EQ(Caption(), " Brintel Shot - Empty Region!");
    EXPECT_EQ(m_dir.Files(kCaptures).size(), 1u);
}

TEST_F(CaptureDesktopTest, F3RecordsTheRegionInRealTime) {
    dlg.resize(640 + 8, 480 + dlg.m_nToolbarHeight + 38);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.CaptureRegion().Width() == 640; }, kWaitMs));
    const CaptureRect region = dlg.CaptureRegionOnScreen();
    PatternWindow picture(region.left, region.top, 640, 480);

    double seconds = 0;
    {
        using Clock = std::chrono::steady_clock;
        PatternAnimator animator(picture, 8, 150);
        Key("F3");
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.IsRecording(); }, 5000));
        const auto start = Clock::now();
        QTest::qWait(1000);
        EXPECT_TRUE(RecordButtonShows(kRecordingImage));
        EXPECT_NE(Caption().find("Recoding..."), std::string::npos) << Caption();
        // Still capture, region setting and resizing are refused while recording.
        Key("F4");
        EXPECT_TRUE(Shell(MoveTo(ButtonCentre(ID_REGION_SET)) + " click 1 mousemove 5 5"));
        // The top left corner lies in the caption band, which the blink never cuts out.
        const QRect geometry = dlg.geometry();
        EXPECT_TRUE(Drag(Global(3, 3), Global(-60, -60)));
        EXPECT_EQ(dlg.geometry(), geometry);
        // F9 pauses (the file's timeline skips the pause) and resumes.
        Key("F9");
        const auto paused = Clock::now();
        QTest::qWait(1500);
        EXPECT_EQ(Caption(), " Brintel Shot - Paused");
        Key("F9");
        const double pause = std::chrono::duration<double>(Clock::now() - paused).count();
        QTest::qWait(500);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        Key("F3");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRecording(); }, 5000));
        seconds = std::chrono::duration<double>(Clock::now() - start).count() - pause;
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Caption().find("Recode Complete!") != std::string::npos; }, kWaitMs))
        << Caption();
    EXPECT_TRUE(RecordButtonShows(kRecordImage));
    EXPECT_EQ(m_dir.Files().size(), 1u);  // the recording, no still capture
    const Recording file = ReadTheRecording(m_dir, kRecordings);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.width, 644);
    EXPECT_EQ(file.height, 484);
    // The four key presses reach the window some milliseconds after they are measured here
    // (more on a busy machine); the frame slot running at the pause is kept whole.
    EXPECT_NEAR(file.duration, seconds, 0.15);
    EXPECT_EQ(file.decodeErrors, 0);
    EXPECT_NEAR(double(file.frames.size()), 30 * seconds, 4.5);
    for (size_t i = 0; i < file.frames.size(); ++i) {
        EXPECT_GE(BestPatternPsnr(file.frames[i], 8, 640, 480), 35.0) << "frame " << i;
    }
}

TEST_F(CaptureDesktopTest, F4SavesExactlyTheScreenUnderTheRegion) {
    const CaptureRect region = dlg.CaptureRegionOnScreen();
    PatternWindow picture(region.left, region.top, region.Width(), region.Height());
    picture.Show(3);
    const cv::Mat screen = ReadRegion(region);
    ASSERT_TRUE(SameImage(screen, PatternImage(3, region.Width(), region.Height())));

    Key("F4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dir.Files(kCaptures).size() == 1; }, kWaitMs));
    EXPECT_EQ(Caption(), " Brintel Shot - " + m_dir.Files(kCaptures)[0]);
    // Captures within the same second get their own files; Shift+F4 captures, Ctrl+F4 not.
    Key("F4");
    Key("shift+F4");
    Key("ctrl+F4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dir.Files(kCaptures).size() >= 3; }, kWaitMs));
    QTest::qWait(300);
    const std::vector<std::string> captures = m_dir.Files(kCaptures);
    ASSERT_EQ(captures.size(), 3u);
    for (const std::string& name : captures) {
        EXPECT_TRUE(SameImage(cv::imread(m_dir.path() + "/" + name), screen)) << name;
    }
    // After a second the status leaves the caption, though nothing else repaints it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Caption() == " Brintel Shot"; }, 5000));
    // Ctrl+keypad 3 copies as Ctrl+C does (see the large region's test).
    const std::string png = m_dir.path() + "/clip.png";
    Key("ctrl+KP_3");
    ASSERT_TRUE(
        Shell(QString::fromStdString("xclip -selection clipboard -t image/png -o > " + png)));
    EXPECT_TRUE(SameImage(cv::imread(png), screen));
    std::remove(png.c_str());

    // A capture that cannot be written says so and leaves no file behind. The caption has
    // room for the reason's end; standard error and the caption's tooltip give it in full.
    testing::internal::CaptureStderr();
    {
        FileSizeLimit limit(10 * 1024);
        Key("F4");
    }
    EXPECT_EQ(Caption(), " Brintel Shot - Capture Failed: File too large");
    EXPECT_EQ(m_dir.Files(), captures);
    const std::string printed = testing::internal::GetCapturedStderr();
    const std::regex full("brintelshot: (Capture Failed: cannot write " + m_dir.path() +
                          "/Capture_[0-9_]+\\.bmp: File too large)\n");
    std::smatch line;
    ASSERT_TRUE(std::regex_search(printed, line, full)) << printed;
    ASSERT_TRUE(Shell(MoveTo(Global(60, 15))));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QToolTip::isVisible() && QToolTip::text().toStdString() == line[1]; },
        kWaitMs))
        << QToolTip::text().toStdString();
}

// Another user of the output folder swaps each new file's name for a link to a file of theirs
// the moment it appears: the link's target stays untouched, and the recording and the capture
// are complete in the files the program created.
TEST_F(CaptureDesktopTest, FilesAreWrittenOnlyThroughTheNamesTheyReserved) {
    TempDir elsewhere;
    const std::string victim = elsewhere.path() + "/victim";
    std::ofstream(victim) << "not the program's";
    const CaptureRect region = dlg.CaptureRegionOnScreen();
    PatternWindow picture(region.left, region.top, region.Width(), region.Height());
    picture.Show(2);
    {
        CNameSwapper swapper(m_dir.path(), victim);
        Key("F3");
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.IsRecording(); }, 5000));
        QTest::qWait(1000);
        Key("F3");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRecording(); }, 5000));
        // A large capture: its encoding leaves time for a swap before a reopened name.
        dlg.resize(1800, 1000);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.CaptureRegion().Width() == 1792; }, kWaitMs));
        Key("F4");
        EXPECT_TRUE(QTest::qWaitFor([&] { return swapper.Swaps() == 2; }, kWaitMs))
            << swapper.Swaps();
    }
    const std::vector<unsigned char> victimBytes = probe::ReadFile(victim);
    EXPECT_TRUE(std::string(victimBytes.begin(), victimBytes.end()) == "not the program's")
        << "the victim now has " << victimBytes.size() << " bytes";

    const Recording file = ReadTheRecording(m_dir, std::string(kRecordings) + "\\.moved");
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.decodeErrors, 0);
    ASSERT_FALSE(file.frames.empty());
    EXPECT_GE(BestPatternPsnr(file.frames.back(), 8, region.Width(), region.Height()), 35.0);
    const std::vector<std::string> bmps = m_dir.Files(std::string(kCaptures) + "\\.moved");
    ASSERT_EQ(bmps.size(), 1u);
    EXPECT_EQ(cv::imread(m_dir.path() + "/" + bmps[0]).size(),
              cv::Size(1792, dlg.CaptureRegion().Height()));
}

// While recording the size is locked: no sizing cursors. F2 snaps and arrows nudge.
TEST_F(CaptureDesktopTest, ResizeZonesShowTheirSizingCursorsWhenNotRecordingF2SnapsArrowsNudge) {
    const int w = dlg.width(), h = dlg.height();
    const std::pair<QPoint, Qt::CursorShape> zones[] = {
        {{2, 2}, Qt::SizeFDiagCursor},        {{w / 2, 2}, Qt::SizeVerCursor},
        {{w - 2, 20}, Qt::SizeBDiagCursor},   {{w / 2, 20}, Qt::ArrowCursor},  // caption
        {{1, h / 2}, Qt::SizeHorCursor},      {{w - 1, h / 2}, Qt::SizeHorCursor},
        {{2, h - 2}, Qt::SizeBDiagCursor},    {{w / 2, h - 2}, Qt::SizeVerCursor},
        {{w - 2, h - 2}, Qt::SizeFDiagCursor}};
    for (bool recording : {false, true}) {
        for (const auto& [at, shape] : zones) {
            ASSERT_TRUE(Shell(MoveTo(Global(at.x(), at.y()))));
            const auto expected = recording ? Qt::ArrowCursor : shape;
            EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.cursor().shape() == expected; }, 3000))
                << at.x() << "," << at.y() << ": " << dlg.cursor().shape();
        }
        dlg.OnToolCommand(ID_RECORD);
    }

    // F2 snaps as Ctrl+1 does (the shell's tests look at the snap's geometry closely).
    PatternWindow target(1200, 420, 333, 211);  // beside the capture and pattern windows
    ASSERT_TRUE(Shell("xdotool mousemove --sync 1300 500"));
    Key("F2");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return dlg.CaptureRegionOnScreen() == CaptureRect{1200, 420, 1533, 631};
        },
        kWaitMs));

    QPoint expected = dlg.pos();
    const std::pair<const char*, QPoint> moves[] = {
        {"Right", {1, 0}}, {"Down", {0, 1}}, {"Left", {-1, 0}}, {"Up", {0, -1}}};
    for (const auto& [key, delta] : moves) {
        expected += delta;
        Key(key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.pos() == expected; }, 3000))
            << key << ": at " << dlg.pos().x() << "," << dlg.pos().y();
    }
}

// Another X connection looks at the bottom band over and over while a recording blinks, and
// the window's repaints are counted against the recorded frames.
TEST_F(CaptureDesktopTest, RecordingBlinkIsRedOrSeeThroughNeverDarkAndPaintsOnlyItsChanges) {
    const CaptureRect region = dlg.CaptureRegionOnScreen();
    const CSvRect band{region.left, region.bottom, region.left + 200, region.bottom + 4};
    std::atomic<bool> stop{false};
    int redSamples = 0, seeThroughSamples = 0, wrongPixels = 0;
    auto watchBand = [&] {
        CScreenGrabber grabber;
        CSvImage image;
        while (!stop) {
            grabber.GrabImage(band, &image);
            bool red = image.HasImage(), seeThrough = image.HasImage();
            for (int y = 0; y < image.GetHeight(); ++y) {
                for (int x = 0; x < image.GetWidth(); ++x) {
                    const cv::Vec3b p = image.m_pImage->at<cv::Vec3b>(y, x);
                    const QColor below = PatternAt(QPoint(band.left + x, band.top + y));
                    const bool isRed = p == cv::Vec3b(0, 0, 255);
                    const bool isBelow = p == cv::Vec3b(below.blue(), below.green(), below.red());
                    red = red && isRed;
                    seeThrough = seeThrough && isBelow;
                    wrongPixels += isRed || isBelow ? 0 : 1;  // dark, green or anything else
                }
            }
            redSamples += red ? 1 : 0;
            seeThroughSamples += seeThrough ? 1 : 0;
        }
    };
    Key("F3");
    ASSERT_TRUE(dlg.IsRecording());
    const int paintsBefore = dlg.PaintCount();
    std::thread watcher(watchBand);
    QTest::qWait(3000);
    stop = true;
    watcher.join();
    const int paints = dlg.PaintCount() - paintsBefore;
    Key("F3");
    ASSERT_FALSE(dlg.IsRecording());

    EXPECT_EQ(wrongPixels, 0) << redSamples << " red, " << seeThroughSamples << " see-through";
    EXPECT_TRUE(redSamples > 0 && seeThroughSamples > 0) << redSamples << ", " << seeThroughSamples;
    const Recording file = ReadTheRecording(m_dir, kRecordings);
    ASSERT_TRUE(file.ok());
    EXPECT_LT(paints, file.frameCount / 2) << "paints during " << file.frameCount << " frames";
}

TEST_F(CaptureDesktopTest, WriteFailureEndsTheRecordingWithAFinishedFileOrNone) {
    const CaptureRect region = dlg.CaptureRegionOnScreen();
    PatternWindow picture(region.left, region.top, region.Width(), region.Height());
    // Room for the file's header but not for its first frame: nothing playable, no file.
    {
        FileSizeLimit limit(4096);
        Key("F3");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRecording(); }, 20000));
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Caption() == " Brintel Shot - Recode Failed: File too large"; }, kWaitMs))
        << Caption();
    EXPECT_TRUE(m_dir.Files().empty());

    {
        PatternAnimator animator(picture, 8, 30);
        FileSizeLimit limit(150 * 1024);
        Key("F3");
        EXPECT_TRUE(dlg.IsRecording());
        // The worker stops by itself when the file reaches the limit.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRecording(); }, 20000));
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Caption().rfind(" Brintel Shot - Recode Failed", 0) == 0; }, kWaitMs))
        << Caption();
    EXPECT_TRUE(RecordButtonShows(kRecordImage));

    const Recording file = ReadTheRecording(m_dir, kRecordings);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.decodeErrors, 0);
    EXPECT_FALSE(file.frames.empty());
}

// The output folder (the current directory): a start directory that was removed before the
// window read it is refused with its name. Without a launcher F5 says so. A folder whose name is
// not UTF-8 reaches the shell's opener (here a stand-in xdg-open that notes its argument) as a
// file URL that decodes to exactly the folder's bytes.
TEST(OutputFolderTest, RemovedStartDirectoryIsRefusedAndF5OpensAFolderWhoseNameIsNotUtf8) {
    TempDir dir;
    const std::string start = dir.path() + "/started-here";
    ASSERT_EQ(mkdir(start.c_str(), 0755), 0);
    ASSERT_EQ(chdir(start.c_str()), 0);
    ASSERT_EQ(rmdir(start.c_str()), 0);
    const std::vector<std::string> rootBefore = probe::FilesIn("/", kOutputFiles);

    CBrintelShotDlg dlg;
    dlg.setGeometry(100, 100, 1500, 300);  // room for the whole status text
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const std::string expected = "Output folder " + start + " not found";
    const struct {
        int command;
        std::string caption;
    } cases[] = {{ID_CAPTURE, " Brintel Shot - Capture Failed: " + expected},
                 {ID_RECORD, " Brintel Shot - Recode Failed: " + expected},
                 {ID_OPEN_FOLDER, " Brintel Shot - " + expected}};
    for (const auto& c : cases) {
        dlg.OnToolCommand(c.command);
        EXPECT_FALSE(dlg.IsRecording());
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return dlg.LastCaptionText().toStdString() == c.caption;
        })) << dlg.LastCaptionText().toStdString();
    }
    EXPECT_EQ(probe::FilesIn("/", kOutputFiles), rootBefore) << "a file went to the root folder";
    EXPECT_TRUE(dir.Files().empty());

    const std::string folder = dir.path() + "/caf\xe9 \xff\xfe";
    const std::string bin = dir.path() + "/bin";
    const std::string noted = dir.path() + "/opened";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    const std::string path = std::getenv("PATH");
    ASSERT_EQ(chdir(folder.c_str()), 0);
    CBrintelShotDlg inFolder;
    setenv("PATH", bin.c_str(), 1);
    testing::internal::CaptureStderr();
    inFolder.OnToolCommand(ID_OPEN_FOLDER);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "brintelshot: Open Failed: no launcher (xdg-open) is installed\n"),
              std::string::npos);

    std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s' \"$1\" > '" << noted << "'\n";
    ASSERT_EQ(chmod((bin + "/xdg-open").c_str(), 0755), 0);
    setenv("PATH", (bin + ":" + path).c_str(), 1);
    inFolder.OnToolCommand(ID_OPEN_FOLDER);
    QByteArray url;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const std::vector<unsigned char> bytes = probe::ReadFile(noted);
        return !(url = QByteArray(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
                    .isEmpty();
    })) << "xdg-open was not run";
    ASSERT_TRUE(url.startsWith("file://")) << url.toStdString();
    EXPECT_EQ(QByteArray::fromPercentEncoding(url.mid(7)).toStdString(), folder);
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
