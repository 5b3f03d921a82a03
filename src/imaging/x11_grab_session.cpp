#include "imaging/x11_grab_session.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "platform/x_connection.h"

namespace {

// --- the pool of idle sessions ---

struct SessionPool {
    struct Idle {
        std::string displayName;
        bool allowSharedMemory;
        std::unique_ptr<CX11GrabSession> session;
    };
    std::mutex mutex;
    std::vector<Idle> idle;
};

// Never destroyed: sessions may still be returned while static objects are torn down.
SessionPool& Pool() {
    static SessionPool* pool = new SessionPool;
    return *pool;
}

constexpr size_t kMaxIdleSessions = 4;

std::string CurrentDisplayName() {
    const char* name = std::getenv("DISPLAY");
    return name != nullptr ? name : "";
}

// Channel value (0..255) of an X pixel for one colour mask.
uint8_t MaskedChannel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    const unsigned long max = mask >> shift;
    // Rounded to the nearest 8-bit level (a 10-bit 3 is 0.75 of a level: 1, not 0).
    return static_cast<uint8_t>((((pixel & mask) >> shift) * 255 + max / 2) / max);
}

bool IsLittleEndianBgrx(const XImage* image) {
    return image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
           image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
}

// Any other pixel layout: slow, but correct.
void ConvertGeneric(XImage* image, cv::Mat& target) {
    const int channels = target.channels();
    for (int y = 0; y < target.rows; ++y) {
        uint8_t* row = target.ptr<uint8_t>(y);
        for (int x = 0; x < target.cols; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            uint8_t* out = row + x * channels;
            out[0] = MaskedChannel(pixel, image->blue_mask);
            out[1] = MaskedChannel(pixel, image->green_mask);
            out[2] = MaskedChannel(pixel, image->red_mask);
            if (channels == 4) {
                out[3] = 255;
            }
        }
    }
}

void Convert(XImage* image, cv::Mat& target) {
    if (!IsLittleEndianBgrx(image)) {
        ConvertGeneric(image, target);
        return;
    }
    const cv::Mat source(target.rows, target.cols, CV_8UC4, image->data,
                         static_cast<size_t>(image->bytes_per_line));
    if (target.channels() == 3) {
        cv::cvtColor(source, target, cv::COLOR_BGRA2BGR);
        return;
    }
    // The fourth byte of an X pixel is undefined; the bitmap's is always 255.
    for (int y = 0; y < target.rows; ++y) {
        const uint32_t* from = source.ptr<uint32_t>(y);
        uint32_t* to = target.ptr<uint32_t>(y);
        for (int x = 0; x < target.cols; ++x) {
            to[x] = from[x] | 0xFF000000u;
        }
    }
}

}  // namespace

struct CX11GrabSession::Connection {
    explicit Connection(const std::string& displayName)
        : x(displayName.c_str()), display(x.Display()), name(displayName) {}

    CXConnection x;
    Display* display;
    Window root = 0;
    Visual* visual = nullptr;
    int depth = 0;
    std::string name;
    XShmSegmentInfo shm{};
    size_t shmBytes = 0;
    XImage* shmImage = nullptr;  // header over the segment, for the last grab size
};

std::unique_ptr<CX11GrabSession> CX11GrabSession::Acquire(bool allowSharedMemory,
                                                          std::string* error) {
    const std::string name = CurrentDisplayName();
    {
        SessionPool& pool = Pool();
        std::unique_lock<std::mutex> lock(pool.mutex);
        for (auto it = pool.idle.begin(); it != pool.idle.end(); ++it) {
            if (it->displayName == name && it->allowSharedMemory == allowSharedMemory) {
                std::unique_ptr<CX11GrabSession> session = std::move(it->session);
                pool.idle.erase(it);
                return session;
            }
        }
    }
    if (name.empty()) {
        *error = "no X display: DISPLAY is not set";
        return nullptr;
    }
    auto connection = std::make_unique<Connection>(name);
    if (connection->display == nullptr) {
        *error = "cannot open the X display \"" + name + "\"";
        return nullptr;
    }
    const int screen = DefaultScreen(connection->display);
    connection->root = RootWindow(connection->display, screen);
    connection->visual = DefaultVisual(connection->display, screen);
    connection->depth = DefaultDepth(connection->display, screen);
    return std::unique_ptr<CX11GrabSession>(
        new CX11GrabSession(std::move(connection), allowSharedMemory));
}

void CX11GrabSession::Return(std::unique_ptr<CX11GrabSession> session) {
    if (!session) {
        return;
    }
    session->StopDamage();
    session->ReleasePlainImage();
    SessionPool& pool = Pool();
    std::unique_lock<std::mutex> lock(pool.mutex);
    if (pool.idle.size() < kMaxIdleSessions) {
        const std::string name = session->m_pConnection->name;
        const bool allowShm = session->m_bAllowShm;
        pool.idle.push_back(SessionPool::Idle{name, allowShm, std::move(session)});
        return;
    }
    lock.unlock();
    session.reset();
}

