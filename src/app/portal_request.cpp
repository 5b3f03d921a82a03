#include "app/portal_request.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

const char kPortalService[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";

namespace {

const char kRequestInterface[] = "org.freedesktop.portal.Request";

}  // namespace

void ClosePortalSession(const QString& session) {
    if (!session.isEmpty()) {
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(kPortalService, session,
                                           "org.freedesktop.portal.Session", "Close"),
            QDBus::NoBlock);
    }
}

CPortalRequest* CPortalRequest::Send(const QString& interface, const QString& method,
                                     const QVariantList& arguments, QVariantMap options,
                                     QObject* parent) {
    // The reply names the request object, but its Response may come before the reply does:
    // the object's path is known from the handle token, and is listened to first.
    static uint s_count = 0;
    auto* request = new CPortalRequest(parent);
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString handle = QString("brintel%1_%2").arg(::getpid()).arg(++s_count);
    options["handle_token"] = handle;
    QString sender = bus.baseService().mid(1);
    sender.replace('.', '_');
    request->m_strPath = QString("%1/request/%2/%3").arg(kPortalPath, sender, handle);
    request->m_bListening = bus.connect(kPortalService, request->m_strPath, kRequestInterface,
                                        "Response", request, SLOT(OnResponse(uint, QVariantMap)));
    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, interface, method);
    call.setArguments(QVariantList(arguments) << options);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, -1), request);
    connect(watcher, &QDBusPendingCallWatcher::finished, request, &CPortalRequest::OnCallDone);
    return request;
}

CPortalRequest::~CPortalRequest() {
    StopListening();
}

void CPortalRequest::StopListening() {
    if (m_bListening) {
        m_bListening = false;
        QDBusConnection::sessionBus().disconnect(kPortalService, m_strPath, kRequestInterface,
                                                 "Response", this,
                                                 SLOT(OnResponse(uint, QVariantMap)));
    }
}

void CPortalRequest::OnCallDone(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    if (call->isError() && !m_bDone) {
        m_bDone = true;
        StopListening();
        emit failed(call->error().message());
        deleteLater();
    }
}

void CPortalRequest::OnResponse(uint code, const QVariantMap& results) {
    if (!m_bDone) {
        m_bDone = true;
        StopListening();
        emit answered(code, results);
        deleteLater();
    }
}
