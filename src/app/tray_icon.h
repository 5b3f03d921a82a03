#pragma once

#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>

class QMenu;

// The program's icon in the notification area, with its menu ("Exit") and its double-click
// (show the capture window), which it reports as signals.
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
    // A notification from the icon (a balloon where no notification service runs).
    void ShowMessage(const QString& title, const QString& text);
    QString ToolTip() const;
    void SetToolTip(const QString& tip);
    QMenu* Menu() const { return m_pMenu.get(); }

signals:
    void showRequested();  // double-click
    void exitRequested();  // the menu's "Exit"

private:
    std::unique_ptr<QSystemTrayIcon> m_pIcon;
    std::unique_ptr<QMenu> m_pMenu;
    unsigned int m_uID = 0;
};

// The tip as shown: the first 127 characters (whole characters, not bytes) of the UTF-8 text.
QString TrayTipText(const char* tip);

// The tip while a recording runs: the tip, the time since the recording began and the file's
// size so far ("Brintel's Shot - recording 1:05, 2.4 MB").
QString RecordingTipText(const char* tip, qint64 elapsedMs, qint64 fileBytes);
