#include <cstdlib>

#include "app/brintel_shot_app.h"
#include "app/command_line.h"
#include "app/main_frame.h"
#include "app/quit_signals.h"
#include "app/session_check.h"
#include "app/single_instance.h"
#include "platform/console_line.h"
#include "platform/x_connection.h"

int main(int argc, char** argv) {
    HoldQuitSignals();  // before any file is touched: nothing may end the program half-way
    KeepStandardStreamsOpen();
    InitXThreads();  // before any other Xlib call: the grabber and the toolkit share Xlib
    const CCommandLine commandLine = ParseCommandLine(argc, argv);
    if (commandLine.mode != CCommandLine::Mode::Window) {
        if (commandLine.mode != CCommandLine::Mode::Record) {  // --record reads them itself
            ReleaseQuitSignals();
        }
        return RunCommandLine(commandLine);
    }
    if (!CheckX11Session()) {
        return 1;
    }
    PrepareQtEnvironment();
    CBrintelShotApp app(argc, argv);
    CSingleInstance instance(QString::fromLocal8Bit(std::getenv("DISPLAY")));
    if (!instance.Claim()) {
        ReleaseQuitSignals();  // waiting for the running program may be ended as usual
        return instance.ShowRunningInstance() ? 0 : 1;
    }
    if (!app.InitInstance()) {
        return 1;
    }
    QObject::connect(&instance, &CSingleInstance::showRequested, app.MainFrame(),
                     &CMainFrame::OnShowShotDlg);
    return app.exec();
}
