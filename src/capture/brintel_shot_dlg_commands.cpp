// The capture window's commands and keys: record, still capture, open folder, help, region
// setting, the clipboard copy, the F2 snap and the arrow-key nudges.
#include "capture/brintel_shot_dlg.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QStandardPaths>
#include <QPointer>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <memory>
#include <utility>

#include "capture/command_ids.h"
#include "capture/help_page.h"
#include "capture/output_dir.h"
#include "recording/output_names.h"
#include "imaging/screen_grabber.h"
#include "imaging/sv_image.h"
#include "platform/window_under_cursor.h"

namespace {

const char kStatusEmptyRegion[] = "Empty Region!";
const char kStatusCaptureFailed[] = "Capture Failed: ";
const char kStatusCopyFailed[] = "Copy Failed: ";
const char kStatusNoHelpPage[] = "Help Page Missing!";
const char kStatusOpenFailed[] = "Open Failed: ";
const char kStatusWaitingForScreen[] = "Waiting for screen sharing...";
const char kWaitingForScreenInFull[] =
    "Waiting for the desktop to share the screen (its dialog may be open)";
const char kStatusNoScreen[] = "Screen Not Shared: ";

bool IsCtrlAlone(Qt::KeyboardModifiers modifiers) {
    return (modifiers & Qt::ControlModifier) &&
           !(modifiers & (Qt::ShiftModifier | Qt::AltModifier));
}

QString FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1));
}

// The last part of an error text ("cannot write /some/path: No space left on device" gives
// "No space left on device"): the caption band has room for little more.
QString ShortReason(const std::string& error) {
    const size_t colon = error.rfind(": ");
    return QString::fromStdString(colon == std::string::npos ? error : error.substr(colon + 2));
}

// A write past the file-size limit (ulimit -f) must fail with an error the command can report,
// not end the program with SIGXFSZ and lose the recording's index and header.
void IgnoreFileSizeSignal() {
    static const bool ignored = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)ignored;
}

}  // namespace

void CBrintelShotDlg::ShowStatus(const QString& text) {
    SetStatusText(text);
}

// A failure stays in the caption until the next status text. The caption has room for little
// more than the reason's last part; the tooltip and standard error give it in full.
void CBrintelShotDlg::ShowFailure(const char* prefix, const std::string& reason) {
    const QString full = prefix + QString::fromStdString(reason);
    std::fprintf(stderr, "brintelshot: %s\n", full.toLocal8Bit().constData());
    SetLastingStatusText(prefix + ShortReason(reason), full);
}

void CBrintelShotDlg::OnToolCommand(int id) {
    switch (id) {
        case ID_RECORD:
            if (IsRecording()) {
                StopRecording();
            } else {
                StartRecording();
            }
            break;
        case ID_CAPTURE:
            if (!IsRecording()) {
                CaptureStill();
            }
            break;
        case ID_OPEN_FOLDER:
            OpenOutputFolder();
            break;
        case ID_HELP_PAGE:
            OpenHelpPage();
            break;
        case ID_REGION_SET:
            if (!IsRecording()) {
                RunRegionSetting();
            }
            break;
        case ID_PAUSE:
            TogglePause();
            break;
        default:
            break;
    }
}

bool CBrintelShotDlg::OnCommandKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int key = event->key();
    if (IsCtrlAlone(modifiers)) {
        const bool keypad3 = key == Qt::Key_3 && (modifiers & Qt::KeypadModifier);
        if (key == Qt::Key_C || keypad3) {
            CopyToClipboard();
            return true;
        }
        return false;
    }
    switch (key) {
        case Qt::Key_F1:
            OnToolCommand(ID_HELP_PAGE);
            return true;
        case Qt::Key_F2:
            SnapToWindowUnderCursor();
            return true;
        case Qt::Key_F3:
            OnToolCommand(ID_RECORD);
            return true;
        case Qt::Key_F4:
            OnToolCommand(ID_CAPTURE);
            return true;
        case Qt::Key_F5:
            OnToolCommand(ID_OPEN_FOLDER);
            return true;
        case Qt::Key_F9:
            OnToolCommand(ID_PAUSE);
            return true;
        case Qt::Key_Left:
            NudgeWindow(-1, 0);
            return true;
        case Qt::Key_Right:
            NudgeWindow(1, 0);
            return true;
        case Qt::Key_Up:
            NudgeWindow(0, -1);
            return true;
        case Qt::Key_Down:
            NudgeWindow(0, 1);
            return true;
        default:
            return false;
    }
}

// The capture region on the screen for a command that grabs it; false, after saying so, when
// the region has no pixels.
bool CBrintelShotDlg::RegionForCommand(CaptureRect* region) {
    IgnoreFileSizeSignal();
    *region = CaptureRegionOnScreen();
    if (region->IsEmpty()) {
        ShowStatus(kStatusEmptyRegion);
        return false;
    }
    return true;
}

