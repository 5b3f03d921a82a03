#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "key_transitions.h"
#include "virtual_key.h"
#include "zorvane.h"

TEST(VirtualKeyTest, MainKeyboardKeys) {
    EXPECT_EQ(VirtualKeyFromKeysym(XK_1), 0x31u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_0), 0x30u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_c), 0x43u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_C), 0x43u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_z), 0x5Au);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_F1), 0x70u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_F5), 0x74u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_F24), 0x87u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Left), 0x25u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Up), 0x26u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Right), 0x27u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Down), 0x28u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Return), 0x0Du);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Escape), 0x1Bu);
}

TEST(VirtualKeyTest, ModifiersShareOneCodeForLeftAndRight) {
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Control_L), kVkControl);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Control_R), kVkControl);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Shift_R), kVkShift);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Alt_L), kVkMenu);
}

TEST(VirtualKeyTest, KeypadDigitsNeverLookLikeMainDigits) {
    EXPECT_EQ(VirtualKeyFromKeysym(XK_KP_1), 0x61u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_KP_3), 0x63u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_KP_End), 0x23u);
    // The keypad 1 key carries KP_End and KP_1 on its two levels.
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, true, false), 0x61u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, false, false), 0x23u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, false, true), 0x61u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, true, true), 0x23u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_Delete, XK_KP_Decimal, true, false), 0x6Eu);
}

TEST(VirtualKeyTest, DigitRowOfLayoutsWithPunctuationFirst) {
    EXPECT_EQ(VirtualKeyFromLevels(XK_1, XK_exclam, false, false), 0x31u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_ampersand, XK_1, false, false), 0x31u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_a, XK_A, true, true), 0x41u);
}

TEST(VirtualKeyTest, KeysWithoutCodeGiveZero) {
    EXPECT_EQ(VirtualKeyFromKeysym(0), 0u);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Hangul_Jieuj), 0u);
    EXPECT_EQ(VirtualKeyFromKeysym(XF86XK_AudioPlay), 0u);
}

TEST(KeyTransitionsTest, PressReleaseAndRepeatFlags) {
    CKeyTransitions transitions;
    unsigned int flags = 0;
    ASSERT_TRUE(transitions.Record(10, true, &flags));
    EXPECT_EQ(flags & ZORVANE_FLAG_RELEASED, 0u);
    EXPECT_EQ(flags & ZORVANE_FLAG_WAS_DOWN, 0u);
    EXPECT_EQ(flags & 0xFFFFu, 1u);
    EXPECT_EQ((flags >> 16) & 0xFFu, 2u);  // X key code 10 is scan code 2
    EXPECT_TRUE(transitions.IsDown(10));

    ASSERT_TRUE(transitions.Record(10, true, &flags));  // auto-repeat
    EXPECT_NE(flags & ZORVANE_FLAG_WAS_DOWN, 0u);
    EXPECT_EQ(flags & ZORVANE_FLAG_RELEASED, 0u);

    ASSERT_TRUE(transitions.Record(10, false, &flags));
    EXPECT_NE(flags & ZORVANE_FLAG_RELEASED, 0u);
    EXPECT_FALSE(transitions.IsDown(10));
}

TEST(KeyTransitionsTest, ReleasesOfKeysNotDownAndBadCodesAreDropped) {
    CKeyTransitions transitions;
    unsigned int flags = 0xABCD;
    EXPECT_FALSE(transitions.Record(38, false, &flags));
    EXPECT_FALSE(transitions.Record(-1, true, &flags));
    EXPECT_FALSE(transitions.Record(256, true, &flags));
    EXPECT_EQ(flags, 0xABCDu);
    ASSERT_TRUE(transitions.Record(38, true, &flags));
    ASSERT_TRUE(transitions.Record(38, false, &flags));
    EXPECT_FALSE(transitions.Record(38, false, &flags));
}
