#include "app/wayland_screen.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include "app/app_settings.h"
#include "app/screencast_portal.h"

CWaylandScreen::CWaylandScreen(CAppSettings& settings, QObject* parent)
    : QObject(parent), m_settings(settings) {
    m_frames.SetStream(&m_stream);
}

CWaylandScreen::~CWaylandScreen() = default;

void CWaylandScreen::Prepare(bool pointer, std::function<void(const std::string&)> done) {
    // A recording keeps its stream: a copy meanwhile shows the pointer as the recording does.
    if (m_bShared && m_stream.IsLive() && (pointer == m_bPointer || m_frames.IsOpen())) {
        done(std::string());
        return;
    }
    m_waiting.push_back(std::move(done));
    if (m_bAsking) {
        return;  // asked already: everyone waiting hears the answer
    }
    // The pointer is drawn in by the desktop: another choice needs a session of its own, as
    // does a stream that ended (the user stopped sharing).
    delete m_pPortal;
    m_bShared = false;
    m_bAsking = true;
    m_bPointer = pointer;
    m_pPortal = new CScreenCastPortal(this);
    connect(m_pPortal, &CScreenCastPortal::finished, this, &CWaylandScreen::OnPortalFinished,
            Qt::QueuedConnection);
    m_pPortal->Start(pointer, m_settings.ScreenCastRestoreToken());
}

void CWaylandScreen::OnPortalFinished(bool ok) {
    CScreenCastPortal* portal = m_pPortal;
    if (!ok) {
        Finish(portal->LastError().toStdString());
        return;
    }
    // A token serves once: the new one replaces it (none: the next run asks again).
    m_settings.SetScreenCastRestoreToken(portal->RestoreToken());
    std::string error;
    const CPortalStream& shared = portal->Stream();
    m_bShared = m_stream.Connect(portal->TakeRemoteFd(), shared.node, shared.placement, &error);
    // The portal session lives as long as its stream is wanted.
    Finish(m_bShared ? std::string() : error);
}

void CWaylandScreen::Finish(const std::string& error) {
    m_bAsking = false;
    if (!error.empty() && m_pPortal != nullptr) {
        m_pPortal->deleteLater();
        m_pPortal = nullptr;
    }
    std::vector<std::function<void(const std::string&)>> waiting;
    waiting.swap(m_waiting);
    for (auto& done : waiting) {
        done(error);
    }
}

bool CWaylandScreen::GrabBgrx(const CSvRect& rect, cv::Mat& bgrx, std::string* error) {
    if (!m_bShared) {
        *error = "the screen is not shared";
        return false;
    }
    bgrx.create(rect.Height(), rect.Width(), CV_8UC4);
    return m_stream.WaitForPicture(CPipeWireFrameSource::kFirstPictureTimeoutMs, error) &&
           m_stream.CopyRegion(rect, bgrx, error);
}

bool CWaylandScreen::PrepareAndWait(bool pointer, std::string* error, int stopFd) {
    QEventLoop loop;
    bool finished = false;
    Prepare(pointer, [&](const std::string& reason) {
        *error = reason;
        finished = true;
        loop.quit();
    });
    if (finished) {
        return error->empty();
    }
    std::unique_ptr<QSocketNotifier> stop;
    if (stopFd >= 0) {
        stop = std::make_unique<QSocketNotifier>(stopFd, QSocketNotifier::Read);
        connect(stop.get(), &QSocketNotifier::activated, &loop, [&] {
            *error = "stopped before the desktop shared the screen";
            loop.quit();
        });
    }
    loop.exec();
    return finished && error->empty();
}

namespace {

std::unique_ptr<QCoreApplication> ApplicationForCommandLine() {
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    static int argc = 1;
    static char name[] = "brintelshot";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

}  // namespace

CCommandLineScreen::CCommandLineScreen() : application(ApplicationForCommandLine()) {}

CCommandLineScreen::~CCommandLineScreen() = default;