CX11GrabSession::CX11GrabSession(std::unique_ptr<Connection> connection, bool allowSharedMemory)
    : m_pConnection(std::move(connection)), m_bAllowShm(allowSharedMemory) {
    if (m_bAllowShm && XShmQueryExtension(m_pConnection->display)) {
        Display* display = m_pConnection->display;
        const int screen = DefaultScreen(display);
        // Room for a full-screen grab of 32-bit pixels; grown later if the screen grows.
        AttachSharedMemory(static_cast<size_t>(DisplayWidth(display, screen)) *
                           DisplayHeight(display, screen) * 4);
    }
}

CX11GrabSession::~CX11GrabSession() {
    ReleasePlainImage();
    StopDamage();
    DetachSharedMemory();
}

CXErrorTrap& CX11GrabSession::Errors() {
    return m_pConnection->x.Errors();
}

bool CX11GrabSession::AttachSharedMemory(size_t bytes) {
    Connection& c = *m_pConnection;
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        return false;
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    c.shm.shmid = id;
    c.shm.shmaddr = static_cast<char*>(address);
    c.shm.readOnly = False;
    Errors().Clear();
    // A remote server accepts the extension query but refuses the attach; the refusal comes
    // back as an X error, which the sync lets us see here.
    const bool attached = XShmAttach(c.display, &c.shm) && Errors().SyncWithoutError();
    // Marked for removal now: the segment goes away by itself when both sides detach, also
    // when the process ends without cleaning up.
    shmctl(id, IPC_RMID, nullptr);
    if (!attached) {
        shmdt(address);
        c.shm = XShmSegmentInfo{};
        return false;
    }
    c.shmBytes = bytes;
    m_bShmAttached = true;
    return true;
}

void CX11GrabSession::DetachSharedMemory() {
    Connection& c = *m_pConnection;
    if (c.shmImage != nullptr) {
        c.shmImage->data = nullptr;  // the pixels belong to the segment
        XDestroyImage(c.shmImage);
        c.shmImage = nullptr;
    }
    if (m_bShmAttached) {
        XShmDetach(c.display, &c.shm);
        XSync(c.display, False);
        shmdt(c.shm.shmaddr);
        c.shm = XShmSegmentInfo{};
        c.shmBytes = 0;
        m_bShmAttached = false;
    }
}

bool CX11GrabSession::ScreenRect(CSvRect* screen, std::string* error) {
    Connection& c = *m_pConnection;
    Window root;
    int x, y;
    unsigned width, height, border, depth;
    Errors().Clear();
    if (!XGetGeometry(c.display, c.root, &root, &x, &y, &width, &height, &border, &depth) ||
        Errors().LastErrorCode() != 0) {
        *error = "cannot read the size of the screen";
        return false;
    }
    *screen = CSvRect{0, 0, static_cast<int>(width), static_cast<int>(height)};
    return true;
}

XImage* CX11GrabSession::SharedImage(int width, int height) {
    Connection& c = *m_pConnection;
    if (c.shmImage != nullptr && c.shmImage->width == width && c.shmImage->height == height) {
        return c.shmImage;
    }
    if (c.shmImage != nullptr) {
        c.shmImage->data = nullptr;
        XDestroyImage(c.shmImage);
        c.shmImage = nullptr;
    }
    XImage* image =
        XShmCreateImage(c.display, c.visual, static_cast<unsigned>(c.depth), ZPixmap, nullptr,
                        &c.shm, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr) {
        return nullptr;
    }
    const size_t needed = static_cast<size_t>(image->bytes_per_line) * height;
    if (needed > c.shmBytes) {
        // The screen grew since the segment was made: make a bigger one.
        image->data = nullptr;
        XDestroyImage(image);
        DetachSharedMemory();
        if (!AttachSharedMemory(needed)) {
            return nullptr;
        }
        return SharedImage(width, height);
    }
    image->data = c.shm.shmaddr;
    c.shmImage = image;
    return image;
}

XImage* CX11GrabSession::FetchShared(const CSvRect& area) {
    XImage* image = SharedImage(area.Width(), area.Height());
    if (image == nullptr) {
        return nullptr;
    }
    Errors().Clear();
    if (!XShmGetImage(m_pConnection->display, m_pConnection->root, image, area.left, area.top,
                      AllPlanes) ||
        Errors().LastErrorCode() != 0) {
        return nullptr;
    }
    return image;
}

XImage* CX11GrabSession::FetchPlain(const CSvRect& area) {
    Errors().Clear();
    XImage* image = XGetImage(m_pConnection->display, m_pConnection->root, area.left, area.top,
                              static_cast<unsigned>(area.Width()),
                              static_cast<unsigned>(area.Height()), AllPlanes, ZPixmap);
    if (image != nullptr && Errors().LastErrorCode() != 0) {
        XDestroyImage(image);
        return nullptr;
    }
    return image;
}

