#pragma once

// The EWMH window type of a window (_NET_WM_WINDOW_TYPE), on a connection of its own.

// Puts the utility type first in the window's types; call it before the window is mapped. A
// second call changes nothing. A window made a utility this way is no transient of another:
// window managers that hide the transient tool windows of inactive programs (KWin) keep it shown.
void MarkAsUtilityWindow(unsigned long window);
