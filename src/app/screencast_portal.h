#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>

#include "recording/stream_picture.h"

// One stream the portal shares: its PipeWire node and where its picture lies on the screen.
struct CPortalStream {
    uint32_t node = 0;
    CStreamPlacement placement;
};

// What Start answered: the first stream and the token for the next run. False, with the
// reason, when it named no stream.
bool ReadStartResults(const QVariantMap& results, CPortalStream* stream, QString* restoreToken,
                      QString* error);
// The reason a portal request ended with response code `code` (0 is success: empty).
QString PortalResponseProblem(uint code, const QString& step);

// A session with the desktop's ScreenCast portal (org.freedesktop.portal.ScreenCast) that
// shares one monitor: CreateSession, SelectSources (with the pointer drawn in or not, and
// remembered by the desktop), Start, OpenPipeWireRemote. The desktop may show its dialog on
// Start; a restore token from an earlier run lets it share the same monitor without asking.
// Asynchronous: `finished` comes once, on this object's thread.
class CScreenCastPortal : public QObject {
    Q_OBJECT

public:
    explicit CScreenCastPortal(QObject* parent = nullptr);
    ~CScreenCastPortal() override;  // closes the session

    void Start(bool pointer, const QString& restoreToken);

    // After a successful finish: the stream, the token for the next run (may be empty) and
    // the PipeWire remote's descriptor (the caller owns it; -1 after the first call).
    const CPortalStream& Stream() const { return m_stream; }
    const QString& RestoreToken() const { return m_strRestoreToken; }
    int TakeRemoteFd();
    const QString& LastError() const { return m_strError; }

signals:
    void finished(bool ok);

private:
    enum class Step { kIdle, kCreate, kSelect, kStart };

    void Request(Step step, const QString& method, const QVariantList& arguments,
                 QVariantMap options);
    void OnResponse(uint code, const QVariantMap& results);
    void SelectSources();
    void OpenRemote();
    void Fail(const QString& reason);

    Step m_step = Step::kIdle;
    bool m_bPointer = false;
    QString m_strToken;
    QString m_strSession;
    CPortalStream m_stream;
    QString m_strRestoreToken;
    int m_remoteFd = -1;
    QString m_strError;
    bool m_bFinished = false;  // `finished` has come
};
