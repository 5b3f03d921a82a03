#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/session_check.h"
#include "capture/screen_access.h"
#include "recording/pipewire_frame_source.h"
#include "recording/pipewire_stream.h"

class CScreenCastPortal;

// The screen of a Wayland desktop, shared through the ScreenCast portal once per program run
// (again only when the pointer choice changes) and received over PipeWire. The portal's
// restore token is kept in the settings, so its dialog appears once, not at every run.
class CWaylandScreen : public QObject, public CScreenAccess {
    Q_OBJECT

public:
    explicit CWaylandScreen(CAppSettings& settings, QObject* parent = nullptr);
    ~CWaylandScreen() override;

    void Prepare(bool pointer, std::function<void(const std::string& error)> done) override;
    CFrameSource& Frames() override { return m_frames; }
    bool GrabBgrx(const CSvRect& rect, cv::Mat& bgrx, std::string* error) override;

    // Prepare for a program without a running event loop (the command line): waits for the
    // portal in a loop of its own, or until stopFd (when given) can be read.
    bool PrepareAndWait(bool pointer, std::string* error, int stopFd = -1);

private:
    void OnPortalFinished(bool ok);
    void Finish(const std::string& error);

    CAppSettings& m_settings;
    QPointer<CScreenCastPortal> m_pPortal;
    bool m_bShared = false;
    bool m_bAsking = false;
    bool m_bPointer = false;
    std::vector<std::function<void(const std::string&)>> m_waiting;
    CPipeWireStream m_stream;
    CPipeWireFrameSource m_frames;
};

// The Wayland screen for a command-line run: the application object D-Bus needs (unless one
// exists), and the settings that keep the desktop's token.
struct CCommandLineScreen {
    CCommandLineScreen();
    ~CCommandLineScreen();

    std::unique_ptr<QCoreApplication> application;
    CAppSettings settings;
    CWaylandScreen screen{settings};
};
