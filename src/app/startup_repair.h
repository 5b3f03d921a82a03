#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <string>
#include <thread>

// The start-up repair of the recordings an earlier run left unfinished in the output folder,
// on a thread of its own: the capture window is there at once and Exit works meanwhile. Going
// away cancels the repair and waits for it (an interrupted repair is safe to run again).
class CStartupRepair : public QObject {
    Q_OBJECT

public:
    CStartupRepair() = default;
    ~CStartupRepair() override;

    void Start(const std::string& folder);

signals:
    // On the thread of this object, once, when something was recovered or removed: the text
    // for the notice.
    void finished(const QString& text);

private:
    std::atomic<bool> m_bCancel{false};
    std::thread m_thread;
};
