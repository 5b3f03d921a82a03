#include "platform/x_connection.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

namespace {

std::mutex g_trapsLock;  // a leaf lock: nothing else is locked while it is held
std::map<Display*, std::vector<CXErrorTrap*>> g_trapsByDisplay;
XErrorHandler g_previousHandler = nullptr;
XIOErrorHandler g_previousIoHandler = nullptr;  // someone else's; never Xlib's own

int OnXError(Display* display, XErrorEvent* event) {
    XErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(g_trapsLock);
        auto found = g_trapsByDisplay.find(display);
        if (found != g_trapsByDisplay.end() && !found->second.empty()) {
            found->second.back()->Record(event->error_code);
            return 0;
        }
        previous = g_previousHandler;
    }
    return previous != nullptr ? previous(display, event) : 0;
}

// A lost X server (the session ended) on one of our connections: its calls fail from then on,
// and the process is not ended from whichever thread met the loss, so whoever ends it can
// still finish a recording. Other connections keep a handler someone set for them; where that
// would be Xlib's own (which ends the process at once), the connection's exit handler decides
// instead: Xlib's default one still ends the process, the keyboard hook's ends its thread.
int OnXIOError(Display* display) {
    XIOErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(g_trapsLock);
        if (g_trapsByDisplay.count(display) != 0) {
            return 0;
        }
        previous = g_previousIoHandler;
    }
    return previous != nullptr ? previous(display) : 0;
}

// Xlib's own I/O error handler: setting none puts it in place and the next setting returns it.
XIOErrorHandler XlibDefaultIoHandler() {
    static const XIOErrorHandler xlibDefault = [] {
        const XIOErrorHandler current = XSetIOErrorHandler(nullptr);
        return XSetIOErrorHandler(current);
    }();
    return xlibDefault;
}

// Puts our handlers in front if someone replaced them since (a toolkit opening its
// connection), keeping theirs for the connections without a trap. Where ours are in front
// already this sets the same handlers again, so no error of any thread can miss them meanwhile.
void KeepHandlerInFront() {
    XErrorHandler previous = XSetErrorHandler(OnXError);
    if (previous != OnXError) {
        g_previousHandler = previous;
    }
    const XIOErrorHandler xlibDefault = XlibDefaultIoHandler();
    XIOErrorHandler previousIo = XSetIOErrorHandler(OnXIOError);
    if (previousIo != OnXIOError) {
        g_previousIoHandler = previousIo == xlibDefault ? nullptr : previousIo;
    }
}

}  // namespace

void InitXThreads() {
    static std::once_flag once;
    std::call_once(once, [] { XInitThreads(); });
}

CXErrorTrap::CXErrorTrap(_XDisplay* display) : m_display(display) {
    std::lock_guard<std::mutex> lock(g_trapsLock);
    KeepHandlerInFront();
    g_trapsByDisplay[m_display].push_back(this);
}

CXErrorTrap::~CXErrorTrap() {
    std::lock_guard<std::mutex> lock(g_trapsLock);
    auto found = g_trapsByDisplay.find(m_display);
    if (found == g_trapsByDisplay.end()) {
        return;
    }
    std::vector<CXErrorTrap*>& traps = found->second;
    traps.erase(std::remove(traps.begin(), traps.end(), this), traps.end());
    if (traps.empty()) {
        g_trapsByDisplay.erase(found);
    }
}

bool CXErrorTrap::SyncWithoutError() {
    XSync(m_display, False);
    return m_nLastErrorCode == 0;
}

CXConnection::CXConnection(const char* name) {
    InitXThreads();
    m_display = XOpenDisplay(name);
    if (m_display != nullptr) {
        m_pTrap = std::make_unique<CXErrorTrap>(m_display);
        // After OnXIOError returns, Xlib would still end the process: not for our connections.
        XSetIOErrorExitHandler(
            m_display, [](_XDisplay*, void*) {}, nullptr);
    }
}

CXConnection::~CXConnection() {
    if (m_display != nullptr) {
        // Closed while the trap still catches: a connection opened meanwhile by another thread
        // may get the same address, but its trap is newer than this one's.
        XCloseDisplay(m_display);
        m_pTrap.reset();
    }
}
