#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShowAnswer = "shown\n";
constexpr int kAnswerLimitMs = 10000;

// Pending input of one client, and the clients served at once: a later start sends one short
// line, so neither can grow with what others send.
constexpr qint64 kMaxRequestBytes = 64;
constexpr int kMaxClients = 16;
constexpr int kClientLimitMs = 5000;

// Where the lock and the socket live: $XDG_RUNTIME_DIR, which is the user's own, else a folder
// of the program's own in the temporary folder, private (0700) and owned by the user, so that
// entries another user put there are never trusted. Empty, with *problem set, when the
// temporary folder holds something else under that name.
QString RuntimeFolder(std::string* problem) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
        return runtime;
    }
    const QString folder = QStringLiteral("%1/brintelshot-%2").arg(QDir::tempPath()).arg(getuid());
    const QByteArray path = QFile::encodeName(folder);
    mkdir(path.constData(), 0700);
    struct stat info {};
    if (lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
        (info.st_mode & 077) != 0) {
        *problem = path.toStdString() + " is not a private folder of this user";
        return QString();
    }
    return folder;
}

}  // namespace

// ":0", "unix:0", "localhost:0.1" and "<this host>:0" all reach the same local server.
QString CSingleInstance::DisplayKey(const QString& display) {
    const int colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        return display;
    }
    QString host = display.left(colon);
    QString number = display.mid(colon + 1);
    number.truncate(number.indexOf(QLatin1Char('.')) < 0 ? number.size()
                                                         : number.indexOf(QLatin1Char('.')));
    if (host.startsWith(QLatin1String("tcp/"))) {
        host.remove(0, 4);
    }
    const bool local = host.isEmpty() || host == QLatin1String("unix") ||
                       host.startsWith(QLatin1String("unix/")) ||
                       host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
                       host == QSysInfo::machineHostName();
    return (local ? QString() : host) + QLatin1Char(':') + number;
}

QString CSingleInstance::SocketPath(const QString& folder, uint userId, const QString& display) {
    QString name = DisplayKey(display);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("%1/brintelshot-%2-%3").arg(folder).arg(userId).arg(name);
}

CSingleInstance::CSingleInstance(const QString& display)
    : m_folder(RuntimeFolder(&m_folderProblem)),
      m_socketPath(SocketPath(m_folder, getuid(), display)),
      m_lock(m_socketPath + QStringLiteral(".lock")) {
    connect(&m_server, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
}

CSingleInstance::~CSingleInstance() = default;

bool CSingleInstance::Claim() {
    if (m_folder.isEmpty()) {
        std::fprintf(stderr, "brintelshot: a second start will not find this one: %s.\n",
                     m_folderProblem.c_str());
        return true;
    }
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
            if (socket.readAll().startsWith(kShowAnswer)) {
                return true;
            }
            break;
        }
        QThread::msleep(100);
    }
    ReportHungInstance();
    return false;
}

void CSingleInstance::ReportHungInstance() {
    qint64 pid = 0;
    QString host;
    QString application;
    const QString who = m_lock.getLockInfo(&pid, &host, &application)
                            ? QStringLiteral(" (process %1)").arg(pid)
                            : QString();
    std::fprintf(stderr,
                 "brintelshot: BrintelShot is already running%s on this display but does not "
                 "answer; end it or wait for it.\n",
                 qPrintable(who));
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        if (m_clients >= kMaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_clients;
        connect(socket, &QObject::destroyed, this, [this] { --m_clients; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->setReadBufferSize(kMaxRequestBytes);
        QTimer::singleShot(kClientLimitMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() >= kMaxRequestBytes) {
                    socket->abort();  // no request is that long
                }
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
