#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <string>

// One program per user and X display. The first start holds a lock file and listens on a
// local socket beside it (in $XDG_RUNTIME_DIR, else a private folder of the user's own in the
// temporary folder, named after the user id and the display); a later start finds the lock taken,
// asks the running program through the socket to bring its capture window forward, and ends.
class CSingleInstance : public QObject {
    Q_OBJECT

public:
    explicit CSingleInstance(const QString& display);
    ~CSingleInstance() override;

    // True when this process is the first: it then answers later starts. A failure to listen
    // is reported on standard error and is not fatal.
    bool Claim();
    // For a later start: asks the running program to show its capture window. True when it
    // answered.
    bool ShowRunningInstance();

    // The socket path for a user and a display (":0", "host:1.0"); the screen number does not
    // count, so ":0" and ":0.0" are the same display, nor does a name of the local machine
    // (":0", "unix:0", "localhost:0").
    static QString SocketPath(const QString& folder, uint userId, const QString& display);
    // The display's name as the socket path uses it.
    static QString DisplayKey(const QString& display);

signals:
    // A later start asked for the capture window.
    void showRequested();

private:
    void OnNewConnection();
    // One line on standard error that names the running program that does not answer.
    void ReportHungInstance();

    std::string m_folderProblem;
    QString m_folder;  // empty when no private folder was to be had: the program runs alone
    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer m_server;
    int m_clients = 0;  // connections being served
};
