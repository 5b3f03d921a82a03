#include "app/brintel_shot_app.h"

#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "app/app_resources.h"
#include "app/main_frame.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void WriteSignalByte(int) {
    char byte = 1;
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

}  // namespace

void PrepareQtEnvironment() {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    unsetenv("QT_SCALE_FACTOR");
    unsetenv("QT_SCREEN_SCALE_FACTORS");
    unsetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
}

CBrintelShotApp::CBrintelShotApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QStringLiteral("Brintel Shot"));
    setApplicationName(QStringLiteral("BrintelShot"));
    setApplicationVersion(QStringLiteral("1.0"));
    setDesktopFileName(QStringLiteral("brintelshot"));
    setWindowIcon(AppIcon());
    // The program lives on in the notification area when its windows are hidden or closed.
    setQuitOnLastWindowClosed(false);
}

CBrintelShotApp::~CBrintelShotApp() = default;

bool CBrintelShotApp::InitInstance() {
    m_pMainFrame = std::make_unique<CMainFrame>();
    m_pMainFrame->OnCreate();
    EndOnSignal();
    return true;
}

// SIGTERM and SIGINT (logout, Ctrl+C in a terminal) end the program the way "Exit" does, so
// the tray icon and the hook are removed and the capture window is closed in order.
void CBrintelShotApp::EndOnSignal() {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        char byte = 0;
        while (read(g_signalPipe[0], &byte, 1) > 0) {
        }
        notifier->setEnabled(false);
        m_pMainFrame->PostCommand(kCmdAppExit);
    });
    struct sigaction action = {};
    action.sa_handler = WriteSignalByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
