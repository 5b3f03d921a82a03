#pragma once

// Translation of X key symbols to Windows virtual-key codes (the codes the key handlers test:
// 0x31 for the digit 1 of the main keyboard, 0x61 for the keypad 1, 0x70.. for F1.., ...).

// The virtual-key code of one key symbol, or 0 when it has none. Letters map to 'A'..'Z' in
// either case; main-keyboard digits to '0'..'9'; keypad digits (XK_KP_0..) to 0x60..0x69;
// keypad navigation symbols (XK_KP_End, ...) to the navigation keys; left and right modifiers
// to the shared Shift, Control and Alt codes.
unsigned int VirtualKeyFromKeysym(unsigned long keysym);

// True for the key symbols of the numeric keypad (XK_KP_Space .. XK_KP_Equal).
bool IsKeypadKeysym(unsigned long keysym);

// The virtual-key code of a key whose first two shift levels carry level0 and level1.
// Keypad keys follow NumLock as X does: the digit level when NumLock is on and Shift is up (or
// NumLock off and Shift down), else the navigation level. Other keys take level 0, or level 1
// when level 0 has no code (the digit row of layouts whose unshifted level is punctuation).
unsigned int VirtualKeyFromLevels(unsigned long level0, unsigned long level1, bool numLockOn,
                                  bool shiftDown);
