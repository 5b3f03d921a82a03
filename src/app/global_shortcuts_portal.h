#pragma once

#include <QDBusMessage>
#include <QKeySequence>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>

// A key the program asks the desktop for: what it is called, what it does, and the key it
// would like (the desktop, or the user in its settings, may give another).
struct CPortalShortcut {
    QString id;
    QString description;
    QKeySequence preferredKeys;
};

// A key sequence's first combination as the portal takes it ("CTRL+SHIFT+F3"); empty for none.
QString PortalTrigger(const QKeySequence& keys);
// The shortcuts a portal's answer lists: each id with the desktop's description of its key
// ("Ctrl+Shift+F3"; empty when no key is assigned).
QMap<QString, QString> ReadBoundShortcuts(const QVariantMap& results);

// The desktop's GlobalShortcuts portal (org.freedesktop.portal.GlobalShortcuts): keys that reach
// the program whichever window has the focus, on Wayland desktops that offer it (KDE Plasma).
// One session for the program's run; the desktop remembers the keys under the session's name,
// so keys the user assigns in its settings hold from run to run.
class CGlobalShortcutsPortal : public QObject {
    Q_OBJECT

public:
    explicit CGlobalShortcutsPortal(QObject* parent = nullptr);
    ~CGlobalShortcutsPortal() override;  // closes the session

    // Asks the desktop for the shortcuts; `bound` or `unavailable` comes once, then `activated`
    // for each press of a bound key.
    void Bind(const QList<CPortalShortcut>& shortcuts);

signals:
    void bound(const QMap<QString, QString>& triggers);
    void unavailable(const QString& reason);
    void activated(const QString& id);

private slots:
    void OnActivated(const QDBusMessage& message);

private:
    void CreateSession();
    void OnSessionCreated(uint code, const QVariantMap& results);
    void OnShortcutsBound(uint code, const QVariantMap& results);
    void OnCallFailed(const QString& message);
    void Fail(const QString& reason);

    QVariant m_shortcuts;  // the list as the portal takes it
    QString m_strSession;
    bool m_bFinished = false;  // `bound` or `unavailable` has come
};
