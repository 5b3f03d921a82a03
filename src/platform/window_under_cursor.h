#pragma once

// The X window under the mouse pointer, found by XQueryPointer from the root downwards.
//
// A child window counts as a window: over a button of another program that has its own X
// window, the result is that button. Over a window manager's decoration (title bar, border)
// the result is the whole decorated top-level window. Shaped windows are skipped where their
// shape is cut out, so the pointer over a see-through region finds the window below.
//
// Returns false, leaving the outputs alone, when the pointer is over no window (the root), when
// the window found is excludeWindow or lies inside it, when excludeWindow is the client of the
// top-level window found, or when the display cannot be opened. On success the rectangle is in
// screen pixels: (*x, *y) the top-left corner, *w x *h the size.
bool WindowRectUnderCursor(unsigned long excludeWindow, int* x, int* y, int* w, int* h);

// The same on an open connection (typed void* so callers need not include Xlib).
bool WindowRectUnderCursorOn(void* display, unsigned long excludeWindow, int* x, int* y, int* w,
                             int* h);
