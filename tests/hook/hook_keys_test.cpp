#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "key_transitions.h"
#include "virtual_key.h"
#include "zorvane.h"

TEST(VirtualKeyTest, KeysymsAndKeyLevelsGiveTheirKeyCodes) {
    const struct {
        unsigned long keysym;
        unsigned int virtualKey;
    } cases[] = {
        {XK_1, 0x31},          {XK_0, 0x30},     {XK_c, 0x43},
        {XK_C, 0x43},          {XK_F1, 0x70},    {XK_F24, 0x87},
        {XK_Left, 0x25},       {XK_Down, 0x28},  {XK_Control_R, 0x11},
        {XK_Shift_R, 0x10},    {XK_Alt_L, 0x12}, {XK_KP_1, 0x61},
        {XK_KP_End, 0x23},     {0, 0},           {XK_Hangul_Jieuj, 0},
        {XF86XK_AudioPlay, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VirtualKeyFromKeysym(c.keysym), c.virtualKey) << "keysym " << c.keysym;
    }
    // The keypad 1 key carries KP_End and KP_1 on its two levels and never gives the digit 1.
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, true, false), 0x61u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, false, false), 0x23u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, false, true), 0x61u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_KP_End, XK_KP_1, true, true), 0x23u);
    // Layouts whose digit row has punctuation on level 0 still give the digit.
    EXPECT_EQ(VirtualKeyFromLevels(XK_ampersand, XK_1, false, false), 0x31u);
    EXPECT_EQ(VirtualKeyFromLevels(XK_a, XK_A, true, true), 0x41u);
}

// Flags of a press, an auto-repeat and a release; releases of keys that are not down and key
// codes out of range are dropped.
TEST(KeyTransitionsTest, FlagsAndDroppedTransitions) {
    CKeyTransitions transitions;
    unsigned int flags = 0;
    EXPECT_FALSE(transitions.Record(10, false, &flags));
    EXPECT_FALSE(transitions.Record(-1, true, &flags));
    EXPECT_FALSE(transitions.Record(256, true, &flags));
    ASSERT_TRUE(transitions.Record(10, true, &flags));
    EXPECT_EQ(flags, 0x00020001u);  // X key code 10 is scan code 2; repeat count 1
    ASSERT_TRUE(transitions.Record(10, true, &flags));
    EXPECT_EQ(flags, 0x40020001u);  // bit 30: was down
    ASSERT_TRUE(transitions.Record(10, false, &flags));
    EXPECT_EQ(flags, 0xC0020001u);  // bit 31: released
    EXPECT_FALSE(transitions.Record(10, false, &flags));
}