// A Wayland desktop shares its screen only once it agreed, perhaps after asking the user in
// a dialog: until then the caption says what it waits for, and the command runs when the
// answer comes. True when the screen can be grabbed now.
bool CBrintelShotDlg::ScreenShared(void (CBrintelShotDlg::*command)()) {
    if (m_pScreenAccess == nullptr) {
        return true;
    }
    if (m_bAskingForScreen) {
        return false;  // the first command waits already
    }
    struct Ask {
        bool returned = false;
        bool answered = false;
        bool shared = false;
    };
    auto ask = std::make_shared<Ask>();
    QPointer<CBrintelShotDlg> self(this);
    m_pScreenAccess->Prepare(RecordsPointer(), [self, command, ask](const std::string& error) {
        ask->answered = true;
        ask->shared = error.empty();
        if (self == nullptr) {
            return;
        }
        self->m_bAskingForScreen = false;
        if (!error.empty()) {
            self->ShowFailure(kStatusNoScreen, error);
        } else if (ask->returned) {
            (self.data()->*command)();
        }
    });
    ask->returned = true;
    if (!ask->answered) {
        m_bAskingForScreen = true;
        SetLastingStatusText(kStatusWaitingForScreen, kWaitingForScreenInFull);
    }
    return ask->shared;
}

bool CBrintelShotDlg::GrabRegionBgrx(const CaptureRect& region, cv::Mat* bitmap,
                                     std::string* error) {
    if (m_pScreenAccess != nullptr) {
        return m_pScreenAccess->GrabBgrx(region, *bitmap, error);
    }
    CScreenGrabber grabber;
    grabber.SetIncludePointer(RecordsPointer());
    grabber.GrabBitmap(region, bitmap);
    *error = grabber.GetLastError();
    return !bitmap->empty();
}

bool CBrintelShotDlg::GrabRegion(const CaptureRect& region, CSvImage* image, std::string* error) {
    if (m_pScreenAccess != nullptr) {
        return GrabStill(*m_pScreenAccess, region, image, error);
    }
    CScreenGrabber grabber;
    grabber.SetIncludePointer(RecordsPointer());
    grabber.GrabImage(region, image);
    *error = grabber.GetLastError();
    return image->HasImage();
}

void CBrintelShotDlg::StartRecording() {
    CaptureRect region;
    if (!RegionForCommand(&region) || !ScreenShared(&CBrintelShotDlg::StartRecording)) {
        return;
    }
    std::string error;
    CReservedFile file = ReserveOutputFile(
        g_strOutputDir, RecordFileName(MakeTimeStamp(kRecordStampFormat)), &error);
    if (!file.fd.IsOpen()) {
        ShowFailure(CRecordingSession::kStatusFailed, error);
        return;
    }

    // "Recoding..." comes with every frame: its text is converted once, not per frame.
    m_recordingSession.SetStatusCallback([this, recording = QString::fromUtf8(
                                                    CRecordingSession::kStatusRecording)](
                                             const std::string& text) {
        SetStatusText(text == CRecordingSession::kStatusRecording ? recording
                                                                  : QString::fromStdString(text));
    });
    // The worker asks the server where the window is for every frame, also during a window
    // manager's drag, which this window does not hear of until the release.
    m_recordingSession.SetRegionCallback(
        [this] { ShowRegionOnScreen(m_recordingSession.LastRegion()); });
    // A worker that stopped by itself (a write failure) is collected on this thread, unless
    // the user stopped it first (and perhaps started the next recording) in the meantime.
    m_recordingSession.SetFinishedCallback([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_recordingSession.HasWorkerEnded()) {
                    StopRecording();
                }
            },
            Qt::QueuedConnection);
    });
    m_frameSource.SetIncludePointer(RecordsPointer());
    m_chosenFrames.Choose(m_pScreenAccess != nullptr ? m_pScreenAccess->Frames() : m_frameSource);
    m_recordingSession.SetAudioTrack(&m_audioTrack);
    std::string soundError;
    if (!m_audioTrack.Open(m_soundChoice, &soundError) ||
        !m_recordingSession.Start(RecordingTarget(), file.path, std::move(file.fd))) {
        std::remove(file.path.c_str());  // reserved above: nothing in it is worth keeping
        ShowFailure(CRecordingSession::kStatusFailed,
                    soundError.empty() ? m_recordingSession.LastError() : soundError);
        m_audioTrack.Close();
        return;
    }

    // Ending the program finishes the recording before anything goes away (the destructor
    // does too, for a window destroyed without a quit).
    connect(qApp, &QCoreApplication::aboutToQuit, this, &CBrintelShotDlg::StopRecording,
            Qt::UniqueConnection);
    ShowRecordingImage(true);
    LockSize(true);
    StartBlink();
    emit recordingStarted(QString::fromStdString(file.path));
}

