#pragma once

#include <atomic>
#include <memory>

// X connections of this program and their errors, shared by every helper that talks to the X
// server directly (the grabber, the window under the cursor, the session check).
//
// Xlib reports an error on any connection to one process-wide handler, whose default ends the
// process. One handler of ours is installed once and kept in front: it hands each error to the
// newest trap of the connection it happened on, and errors of connections without a trap
// (Qt's, a test's) to the handler that was there before. Nothing ever swaps the handler out,
// so a thread grabbing on its connection is never disturbed by another thread's trap. A lost
// X server does not end the process from one of our connections either: their calls fail, and
// whoever ends the process can still finish a recording.

struct _XDisplay;

// Makes Xlib safe for threads. Call it before any other Xlib call of the process (main() does,
// first of all); later calls do nothing.
void InitXThreads();

// Catches the X errors of one connection, whichever thread uses it, while the trap lives.
// Traps of one connection nest: the newest one catches.
class CXErrorTrap {
public:
    explicit CXErrorTrap(_XDisplay* display);
    ~CXErrorTrap();
    CXErrorTrap(const CXErrorTrap&) = delete;
    CXErrorTrap& operator=(const CXErrorTrap&) = delete;

    // The code of the last error since construction or Clear(); 0 when none came.
    int LastErrorCode() const { return m_nLastErrorCode; }
    void Clear() { m_nLastErrorCode = 0; }
    // Waits until the server has handled every request sent so far; true when no error came
    // since Clear().
    bool SyncWithoutError();

    // Called by the process-wide handler.
    void Record(int errorCode) { m_nLastErrorCode = errorCode; }

private:
    _XDisplay* m_display;
    std::atomic<int> m_nLastErrorCode{0};
};

// A connection of our own to the display named `name` (DISPLAY when null), with an error trap
// for its whole life.
class CXConnection {
public:
    explicit CXConnection(const char* name = nullptr);
    ~CXConnection();  // errors met while closing are still caught
    CXConnection(const CXConnection&) = delete;
    CXConnection& operator=(const CXConnection&) = delete;

    bool IsOpen() const { return m_display != nullptr; }
    _XDisplay* Display() const { return m_display; }
    CXErrorTrap& Errors() { return *m_pTrap; }

private:
    _XDisplay* m_display = nullptr;
    std::unique_ptr<CXErrorTrap> m_pTrap;
};
