#include "app/main_frame.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

#include "app/about_dlg.h"
#include "app/app_resources.h"
#include "capture/brintel_shot_dlg.h"
#include "capture/command_ids.h"
#include "capture/output_dir.h"
#include "platform/window_desktop.h"
#include "zorvane.h"

// A global key, its setting and its name with the desktop's shortcuts portal.
struct CGlobalKeyDefault {
    int command;
    const char* settingsKey;
    const char* keys;
    const char* what;
    const char* shortcutId;  // its name with the desktop's shortcuts portal
    const char* description;
};

namespace {

// The capture window while the frame lives, for the exit hook below.
CBrintelShotDlg* g_pShotDlgAtExit = nullptr;

// Qt's X11 platform ends the process with exit() (status 1) from the user-interface thread
// when its X connection breaks (the session ended, the server died). The recording's file is
// finished first; the worker never waits for this thread, so waiting for it here is safe.
// Nothing of the window is touched: Qt is being torn down.
void FinishRecordingAtExit() {
    if (g_pShotDlgAtExit != nullptr && g_pShotDlgAtExit->IsRecording()) {
        g_pShotDlgAtExit->FinishRecordingAtExit();
    }
}

constexpr CGlobalKeyDefault kGlobalKeys[] = {
    {ID_RECORD, "keys/record", "Ctrl+Shift+F3", "record/stop", "record",
     "Start or stop recording the capture region"},
    {ID_CAPTURE, "keys/capture", "Ctrl+Shift+F4", "still capture", "capture",
     "Save a still picture of the capture region"},
    {ID_PAUSE, "keys/pause", "Ctrl+Shift+F9", "pause/resume", "pause",
     "Pause or resume the recording"},
};
const char kSnapShortcutId[] = "snap";

}  // namespace

QEvent::Type CHookKeyEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
    g_pShotDlgAtExit = nullptr;
    // The hook thread posts to this object: it must be gone first.
    if (m_bHookInstalled) {
        UninstallHook();
    }
}

void CMainFrame::OnCreate() {
    int hookResult = InstallHook(&CMainFrame::ReceiveHookKey, this);
    m_bHookInstalled = hookResult == ZORVANE_OK;
    if (!m_bHookInstalled) {
        std::fprintf(stderr, "brintelshot: Ctrl+1 will not work: %s.\n",
                     HookResultText(hookResult));
    }

    m_hTrayIcon = AppIcon();
    m_bHasTray = m_trayIcon.AddToTray(kTrayIconId, m_hTrayIcon, kTrayTip);
    if (!m_bHasTray) {
        std::fprintf(stderr,
                     "brintelshot: no notification area (system tray) found; closing the "
                     "capture window ends the program.\n");
    }
    connect(&m_trayIcon, &CTrayIcon::showRequested, this, [this] { PostCommand(kCmdShowShotDlg); });
    connect(&m_trayIcon, &CTrayIcon::exitRequested, this, [this] { PostCommand(kCmdAppExit); });
    connect(&m_trayIcon, &CTrayIcon::commandChosen, this, &CMainFrame::OnCaptureCommand);

    m_pShotDlg = std::make_unique<CBrintelShotDlg>();
    if (IsWaylandSession()) {
        m_pWaylandScreen = std::make_unique<CWaylandScreen>(m_settings);
        m_pShotDlg->SetScreenAccess(m_pWaylandScreen.get());
        m_pShotDlg->BuildFrameFromSeparateWindows();
    }
    connect(m_pShotDlg.get(), &CBrintelShotDlg::aboutRequested, this, &CMainFrame::ShowAboutBox);
    connect(m_pShotDlg.get(), &CBrintelShotDlg::recordingStarted, this,
            &CMainFrame::OnRecordingStarted);
    connect(m_pShotDlg.get(), &CBrintelShotDlg::recordingFinished, this,
            &CMainFrame::OnRecordingFinished);
    connect(m_pShotDlg.get(), &CBrintelShotDlg::recordingPaused, this,
            &CMainFrame::OnRecordingPaused);
    connect(m_pShotDlg.get(), &CBrintelShotDlg::hiddenByUser, this, [this] {
        // Without a tray icon nothing could bring the window back or end the program.
        if (!m_bHasTray) {
            OnAppExit();
        }
    });
    ApplySettings();
    connect(m_pShotDlg.get(), &CBrintelShotDlg::outputFolderChosen, this,
            [this](const QString& folder) { m_settings.SetOutputFolder(folder); });
    connect(m_pShotDlg.get(), &CBrintelShotDlg::recordPointerChosen, this,
            [this](bool on) { m_settings.SetRecordPointer(on); });
    connect(m_pShotDlg.get(), &CBrintelShotDlg::recordSoundChosen, this,
            [this](AudioChoice choice) { m_settings.SetRecordSound(choice); });
    m_recordingTipTimer.setInterval(1000);
    connect(&m_recordingTipTimer, &QTimer::timeout, this, &CMainFrame::UpdateRecordingTip);
    m_pShotDlg->show();
    GrabGlobalKeys();
    if (IsWaylandSession()) {
        BindDesktopShortcuts();
    }
    g_pShotDlgAtExit = m_pShotDlg.get();
    static const bool kExitHookSet = std::atexit(FinishRecordingAtExit) == 0;
    (void)kExitHookSet;

    // Recordings an earlier run could not finish (killed, session lost) are finished now.
    connect(&m_startupRepair, &CStartupRepair::finished, this, [this](const QString& text) {
        if (m_bHasTray) {
            m_trayIcon.ShowMessage(QStringLiteral("Brintel Shot"), text);
        }
    });
    m_startupRepair.Start(g_strOutputDir);
}

