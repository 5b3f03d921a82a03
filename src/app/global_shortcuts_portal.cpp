#include "app/global_shortcuts_portal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QKeyCombination>

#include "app/global_keys.h"
#include "app/portal_request.h"

namespace {

const char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";
// The session's name: the desktop keeps the shortcuts (and the keys the user gave them) under it.
const char kSessionName[] = "brintelshot";

// One shortcut as the portal passes it: D-Bus "(sa{sv})".
struct CShortcutEntry {
    QString id;
    QVariantMap properties;
};

}  // namespace

Q_DECLARE_METATYPE(CShortcutEntry)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const CShortcutEntry& entry) {
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, CShortcutEntry& entry) {
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

void RegisterShortcutTypes() {
    static const bool kRegistered = [] {
        qDBusRegisterMetaType<CShortcutEntry>();
        qDBusRegisterMetaType<QList<CShortcutEntry>>();
        return true;
    }();
    (void)kRegistered;
}

QVariant ShortcutList(const QList<CPortalShortcut>& shortcuts) {
    RegisterShortcutTypes();
    QList<CShortcutEntry> entries;
    for (const CPortalShortcut& shortcut : shortcuts) {
        QVariantMap properties{{"description", shortcut.description}};
        const QString trigger = PortalTrigger(shortcut.preferredKeys);
        if (!trigger.isEmpty()) {
            properties["preferred_trigger"] = trigger;
        }
        entries.append({shortcut.id, properties});
    }
    return QVariant::fromValue(entries);
}

}  // namespace

QString PortalTrigger(const QKeySequence& keys) {
    if (keys.isEmpty()) {
        return QString();
    }
    const QKeyCombination combination = keys[0];
    const QString key = KeysymName(combination.key());
    if (key.isEmpty()) {
        return QString();
    }
    static const struct {
        Qt::KeyboardModifier modifier;
        const char* name;
    } kModifiers[] = {{Qt::ControlModifier, "CTRL+"},
                      {Qt::AltModifier, "ALT+"},
                      {Qt::ShiftModifier, "SHIFT+"},
                      {Qt::MetaModifier, "LOGO+"}};
    QString trigger;
    for (const auto& modifier : kModifiers) {
        if (combination.keyboardModifiers() & modifier.modifier) {
            trigger += modifier.name;
        }
    }
    return trigger + key;
}

QMap<QString, QString> ReadBoundShortcuts(const QVariantMap& results) {
    RegisterShortcutTypes();
    QMap<QString, QString> bound;
    const QVariant shortcuts = results.value("shortcuts");
    if (shortcuts.canConvert<QDBusArgument>()) {
        for (const CShortcutEntry& entry :
             qdbus_cast<QList<CShortcutEntry>>(shortcuts.value<QDBusArgument>())) {
            bound.insert(entry.id, entry.properties.value("trigger_description").toString());
        }
    }
    return bound;
}

CGlobalShortcutsPortal::CGlobalShortcutsPortal(QObject* parent) : QObject(parent) {}

CGlobalShortcutsPortal::~CGlobalShortcutsPortal() {
    ClosePortalSession(m_strSession);
}

void CGlobalShortcutsPortal::Bind(const QList<CPortalShortcut>& shortcuts) {
    m_shortcuts = ShortcutList(shortcuts);
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                       "org.freedesktop.DBus.Properties", "Get");
    call.setArguments({QString(kInterface), QStringLiteral("version")});
    auto* reply = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    auto onVersion = [this](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        if (answer->isError()) {
            Fail("this desktop offers no global shortcuts (no GlobalShortcuts portal)");
        } else {
            CreateSession();
        }
    };
    if (reply->isFinished()) {  // no session bus: failed at once, and no signal follows
        onVersion(reply);
        return;
    }
    connect(reply, &QDBusPendingCallWatcher::finished, this, onVersion);
}

// Presses come as the portal object's Activated signal for every session; the session's path
// tells whose they are. Some desktops (KDE Plasma 5.27) bind the shortcuts that come with the
// session's creation and show their settings on BindShortcuts; the others bind on BindShortcuts.
void CGlobalShortcutsPortal::CreateSession() {
    QDBusConnection::sessionBus().connect(kPortalService, kPortalPath, kInterface, "Activated",
                                          this, SLOT(OnActivated(QDBusMessage)));
    QVariantMap options{{"session_handle_token", QString(kSessionName)},
                        {"shortcuts", m_shortcuts}};
    CPortalRequest* request = CPortalRequest::Send(kInterface, "CreateSession", {}, options, this);
    connect(request, &CPortalRequest::answered, this, &CGlobalShortcutsPortal::OnSessionCreated);
    connect(request, &CPortalRequest::failed, this, &CGlobalShortcutsPortal::OnCallFailed);
}

void CGlobalShortcutsPortal::OnSessionCreated(uint code, const QVariantMap& results) {
    if (code != 0) {
        Fail("the desktop refused the global shortcuts (CreateSession)");
        return;
    }
    m_strSession = results.value("session_handle").toString();
    if (!ReadBoundShortcuts(results).isEmpty()) {
        OnShortcutsBound(0, results);
        return;
    }
    CPortalRequest* request = CPortalRequest::Send(
        kInterface, "BindShortcuts",
        {QVariant::fromValue(QDBusObjectPath(m_strSession)), m_shortcuts, QString()}, {}, this);
    connect(request, &CPortalRequest::answered, this, &CGlobalShortcutsPortal::OnShortcutsBound);
    connect(request, &CPortalRequest::failed, this, &CGlobalShortcutsPortal::OnCallFailed);
}

void CGlobalShortcutsPortal::OnShortcutsBound(uint code, const QVariantMap& results) {
    if (code == 1) {
        Fail("the global shortcuts were cancelled in the desktop's dialog");
    } else if (code != 0) {
        Fail("the desktop refused the global shortcuts (BindShortcuts)");
    } else if (!m_bFinished) {
        m_bFinished = true;
        emit bound(ReadBoundShortcuts(results));
    }
}

// Activated: (session, shortcut id, timestamp, options).
void CGlobalShortcutsPortal::OnActivated(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() >= 2 && !m_strSession.isEmpty() &&
        arguments[0].value<QDBusObjectPath>().path() == m_strSession) {
        emit activated(arguments[1].toString());
    }
}

void CGlobalShortcutsPortal::OnCallFailed(const QString& message) {
    Fail("the global-shortcuts portal failed: " + message);
}

void CGlobalShortcutsPortal::Fail(const QString& reason) {
    if (!m_bFinished) {
        m_bFinished = true;
        emit unavailable(reason);
    }
}
