#pragma once

#include <QColor>
#include <QFont>
#include <QMargins>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "capture/capture_rect.h"
#include "capture/frame_geometry.h"
#include "capture/recording_blink.h"
#include "capture/screen_access.h"
#include "capture/status_line.h"
#include "recording/recording_session.h"
#include "recording/x11_frame_source.h"
#include "encoding/avi_recorder.h"

class CSvImage;
class QToolBar;
class QAction;
class QKeyEvent;
class QUrl;

// The capture window: a frameless, always-on-top window with a caption band, a toolbar and a
// 4-pixel frame band around a see-through, click-through capture region.
//
// All geometry is in physical screen pixels; the program runs with Qt's high-DPI scaling off.
class CBrintelShotDlg : public QWidget {
    Q_OBJECT

public:
    explicit CBrintelShotDlg(QWidget* parent = nullptr);
    ~CBrintelShotDlg() override;

    // Builds the frame from separate windows, none of them over the capture region: this
    // window keeps the caption band and toolbar, four small windows are the bands. A
    // Wayland desktop sends a click in a shaped window's hole to whatever X window lies below,
    // not to the Wayland window the user sees there. Call before the window is first shown.
    void BuildFrameFromSeparateWindows();
    // The whole capture window's rectangle in screen pixels, caption to bottom band (this
    // window's own geometry unless the frame is built of separate windows).
    QRect FrameGeometry() const;
    void SetFrameGeometry(const QRect& frame);

    // Places the window (shown, topmost) so that its capture region covers exactly
    // windowRect, given in screen pixels.
    void SnapToWindowRect(const QRect& windowRect);
    // Snaps over the window under the mouse cursor (F2, Ctrl+1); nothing when there is none
    // or it is this window.
    void SnapToWindowUnderCursor();

    // Hides the window without reporting it as the user's doing (used on program exit).
    void OnClose();

    // Toolbar buttons and function keys arrive here with their command identifiers.
    void OnToolCommand(int id);

    // The caption band repaints only when what it shows changes; the recording session may
    // call these from its worker thread as often as it likes (a text that stays the same is
    // only kept fresh, the same coordinates are not painted again).
    //
    // Shows text in the caption band for one second.
    void SetStatusText(const QString& text);
    // Shows text in the caption band until the next status text (for failures); fullText,
    // when given, is what the caption's tooltip shows.
    void SetLastingStatusText(const QString& text, const QString& fullText = QString());
    // The capture region's place on the screen as the caption's coordinates show it; the
    // window's own moves and size changes report it too.
    void ShowRegionOnScreen(const CaptureRect& regionOnScreen);
    // Repaints the frame band, capture region and caption band (never the toolbar).
    void InvalidateBands();
    // Record button image: the recording image while recording, else the record image.
    void ShowRecordingImage(bool recording);

    // The capture region in client coordinates, and the same in screen pixels.
    CaptureRect CaptureRegion() const;
    CaptureRect CaptureRegionOnScreen() const;
    bool IsRecording() const { return m_recordingSession.IsRecording(); }
    // The caption menu's "Record mouse pointer" choice.
    bool RecordsPointer() const { return m_bRecordPointer; }
    void SetRecordPointer(bool on) { m_bRecordPointer = on; }
    bool IsRecordingPaused() const { return IsRecording() && m_recordingSession.IsPaused(); }
    // The caption menu's "Record sound" choice.
    AudioChoice RecordsSound() const { return m_soundChoice; }
    void SetRecordSound(AudioChoice choice) { m_soundChoice = choice; }
    // Where recordings and stills take the screen from when the X server cannot show it (a
    // Wayland desktop); null: the X server. Kept by the caller for this window's life.
    void SetScreenAccess(CScreenAccess* access) { m_pScreenAccess = access; }
    // Stops a running recording and waits until its file is finished.
    void StopRecording();
    // The same at the process's exit, when the window may be half torn down: only the file is
    // finished, nothing is painted or sent.
    void FinishRecordingAtExit() { m_recordingSession.Stop(); }
    // Pauses a running recording, or resumes a paused one; nothing without a recording.
    void TogglePause();
    QRect ToolButtonRect(int id) const;  // in client coordinates; empty for an unknown id

    // What the last paint drew, for callers that check what the user sees.
    QString LastCaptionText() const { return m_strLastCaption; }
    QString LastCoordinatesText() const { return m_strLastCoordinates; }
    int PaintCount() const { return m_nPaintCount; }
    const QFont& CaptionFont() const { return m_fontCaption; }

