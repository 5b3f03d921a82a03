#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "recording/stream_picture.h"

struct pw_thread_loop;

// The pictures of one screen-sharing stream (a PipeWire node), received on PipeWire's own
// thread. The newest buffer is held until a newer one comes, so a grab copies only the region
// it asks for, and a new buffer is the sign that something was drawn: a still screen costs
// nothing. Any thread may call the members.
class CPipeWireStream {
public:
    CPipeWireStream();
    ~CPipeWireStream();
    CPipeWireStream(const CPipeWireStream&) = delete;
    CPipeWireStream& operator=(const CPipeWireStream&) = delete;

    // Connects to the PipeWire remote `remoteFd` (taken over, closed by this object) and asks
    // for the node's pictures in a 32-bit layout. False, with the reason, when it cannot.
    bool Connect(int remoteFd, uint32_t node, const CStreamPlacement& placement,
                 std::string* error);

    // Waits up to timeoutMs for the first picture. False, with the reason, when none came or
    // the stream failed.
    bool WaitForPicture(int timeoutMs, std::string* error);
    // False once the stream has ended (the user stopped sharing, the desktop went away).
    bool IsLive() const;
    // Counts the pictures received; a change means something was drawn.
    uint64_t PictureCount() const;
    // Fills bgrx (CV_8UC4 of the region's size) with screenRegion as the newest picture shows
    // it. False, with the reason, when there is no picture or the stream failed.
    bool CopyRegion(const CSvRect& screenRegion, cv::Mat& bgrx, std::string* error);

    struct State;  // shared with PipeWire's callbacks

private:
    void Disconnect();

    std::unique_ptr<State> m_pState;
};
