#include "imaging/sv_image.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Edge masks of DetectEdge, row by row.
const float mask_Prewitt_X[9] = {-1, 0, 1, -1, 0, 1, -1, 0, 1};
const float mask_Prewitt_Y[9] = {1, 1, 1, 0, 0, 0, -1, -1, -1};
const float mask_Roberts_X[9] = {0, 0, -1, 0, 1, 0, 0, 0, 0};
const float mask_Roberts_Y[9] = {-1, 0, 0, 0, 1, 0, 0, 0, 0};
const float mask_DOG[49] = {
    0,  0,  -1, -1, -1, 0,  0,   //
    0,  -2, -3, -3, -3, -2, 0,   //
    -1, -3, 5,  5,  5,  -3, -1,  //
    -1, -3, 5,  16, 5,  -3, -1,  //
    -1, -3, 5,  5,  5,  -3, -1,  //
    0,  -2, -3, -3, -3, -2, 0,   //
    0,  0,  -1, -1, -1, 0,  0,
};

constexpr int kChannelBlue = 0;
constexpr int kChannelGreen = 1;
constexpr int kChannelRed = 2;

bool IsOneChannel8U(const cv::Mat& image) {
    return image.type() == CV_8UC1;
}

// Source column (or row) of a target column (or row) when length pixels are stretched over
// targetLength: the same arithmetic as cv::resize with INTER_NEAREST.
int NearestSource(long long target, int length, long long targetLength) {
    const double inverse = 1.0 / (static_cast<double>(targetLength) / length);
    return static_cast<int>(
        std::min<long long>(static_cast<long long>(std::floor(target * inverse)), length - 1));
}

std::string Extension(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string();
    }
    return path.substr(dot);
}

// Writes all of bytes to file and closes it: 0, or the errno of what failed.
int WriteAndClose(FILE* file, const std::vector<uchar>& bytes) {
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int writeErrno = written ? 0 : errno;
    if (std::fclose(file) != 0 && written) {
        writeErrno = errno;
    }
    return writeErrno;
}

// Bytes the system can still give this process without swapping, from /proc/meminfo; -1 when
// unknown.
long long AvailableMemory() {
    FILE* info = std::fopen("/proc/meminfo", "r");
    if (info == nullptr) {
        return -1;
    }
    long long kib = -1;
    char line[256];
    while (std::fgets(line, sizeof line, info) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) {
            break;
        }
    }
    std::fclose(info);
    return kib < 0 ? -1 : kib * 1024;
}

std::string Gigabytes(long long bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

}  // namespace

std::string StillSizeProblem(long long width, long long height, const std::string& path) {
    const long long pixels = width * height;
    const std::string extension = Extension(path);
    const bool bmp = extension.empty() || strcasecmp(extension.c_str(), ".bmp") == 0;
    const long long bmpBytes = ((width * 3 + 3) / 4 * 4) * height + 54;
    if (bmp && bmpBytes > INT_MAX) {
        return "a " + std::to_string(width) + "x" + std::to_string(height) + " still needs a " +
               Gigabytes(bmpBytes) + " BMP file; the format holds at most 2.1 GB";
    }
    // The 32-bit grab, the 24-bit image and the encoded file are held at once.
    const long long needed = pixels * (4 + 3 + 3);
    const long long available = AvailableMemory();
    if (available >= 0 && needed > available) {
        return "a " + std::to_string(width) + "x" + std::to_string(height) + " still needs about " +
               Gigabytes(needed) + " of memory; " + Gigabytes(available) + " is available";
    }
    return std::string();
}

CSvImage::CSvImage() : m_pImage(nullptr), m_bHasImage(0), m_bBottomUp(0) {}

CSvImage::~CSvImage() {
    Release();
}

long long CSvImage::AlignedRowStep(int width, int elemSize) {
    return (static_cast<long long>(width) * elemSize + 3) & ~3LL;
}

cv::Mat CSvImage::AllocateAligned(int width, int height, int type) {
    const long long stepBytes = AlignedRowStep(width, static_cast<int>(CV_ELEM_SIZE(type)));
    if (stepBytes > INT_MAX) {
        // Like any allocation OpenCV refuses: the callers catch it.
        CV_Error(cv::Error::StsOutOfRange, "image rows too long");
    }
    cv::Mat buffer(height, static_cast<int>(stepBytes), CV_8UC1);
    // A plain header over the buffer, not a column range of it: OpenCV's filters read the pixels
    // around a sub-matrix as its border, and the row padding must never be taken for pixels.
    // The header shares the buffer's reference count, so it owns the pixels like any cv::Mat.
    cv::Mat image(height, width, type, buffer.data, static_cast<size_t>(stepBytes));
    image.u = buffer.u;
    image.addref();
    return image;
}

