#include "app/global_keys.h"

#include <QGuiApplication>
#include <QKeyCombination>

#include <xcb/xcb.h>
// Xlib after Qt: its macros (KeyPress, None, Bool) clash with Qt's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// Modifier bits that the key combinations use (Shift, Lock, Control, Mod1 to Mod5).
constexpr unsigned int kModifierBits = 0xFF;

struct CX11 {
    xcb_connection_t* connection = nullptr;
    Display* display = nullptr;
};

CX11 ToolkitConnection() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    return x11 != nullptr ? CX11{x11->connection(), x11->display()} : CX11{};
}

KeySym KeysymOf(Qt::Key key) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) {
        return XK_F1 + (key - Qt::Key_F1);
    }
    // Printable Latin-1 keys carry their character's code, as X keysyms do.
    if ((key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) ||
        (key >= Qt::Key_nobreakspace && key <= Qt::Key_ydiaeresis)) {
        return static_cast<KeySym>(key);
    }
    static const struct {
        Qt::Key key;
        KeySym keysym;
    } kSpecial[] = {
        {Qt::Key_Escape, XK_Escape},
        {Qt::Key_Tab, XK_Tab},
        {Qt::Key_Backspace, XK_BackSpace},
        {Qt::Key_Return, XK_Return},
        {Qt::Key_Enter, XK_KP_Enter},
        {Qt::Key_Insert, XK_Insert},
        {Qt::Key_Delete, XK_Delete},
        {Qt::Key_Pause, XK_Pause},
        {Qt::Key_Print, XK_Print},
        {Qt::Key_Home, XK_Home},
        {Qt::Key_End, XK_End},
        {Qt::Key_Left, XK_Left},
        {Qt::Key_Up, XK_Up},
        {Qt::Key_Right, XK_Right},
        {Qt::Key_Down, XK_Down},
        {Qt::Key_PageUp, XK_Page_Up},
        {Qt::Key_PageDown, XK_Page_Down},
        {Qt::Key_ScrollLock, XK_Scroll_Lock},
    };
    for (const auto& special : kSpecial) {
        if (special.key == key) {
            return special.keysym;
        }
    }
    return NoSymbol;
}

unsigned int ModifierMaskOf(Qt::KeyboardModifiers modifiers) {
    unsigned int mask = 0;
    mask |= (modifiers & Qt::ShiftModifier) ? ShiftMask : 0;
    mask |= (modifiers & Qt::ControlModifier) ? ControlMask : 0;
    mask |= (modifiers & Qt::AltModifier) ? Mod1Mask : 0;
    mask |= (modifiers & Qt::MetaModifier) ? Mod4Mask : 0;
    return mask;
}

// Every combination of the lock bits: a passive grab matches its modifiers exactly.
QList<unsigned int> LockVariants(unsigned int lockMasks) {
    QList<unsigned int> variants{0};
    for (unsigned int bit = 1; bit <= kModifierBits; bit <<= 1) {
        if ((lockMasks & bit) != 0) {
            const qsizetype count = variants.size();
            for (qsizetype i = 0; i < count; ++i) {
                variants.append(variants[i] | bit);
            }
        }
    }
    return variants;
}

}  // namespace

QString KeysymName(Qt::Key key) {
    KeySym keysym = KeysymOf(key);
    if (keysym >= XK_A && keysym <= XK_Z) {
        keysym += XK_a - XK_A;  // the key itself, not its shifted character
    }
    const char* name = keysym == NoSymbol ? nullptr : XKeysymToString(keysym);
    return name != nullptr ? QString::fromLatin1(name) : QString();
}

QKeySequence KeySequenceFromText(const QString& text, const QKeySequence& fallback) {
    if (text.trimmed().isEmpty()) {
        return fallback;
    }
    return QKeySequence::fromString(text.trimmed(), QKeySequence::PortableText);
}

CGlobalKeys::CGlobalKeys() = default;

CGlobalKeys::~CGlobalKeys() {
    Release();
}

QStringList CGlobalKeys::Grab(const QList<Binding>& bindings) {
    Release();
    const CX11 x = ToolkitConnection();
    if (x.connection == nullptr || x.display == nullptr) {
        return {QStringLiteral("the global keys need an X11 display")};
    }
    m_lockMasks = LockMask | XkbKeysymToModifiers(x.display, XK_Num_Lock) |
                  XkbKeysymToModifiers(x.display, XK_Scroll_Lock);
    const xcb_window_t root = DefaultRootWindow(x.display);
    QStringList problems;
    for (const Binding& binding : bindings) {
        const QString name = binding.keys.toString(QKeySequence::PortableText);
        const QKeyCombination combination =
            binding.keys.isEmpty() ? QKeyCombination() : binding.keys[0];
        const KeySym keysym = KeysymOf(combination.key());
        const KeyCode keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(x.display, keysym);
        if (binding.keys.count() != 1 || keycode == 0) {
            problems << QStringLiteral("'%1' (%2) is not a key this program can use")
                            .arg(name.isEmpty() ? QStringLiteral("?") : name, binding.what);
            continue;
        }
        const unsigned int modifiers = ModifierMaskOf(combination.keyboardModifiers());
        // Reported to the root window, never to the focused window, ours included.
        QList<xcb_void_cookie_t> cookies;
        for (unsigned int locks : LockVariants(m_lockMasks)) {
            cookies << xcb_grab_key_checked(x.connection, 0, root, uint16_t(modifiers | locks),
                                            keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        }
        bool held = false;
        for (const xcb_void_cookie_t& cookie : cookies) {
            if (xcb_generic_error_t* error = xcb_request_check(x.connection, cookie)) {
                held = true;
                free(error);
            }
        }
        if (held) {
            for (unsigned int locks : LockVariants(m_lockMasks)) {
                xcb_ungrab_key(x.connection, keycode, root, uint16_t(modifiers | locks));
            }
            problems
                << QStringLiteral("%1 (%2) is held by another program").arg(name, binding.what);
            continue;
        }
        m_grabbed.append(Grabbed{binding.command, keycode, modifiers});
    }
    xcb_flush(x.connection);
    if (!m_grabbed.isEmpty()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    return problems;
}

void CGlobalKeys::Release() {
    if (m_grabbed.isEmpty()) {
        return;
    }
    QCoreApplication::instance()->removeNativeEventFilter(this);
    const CX11 x = ToolkitConnection();
    if (x.connection != nullptr) {
        const xcb_window_t root = DefaultRootWindow(x.display);
        for (const Grabbed& grabbed : m_grabbed) {
            for (unsigned int locks : LockVariants(m_lockMasks)) {
                xcb_ungrab_key(x.connection, xcb_keycode_t(grabbed.keycode), root,
                               uint16_t(grabbed.modifiers | locks));
            }
        }
        xcb_flush(x.connection);
    }
    m_grabbed.clear();
    m_keysDown.clear();
}

bool CGlobalKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    const unsigned int modifiers = key->state & kModifierBits & ~m_lockMasks;
    for (const Grabbed& grabbed : m_grabbed) {
        if (key->detail != grabbed.keycode || key->event != key->root) {
            continue;
        }
        if (type == XCB_KEY_RELEASE) {
            m_keysDown.removeAll(grabbed.keycode);
            return true;
        }
        if (modifiers != grabbed.modifiers) {
            continue;
        }
        // A held key repeats its press; it acts once per press.
        if (!m_keysDown.contains(grabbed.keycode)) {
            m_keysDown.append(grabbed.keycode);
            emit pressed(grabbed.command);
        }
        return true;
    }
    return false;
}
