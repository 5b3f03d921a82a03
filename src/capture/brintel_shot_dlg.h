#pragma once

#include <QFont>
#include <QMargins>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <mutex>

#include "capture/capture_rect.h"
#include "capture/frame_geometry.h"
#include "capture/recording_blink.h"
#include "capture/recording_session.h"
#include "encoding/avi_recorder.h"

class QToolBar;
class QAction;
class QKeyEvent;

// The capture window: a frameless, always-on-top window with a caption band, a toolbar and a
// 4-pixel frame band around a see-through, click-through capture region.
//
// All geometry is in physical screen pixels; the program runs with Qt's high-DPI scaling off.
class CBrintelShotDlg : public QWidget {
    Q_OBJECT

public:
    explicit CBrintelShotDlg(QWidget* parent = nullptr);
    ~CBrintelShotDlg() override;

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

    // Shows text in the caption band for one second.
    void SetStatusText(const QString& text);
    // Shows text in the caption band until the next status text (for failures).
    void SetLastingStatusText(const QString& text);
    // Repaints the frame band, capture region and caption band (never the toolbar).
    void InvalidateBands();
    // Record button image: the recording image while recording, else the record image.
    void ShowRecordingImage(bool recording);

    // The capture region in client coordinates, and the same in screen pixels.
    CaptureRect CaptureRegion() const;
    CaptureRect CaptureRegionOnScreen() const;
    bool IsRecording() const { return m_recordingSession.IsRecording(); }
    // Stops a running recording and waits until its file is finished.
    void StopRecording();
    QRect ToolButtonRect(int id) const;  // in client coordinates; empty for an unknown id

    // What the last paint drew, for callers that check what the user sees.
    QString LastCaptionText() const { return m_strLastCaption; }
    QString LastCoordinatesText() const { return m_strLastCoordinates; }
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

protected:
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

private:
    void OnInitDialog();
    void InitCaptureFrame();
    void CreateToolBar();
    void LayoutToolBar();
    void OnSize(int cx, int cy);
    void OnWindowPosChanged();
    void UpdateRegionOnScreen();
    void OnPaint();
    void ApplyShape(bool bandVisible);
    void StartFrameDrag(FrameHit hit, const QPoint& globalPos);
    void HideByUser();
    void RunRegionSetting();
    void StoreStatusText(const QString& text, bool lasting);
    void ScheduleStatusExpiry();
    void OnStatusExpiry();
    bool IsStatusFresh(uint32_t now) const;

    // Commands and keys (brintel_shot_dlg_commands.cpp).
    bool OnCommandKey(QKeyEvent* event);
    void ShowStatus(const QString& text);
    void ShowFailure(const QString& text);
    bool RegionForCommand(CaptureRect* region);
    void StartRecording();
    void CaptureStill();
    void CopyToClipboard();
    void NudgeWindow(int dx, int dy);
    void OpenOutputFolder();
    void OpenHelpPage();

    CAviRecorder m_aviRecorder;
    // Owns the stop event and the worker thread; recording while it runs.
    CRecordingSession m_recordingSession{m_aviRecorder};
    CaptureRect m_rcCapture;
    CaptureRect m_rcCaptureOnScreen;  // m_rcCapture at the window's place
    QToolBar* m_pToolBar = nullptr;
    QAction* m_pRecordAction = nullptr;
    QFont m_fontCaption;

    mutable std::mutex m_statusMutex;  // the recording thread also sets the status text
    QString m_strStatus;
    uint32_t m_dwStatusTick = 0;
    bool m_bStatusSet = false;
    bool m_bStatusLasting = false;
    QTimer m_statusExpiry;

    CRecordingBlink m_blink;
    bool m_bShapeBandVisible = true;
    QString m_strLastCaption;
    QString m_strLastCoordinates;

    // Manual move/resize where the window manager cannot do it.
    FrameHit m_dragHit = FrameHit::Nowhere;
    QPoint m_dragStartPos;
    QRect m_dragStartGeometry;
};