// The remembered output folder, pointer and sound options and window place; a remembered folder
// that has gone away stays chosen (files are refused with a status that names it) until another is
// chosen.
void CMainFrame::ApplySettings() {
    const QString folder = m_settings.OutputFolder();
    if (!folder.isEmpty()) {
        g_strOutputDir = QFile::encodeName(folder).toStdString();
    }
    m_pShotDlg->SetRecordPointer(m_settings.RecordPointer());
    m_pShotDlg->SetRecordSound(m_settings.RecordSound());
    if (std::optional<QRect> saved = m_settings.WindowGeometry()) {
        QList<QRect> screens;
        for (const QScreen* screen : QGuiApplication::screens()) {
            screens.append(screen->geometry());
        }
        if (std::optional<QRect> place = RestoredGeometry(*saved, screens)) {
            m_pShotDlg->SetFrameGeometry(*place);
        }
    }
}

QKeySequence CMainFrame::GlobalKeySequence(const CGlobalKeyDefault& key) const {
    const QKeySequence fallback(QString::fromLatin1(key.keys), QKeySequence::PortableText);
    return KeySequenceFromText(m_settings.Text(key.settingsKey), fallback);
}

// A key that cannot be had is named on standard error and in the caption; the others work.
// Keys the desktop already gives (`fromDesktop`, by shortcut id) are not grabbed again.
void CMainFrame::GrabGlobalKeys(const QStringList& fromDesktop) {
    QList<CGlobalKeys::Binding> bindings;
    for (const CGlobalKeyDefault& key : kGlobalKeys) {
        if (!fromDesktop.contains(QLatin1String(key.shortcutId))) {
            bindings.append({key.command, GlobalKeySequence(key), QString::fromLatin1(key.what)});
        }
    }
    const QStringList problems = m_globalKeys.Grab(bindings);
    for (const QString& problem : problems) {
        std::fprintf(stderr, "brintelshot: global key %s; it will not work.\n",
                     qPrintable(problem));
    }
    if (!problems.isEmpty()) {
        m_pShotDlg->SetLastingStatusText(QStringLiteral("Key Unavailable: ") + problems.join(", "));
    }
    connect(&m_globalKeys, &CGlobalKeys::pressed, this, &CMainFrame::OnCaptureCommand,
            Qt::UniqueConnection);
}

