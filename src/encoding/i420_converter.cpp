#include "encoding/i420_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <libyuv/convert_from_argb.h>
#include <opencv2/core/hal/intrin.hpp>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

constexpr int kBgrxBytes = 4;
// Frame rows stretched and converted at a time: even (the colour planes take two rows per
// row), and few enough that the stretched rows of a 4K frame stay in the cache.
constexpr int kStripRows = 16;

// BT.601 limited-range luma, 16 + 0.257 R + 0.504 G + 0.098 B, rounded to the nearest level:
// (257 R + 504 G + 98 B + 16500) / 1000, exactly. libyuv's own luma takes 8-bit coefficients
// and is one level off for several per cent of the colours, which costs the decoded picture
// far more than the rounding does.
constexpr int kLumaRed = 257;
constexpr int kLumaGreen = 504;
constexpr int kLumaBlue = 98;
constexpr int kLumaOffset = 16500;
constexpr int kLumaScale = 1000;

void ConvertLumaRow(const uint8_t* bgrx, uint8_t* luma, int width) {
    int x = 0;
#if CV_SIMD128
    using namespace cv;
    // Each pixel is two 16-bit lanes, blue + 256 green and red + 256 unused: their low bytes
    // (blue, red) and high bytes (green, unused) are weighed pairwise, which leaves one sum
    // per pixel, in pixel order.
    const v_int16x8 blueRed(kLumaBlue, kLumaRed, kLumaBlue, kLumaRed, kLumaBlue, kLumaRed,
                            kLumaBlue, kLumaRed);
    const v_int16x8 greenUnused(kLumaGreen, 0, kLumaGreen, 0, kLumaGreen, 0, kLumaGreen, 0);
    const v_uint16x8 lowByte = v_setall_u16(0xFF);
    // The sum is below 2^18, so the float quotient is exact to far better than the 0.001 that
    // separates it from the next whole level; the small addition keeps whole quotients whole.
    const v_float32x4 inverseScale = v_setall_f32(1.0f / kLumaScale);
    const v_float32x4 offset = v_setall_f32((kLumaOffset + 0.4f) / kLumaScale);
    auto fourLevels = [&](const uint8_t* pixels) {
        const v_uint16x8 lanes = v_load(reinterpret_cast<const ushort*>(pixels));
        const v_int32x4 sum = v_dotprod(v_reinterpret_as_s16(lanes & lowByte), blueRed) +
                              v_dotprod(v_reinterpret_as_s16(lanes >> 8), greenUnused);
        return v_trunc(v_cvt_f32(sum) * inverseScale + offset);
    };
    for (; x + 16 <= width; x += 16) {
        const uint8_t* p = bgrx + static_cast<size_t>(x) * kBgrxBytes;
        v_store(luma + x, v_pack_u(v_pack(fourLevels(p), fourLevels(p + 16)),
                                   v_pack(fourLevels(p + 32), fourLevels(p + 48))));
    }
#endif
    for (; x < width; ++x) {
        const uint8_t* p = bgrx + static_cast<size_t>(x) * kBgrxBytes;
        luma[x] = static_cast<uint8_t>(
            (kLumaBlue * p[0] + kLumaGreen * p[1] + kLumaRed * p[2] + kLumaOffset) / kLumaScale);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same row, 32 pixels at a time, where the processor has AVX2: half the time of the
// portable row above, which OpenCV's headers build for SSE2 only.
__attribute__((target("avx2"))) __m256i EightLumaLevels(const uint8_t* pixels) {
    const __m256i lanes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
    const __m256i sum = _mm256_add_epi32(
        _mm256_madd_epi16(_mm256_and_si256(lanes, _mm256_set1_epi16(0xFF)),
                          _mm256_set1_epi32(kLumaRed << 16 | kLumaBlue)),
        _mm256_madd_epi16(_mm256_srli_epi16(lanes, 8), _mm256_set1_epi32(kLumaGreen)));
    const __m256 scaled =
        _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(1.0f / kLumaScale)),
                      _mm256_set1_ps((kLumaOffset + 0.4f) / kLumaScale));
    return _mm256_cvttps_epi32(scaled);
}

__attribute__((target("avx2"))) void ConvertLumaRowAvx2(const uint8_t* bgrx, uint8_t* luma,
                                                        int width) {
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* p = bgrx + static_cast<size_t>(x) * kBgrxBytes;
        // Packing works within each 128-bit half: the words come out in the order
        // 0-3 8-11 | 4-7 12-15 per pair, which the final permutation puts right.
        const __m256i low = _mm256_packs_epi32(EightLumaLevels(p), EightLumaLevels(p + 32));
        const __m256i high = _mm256_packs_epi32(EightLumaLevels(p + 64), EightLumaLevels(p + 96));
        const __m256i bytes = _mm256_packus_epi16(low, high);
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(luma + x),
            _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
    }
    ConvertLumaRow(bgrx + static_cast<size_t>(x) * kBgrxBytes, luma + x, width - x);
}
#endif

