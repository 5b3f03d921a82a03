#pragma once

#include <functional>

class QObject;

// SIGTERM (logout, kill), SIGINT (Ctrl+C), SIGHUP (the terminal that started the program
// closed) and SIGQUIT (Ctrl+\) call `quit` once, on owner's thread, from its event loop, so
// the program ends the way "Exit" ends it and a running recording is finished first.
// SIGPIPE is ignored from here on: a console whose reader has gone costs a console line,
// never the program. Call once, before anything is recorded.
void QuitOnSignals(QObject* owner, std::function<void()> quit);