void CSvImage::Hold(const cv::Mat& aligned) {
    m_image = aligned;
    m_pImage = &m_image;
    m_bHasImage = 1;
}

void CSvImage::Fail(const std::string& reason) const {
    m_strLastError = reason;
}

void CSvImage::Release() {
    if (m_bHasImage == 1) {
        m_image.release();
        m_pImage = nullptr;
        m_bHasImage = 0;
    }
}

void CSvImage::Create(int width, int height, int channels) {
    if (width <= 0 || height <= 0 || channels < 1 || channels > 4) {
        Fail("cannot create a " + std::to_string(width) + " x " + std::to_string(height) + " x " +
             std::to_string(channels) + " image");
        return;
    }
    Release();
    try {
        cv::Mat image = AllocateAligned(width, height, CV_8UC(channels));
        // Zero the padding too, so the whole pixel buffer is defined.
        std::memset(image.data, 0, image.step[0] * static_cast<size_t>(height));
        Hold(image);
        m_strLastError.clear();
    } catch (const std::exception& e) {
        Fail(std::string("cannot allocate the image: ") + e.what());
    }
}

void CSvImage::CopyFrom(const cv::Mat* source) {
    if (source == nullptr || source->empty() || source->dims != 2 || source->channels() > 4) {
        Fail("nothing to copy from");
        return;
    }
    try {
        cv::Mat copy = AllocateAligned(source->cols, source->rows, source->type());
        source->copyTo(copy);
        Release();
        Hold(copy);
    } catch (const std::exception& e) {
        Fail(std::string("cannot copy the image: ") + e.what());
    }
}

void CSvImage::CopyFrom(const CSvImage& source) {
    if (&source == this) {
        return;
    }
    CopyFrom(source.m_bHasImage ? source.m_pImage : nullptr);
}

void CSvImage::Resize(int width, int height) {
    if (!m_bHasImage) {
        return;
    }
    if (width <= 0 || height <= 0) {
        Fail("cannot resize to " + std::to_string(width) + " x " + std::to_string(height));
        return;
    }
    try {
        cv::Mat resized = AllocateAligned(width, height, m_image.type());
        cv::resize(m_image, resized, resized.size(), 0, 0, cv::INTER_NEAREST);
        Release();
        Hold(resized);
    } catch (const std::exception& e) {
        Fail(std::string("cannot resize the image: ") + e.what());
    }
}

bool CSvImage::Encode(const std::string& path, std::vector<uchar>* encoded) const {
    if (!m_bHasImage) {
        Fail("there is no image to save");
        return false;
    }
    try {
        if (!cv::imencode(Extension(path), m_image, *encoded)) {
            Fail("cannot encode the image for " + path);
            return false;
        }
    } catch (const cv::Exception&) {
        Fail("no image format for the file name " + path);
        return false;
    }
    return true;
}

int CSvImage::Save(std::string path) {
    std::vector<uchar> encoded;
    if (!Encode(path, &encoded)) {
        return 0;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        Fail("cannot open " + path + ": " + std::strerror(errno));
        return 0;
    }
    const int writeErrno = WriteAndClose(file, encoded);
    if (writeErrno != 0) {
        std::remove(path.c_str());
        Fail("cannot write " + path + ": " + std::strerror(writeErrno));
        return 0;
    }
    m_strLastError.clear();
    return 1;
}

int CSvImage::SaveTo(int fd, const std::string& path) {
    std::vector<uchar> encoded;
    if (!Encode(path, &encoded)) {
        return 0;
    }
    const int copy = ::dup(fd);
    FILE* file = copy >= 0 ? ::fdopen(copy, "wb") : nullptr;
    if (file == nullptr) {
        const int openErrno = errno;
        if (copy >= 0) {
            ::close(copy);
        }
        Fail("cannot write " + path + ": " + std::strerror(openErrno));
        return 0;
    }
    const int writeErrno = WriteAndClose(file, encoded);
    if (writeErrno != 0) {
        Fail("cannot write " + path + ": " + std::strerror(writeErrno));
        return 0;
    }
    m_strLastError.clear();
    return 1;
}

