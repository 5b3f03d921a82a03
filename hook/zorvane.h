#pragma once

// Zorvane: a system-wide keyboard hook for X11 sessions.
//
// InstallHook starts a thread with its own X connection that listens to the raw key events of
// every keyboard (XInput 2 on the root window), whichever program has the focus. Every key
// press and release is translated to the Windows virtual-key code of the key and handed to the
// receiver, on the hook's thread, until UninstallHook returns. The library does not use Qt.
//
// flags: bit 31 is set when the key is released and clear when it goes down; bit 30 is set
// when the key was already down before this report (a release, or an auto-repeat); bits 16-23
// carry the key's scan code (X key code - 8) and bits 0-15 the repeat count (always 1).
// Releases of keys that are not down are dropped, and keys without a virtual-key code are not
// reported.

#if defined(ZORVANE_BUILDING)
#define ZORVANE_API __attribute__((visibility("default")))
#else
#define ZORVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*HookKeyReceiver)(void* context, unsigned int virtualKey, unsigned int flags);

enum {
    ZORVANE_OK = 0,
    ZORVANE_ERR_NO_RECEIVER = 1,        // InstallHook was given a null receiver
    ZORVANE_ERR_ALREADY_INSTALLED = 2,  // InstallHook called twice without UninstallHook
    ZORVANE_ERR_NO_DISPLAY = 3,         // the X display could not be opened
    ZORVANE_ERR_NO_XINPUT2 = 4,         // the X server lacks XInput 2.0
    ZORVANE_ERR_THREAD = 5,             // the hook thread could not be started
    ZORVANE_ERR_NOT_INSTALLED = 6,      // UninstallHook without an installed hook
    ZORVANE_ERR_IN_RECEIVER = 7         // UninstallHook called from inside the receiver
};

#define ZORVANE_FLAG_RELEASED 0x80000000u
#define ZORVANE_FLAG_WAS_DOWN 0x40000000u

// Windows virtual-key codes of the keys that the library and its users name.
enum {
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,     // Alt
    VK_DIGIT_1 = 0x31,  // the digit 1 of the main keyboard (the keypad's 1 is 0x61)
};

// Starts reporting keystrokes to receiver(context, ...). Returns ZORVANE_OK or an error above.
// The display is the one named by the DISPLAY environment variable.
ZORVANE_API int InstallHook(HookKeyReceiver receiver, void* context);

// Stops reporting; when it returns, the receiver is not called any more. Returns ZORVANE_OK,
// ZORVANE_ERR_NOT_INSTALLED, or ZORVANE_ERR_IN_RECEIVER (the hook stays installed) when called
// from inside the receiver, which runs on the thread that would have to end.
ZORVANE_API int UninstallHook(void);

// A short English text for a result of InstallHook or UninstallHook.
ZORVANE_API const char* HookResultText(int result);

#ifdef __cplusplus
}
#endif
