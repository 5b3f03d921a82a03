#include "app/brintel_shot_app.h"

#include <cstdlib>

#include "app/app_resources.h"
#include "app/main_frame.h"
#include "app/quit_signals.h"

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
    // Before the frame's start-up repair touches any file.
    QuitOnSignals(this, [this] { m_pMainFrame->PostCommand(kCmdAppExit); });
    m_pMainFrame->OnCreate();
    return true;
}
