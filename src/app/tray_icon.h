#pragma once

#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

class QAction;
class QMenu;

// The program's icon in the notification area, with its menu (recording, pause, still capture,
// the capture window, the output folder, Exit) and its double-click (show the capture window),
// which it reports as signals.
class CTrayIcon : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxTipChars = 127;

    CTrayIcon();
    ~CTrayIcon() override;

    // Shows the icon with the tip (cut to 127 characters; null for none). Returns false when
    // there is no notification area to show it in.
    bool AddToTray(unsigned int id, const QIcon& icon, const char* tip);
    // Removes the icon; false when the identifier is not the icon's or it was not shown.
    bool RemoveFromTray(unsigned int id);

    // Handles one activation of the icon: 1 when it was for this icon and handled, else 0.
    int OnTrayNotify(unsigned int id, QSystemTrayIcon::ActivationReason reason);

    bool IsInTray() const;
    // A notification from the icon (a balloon where no notification service runs). Until the
    // tray host has embedded the icon (for a few seconds at most) it waits, so that a balloon
    // points at the icon and not at a corner of the screen.
    void ShowMessage(const QString& title, const QString& text);
    QString ToolTip() const;
    // Where the icon is on the screen; empty while it is not embedded.
    QRect Geometry() const { return m_pIcon ? m_pIcon->geometry() : QRect(); }
    // Also renews the tooltip while it is shown, where this program draws it (XEmbed tray
    // hosts); hosts that draw tips themselves (StatusNotifierItem) read the new text anew.
    void SetToolTip(const QString& tip);
    // The menu's items follow the recording: "Start recording" or "Stop recording", "Pause"
    // or "Resume" (only while recording), "Capture still" (not while recording).
    void ShowRecordingState(bool recording, bool paused);
    QMenu* Menu() const { return m_pMenu.get(); }

signals:
    void showRequested();  // double-click, or the menu's "Show capture window"
    void exitRequested();  // the menu's "Exit"
    // A capture-window command chosen in the menu (ID_RECORD, ID_PAUSE, ID_CAPTURE,
    // ID_OPEN_FOLDER).
    void commandChosen(int id);

private:
    void BuildMenu();
    void ShowPendingMessage();

    std::unique_ptr<QSystemTrayIcon> m_pIcon;
    std::unique_ptr<QMenu> m_pMenu;
    QAction* m_pRecordItem = nullptr;
    QAction* m_pPauseItem = nullptr;
    QAction* m_pCaptureItem = nullptr;
    unsigned int m_uID = 0;
    QString m_strPendingTitle;
    QString m_strPendingText;
    QTimer m_messageWait;  // looks for the embedded icon while a message waits
    int m_nMessageWaits = 0;
};

// The tip as shown: the first 127 characters (whole characters, not bytes) of the UTF-8 text.
QString TrayTipText(const char* tip);

// The tip while a recording runs: the tip, the time recorded so far and the file's size so far
// ("Brintel's Shot - recording 1:05, 2.4 MB"; "Brintel's Shot - Paused 1:05, 2.4 MB").
QString RecordingTipText(const char* tip, qint64 recordedMs, qint64 fileBytes, bool paused = false);