    // Distances between the window edges and the frame band's outer edge (all 4).
    QMargins m_rcMargin;
    // Height in pixels of the toolbar, remeasured by every LayoutToolBar.
    int m_nToolbarHeight = 0;

signals:
    // Enter, Esc, Alt+F4 or the window manager's close hid the window.
    void hiddenByUser();
    // The caption band's context menu asked for the about box.
    void aboutRequested();
    // A recording ended and its file is finished; summary describes it for a notification.
    void recordingFinished(const QString& summary);
    // A recording began writing the file at path.
    void recordingStarted(const QString& path);
    // The running recording was paused or resumed.
    void recordingPaused(bool paused);
    // The user chose another output folder, or switched the pointer option, in the caption menu.
    void outputFolderChosen(const QString& folder);
    void recordPointerChosen(bool on);
    void recordSoundChosen(AudioChoice choice);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The separate bands' mouse input is this window's.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnInitDialog();
    void InitCaptureFrame();
    void CreateToolBar();
    void LayoutToolBar();
    void OnSize(int cx, int cy);
    void OnWindowPosChanged();
    void UpdateRegionOnScreen();
    // The capture region and this window, as the recording follows them.
    CCaptureTarget RecordingTarget();
    void OnPaint();
    void ApplyShape(bool bandVisible);
    void InvalidateCaption();
    void StartBlink();
    void OnBlinkStep();
    void StopBlink();
    void ShowBand(bool visible);
    QColor BandColor() const;
    void ShowCaptionToolTip(const QPoint& pos, const QPoint& globalPos);
    void StartFrameDrag(FrameHit hit, const QPoint& globalPos);
    void OnFrameMouseMove(QMouseEvent* event, QWidget* piece);
    QSize FrameMinimumSize() const;
    void ApplyMinimumSize();
    bool HasSeparateBands() const { return m_separateBands[0] != nullptr; }
    void PlaceSeparateBands();
    void ShowSeparateBands();
    // The zone a press hit, allowing for the size being locked during a recording.
    FrameHit DragHitAt(const QPoint& globalPos) const;
    void LockSize(bool locked);
    void HideByUser();
    void RunRegionSetting();
    void StoreStatusText(const QString& text, const QString& fullText, bool lasting);
    void ScheduleStatusExpiry();
    void OnStatusExpiry();

    // Commands and keys (brintel_shot_dlg_commands.cpp).
    bool OnCommandKey(QKeyEvent* event);
    void ShowStatus(const QString& text);
    void ShowFailure(const char* prefix, const std::string& reason);
    bool RegionForCommand(CaptureRect* region);
    bool ScreenShared(void (CBrintelShotDlg::*command)());
    bool GrabRegion(const CaptureRect& region, CSvImage* image, std::string* error);
    bool GrabRegionBgrx(const CaptureRect& region, cv::Mat* bitmap, std::string* error);
    void StartRecording();
    void CaptureStill();
    void CopyToClipboard();
    void NudgeWindow(int dx, int dy);
    void OpenOutputFolder();
    void OpenHelpPage();
    void OpenWithDesktop(const QUrl& url);

    // The caption band's menu (brintel_shot_dlg_menu.cpp).
    void ChooseOutputFolder();

    CAviRecorder m_aviRecorder;
    CX11FrameSource m_frameSource;
    CAudioTrack m_audioTrack;  // open while recording with sound
    CScreenAccess* m_pScreenAccess = nullptr;
    bool m_bAskingForScreen = false;
    CChosenFrameSource m_chosenFrames{m_frameSource};
    // Owns the recording's threads; recording while it runs.
    CRecordingSession m_recordingSession{m_aviRecorder, m_chosenFrames};
    CaptureRect m_rcCapture;
    CaptureRect m_rcCaptureOnScreen;  // m_rcCapture at the window's place
    QToolBar* m_pToolBar = nullptr;
    QAction* m_pRecordAction = nullptr;
    QFont m_fontCaption;
    bool m_bRecordPointer = false;
    AudioChoice m_soundChoice = AudioChoice::kNone;

    CStatusLine m_statusLine;  // the recording thread sets it too
    QTimer m_statusExpiry;     // repaints the caption when a status text's second is over

    std::mutex m_shownRegionLock;  // the recording thread reports the region's place too
    CaptureRect m_rcShownOnScreen;

    CRecordingBlink m_blink;
    QTimer m_blinkTimer;              // the next blink step while recording
    bool m_bShapeBandVisible = true;  // the band is in the shape: idle, or lit while recording
    QColor m_paintedBandColor;        // the band's colour at its last repaint by ShowBand
    QString m_strLastCaption;
    QString m_strLastCoordinates;
    int m_nPaintCount = 0;

    // A left press in a drag zone: the drag starts once the pointer moves with the button
    // held, so a tap (press and release at once) never leaves a window manager dragging.
    FrameHit m_pressHit = FrameHit::Nowhere;
    QPoint m_pressPos;
    // Manual move/resize where the window manager cannot do it.
    FrameHit m_dragHit = FrameHit::Nowhere;
    QPoint m_dragStartPos;
    QRect m_dragStartGeometry;

    // The bands around the capture region where the frame is built of separate windows (this
    // window then ends below the toolbar, and the frame's height is kept here).
    std::array<QWidget*, 4> m_separateBands{};
    int m_nFrameHeight = 0;
};
