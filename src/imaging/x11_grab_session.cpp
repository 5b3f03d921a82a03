#include "imaging/x11_grab_session.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace {

// --- process-wide X error handling for our own connections ---

std::mutex g_handlerMutex;
std::map<Display*, CX11GrabSession*> g_sessionsByDisplay;
XErrorHandler g_previousHandler = nullptr;

int OnXError(Display* display, XErrorEvent* event) {
    XErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        auto found = g_sessionsByDisplay.find(display);
        if (found != g_sessionsByDisplay.end()) {
            found->second->RecordError(event->error_code);
            return 0;
        }
        previous = g_previousHandler;
    }
    return previous != nullptr ? previous(display, event) : 0;
}

// A lost X server (the session ended) on one of our connections: the grab fails, and the
// process is not ended from the grabbing thread (Xlib's default), so whoever ends it can
// still finish a recording. Other connections keep the handler they had.
XIOErrorHandler g_previousIoHandler = nullptr;

int OnXIOError(Display* display) {
    XIOErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        if (g_sessionsByDisplay.count(display) != 0) {
            return 0;
        }
        previous = g_previousIoHandler;
    }
    return previous != nullptr ? previous(display) : 0;
}

// Puts our handlers in front again if someone replaced them since, keeping theirs for the
// connections that are not ours.
void InstallErrorHandler() {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    XErrorHandler previous = XSetErrorHandler(OnXError);
    if (previous != OnXError) {
        g_previousHandler = previous;
    }
    XIOErrorHandler previousIo = XSetIOErrorHandler(OnXIOError);
    if (previousIo != OnXIOError) {
        g_previousIoHandler = previousIo;
    }
}

void Register(Display* display, CX11GrabSession* session) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_sessionsByDisplay[display] = session;
}

// Only if the entry is still this session's: a connection opened meanwhile may have been given
// the same address.
void Unregister(Display* display, CX11GrabSession* session) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    auto found = g_sessionsByDisplay.find(display);
    if (found != g_sessionsByDisplay.end() && found->second == session) {
        g_sessionsByDisplay.erase(found);
    }
}

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
    unsigned long max = mask >> shift;
    return static_cast<uint8_t>(((pixel & mask) >> shift) * 255 / max);
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
    Display* display = nullptr;
    Window root = 0;
    Visual* visual = nullptr;
    int depth = 0;
    std::string name;
    XShmSegmentInfo shm{};
    size_t shmBytes = 0;
    XImage* shmImage = nullptr;  // header over the segment, for the last grab size

    ~Connection() {
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
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
                lock.unlock();
                InstallErrorHandler();  // another library may have set its own since
                return session;
            }
        }
    }
    if (name.empty()) {
        *error = "no X display: DISPLAY is not set";
        return nullptr;
    }
    static std::once_flag threadsInitialised;
    std::call_once(threadsInitialised, [] { XInitThreads(); });

    auto connection = std::make_unique<Connection>();
    connection->name = name;
    connection->display = XOpenDisplay(name.c_str());
    if (connection->display == nullptr) {
        *error = "cannot open the X display \"" + name + "\"";
        return nullptr;
    }
    InstallErrorHandler();
    XSetIOErrorExitHandler(
        connection->display, [](Display*, void*) {}, nullptr);  // see OnXIOError
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
    Register(m_pConnection->display, this);
    if (m_bAllowShm && XShmQueryExtension(m_pConnection->display)) {
        Display* display = m_pConnection->display;
        const int screen = DefaultScreen(display);
        // Room for a full-screen grab of 32-bit pixels; grown later if the screen grows.
        AttachSharedMemory(static_cast<size_t>(DisplayWidth(display, screen)) *
                           DisplayHeight(display, screen) * 4);
    }
}

CX11GrabSession::~CX11GrabSession() {
    DetachSharedMemory();
    // Closed while still registered, so that errors met on the way out stay ours.
    Display* display = m_pConnection->display;
    m_pConnection.reset();
    Unregister(display, this);
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
    m_nLastErrorCode = 0;
    // A remote server accepts the extension query but refuses the attach; the refusal comes
    // back as an X error, which XSync lets us see here.
    const bool attached =
        XShmAttach(c.display, &c.shm) && (XSync(c.display, False), true) && m_nLastErrorCode == 0;
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
    m_nLastErrorCode = 0;
    if (!XGetGeometry(c.display, c.root, &root, &x, &y, &width, &height, &border, &depth) ||
        m_nLastErrorCode != 0) {
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
    m_nLastErrorCode = 0;
    if (!XShmGetImage(m_pConnection->display, m_pConnection->root, image, area.left, area.top,
                      AllPlanes) ||
        m_nLastErrorCode != 0) {
        return nullptr;
    }
    return image;
}

XImage* CX11GrabSession::FetchPlain(const CSvRect& area) {
    m_nLastErrorCode = 0;
    XImage* image = XGetImage(m_pConnection->display, m_pConnection->root, area.left, area.top,
                              static_cast<unsigned>(area.Width()),
                              static_cast<unsigned>(area.Height()), AllPlanes, ZPixmap);
    if (image != nullptr && m_nLastErrorCode != 0) {
        XDestroyImage(image);
        return nullptr;
    }
    return image;
}

bool CX11GrabSession::Grab(const CSvRect& area, cv::Mat& target, std::string* error) {
    bool sharedFailed = false;
    if (m_bShmAttached) {
        if (XImage* image = FetchShared(area)) {
            Convert(image, target);
            return true;
        }
        sharedFailed = true;
    }
    XImage* image = FetchPlain(area);
    if (image == nullptr) {
        *error = "the X server refused to give the screen contents (error code " +
                 std::to_string(m_nLastErrorCode.load()) + ")";
        return false;
    }
    Convert(image, target);
    XDestroyImage(image);
    if (sharedFailed) {
        // The plain request worked where the shared one did not: shared memory is what fails,
        // so this connection stops using it.
        DetachSharedMemory();
    }
    return true;
}