void CX11GrabSession::ReleasePlainImage() {
    if (m_plainImage != nullptr) {
        XDestroyImage(m_plainImage);
        m_plainImage = nullptr;
    }
}

XImage* CX11GrabSession::Fetch(const CSvRect& area, std::string* error) {
    ReleasePlainImage();
    bool sharedFailed = false;
    if (m_bShmAttached) {
        if (XImage* image = FetchShared(area)) {
            return image;
        }
        sharedFailed = true;
    }
    XImage* image = FetchPlain(area);
    if (image == nullptr) {
        *error = "the X server refused to give the screen contents (error code " +
                 std::to_string(Errors().LastErrorCode()) + ")";
        return nullptr;
    }
    if (sharedFailed) {
        // The plain request worked where the shared one did not: shared memory is what fails,
        // so this connection stops using it.
        DetachSharedMemory();
    }
    m_plainImage = image;
    return image;
}

bool CX11GrabSession::Grab(const CSvRect& area, cv::Mat& target, std::string* error) {
    XImage* image = Fetch(area, error);
    if (image == nullptr) {
        return false;
    }
    Convert(image, target);
    ReleasePlainImage();
    return true;
}

bool CX11GrabSession::GrabPicture(const CSvRect& area, CBgrxPicture* picture, std::string* error) {
    XImage* image = Fetch(area, error);
    if (image == nullptr) {
        return false;
    }
    if (IsLittleEndianBgrx(image)) {
        *picture = CBgrxPicture{reinterpret_cast<uint8_t*>(image->data), area.Width(),
                                area.Height(), static_cast<size_t>(image->bytes_per_line)};
        return true;
    }
    m_converted.create(area.Height(), area.Width(), CV_8UC4);
    ConvertGeneric(image, m_converted);
    *picture =
        CBgrxPicture{m_converted.data, m_converted.cols, m_converted.rows, m_converted.step[0]};
    return true;
}

bool CX11GrabSession::DrawPointer(const CSvRect& area, cv::Mat& target, std::string* error) {
    if (!ReadPointer(m_pointer, error)) {
        return false;
    }
    m_pointer.Blend(area, target);
    return true;
}

bool CX11GrabSession::ReadPointer(CPointerOverlay& pointer, std::string* error) {
    return pointer.Read(m_pConnection->display, error);
}

bool CX11GrabSession::WindowOrigin(unsigned long window, int* x, int* y, std::string* error) {
    Connection& c = *m_pConnection;
    Window child = 0;
    Errors().Clear();
    if (!XTranslateCoordinates(c.display, window, c.root, 0, 0, x, y, &child) ||
        Errors().LastErrorCode() != 0) {
        *error = "cannot find the window on the screen";
        return false;
    }
    return true;
}

bool CX11GrabSession::StartDamage() {
    if (m_damage != 0) {
        return true;
    }
    Connection& c = *m_pConnection;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XDamageQueryExtension(c.display, &eventBase, &errorBase) ||
        !XDamageQueryVersion(c.display, &major, &minor) ||
        !XFixesQueryExtension(c.display, &eventBase, &errorBase) ||
        !XFixesQueryVersion(c.display, &major, &minor) || major < 2) {
        return false;
    }
    Errors().Clear();
    const Damage damage = XDamageCreate(c.display, c.root, XDamageReportNonEmpty);
    const XserverRegion parts = XFixesCreateRegion(c.display, nullptr, 0);
    if (!Errors().SyncWithoutError()) {
        return false;
    }
    m_damage = damage;
    m_damageParts = parts;
    return true;
}

bool CX11GrabSession::TakeDamage(const CSvRect& area, bool* drawn) {
    if (m_damage == 0) {
        return false;
    }
    Connection& c = *m_pConnection;
    // The notices only say that damage exists; what it covers is fetched below.
    while (XPending(c.display) > 0) {
        XEvent event;
        XNextEvent(c.display, &event);
    }
    Errors().Clear();
    XDamageSubtract(c.display, m_damage, None, m_damageParts);
    int count = 0;
    XRectangle* parts = XFixesFetchRegion(c.display, m_damageParts, &count);
    if (Errors().LastErrorCode() != 0) {
        if (parts != nullptr) {
            XFree(parts);
        }
        return false;
    }
    *drawn = false;
    for (int i = 0; i < count && !*drawn; ++i) {
        const XRectangle& r = parts[i];
        *drawn = area.Overlaps(CSvRect{r.x, r.y, r.x + r.width, r.y + r.height});
    }
    if (parts != nullptr) {
        XFree(parts);
    }
    return true;
}

void CX11GrabSession::StopDamage() {
    if (m_damage == 0) {
        return;
    }
    Connection& c = *m_pConnection;
    XDamageDestroy(c.display, m_damage);
    XFixesDestroyRegion(c.display, m_damageParts);
    XSync(c.display, True);  // drops the notices still queued
    m_damage = 0;
    m_damageParts = 0;
}
