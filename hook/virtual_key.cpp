#include "virtual_key.h"

#include <X11/keysym.h>

#include "zorvane.h"

namespace {

struct KeysymRange {
    unsigned long first;
    unsigned long last;
    unsigned int firstCode;
};

// Runs of consecutive key symbols with consecutive virtual-key codes.
constexpr KeysymRange kRanges[] = {
    {XK_0, XK_9, 0x30},
    {XK_A, XK_Z, 0x41},
    {XK_a, XK_z, 0x41},
    {XK_KP_0, XK_KP_9, 0x60},
    {XK_F1, XK_F24, 0x70},
    {XK_Left, XK_Down, 0x25},
    {XK_KP_Left, XK_KP_Down, 0x25},
};

struct KeysymCode {
    unsigned long keysym;
    unsigned int code;
};

constexpr KeysymCode kSingles[] = {
    {XK_BackSpace, 0x08},
    {XK_Tab, 0x09},
    {XK_ISO_Left_Tab, 0x09},
    {XK_Clear, 0x0C},
    {XK_KP_Begin, 0x0C},
    {XK_Return, 0x0D},
    {XK_KP_Enter, 0x0D},
    {XK_Shift_L, VK_SHIFT},
    {XK_Shift_R, VK_SHIFT},
    {XK_Control_L, VK_CONTROL},
    {XK_Control_R, VK_CONTROL},
    {XK_Alt_L, VK_MENU},
    {XK_Alt_R, VK_MENU},
    {XK_Meta_L, VK_MENU},
    {XK_Meta_R, VK_MENU},
    {XK_ISO_Level3_Shift, VK_MENU},
    {XK_Pause, 0x13},
    {XK_Caps_Lock, 0x14},
    {XK_Hangul, 0x15},
    {XK_Hangul_Hanja, 0x19},
    {XK_Escape, 0x1B},
    {XK_space, 0x20},
    {XK_KP_Space, 0x20},
    {XK_Prior, 0x21},
    {XK_KP_Prior, 0x21},
    {XK_Next, 0x22},
    {XK_KP_Next, 0x22},
    {XK_End, 0x23},
    {XK_KP_End, 0x23},
    {XK_Home, 0x24},
    {XK_KP_Home, 0x24},
    {XK_Select, 0x29},
    {XK_Print, 0x2C},
    {XK_Insert, 0x2D},
    {XK_KP_Insert, 0x2D},
    {XK_Delete, 0x2E},
    {XK_KP_Delete, 0x2E},
    {XK_Help, 0x2F},
    {XK_Super_L, 0x5B},
    {XK_Super_R, 0x5C},
    {XK_Menu, 0x5D},
    {XK_KP_Multiply, 0x6A},
    {XK_KP_Add, 0x6B},
    {XK_KP_Separator, 0x6C},
    {XK_KP_Subtract, 0x6D},
    {XK_KP_Decimal, 0x6E},
    {XK_KP_Divide, 0x6F},
    {XK_Num_Lock, 0x90},
    {XK_Scroll_Lock, 0x91},
    {XK_semicolon, 0xBA},
    {XK_equal, 0xBB},
    {XK_comma, 0xBC},
    {XK_minus, 0xBD},
    {XK_period, 0xBE},
    {XK_slash, 0xBF},
    {XK_grave, 0xC0},
    {XK_bracketleft, 0xDB},
    {XK_backslash, 0xDC},
    {XK_bracketright, 0xDD},
    {XK_apostrophe, 0xDE},
};

}  // namespace

bool IsKeypadKeysym(unsigned long keysym) {
    return keysym >= XK_KP_Space && keysym <= XK_KP_Equal;
}

unsigned int VirtualKeyFromKeysym(unsigned long keysym) {
    for (const KeysymRange& range : kRanges) {
        if (keysym >= range.first && keysym <= range.last) {
            return range.firstCode + static_cast<unsigned int>(keysym - range.first);
        }
    }
    for (const KeysymCode& single : kSingles) {
        if (single.keysym == keysym) {
            return single.code;
        }
    }
    return 0;
}

unsigned int VirtualKeyFromLevels(unsigned long level0, unsigned long level1, bool numLockOn,
                                  bool shiftDown) {
    if (IsKeypadKeysym(level1)) {
        bool digitLevel = numLockOn != shiftDown;
        return VirtualKeyFromKeysym(digitLevel ? level1 : level0);
    }
    unsigned int code = VirtualKeyFromKeysym(level0);
    return code != 0 ? code : VirtualKeyFromKeysym(level1);
}