int CSvImage::Load(std::string path) {
    Release();
    cv::Mat loaded;
    try {
        loaded = cv::imread(path, cv::IMREAD_COLOR);
    } catch (const cv::Exception& e) {
        loaded.release();
    }
    if (loaded.empty()) {
        Fail("cannot read an image from " + path);
        return 0;
    }
    CopyFrom(&loaded);
    if (m_bHasImage) {
        m_strLastError.clear();
    }
    return m_bHasImage;
}

int CSvImage::GetWidth() const {
    return m_bHasImage ? m_image.cols : 0;
}

int CSvImage::GetHeight() const {
    return m_bHasImage ? m_image.rows : 0;
}

int CSvImage::GetChannels() const {
    return m_bHasImage ? m_image.channels() : 0;
}

uint8_t* CSvImage::GetRow(int y) {
    if (!m_bHasImage || y < 0 || y >= m_image.rows) {
        return nullptr;
    }
    return m_image.ptr<uint8_t>(y);
}

const uint8_t* CSvImage::GetRow(int y) const {
    if (!m_bHasImage || y < 0 || y >= m_image.rows) {
        return nullptr;
    }
    return m_image.ptr<uint8_t>(y);
}

int CSvImage::GetRowStep() const {
    return m_bHasImage ? static_cast<int>(m_image.step[0]) : 0;
}

void CSvImage::CopyTo(CSvImage& target) const {
    if (m_bHasImage && &target != this) {
        target.CopyFrom(m_pImage);
    }
}

void CSvImage::CopyTo(cv::Mat*& target) const {
    if (!m_bHasImage) {
        return;
    }
    cv::Mat copy = AllocateAligned(m_image.cols, m_image.rows, CV_8UC(m_image.channels()));
    m_image.convertTo(copy, copy.type());
    target = new cv::Mat(copy);
}

bool CSvImage::InRange(int x, int y, int channel) const {
    // Positions outside the image, and channels the image does not have, read as 0.
    return x >= 0 && m_bHasImage && y >= 0 && x < m_image.cols && y < m_image.rows &&
           channel < m_image.channels();
}

uint8_t CSvImage::GetRed(int x, int y) const {
    return InRange(x, y, kChannelRed) ? m_image.ptr<uint8_t>(y)[x * m_image.channels() + 2] : 0;
}

uint8_t CSvImage::GetGreen(int x, int y) const {
    return InRange(x, y, kChannelGreen) ? m_image.ptr<uint8_t>(y)[x * m_image.channels() + 1] : 0;
}

uint8_t CSvImage::GetBlue(int x, int y) const {
    return InRange(x, y, kChannelBlue) ? m_image.ptr<uint8_t>(y)[x * m_image.channels()] : 0;
}

void CSvImage::SetRed(int x, int y, uint8_t value) {
    if (InRange(x, y, kChannelRed)) {
        m_image.ptr<uint8_t>(y)[x * m_image.channels() + 2] = value;
    }
}

void CSvImage::SetGreen(int x, int y, uint8_t value) {
    if (InRange(x, y, kChannelGreen)) {
        m_image.ptr<uint8_t>(y)[x * m_image.channels() + 1] = value;
    }
}

void CSvImage::SetBlue(int x, int y, uint8_t value) {
    if (InRange(x, y, kChannelBlue)) {
        m_image.ptr<uint8_t>(y)[x * m_image.channels()] = value;
    }
}

void CSvImage::DerivativeEdge(int method) {
    // Sobel, Laplace and Canny work on one 8-bit channel; borders repeat the edge pixels.
    if (!IsOneChannel8U(m_image)) {
        Fail("edge method " + std::to_string(method) + " needs a one-channel 8-bit image");
        return;
    }
    cv::Mat derivative;
    switch (method) {
        case 0:
            cv::Sobel(m_image, derivative, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_REPLICATE);
            break;
        case 1:
            cv::Sobel(m_image, derivative, CV_16S, 0, 1, 3, 1, 0, cv::BORDER_REPLICATE);
            break;
        case 2:
            cv::Sobel(m_image, derivative, CV_16S, 1, 1, 5, 1, 0, cv::BORDER_REPLICATE);
            break;
        case 7:
            cv::Laplacian(m_image, derivative, CV_16S, 3, 1, 0, cv::BORDER_REPLICATE);
            break;
        case 8: {
            cv::Mat edges;
            cv::Canny(m_image, edges, 10.0, 30.0, 3);
            edges.copyTo(m_image);
            return;
        }
    }
    derivative.convertTo(m_image, CV_8U);  // saturating, into the held buffer
}

