#include "zorvane.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <bitset>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "key_transitions.h"
#include "virtual_key.h"

namespace {

// One installed hook: its X connection, its thread and the keyboard state it follows.
class CHookSession {
public:
    CHookSession(Display* display, int xiOpcode, HookKeyReceiver receiver, void* context);
    ~CHookSession();

    // Selects the raw key events and starts the thread. Returns a ZORVANE_ result.
    int Start();
    bool IsHookThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    void Run();
    void DispatchPending();
    void HandleRawKey(const XIRawEvent& event, bool pressed);
    unsigned int VirtualKeyOf(int keycode);
    bool ShiftDown() const;
    void FollowNumLock();
    void HandleXkbEvent(const XEvent& event);
    void LearnShiftKeys();

    Display* m_display;
    int m_xiOpcode;
    HookKeyReceiver m_receiver;
    void* m_context;
    int m_wakePipe[2] = {-1, -1};
    std::thread m_thread;
    CKeyTransitions m_transitions;
    std::bitset<CKeyTransitions::kKeycodeCount> m_shiftKeys;
    // The code reported for each key's press, so that its release reports the same code even
    // when NumLock or Shift changed in between.
    unsigned int m_pressedCode[CKeyTransitions::kKeycodeCount] = {};
    int m_xkbEventBase = -1;
    unsigned int m_numLockMask = 0;
    bool m_numLockOn = false;
};

CHookSession::CHookSession(Display* display, int xiOpcode, HookKeyReceiver receiver, void* context)
    : m_display(display), m_xiOpcode(xiOpcode), m_receiver(receiver), m_context(context) {}

CHookSession::~CHookSession() {
    if (m_thread.joinable()) {
        char wake = 1;
        while (write(m_wakePipe[1], &wake, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    for (int fd : m_wakePipe) {
        if (fd >= 0) {
            close(fd);
        }
    }
    XCloseDisplay(m_display);
}

int CHookSession::Start() {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask;
    // Master devices only: selecting every device as well would report each key twice.
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof(bits);
    mask.mask = bits;
    XISelectEvents(m_display, DefaultRootWindow(m_display), &mask, 1);
    LearnShiftKeys();
    FollowNumLock();
    XSync(m_display, False);

    if (pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        return ZORVANE_ERR_THREAD;
    }
    try {
        m_thread = std::thread(&CHookSession::Run, this);
    } catch (const std::system_error&) {
        return ZORVANE_ERR_THREAD;
    }
    return ZORVANE_OK;
}

void CHookSession::Run() {
    for (;;) {
        DispatchPending();
        pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return;  // the X server went away
        }
    }
}

void CHookSession::DispatchPending() {
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            LearnShiftKeys();
            continue;
        }
        if (m_xkbEventBase >= 0 && event.type == m_xkbEventBase) {
            HandleXkbEvent(event);
            continue;
        }
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != m_xiOpcode ||
            !XGetEventData(m_display, cookie)) {
            continue;
        }
        if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
            HandleRawKey(*static_cast<XIRawEvent*>(cookie->data), cookie->evtype == XI_RawKeyPress);
        }
        XFreeEventData(m_display, cookie);
    }
}

void CHookSession::HandleRawKey(const XIRawEvent& event, bool pressed) {
    unsigned int flags = 0;
    if (!m_transitions.Record(event.detail, pressed, &flags)) {
        return;
    }
    unsigned int virtualKey = pressed ? VirtualKeyOf(event.detail) : m_pressedCode[event.detail];
    if (pressed) {
        m_pressedCode[event.detail] = virtualKey;
    }
    if (virtualKey != 0) {
        m_receiver(m_context, virtualKey, flags);
    }
}

unsigned int CHookSession::VirtualKeyOf(int keycode) {
    KeyCode code = static_cast<KeyCode>(keycode);
    KeySym level0 = XkbKeycodeToKeysym(m_display, code, 0, 0);
    KeySym level1 = XkbKeycodeToKeysym(m_display, code, 0, 1);
    return VirtualKeyFromLevels(level0, level1, m_numLockOn, ShiftDown());
}

bool CHookSession::ShiftDown() const {
    for (int keycode = 0; keycode < CKeyTransitions::kKeycodeCount; ++keycode) {
        if (m_shiftKeys.test(keycode) && m_transitions.IsDown(keycode)) {
            return true;
        }
    }
    return false;
}

