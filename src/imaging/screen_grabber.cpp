#include "imaging/screen_grabber.h"

#include "imaging/x11_grab_session.h"

namespace {

// The X protocol carries sizes in 16 bits; nothing larger can come from a screen.
constexpr long long kMaxGrabSide = 32767;

}  // namespace

CScreenGrabber::CScreenGrabber(Transfer transfer) {
    m_pSession = CX11GrabSession::Acquire(transfer == Transfer::kAuto, &m_strLastError);
}

CScreenGrabber::~CScreenGrabber() {
    CX11GrabSession::Return(std::move(m_pSession));
}

bool CScreenGrabber::IsAvailable() const {
    return m_pSession != nullptr;
}

bool CScreenGrabber::UsesSharedMemory() const {
    return m_pSession != nullptr && m_pSession->UsesSharedMemory();
}

bool CScreenGrabber::CheckRect(const CSvRect& rect) {
    if (rect.IsEmpty()) {
        m_strLastError = "the rectangle is empty";
        return false;
    }
    // Computed wide: right - left of extreme coordinates does not fit in an int.
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    if (width > kMaxGrabSide || height > kMaxGrabSide) {
        m_strLastError = "the rectangle is too large to grab";
        return false;
    }
    if (m_pSession == nullptr) {
        if (m_strLastError.empty()) {
            m_strLastError = "no X display";
        }
        return false;
    }
    return true;
}

bool CScreenGrabber::GrabInto(const CSvRect& rect, cv::Mat& target, const cv::Scalar* outside) {
    CSvRect screen;
    if (!m_pSession->ScreenRect(&screen, &m_strLastError)) {
        return false;
    }
    const CSvRect inside = rect.Intersected(screen);
    const bool whollyInside = inside.left == rect.left && inside.top == rect.top &&
                              inside.right == rect.right && inside.bottom == rect.bottom;
    if (outside != nullptr && !whollyInside) {
        target.setTo(*outside);
    }
    if (inside.IsEmpty()) {
        m_strLastError.clear();
        return true;  // all of it is off the screen: all black
    }
    cv::Mat part = target(
        cv::Rect(inside.left - rect.left, inside.top - rect.top, inside.Width(), inside.Height()));
    if (!m_pSession->Grab(inside, part, &m_strLastError)) {
        return false;
    }
    m_strLastError.clear();
    return true;
}

void CScreenGrabber::GrabImage(CSvRect rect, CSvImage* image) {
    if (image == nullptr) {
        return;
    }
    if (!CheckRect(rect)) {
        image->Release();
        return;
    }
    // An image of the right size is grabbed into as it is, so a caller that grabs over and
    // over (a recording) allocates no pixel memory per grab.
    const bool reusable = image->HasImage() && image->GetWidth() == rect.Width() &&
                          image->GetHeight() == rect.Height() && image->m_pImage->type() == CV_8UC3;
    if (!reusable) {
        image->Create(rect.Width(), rect.Height(), 3);
        if (!image->HasImage()) {
            m_strLastError = image->GetLastError();
            return;
        }
    }
    const cv::Scalar black(0, 0, 0);
    if (!GrabInto(rect, *image->m_pImage, &black)) {
        image->Release();
    } else if (m_bIncludePointer) {
        DrawPointer(rect, *image->m_pImage);
    }
}

void CScreenGrabber::GrabBitmap(CSvRect rect, cv::Mat* bitmap) {
    if (bitmap == nullptr) {
        return;
    }
    if (!CheckRect(rect)) {
        bitmap->release();
        return;
    }
    try {
        *bitmap = cv::Mat(rect.Height(), rect.Width(), CV_8UC4);  // a new buffer, never shared
    } catch (const std::exception& e) {
        bitmap->release();
        m_strLastError = std::string("cannot allocate the bitmap: ") + e.what();
        return;
    }
    const cv::Scalar opaqueBlack(0, 0, 0, 255);
    if (!GrabInto(rect, *bitmap, &opaqueBlack)) {
        bitmap->release();
    } else if (m_bIncludePointer) {
        DrawPointer(rect, *bitmap);
    }
}

bool CScreenGrabber::DrawPointer(const CSvRect& rect, cv::Mat& target) {
    if (m_pSession == nullptr) {
        m_strLastError = "no X display to read the mouse pointer from";
        return false;
    }
    std::string reason;
    if (!m_pSession->DrawPointer(rect, target, &reason)) {
        m_strLastError = reason;
        return false;
    }
    return true;
}

bool CScreenGrabber::ReadPointer(CPointerOverlay* pointer) {
    if (m_pSession == nullptr) {
        m_strLastError = "no X display to read the mouse pointer from";
        return false;
    }
    return m_pSession->ReadPointer(*pointer, &m_strLastError);
}

bool CScreenGrabber::GrabPicture(CSvRect rect, CBgrxPicture* picture) {
    if (!CheckRect(rect)) {
        return false;
    }
    // Grabbed at once: the screen's size is asked only when the server refuses the rectangle,
    // so a recording's grab costs one request to the server, not two.
    if (m_pSession->GrabPicture(rect, picture, &m_strLastError)) {
        m_strLastError.clear();
        return true;
    }
    CSvRect screen;
    if (!m_pSession->ScreenRect(&screen, &m_strLastError) || rect.Intersected(screen) == rect) {
        return false;  // the rectangle lies on the screen: the grab failed for another reason
    }
    m_offScreen.create(rect.Height(), rect.Width(), CV_8UC4);
    const cv::Scalar opaqueBlack(0, 0, 0, 255);
    if (!GrabInto(rect, m_offScreen, &opaqueBlack)) {
        return false;
    }
    *picture =
        CBgrxPicture{m_offScreen.data, m_offScreen.cols, m_offScreen.rows, m_offScreen.step[0]};
    return true;
}

bool CScreenGrabber::WindowOrigin(unsigned long window, int* x, int* y) {
    if (m_pSession == nullptr) {
        return false;
    }
    return m_pSession->WindowOrigin(window, x, y, &m_strLastError);
}

bool CScreenGrabber::WatchChanges() {
    return m_pSession != nullptr && m_pSession->StartDamage();
}

bool CScreenGrabber::TakeChange(const CSvRect& rect, bool* drawn) {
    return m_pSession != nullptr && m_pSession->TakeDamage(rect, drawn);
}