cv::Mat* CSvImage::DetectEdge(int method) {
    if (!m_bHasImage) {
        return m_pImage;
    }
    switch (static_cast<unsigned>(method)) {
        case 0:
        case 1:
        case 2:
        case 7:
        case 8:
            DerivativeEdge(method);
            break;
        case 3:
            ApplyMask(mask_Prewitt_X, 3, 3, nullptr);
            break;
        case 4:
            ApplyMask(mask_Prewitt_Y, 3, 3, nullptr);
            break;
        case 5:
            ApplyMask(mask_Roberts_X, 3, 3, nullptr);
            break;
        case 6:
            ApplyMask(mask_Roberts_Y, 3, 3, nullptr);
            break;
        case 9:
            ApplyMask(mask_DOG, 7, 7, nullptr);
            break;
        default:
            break;
    }
    return m_pImage;
}

void CSvImage::FilterInPlace(const cv::Mat& kernel, cv::Mat& plane) const {
    cv::Mat filtered;
    cv::filter2D(plane, filtered, plane.depth(), kernel, cv::Point(-1, -1), 0,
                 cv::BORDER_REPLICATE);
    filtered.copyTo(plane);
}

void CSvImage::ApplyMask(const float* mask, int rows, int cols, CSvImage* target) {
    if (!m_bHasImage) {
        return;
    }
    if (mask == nullptr || rows <= 0 || cols <= 0) {
        Fail("the mask is empty");
        return;
    }
    cv::Mat kernel(rows, cols, CV_32FC1);
    std::memcpy(kernel.data, mask, sizeof(float) * static_cast<size_t>(rows) * cols);

    if (m_image.channels() == 1) {
        CSvImage& out = target != nullptr ? *target : *this;
        if (!out.m_bHasImage) {
            out.Create(m_image.cols, m_image.rows, 1);
        }
        if (!out.m_bHasImage || out.m_image.size() != m_image.size() ||
            out.m_image.channels() != 1) {
            Fail("the mask target does not match the image");
            return;
        }
        cv::Mat filtered;
        cv::filter2D(m_image, filtered, out.m_image.depth(), kernel, cv::Point(-1, -1), 0,
                     cv::BORDER_REPLICATE);
        filtered.copyTo(out.m_image);
        return;
    }
    CSvImage red, green, blue;
    SplitChannels(red, green, blue);
    if (!red.m_bHasImage) {
        return;  // SplitChannels recorded why
    }
    FilterInPlace(kernel, red.m_image);
    FilterInPlace(kernel, green.m_image);
    FilterInPlace(kernel, blue.m_image);
    (target != nullptr ? *target : *this).MergeChannels(red, green, blue);
}

void CSvImage::SplitChannels(CSvImage& red, CSvImage& green, CSvImage& blue) {
    if (!m_bHasImage) {
        return;
    }
    if (m_image.depth() != CV_8U || m_image.channels() < 3) {
        Fail("splitting needs an 8-bit image with at least 3 channels");
        return;
    }
    cv::Mat planes[3];
    for (int channel = 0; channel < 3; ++channel) {
        cv::extractChannel(m_image, planes[channel], channel);
    }
    // Copy out first: one of the targets may be this container.
    red.CopyFrom(&planes[kChannelRed]);
    green.CopyFrom(&planes[kChannelGreen]);
    blue.CopyFrom(&planes[kChannelBlue]);
}

void CSvImage::MergeChannels(CSvImage& red, CSvImage& green, CSvImage& blue) {
    const CSvImage* sources[3] = {&blue, &green, &red};
    for (const CSvImage* source : sources) {
        if (!source->m_bHasImage || !IsOneChannel8U(source->m_image) ||
            source->m_image.size() != red.m_image.size()) {
            Fail("merging needs three one-channel 8-bit images of the same size");
            return;
        }
    }
    cv::Mat merged = AllocateAligned(red.m_image.cols, red.m_image.rows, CV_8UC3);
    cv::Mat planes[3] = {blue.m_image, green.m_image, red.m_image};
    cv::merge(planes, 3, merged);
    Release();
    Hold(merged);
}

