#include "recording/pipewire_frame_source.h"

#include "imaging/screen_grabber.h"
#include "recording/pipewire_stream.h"
#include "recording/x11_frame_source.h"

CPipeWireFrameSource::CPipeWireFrameSource() = default;

CPipeWireFrameSource::~CPipeWireFrameSource() {
    Close();
}

bool CPipeWireFrameSource::Open(std::string* error) {
    if (m_pStream == nullptr) {
        *error = "the screen is not shared";
        return false;
    }
    if (!m_pStream->WaitForPicture(kFirstPictureTimeoutMs, error)) {
        return false;
    }
    m_lastCount = 0;  // the first frame is always grabbed
    m_pWindows = std::make_unique<CScreenGrabber>();
    m_bOpen = true;
    return true;
}

void CPipeWireFrameSource::Close() {
    m_pWindows.reset();
    m_bOpen = false;
}

CSvRect CPipeWireFrameSource::Locate(const CCaptureTarget& target, const CSvRect& previous) {
    return LocateTarget(m_pWindows.get(), target, previous);
}

CFrameSource::Change CPipeWireFrameSource::TakeChange(const CSvRect&) {
    const uint64_t count = m_pStream != nullptr ? m_pStream->PictureCount() : 0;
    const bool changed = count != m_lastCount;
    m_lastCount = count;
    return changed ? Change::kSome : Change::kNone;
}

bool CPipeWireFrameSource::Grab(const CSvRect& screenRegion, CBgrxPicture* picture,
                                std::string* error) {
    if (m_pStream == nullptr) {
        *error = "the frame source is not open";
        return false;
    }
    // The stream's buffer is only ours while the stream holds it: the region is copied out.
    m_region.create(screenRegion.Height(), screenRegion.Width(), CV_8UC4);
    if (!m_pStream->CopyRegion(screenRegion, m_region, error)) {
        return false;
    }
    *picture = CBgrxPicture{m_region.data, m_region.cols, m_region.rows, m_region.step[0]};
    return true;
}
