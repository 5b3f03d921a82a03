#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "imaging/sv_rect.h"

// Owns at most one image and offers whole-image operations on it.
//
// The held image is a cv::Mat with rows top-down whose row step is always a multiple of 4 bytes,
// so a W x H x 3 image has the same layout as a 24-bit bitmap row (3*W rounded up to 4).
// m_pImage points at the held cv::Mat while there is an image and is null otherwise; other code
// reads and writes pixel rows through m_pImage->data, m_pImage->step[0] and m_pImage->rows (or
// GetRow / GetRowStep). Images created here are 8-bit unsigned; CopyFrom and Resize keep the
// depth of the image they are given.
//
// Operations on an empty container do nothing (those with a pointer result return null).
// Operations given arguments they cannot work with (wrong channel count or depth, mismatched
// sizes, non-positive sizes, unknown types) throw nothing and leave the held image unchanged;
// they, and a failed Load or Save, record a readable reason in GetLastError().
class CSvImage {
public:
    CSvImage();
    virtual ~CSvImage();
    CSvImage(const CSvImage&) = delete;
    CSvImage& operator=(const CSvImage&) = delete;

    // --- main line ---
    // A zero-filled width x height 8-bit image with the given channel count (1 to 4).
    void Create(int width, int height, int channels);
    // Nearest-neighbour resize to width x height; always yields a fresh image.
    void Resize(int width, int height);
    // Writes the image in the format named by the path's extension (".bmp": 24-bit BMP for a
    // 3-channel image). Nonzero on success; 0 when empty or on failure, leaving no partial file.
    int Save(std::string path);
    // The same, written through fd (open for writing, at its current position) instead of a
    // file opened by name; `path` names the format and the file in error texts. On failure
    // the descriptor's file may hold part of the image.
    int SaveTo(int fd, const std::string& path);
    void Release();
    // Deep copy of source (any depth, 1 to 4 channels); an empty source leaves this unchanged.
    void CopyFrom(const cv::Mat* source);
    void CopyFrom(const CSvImage& source);
    int GetWidth() const;
    int GetHeight() const;
    int GetChannels() const;  // 0 when empty
    int HasImage() const { return m_bHasImage; }

    // Row access for code that moves whole rows (null / 0 when empty or y out of range).
    uint8_t* GetRow(int y);
    const uint8_t* GetRow(int y) const;
    int GetRowStep() const;

    // --- copying and loading ---
    void CopyTo(CSvImage& target) const;
    // Gives the caller a new 8-bit copy of the held image in target; target unchanged when empty.
    void CopyTo(cv::Mat*& target) const;
    // Reads an image file as 3 channels (blue, green, red). 1 if an image was read, else 0 and
    // the container is left empty.
    int Load(std::string path);

    // --- pixel access (channel 2, 1, 0); out-of-range positions read 0 and write nothing ---
    uint8_t GetRed(int x, int y) const;
    uint8_t GetGreen(int x, int y) const;
    uint8_t GetBlue(int x, int y) const;
    void SetRed(int x, int y, uint8_t value);
    void SetGreen(int x, int y, uint8_t value);
    void SetBlue(int x, int y, uint8_t value);

    // --- filters ---
    // 0..2 Sobel (x, y, xy), 3..4 Prewitt (x, y), 5..6 Roberts (x, y), 7 Laplace, 8 Canny,
    // 9 difference of Gaussians. Other numbers do nothing. Returns m_pImage.
    cv::Mat* DetectEdge(int method);
    // Correlates the image with a rows x cols float mask (row-major), borders replicated,
    // anchor at the mask centre. target null: in place; else the result goes to target.
    void ApplyMask(const float* mask, int rows, int cols, CSvImage* target);
    void SplitChannels(CSvImage& red, CSvImage& green, CSvImage& blue);
    void MergeChannels(CSvImage& red, CSvImage& green, CSvImage& blue);

    // --- conversions (each returns m_pImage) ---
    cv::Mat* ConvertToGray();   // channels taken as red, green, blue: 0.299, 0.587, 0.114
    cv::Mat* ConvertToColor();  // one channel to blue, green, red
    cv::Mat* ConvertToHSV();    // blue, green, red to hue (0..180), saturation, value
    cv::Mat* Threshold(float threshold, float maxValue, int type);  // type: cv::ThresholdTypes
    void Flip(int mode);  // 0 about the horizontal axis, >0 vertical, <0 both

    // --- drawing into a 32-bit blue-green-red-alpha canvas (CV_8UC4) ---
    // Draws the image unscaled with its top-left corner at (x, y).
    void Show(cv::Mat& canvas, int x, int y) const;
    void Show(cv::Mat* canvas, int x, int y) const;  // nothing when canvas is null
    // Scales the image (nearest neighbour) to fill rect; parts outside the canvas are clipped.
    void DrawToRect(cv::Mat& canvas, CSvRect rect) const;

    const std::string& GetLastError() const { return m_strLastError; }

    cv::Mat* m_pImage;  // the held image, or null when empty

private:
    static long long AlignedRowStep(int width, int elemSize);
    // Allocates an uninitialised image with a 4-byte-aligned row step.
    static cv::Mat AllocateAligned(int width, int height, int type);
    void Hold(const cv::Mat& aligned);
    void Fail(const std::string& reason) const;
    bool Encode(const std::string& path, std::vector<uchar>* encoded) const;
    bool InRange(int x, int y, int channel) const;
    void FilterInPlace(const cv::Mat& kernel, cv::Mat& plane) const;
    void DerivativeEdge(int method);

    cv::Mat m_image;
    int m_bHasImage;
    int m_bBottomUp;  // row order of the accessors; always 0 (top-down)
    mutable std::string m_strLastError;
};

// Why a still of width x height screen pixels cannot be grabbed and saved to path (BMP, or the
// format its extension names), before anything is grabbed: a BMP file past 2 GiB (its sizes
// are signed 32-bit numbers for most readers and for the encoder), or more memory than the
// system has available for the grab, the image and the encoded file. Empty when it can.
std::string StillSizeProblem(long long width, long long height, const std::string& path);
