#pragma once

#include <QApplication>

#include <memory>

class CMainFrame;

// The application object: sets up the program's identity and creates the hidden main frame.
class CBrintelShotApp : public QApplication {
    Q_OBJECT

public:
    CBrintelShotApp(int& argc, char** argv);
    ~CBrintelShotApp() override;

    // Creates the main frame (tray icon, keyboard hook, capture window). True on success.
    bool InitInstance();

    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }

private:
    std::unique_ptr<CMainFrame> m_pMainFrame;
};

// Switches Qt's high-DPI scaling off for this process, so that all geometry is in physical
// screen pixels, and chooses the X11 platform. Call before constructing the application.
void PrepareQtEnvironment();
