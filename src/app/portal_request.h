#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class QDBusPendingCallWatcher;

// The desktop portal's service and object (org.freedesktop.portal.Desktop).
extern const char kPortalService[];
extern const char kPortalPath[];

// Ends a portal session (its object path; nothing when empty), without waiting for the answer.
void ClosePortalSession(const QString& session);

// One request to the desktop portal: the method is called with a handle token of its own, and
// the answer comes later as the Response signal of the request object that token names.
// `answered` (the portal's response code, 0 for success, and its results) or `failed` (the
// call itself failed) comes once, after which the request deletes itself.
class CPortalRequest : public QObject {
    Q_OBJECT

public:
    // Calls `method` of `interface` with `arguments` followed by `options`.
    static CPortalRequest* Send(const QString& interface, const QString& method,
                                const QVariantList& arguments, QVariantMap options,
                                QObject* parent);
    ~CPortalRequest() override;

signals:
    void answered(uint code, const QVariantMap& results);
    void failed(const QString& message);

private slots:
    void OnResponse(uint code, const QVariantMap& results);

private:
    explicit CPortalRequest(QObject* parent) : QObject(parent) {}
    void OnCallDone(QDBusPendingCallWatcher* call);
    void StopListening();

    QString m_strPath;
    bool m_bListening = false;
    bool m_bDone = false;
};
