#include "app/screencast_portal.h"

#include "app/portal_request.h"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>

namespace {

const char kInterface[] = "org.freedesktop.portal.ScreenCast";

constexpr uint kMonitor = 1;
constexpr uint kPointerHidden = 1;
constexpr uint kPointerEmbedded = 2;
constexpr uint kPersistUntilRevoked = 2;

QDBusMessage PortalCall(const QString& interface, const QString& method) {
    return QDBusMessage::createMethodCall(kPortalService, kPortalPath, interface, method);
}

// A property of the ScreenCast interface; 0 when the portal does not say.
uint PortalProperty(const QString& name) {
    QDBusMessage call = PortalCall("org.freedesktop.DBus.Properties", "Get");
    call.setArguments({QString(kInterface), name});
    const QDBusReply<QDBusVariant> reply = QDBusConnection::sessionBus().call(call);
    return reply.isValid() ? reply.value().variant().toUInt() : 0;
}

// A pair of integers (D-Bus "(ii)") from a stream's properties.
bool ReadPair(const QVariant& value, int* first, int* second) {
    if (!value.canConvert<QDBusArgument>()) {
        return false;
    }
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginStructure();
    argument >> *first >> *second;
    argument.endStructure();
    return true;
}

}  // namespace

bool ReadStartResults(const QVariantMap& results, CPortalStream* stream, QString* restoreToken,
                      QString* error) {
    *restoreToken = results.value("restore_token").toString();
    const QVariant streams = results.value("streams");
    bool found = false;
    if (streams.canConvert<QDBusArgument>()) {
        const QDBusArgument argument = streams.value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd() && !found) {
            uint node = 0;
            QVariantMap properties;
            argument.beginStructure();
            argument >> node >> properties;
            argument.endStructure();
            stream->node = node;
            CStreamPlacement& place = stream->placement;
            ReadPair(properties.value("position"), &place.x, &place.y);
            ReadPair(properties.value("size"), &place.width, &place.height);
            found = true;
        }
        argument.endArray();
    }
    if (!found) {
        *error = "the desktop shared no screen";
    }
    return found;
}

QString PortalResponseProblem(uint code, const QString& step) {
    switch (code) {
        case 0:
            return QString();
        case 1:
            return "sharing the screen was cancelled in the desktop's dialog";
        default:
            return "the desktop refused to share the screen (" + step + ")";
    }
}

CScreenCastPortal::CScreenCastPortal(QObject* parent) : QObject(parent) {}

CScreenCastPortal::~CScreenCastPortal() {
    if (m_remoteFd >= 0) {
        ::close(m_remoteFd);
    }
    ClosePortalSession(m_strSession);
}

int CScreenCastPortal::TakeRemoteFd() {
    const int fd = m_remoteFd;
    m_remoteFd = -1;
    return fd;
}

void CScreenCastPortal::Start(bool pointer, const QString& restoreToken) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Fail("no D-Bus session bus to reach the screen-sharing portal");
        return;
    }
    if (!bus.interface()->isServiceRegistered(kPortalService).value() &&
        !bus.interface()->startService(kPortalService).isValid()) {
        Fail("this desktop has no screen-sharing portal (xdg-desktop-portal)");
        return;
    }
    if (PortalProperty("version") == 0) {
        Fail("this desktop's portal cannot share the screen (no ScreenCast interface)");
        return;
    }
    // A portal that goes away answers no request: that ends the wait, too.
    auto* watcher = new QDBusServiceWatcher(kPortalService, bus,
                                            QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { Fail("the screen-sharing portal went away"); });
    m_bPointer = pointer;
    m_strToken = restoreToken;
    QVariantMap options;
    options["session_handle_token"] = QString("brintel%1").arg(::getpid());
    Request(Step::kCreate, "CreateSession", {}, options);
}

void CScreenCastPortal::Request(Step step, const QString& method, const QVariantList& arguments,
                                QVariantMap options) {
    m_step = step;
    CPortalRequest* request = CPortalRequest::Send(kInterface, method, arguments, options, this);
    connect(request, &CPortalRequest::answered, this, &CScreenCastPortal::OnResponse);
    connect(request, &CPortalRequest::failed, this, [this](const QString& message) {
        Fail("the screen-sharing portal failed: " + message);
    });
}

void CScreenCastPortal::OnResponse(uint code, const QVariantMap& results) {
    const Step step = m_step;
    m_step = Step::kIdle;
    const char* names[] = {"", "CreateSession", "SelectSources", "Start"};
    const QString problem = PortalResponseProblem(code, names[static_cast<int>(step)]);
    if (!problem.isEmpty()) {
        Fail(problem);
        return;
    }
    switch (step) {
        case Step::kCreate:
            m_strSession = results.value("session_handle").toString();
            SelectSources();
            break;
        case Step::kSelect:
            Request(Step::kStart, "Start",
                    {QVariant::fromValue(QDBusObjectPath(m_strSession)), QString()}, {});
            break;
        case Step::kStart: {
            QString error;
            if (!ReadStartResults(results, &m_stream, &m_strRestoreToken, &error)) {
                Fail(error);
                return;
            }
            OpenRemote();
            break;
        }
        case Step::kIdle:
            break;
    }
}

void CScreenCastPortal::SelectSources() {
    QVariantMap options;
    options["types"] = kMonitor;
    options["multiple"] = false;
    const uint modes = PortalProperty("AvailableCursorModes");
    const uint wanted = m_bPointer ? kPointerEmbedded : kPointerHidden;
    if (modes & wanted) {
        options["cursor_mode"] = wanted;
    }
    if (PortalProperty("version") >= 4) {
        options["persist_mode"] = kPersistUntilRevoked;
        if (!m_strToken.isEmpty()) {
            options["restore_token"] = m_strToken;
        }
    }
    Request(Step::kSelect, "SelectSources", {QVariant::fromValue(QDBusObjectPath(m_strSession))},
            options);
}

void CScreenCastPortal::OpenRemote() {
    QDBusMessage call = PortalCall(kInterface, "OpenPipeWireRemote");
    call.setArguments({QVariant::fromValue(QDBusObjectPath(m_strSession)), QVariantMap()});
    const QDBusReply<QDBusUnixFileDescriptor> reply = QDBusConnection::sessionBus().call(call);
    if (!reply.isValid()) {
        Fail("the screen-sharing portal gave no PipeWire connection: " + reply.error().message());
        return;
    }
    m_remoteFd = ::dup(reply.value().fileDescriptor());  // the reply closes its own
    if (m_remoteFd < 0) {
        Fail("cannot keep the PipeWire connection");
        return;
    }
    m_bFinished = true;
    emit finished(true);
}

void CScreenCastPortal::Fail(const QString& reason) {
    if (!m_bFinished) {
        m_bFinished = true;
        m_strError = reason;
        m_step = Step::kIdle;
        emit finished(false);
    }
}