cv::Mat* CSvImage::ConvertToGray() {
    if (!m_bHasImage) {
        return m_pImage;
    }
    if (m_image.depth() != CV_8U || m_image.channels() < 3) {
        Fail("gray conversion needs an 8-bit colour image");
        return m_pImage;
    }
    // The channels are read as red, green, blue in that order, as the program always has.
    cv::Mat gray = AllocateAligned(m_image.cols, m_image.rows, CV_8UC1);
    cv::cvtColor(m_image, gray, m_image.channels() == 3 ? cv::COLOR_RGB2GRAY : cv::COLOR_RGBA2GRAY);
    Release();
    Hold(gray);
    return m_pImage;
}

cv::Mat* CSvImage::ConvertToColor() {
    if (!m_bHasImage) {
        return m_pImage;
    }
    if (!IsOneChannel8U(m_image)) {
        Fail("colour conversion needs a one-channel 8-bit image");
        return m_pImage;
    }
    cv::Mat color = AllocateAligned(m_image.cols, m_image.rows, CV_8UC3);
    cv::cvtColor(m_image, color, cv::COLOR_GRAY2BGR);
    Release();
    Hold(color);
    return m_pImage;
}

cv::Mat* CSvImage::ConvertToHSV() {
    if (!m_bHasImage) {
        return m_pImage;
    }
    if (m_image.type() != CV_8UC3) {
        Fail("HSV conversion needs a 3-channel 8-bit image");
        return m_pImage;
    }
    cv::Mat hsv;
    cv::cvtColor(m_image, hsv, cv::COLOR_BGR2HSV);
    hsv.copyTo(m_image);
    return m_pImage;
}

cv::Mat* CSvImage::Threshold(float threshold, float maxValue, int type) {
    if (!m_bHasImage) {
        return m_pImage;
    }
    const int flags = type & ~cv::THRESH_MASK;
    const bool known = (type & cv::THRESH_MASK) <= cv::THRESH_TOZERO_INV &&
                       (flags == 0 || flags == cv::THRESH_OTSU || flags == cv::THRESH_TRIANGLE);
    if (!known) {
        Fail("unknown threshold type " + std::to_string(type));
        return m_pImage;
    }
    try {
        cv::Mat result;
        cv::threshold(m_image, result, threshold, maxValue, type);
        result.copyTo(m_image);
    } catch (const cv::Exception& e) {
        Fail("threshold type " + std::to_string(type) + " does not apply to this image");
    }
    return m_pImage;
}

void CSvImage::Flip(int mode) {
    if (m_bHasImage) {
        cv::Mat flipped;
        cv::flip(m_image, flipped, mode);
        flipped.copyTo(m_image);
    }
}

void CSvImage::Show(cv::Mat& canvas, int x, int y) const {
    if (m_bHasImage) {
        DrawToRect(canvas, CSvRect{x, y, x + m_image.cols, y + m_image.rows});
    }
}

void CSvImage::Show(cv::Mat* canvas, int x, int y) const {
    if (canvas != nullptr) {
        Show(*canvas, x, y);
    }
}

void CSvImage::DrawToRect(cv::Mat& canvas, CSvRect rect) const {
    const int channels = GetChannels();
    if (rect.IsEmpty() || canvas.type() != CV_8UC4 || m_image.depth() != CV_8U ||
        (channels != 1 && channels != 3 && channels != 4)) {
        return;
    }
    // Only the canvas pixels inside rect are computed, so a rectangle far larger than the canvas
    // (or than an int can measure) costs no more than the canvas itself.
    const int left = std::max(rect.left, 0), top = std::max(rect.top, 0);
    const int right = std::min(rect.right, canvas.cols),
              bottom = std::min(rect.bottom, canvas.rows);
    if (left >= right || top >= bottom) {
        return;
    }
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    std::vector<int> sourceX(static_cast<size_t>(right - left));
    for (int x = left; x < right; ++x) {
        sourceX[x - left] =
            NearestSource(x - static_cast<long long>(rect.left), m_image.cols, width);
    }
    for (int y = top; y < bottom; ++y) {
        const uint8_t* from = m_image.ptr<uint8_t>(
            NearestSource(y - static_cast<long long>(rect.top), m_image.rows, height));
        cv::Vec4b* to = canvas.ptr<cv::Vec4b>(y);
        for (int x = left; x < right; ++x) {
            const uint8_t* pixel = from + sourceX[x - left] * channels;
            to[x] = channels == 1 ? cv::Vec4b(pixel[0], pixel[0], pixel[0], 255)
                                  : cv::Vec4b(pixel[0], pixel[1], pixel[2], 255);
        }
    }
}