// While paused the band stays lit (red, no blink) and the caption says "Paused".
void CBrintelShotDlg::TogglePause() {
    if (!IsRecording()) {
        return;
    }
    const bool pausing = !m_recordingSession.IsPaused();
    if (pausing) {
        m_recordingSession.Pause();
        m_blinkTimer.stop();
        ShowBand(true);
    } else {
        m_recordingSession.Resume();
        ShowStatus(CRecordingSession::kStatusRecording);
        StartBlink();
    }
    InvalidateCaption();
    emit recordingPaused(pausing);
}

void CBrintelShotDlg::StopRecording() {
    if (!IsRecording()) {
        return;
    }
    const CRecordingResult result = m_recordingSession.Stop();
    m_audioTrack.Close();
    StopBlink();
    ShowRecordingImage(false);
    LockSize(false);
    if (result.failed) {
        ShowFailure(CRecordingSession::kStatusFailed, result.error);
    } else {
        ShowStatus(CRecordingSession::kStatusComplete);
    }
    emit recordingFinished(QString::fromStdString(result.Summary()));
}

void CBrintelShotDlg::CaptureStill() {
    CaptureRect region;
    if (!RegionForCommand(&region) || !ScreenShared(&CBrintelShotDlg::CaptureStill)) {
        return;
    }
    const std::string sizeProblem = StillSizeProblem(region.Width(), region.Height(), ".bmp");
    if (!sizeProblem.empty()) {
        ShowFailure(kStatusCaptureFailed, sizeProblem);
        return;
    }
    CSvImage image;
    std::string error;
    if (!GrabRegion(region, &image, &error)) {
        ShowFailure(kStatusCaptureFailed, error);
        return;
    }
    const CReservedFile file = ReserveOutputFile(
        g_strOutputDir, CaptureFileName(MakeTimeStamp(kCaptureStampFormat)), &error);
    if (!file.fd.IsOpen()) {
        ShowFailure(kStatusCaptureFailed, error);
        return;
    }
    if (!image.SaveTo(file.fd.Get(), file.path)) {
        std::remove(file.path.c_str());  // reserved above: holds at most part of the image
        ShowFailure(kStatusCaptureFailed, image.GetLastError());
        return;
    }
    ShowStatus(FileNameOf(file.path));
}

void CBrintelShotDlg::CopyToClipboard() {
    CaptureRect region;
    if (!RegionForCommand(&region) || !ScreenShared(&CBrintelShotDlg::CopyToClipboard)) {
        return;
    }
    cv::Mat bitmap;
    std::string error;
    if (!GrabRegionBgrx(region, &bitmap, &error)) {  // the clipboard keeps what it had
        ShowFailure(kStatusCopyFailed, error);
        return;
    }
    const QImage image(bitmap.data, bitmap.cols, bitmap.rows, static_cast<int>(bitmap.step[0]),
                       QImage::Format_RGB32);
    QGuiApplication::clipboard()->setImage(image.copy());
}

void CBrintelShotDlg::SnapToWindowUnderCursor() {
    const QPoint cursor = QCursor::pos();
    for (const QWidget* band : m_separateBands) {
        if (band != nullptr && band->isVisible() && band->geometry().contains(cursor)) {
            return;  // a band of this window's own frame
        }
    }
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    if (WindowRectUnderCursor(winId(), &x, &y, &w, &h)) {
        SnapToWindowRect(QRect(x, y, w, h));
    }
}

void CBrintelShotDlg::NudgeWindow(int dx, int dy) {
    move(pos() + QPoint(dx, dy));
    raise();
}

void CBrintelShotDlg::OpenOutputFolder() {
    const std::string problem = OutputFolderProblem(g_strOutputDir);
    if (!problem.empty()) {
        ShowFailure("", problem);
        return;
    }
    OpenWithDesktop(FolderUrl(g_strOutputDir));
}

void CBrintelShotDlg::OpenHelpPage() {
    const QString page = HelpPagePath();
    if (page.isEmpty()) {
        ShowStatus(kStatusNoHelpPage);
        return;
    }
    OpenWithDesktop(QUrl::fromLocalFile(page));
}

// Qt hands the address to the desktop's launcher (xdg-open) and only says whether that could
// be started.
void CBrintelShotDlg::OpenWithDesktop(const QUrl& url) {
    if (QDesktopServices::openUrl(url)) {
        return;
    }
    ShowFailure(kStatusOpenFailed,
                QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()
                    ? std::string("no launcher (xdg-open) is installed")
                    : "the desktop could not open " + url.toDisplayString().toStdString());
}
