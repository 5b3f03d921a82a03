#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

#include <cstdio>

namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShowAnswer = "shown\n";
constexpr int kAnswerLimitMs = 10000;

QString RuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
}

}  // namespace

QString CSingleInstance::SocketPath(const QString& folder, uint userId, const QString& display) {
    QString name = display;
    const int colon = name.lastIndexOf(QLatin1Char(':'));
    const int dot = name.indexOf(QLatin1Char('.'), colon + 1);
    if (colon >= 0 && dot > colon) {
        name.truncate(dot);
    }
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("%1/brintelshot-%2-%3").arg(folder).arg(userId).arg(name);
}

CSingleInstance::CSingleInstance(const QString& display)
    : m_socketPath(SocketPath(RuntimeFolder(), getuid(), display)),
      m_lock(m_socketPath + QStringLiteral(".lock")) {
    connect(&m_server, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
}

CSingleInstance::~CSingleInstance() = default;

bool CSingleInstance::Claim() {
    if (!m_lock.tryLock(0)) {
        return m_lock.error() != QLockFile::LockFailedError;  // unusable lock: run alone
    }
    QLocalServer::removeServer(m_socketPath);  // left behind by a program that crashed
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_socketPath)) {
        std::fprintf(stderr, "brintelshot: a second start will not find this one: %s.\n",
                     qPrintable(m_server.errorString()));
    }
    return true;
}

// The running program may still be starting up and not listen yet: ask until it answers.
bool CSingleInstance::ShowRunningInstance() {
    const QDeadlineTimer deadline(kAnswerLimitMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(500)) {
            socket.write(kShowRequest);
            while (socket.bytesAvailable() < kShowAnswer.size() &&
                   socket.waitForReadyRead(int(deadline.remainingTime()))) {
            }
            return socket.readAll().startsWith(kShowAnswer);
        }
        QThread::msleep(100);
    }
    std::fprintf(stderr, "brintelshot: BrintelShot is already running but does not answer.\n");
    return false;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                return;
            }
            if (socket->readLine() == kShowRequest) {
                emit showRequested();
                socket->write(kShowAnswer);
            }
            socket->disconnectFromServer();
        });
    }
}