// Under XWayland the X server hands keys to this program only while one of its windows has the
// focus; the grabs above still serve then. Where the desktop offers the GlobalShortcuts portal
// (KDE Plasma), the keys it binds reach the program whichever window has the focus, and their
// grabs and Ctrl+1's hook are let go, so that one press acts once. A desktop without the portal
// (GNOME, wlroots) has no other way to give them, and the user hears so once.
void CMainFrame::BindDesktopShortcuts() {
    QList<CPortalShortcut> shortcuts{{kSnapShortcutId,
                                      "Bring the capture window, or snap it over the window "
                                      "under the pointer",
                                      QKeySequence(Qt::CTRL | Qt::Key_1)}};
    for (const CGlobalKeyDefault& key : kGlobalKeys) {
        shortcuts.append({key.shortcutId, key.description, GlobalKeySequence(key)});
    }
    connect(&m_shortcutsPortal, &CGlobalShortcutsPortal::unavailable, this,
            [](const QString& reason) {
                std::fprintf(stderr,
                             "brintelshot: %s: Ctrl+1 and the global keys work only while a "
                             "BrintelShot window has the focus.\n",
                             qPrintable(reason));
            });
    connect(&m_shortcutsPortal, &CGlobalShortcutsPortal::bound, this,
            [this](const QMap<QString, QString>& triggers) {
                QStringList fromDesktop;
                for (auto bound = triggers.begin(); bound != triggers.end(); ++bound) {
                    if (!bound.value().isEmpty()) {
                        fromDesktop.append(bound.key());
                    }
                }
                m_bSnapKeyFromDesktop = fromDesktop.contains(kSnapShortcutId);
                GrabGlobalKeys(fromDesktop);
            });
    connect(&m_shortcutsPortal, &CGlobalShortcutsPortal::activated, this,
            &CMainFrame::OnDesktopShortcut);
    m_shortcutsPortal.Bind(shortcuts);
}

void CMainFrame::OnDesktopShortcut(const QString& id) {
    if (id == kSnapShortcutId) {
        OnSnapKey();
        return;
    }
    for (const CGlobalKeyDefault& key : kGlobalKeys) {
        if (id == QLatin1String(key.shortcutId)) {
            OnCaptureCommand(key.command);
        }
    }
}

void CMainFrame::OnCaptureCommand(int id) {
    if (!m_pShotDlg) {
        return;
    }
    const bool takesRegion = id == ID_CAPTURE || (id == ID_RECORD && !m_pShotDlg->IsRecording());
    if (takesRegion && !IsShotDlgInView()) {
        OnShowShotDlg();
    }
    m_pShotDlg->OnToolCommand(id);
}

void CMainFrame::OnRecordingStarted(const QString& path) {
    m_strRecordingPath = path;
    m_recordingClock.start();
    m_nPausedMs = 0;
    m_pauseClock.invalidate();
    m_trayIcon.ShowRecordingState(true, false);
    UpdateRecordingTip();
    m_recordingTipTimer.start();
}

void CMainFrame::OnRecordingPaused(bool paused) {
    if (paused) {
        m_pauseClock.start();
    } else if (m_pauseClock.isValid()) {
        m_nPausedMs += m_pauseClock.elapsed();
        m_pauseClock.invalidate();
    }
    m_trayIcon.ShowRecordingState(true, paused);
    UpdateRecordingTip();
}

void CMainFrame::OnRecordingFinished(const QString& summary) {
    m_recordingTipTimer.stop();
    m_trayIcon.ShowRecordingState(false, false);
    m_trayIcon.SetToolTip(TrayTipText(kTrayTip));
    if (m_bHasTray) {
        m_trayIcon.ShowMessage(QStringLiteral("Brintel Shot"), summary);
    }
}

void CMainFrame::UpdateRecordingTip() {
    const bool paused = m_pauseClock.isValid();
    const qint64 recordedMs =
        m_recordingClock.elapsed() - m_nPausedMs - (paused ? m_pauseClock.elapsed() : 0);
    m_trayIcon.SetToolTip(
        RecordingTipText(kTrayTip, recordedMs, QFileInfo(m_strRecordingPath).size(), paused));
}

// The capture window itself is destroyed with the frame, after the event loop has ended: a
// modal box or menu of the window may still be running its own loop on the stack right now.
void CMainFrame::OnClose() {
    m_trayIcon.RemoveFromTray(kTrayIconId);
    QCoreApplication::exit(0);
    if (m_bHookInstalled) {
        UninstallHook();
        m_bHookInstalled = false;
    }
}