// NumLock is followed through XKB state events, which arrive on the same connection in order
// with the raw key events: a key is read with the NumLock state of its own moment, not with
// whatever the state is by the time the event is handled.
void CHookSession::FollowNumLock() {
    int opcode = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(m_display, &opcode, &m_xkbEventBase, &errorBase, &major, &minor)) {
        m_xkbEventBase = -1;
        return;
    }
    m_numLockMask = XkbKeysymToModifiers(m_display, XK_Num_Lock);
    XkbSelectEventDetails(m_display, XkbUseCoreKbd, XkbStateNotify, XkbModifierLockMask,
                          XkbModifierLockMask);
    XkbStateRec state;
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) == Success) {
        m_numLockOn = (state.locked_mods & m_numLockMask) != 0;
    }
}

void CHookSession::HandleXkbEvent(const XEvent& event) {
    const XkbEvent& xkb = reinterpret_cast<const XkbEvent&>(event);
    if (xkb.any.xkb_type == XkbStateNotify && m_numLockMask != 0) {
        m_numLockOn = (xkb.state.locked_mods & m_numLockMask) != 0;
    }
}

void CHookSession::LearnShiftKeys() {
    m_shiftKeys.reset();
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
    for (int keycode = minKeycode; keycode <= maxKeycode && keycode < 256; ++keycode) {
        KeySym keysym = XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(keycode), 0, 0);
        if (keysym == XK_Shift_L || keysym == XK_Shift_R) {
            m_shiftKeys.set(keycode);
        }
    }
}

std::mutex g_sessionMutex;
std::unique_ptr<CHookSession> g_session;

}  // namespace

extern "C" {

int InstallHook(HookKeyReceiver receiver, void* context) {
    if (receiver == nullptr) {
        return ZORVANE_ERR_NO_RECEIVER;
    }
    std::lock_guard<std::mutex> lock(g_sessionMutex);
    if (g_session) {
        return ZORVANE_ERR_ALREADY_INSTALLED;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return ZORVANE_ERR_NO_DISPLAY;
    }
    // A lost X server ends the hook's thread (its poll sees the hang-up), never the process from
    // that thread: the program may still have a recording to finish.
    XSetIOErrorExitHandler(
        display, [](Display*, void*) {}, nullptr);
    int xiOpcode = 0;
    int firstEvent = 0;
    int firstError = 0;
    // Announce XI 2.2: servers send raw events to clients of 2.1 and later even while another
    // client grabs the keyboard (an open menu, a game), to 2.0 clients only without a grab.
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &xiOpcode, &firstEvent, &firstError) ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2) {
        XCloseDisplay(display);
        return ZORVANE_ERR_NO_XINPUT2;
    }
    auto session = std::make_unique<CHookSession>(display, xiOpcode, receiver, context);
    int result = session->Start();
    if (result == ZORVANE_OK) {
        g_session = std::move(session);
    }
    return result;
}

int UninstallHook(void) {
    std::unique_ptr<CHookSession> session;
    {
        std::lock_guard<std::mutex> lock(g_sessionMutex);
        if (g_session && g_session->IsHookThread()) {
            return ZORVANE_ERR_IN_RECEIVER;
        }
        session = std::move(g_session);
    }
    return session ? ZORVANE_OK : ZORVANE_ERR_NOT_INSTALLED;
}

const char* HookResultText(int result) {
    switch (result) {
        case ZORVANE_OK:
            return "the keyboard hook is installed";
        case ZORVANE_ERR_NO_RECEIVER:
            return "no receiver was given for the keystrokes";
        case ZORVANE_ERR_ALREADY_INSTALLED:
            return "the keyboard hook is already installed";
        case ZORVANE_ERR_NO_DISPLAY:
            return "the X display could not be opened";
        case ZORVANE_ERR_NO_XINPUT2:
            return "the X server does not offer XInput 2";
        case ZORVANE_ERR_THREAD:
            return "the keyboard hook thread could not be started";
        case ZORVANE_ERR_NOT_INSTALLED:
            return "no keyboard hook is installed";
        case ZORVANE_ERR_IN_RECEIVER:
            return "the keyboard hook cannot be removed from inside its receiver";
        default:
            return "unknown keyboard hook result";
    }
}

}  // extern "C"
