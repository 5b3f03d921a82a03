#include "key_transitions.h"

#include "zorvane.h"

namespace {

constexpr unsigned int kRepeatCountOne = 1;

unsigned int ScanCodeBits(int keycode) {
    // X key codes are evdev codes + 8; the low byte of the evdev code is the scan code.
    return (static_cast<unsigned int>(keycode - 8) & 0xFFu) << 16;
}

}  // namespace

bool CKeyTransitions::Record(int keycode, bool pressed, unsigned int* flags) {
    if (keycode < 0 || keycode >= kKeycodeCount) {
        return false;
    }
    bool wasDown = m_down.test(keycode);
    if (!pressed && !wasDown) {
        return false;
    }
    m_down.set(keycode, pressed);
    *flags = kRepeatCountOne | ScanCodeBits(keycode) | (wasDown ? ZORVANE_FLAG_WAS_DOWN : 0u) |
             (pressed ? 0u : ZORVANE_FLAG_RELEASED);
    return true;
}

bool CKeyTransitions::IsDown(int keycode) const {
    return keycode >= 0 && keycode < kKeycodeCount && m_down.test(keycode);
}
