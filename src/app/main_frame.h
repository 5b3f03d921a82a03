#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QIcon>
#include <QObject>
#include <QTimer>

#include <memory>

#include "app/app_settings.h"
#include "app/global_keys.h"
#include "app/global_shortcuts_portal.h"
#include "app/startup_repair.h"
#include "app/wayland_screen.h"
#include "app/tray_icon.h"

class CBrintelShotDlg;
struct CGlobalKeyDefault;

// The hidden main frame: never shown, it owns the notification-area icon, the keyboard hook and
// the capture window, carries the global hot key Ctrl+1, the global keys for recording, still
// capture and pause, and the shut-down.
class CMainFrame : public QObject {
    Q_OBJECT

public:
    CMainFrame();
    ~CMainFrame() override;

    // Installs the hook, adds the tray icon and creates and shows the capture window.
    void OnCreate();
    // Shut-down: removes the tray icon, ends the event loop with status 0 and removes the hook.
    void OnClose();
    // Brings the capture window forward: shown (at its last place), no longer minimised,
    // raised and active.
    void OnShowShotDlg();
    // Closes any dialog box that is open, remembers the window's place, hides the capture
    // window and asks the frame to close (queued).
    void OnAppExit();
    // One keystroke reported by the hook: Ctrl+1 brings a hidden or minimised capture window
    // forward, or snaps a shown one over the window under the mouse cursor.
    void OnHookKey(unsigned int virtualKey, unsigned int flags);
    // Ctrl+1's action, from the hook or the desktop's shortcut.
    void OnSnapKey();

    // Queues a command (1025, 32792) for the frame, as a menu or the tray icon would.
    void PostCommand(int id);
    void OnCommand(int id);
    // A capture-window command from a global key or the tray menu: record and still capture
    // bring a hidden window (or one on another desktop) forward first, since its region is
    // what they take.
    void OnCaptureCommand(int id);

    CBrintelShotDlg* ShotDlg() const { return m_pShotDlg.get(); }
    const CTrayIcon& TrayIcon() const { return m_trayIcon; }
    bool HasTray() const { return m_bHasTray; }

protected:
    bool event(QEvent* event) override;

private:
    // Called on the hook's own thread: turns the report into a queued event for the frame.
    static void ReceiveHookKey(void* context, unsigned int virtualKey, unsigned int flags);
    bool IsCtrlDown() const;
    void ShowShotDlgAtLastPlace();
    void ShowAboutBox();
    void ApplySettings();
    void OnRecordingStarted(const QString& path);
    void OnRecordingFinished(const QString& summary);
    void UpdateRecordingTip();
    void OnRecordingPaused(bool paused);
    QKeySequence GlobalKeySequence(const CGlobalKeyDefault& key) const;
    void GrabGlobalKeys(const QStringList& fromDesktop = {});
    void BindDesktopShortcuts();
    void OnDesktopShortcut(const QString& id);
    bool IsShotDlgInView() const;

    CAppSettings m_settings;
    CTrayIcon m_trayIcon;
    QIcon m_hTrayIcon;
    std::unique_ptr<CWaylandScreen> m_pWaylandScreen;  // on a Wayland desktop; outlives the dlg
    std::unique_ptr<CBrintelShotDlg> m_pShotDlg;
    bool m_bHookInstalled = false;
    bool m_bHasTray = false;
    bool m_bCtrlDown = false;  // Ctrl as seen in the hook's reports, in keystroke order

    CGlobalKeys m_globalKeys;
    CGlobalShortcutsPortal m_shortcutsPortal;
    bool m_bSnapKeyFromDesktop = false;  // Ctrl+1 comes from the desktop's shortcuts portal

    // The tray tip shows how long the running recording is (pauses left out) and how large
    // its file.
    QTimer m_recordingTipTimer;
    QElapsedTimer m_recordingClock;
    QElapsedTimer m_pauseClock;  // running while paused
    qint64 m_nPausedMs = 0;      // earlier pauses of this recording
    QString m_strRecordingPath;

    // Last, so that it is cancelled and waited for before the rest goes away.
    CStartupRepair m_startupRepair;
};

// The queued form of one hook report.
class CHookKeyEvent : public QEvent {
public:
    static QEvent::Type EventType();

    CHookKeyEvent(unsigned int virtualKey, unsigned int flags)
        : QEvent(EventType()), m_virtualKey(virtualKey), m_flags(flags) {}

    unsigned int VirtualKey() const { return m_virtualKey; }
    unsigned int Flags() const { return m_flags; }

private:
    unsigned int m_virtualKey;
    unsigned int m_flags;
};
