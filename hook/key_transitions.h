#pragma once

#include <bitset>

// Keeps which X key codes are down and turns raw presses and releases into keystroke flags.
// Releases of keys that are not down are dropped (the X server reports them, for instance for
// keys held before the hook started); a press of a key already down is an auto-repeat.
class CKeyTransitions {
public:
    static constexpr int kKeycodeCount = 256;

    // Records the transition and stores its keystroke flags (see zorvane.h) in *flags.
    // Returns false when the transition is to be dropped.
    bool Record(int keycode, bool pressed, unsigned int* flags);

    bool IsDown(int keycode) const;

private:
    std::bitset<kKeycodeCount> m_down;
};