// The window comes to the desktop the user is on, wherever it was left: a window the window
// manager keeps (shown or minimised) is moved before it is shown again, a hidden one once it
// is mapped.
void CMainFrame::OnShowShotDlg() {
    if (!m_pShotDlg) {
        return;
    }
    const bool mapped = m_pShotDlg->isVisible();
    if (mapped) {
        MoveToCurrentDesktop(m_pShotDlg->winId());
    }
    if (m_pShotDlg->isMinimized()) {
        m_pShotDlg->setWindowState(m_pShotDlg->windowState() & ~Qt::WindowMinimized);
    }
    ShowShotDlgAtLastPlace();
    if (!mapped) {
        MoveToCurrentDesktop(m_pShotDlg->winId());
    }
    m_pShotDlg->raise();
    m_pShotDlg->activateWindow();
}

bool CMainFrame::IsShotDlgInView() const {
    return m_pShotDlg->isVisible() && !m_pShotDlg->isMinimized() &&
           IsOnCurrentDesktop(m_pShotDlg->winId());
}

// A window mapped again without a position of its own is placed anew by the window manager;
// setting its last position explicitly before showing it keeps that place.
void CMainFrame::ShowShotDlgAtLastPlace() {
    if (!m_pShotDlg->isVisible() && m_pShotDlg->windowHandle() != nullptr) {
        m_pShotDlg->windowHandle()->setPosition(m_pShotDlg->pos());
    }
    m_pShotDlg->show();
}

void CMainFrame::OnAppExit() {
    // Each dialog's own event loop ends with it; the program ends once they have returned.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(window);
            dialog != nullptr && dialog->isVisible()) {
            dialog->reject();
        }
    }
    if (m_pShotDlg) {
        m_settings.SetWindowGeometry(m_pShotDlg->FrameGeometry());
        m_pShotDlg->OnClose();
    }
    QMetaObject::invokeMethod(this, &CMainFrame::OnClose, Qt::QueuedConnection);
}

void CMainFrame::OnHookKey(unsigned int virtualKey, unsigned int flags) {
    bool released = (flags & ZORVANE_FLAG_RELEASED) != 0;
    if (virtualKey == VK_CONTROL) {
        m_bCtrlDown = !released;
    }
    if (released || virtualKey != VK_DIGIT_1 || !IsCtrlDown() || m_bSnapKeyFromDesktop) {
        return;
    }
    OnSnapKey();
}

void CMainFrame::OnSnapKey() {
    if (!m_pShotDlg) {
        return;
    }
    if (!IsShotDlgInView()) {
        OnShowShotDlg();
        return;
    }
    m_pShotDlg->SnapToWindowUnderCursor();
}

void CMainFrame::PostCommand(int id) {
    QMetaObject::invokeMethod(
        this, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
}

void CMainFrame::OnCommand(int id) {
    if (id == kCmdShowShotDlg) {
        OnShowShotDlg();
    } else if (id == kCmdAppExit) {
        OnAppExit();
    }
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == CHookKeyEvent::EventType()) {
        auto* key = static_cast<CHookKeyEvent*>(event);
        OnHookKey(key->VirtualKey(), key->Flags());
        return true;
    }
    return QObject::event(event);
}

void CMainFrame::ReceiveHookKey(void* context, unsigned int virtualKey, unsigned int flags) {
    QCoreApplication::postEvent(static_cast<CMainFrame*>(context),
                                new CHookKeyEvent(virtualKey, flags));
}

// Ctrl counts as down when the reports say so (the state at the moment of the key, even when
// Ctrl was let go before this event is handled) or when the keyboard has it down now (Ctrl held
// since before the hook started, whose press was never reported).
bool CMainFrame::IsCtrlDown() const {
    return m_bCtrlDown || (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
}

void CMainFrame::ShowAboutBox() {
    CAboutDlg about(m_pShotDlg.get());
    about.setWindowModality(Qt::WindowModal);  // the tray icon stays usable meanwhile
    about.exec();
}