using LumaRow = void (*)(const uint8_t*, uint8_t*, int);

LumaRow ChooseLumaRow() {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return ConvertLumaRowAvx2;
    }
#endif
    return ConvertLumaRow;
}

}  // namespace

bool CI420Converter::CreateFrame(int frameWidth, int frameHeight, cv::Mat& frame) {
    if (frameWidth <= 0 || frameHeight <= 0 || frameWidth % 2 != 0 || frameHeight % 2 != 0) {
        return false;
    }
    frame.create(frameHeight * 3 / 2, frameWidth, CV_8UC1);
    return true;
}

int CI420Converter::SourceIndexOf(int targetIndex, int sourceLength, int targetLength) {
    // The same arithmetic as OpenCV's nearest-neighbour resize.
    const double scale = static_cast<double>(targetLength) / sourceLength;
    const int index = static_cast<int>(std::floor(targetIndex * (1.0 / scale)));
    return std::min(index, sourceLength - 1);
}

void CI420Converter::PrepareColumns(int sourceWidth, int targetWidth) {
    m_runs.clear();
    for (int x = 0; x < targetWidth; ++x) {
        const int sx = SourceIndexOf(x, sourceWidth, targetWidth);
        if (!m_runs.empty() && m_runs.back().sourceX + m_runs.back().length == sx) {
            ++m_runs.back().length;
            continue;
        }
        m_runs.push_back(Run{x, sx, 1});
    }
    m_sourceWidth = sourceWidth;
    m_targetWidth = targetWidth;
    m_strip.resize(static_cast<size_t>(targetWidth) * kBgrxBytes * kStripRows);
}

void CI420Converter::PrepareRows(int sourceHeight, int targetHeight) {
    m_sourceRows.resize(static_cast<size_t>(targetHeight));
    for (int y = 0; y < targetHeight; ++y) {
        m_sourceRows[static_cast<size_t>(y)] = SourceIndexOf(y, sourceHeight, targetHeight);
    }
    m_sourceHeight = sourceHeight;
}

void CI420Converter::StretchRow(const uint8_t* source, uint8_t* target) const {
    for (const Run& run : m_runs) {
        std::memcpy(target + static_cast<size_t>(run.targetX) * kBgrxBytes,
                    source + static_cast<size_t>(run.sourceX) * kBgrxBytes,
                    static_cast<size_t>(run.length) * kBgrxBytes);
    }
}

void CI420Converter::ConvertRows(const uint8_t* bgrx, size_t stride, int rows, uint8_t* luma,
                                 uint8_t* blue, uint8_t* red, int width) {
    // libyuv averages each 2 x 2 block's colour; its luma is then replaced by the exact one.
    libyuv::ARGBToI420(bgrx, static_cast<int>(stride), luma, width, blue, width / 2, red, width / 2,
                       width, rows);
    static const LumaRow convertLumaRow = ChooseLumaRow();
    for (int i = 0; i < rows; ++i) {
        convertLumaRow(bgrx + static_cast<size_t>(i) * stride,
                       luma + static_cast<size_t>(i) * width, width);
    }
}

bool CI420Converter::Convert(const CBgrxPicture& source, cv::Mat& frame) {
    const int width = FrameWidthOf(frame);
    const int height = FrameHeightOf(frame);
    if (source.IsEmpty() || frame.type() != CV_8UC1 || width <= 0 || height <= 0) {
        return false;
    }
    uint8_t* luma = frame.data;
    uint8_t* blue = luma + static_cast<size_t>(width) * height;
    uint8_t* red = blue + static_cast<size_t>(width / 2) * (height / 2);
    const bool sameSize = source.width == width && source.height == height;
    if (!sameSize && (source.width != m_sourceWidth || width != m_targetWidth)) {
        PrepareColumns(source.width, width);
    }
    if (!sameSize &&
        (source.height != m_sourceHeight || static_cast<int>(m_sourceRows.size()) != height)) {
        PrepareRows(source.height, height);
    }
    const size_t stripStride = static_cast<size_t>(width) * kBgrxBytes;
    for (int top = 0; top < height; top += kStripRows) {
        const int rows = std::min(kStripRows, height - top);
        const uint8_t* bgrx = source.pixels + static_cast<size_t>(top) * source.stride;
        size_t stride = source.stride;
        if (!sameSize) {
            for (int i = 0; i < rows; ++i) {
                const int sourceRow = m_sourceRows[static_cast<size_t>(top + i)];
                StretchRow(source.pixels + static_cast<size_t>(sourceRow) * source.stride,
                           m_strip.data() + static_cast<size_t>(i) * stripStride);
            }
            bgrx = m_strip.data();
            stride = stripStride;
        }
        const size_t chromaOffset = static_cast<size_t>(top / 2) * (width / 2);
        ConvertRows(bgrx, stride, rows, luma + static_cast<size_t>(top) * width,
                    blue + chromaOffset, red + chromaOffset, width);
    }
    return true;
}
