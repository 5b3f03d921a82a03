#pragma once

// The virtual desktops of a window manager that follows the EWMH (_NET_CURRENT_DESKTOP on the
// root window, _NET_WM_DESKTOP on each window), on a connection of their own.

// True when the window is on the current desktop or on all of them, and when the window
// manager keeps no desktops (or the display cannot be opened).
bool IsOnCurrentDesktop(unsigned long window);

// Asks the window manager to move the window to the current desktop; nothing happens where it
// keeps no desktops.
void MoveToCurrentDesktop(unsigned long window);
