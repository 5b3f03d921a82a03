#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <opencv2/core.hpp>

#include "recording/frame_source.h"

class CPipeWireStream;
class CScreenGrabber;

// Frames of a Wayland desktop: the region copied from the newest picture of a screen-sharing
// stream, a new picture being the change signal. A target window (the program's own window
// under XWayland) is placed by asking the X server where it is; no X pixels are ever read.
class CPipeWireFrameSource : public CFrameSource {
public:
    // How long Open waits for the stream's first picture.
    static constexpr int kFirstPictureTimeoutMs = 20000;

    CPipeWireFrameSource();
    ~CPipeWireFrameSource() override;

    // The stream to take the frames from; set before Open, kept alive by the caller until
    // Close.
    void SetStream(CPipeWireStream* stream) { m_pStream = stream; }
    // Between Open and Close (a recording runs); any thread may ask.
    bool IsOpen() const { return m_bOpen; }

    bool Open(std::string* error) override;
    void Close() override;
    CSvRect Locate(const CCaptureTarget& target, const CSvRect& previous) override;
    Change TakeChange(const CSvRect& screenRegion) override;
    bool Grab(const CSvRect& screenRegion, CBgrxPicture* picture, std::string* error) override;

private:
    CPipeWireStream* m_pStream = nullptr;
    std::unique_ptr<CScreenGrabber> m_pWindows;  // asks where windows are, nothing else
    uint64_t m_lastCount = 0;
    cv::Mat m_region;  // the last grab, kept from one grab to the next
    std::atomic<bool> m_bOpen{false};
};
