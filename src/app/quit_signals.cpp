#include "app/quit_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// The handler only writes a byte into this pipe; the event loop does the rest.
int g_signalPipe[2] = {-1, -1};

void WriteSignalByte(int) {
    const char byte = 1;
    const ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

sigset_t QuitSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int number : kQuitSignals) {
        sigaddset(&set, number);
    }
    return set;
}

}  // namespace

void HoldQuitSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = QuitSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseQuitSignals() {
    const sigset_t set = QuitSignalSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void QuitOnSignals(QObject* owner, std::function<void()> quit) {
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ReleaseQuitSignals();
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner,
                     [notifier, quit = std::move(quit)] {
                         char byte = 0;
                         while (read(g_signalPipe[0], &byte, 1) > 0) {
                         }
                         notifier->setEnabled(false);
                         quit();
                     });
    struct sigaction action = {};
    action.sa_handler = WriteSignalByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kQuitSignals) {
        sigaction(number, &action, nullptr);
    }
    ReleaseQuitSignals();
}
