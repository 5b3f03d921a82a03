#pragma once

#include <functional>

class QObject;

// First thing in main(), before any file is touched: SIGPIPE is ignored from here on (a
// console whose reader has gone costs a console line, never the program), and SIGTERM
// (logout, kill), SIGINT (Ctrl+C), SIGHUP (the terminal that started the program closed) and
// SIGQUIT (Ctrl+\) are held, in this thread and every thread started after it, until one of
// the calls below takes them over. A signal that comes meanwhile waits and is not lost.
void HoldQuitSignals();
// For the commands that end on these signals the usual way: a held signal acts now.
void ReleaseQuitSignals();

// The quit signals call `quit` once, on owner's thread, from its event loop, so the program
// ends the way "Exit" ends it and a running recording is finished first; then they are no
// longer held (a held one is handled now). Call once, before anything is recorded.
void QuitOnSignals(QObject* owner, std::function<void()> quit);
