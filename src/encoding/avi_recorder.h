#pragma once
// The recording front: turns a capture region's size into encoder settings, opens one AVI file
// through the encoder handle interface, takes grabbed images one at a time, brings each to the
// fixed frame size and the codec's planar YUV 4:2:0 input and closes the file at the end. Progress
// and error lines go to standard output; failures are returned to the caller, never end the
// process.

#include <cstdint>
#include <string>

#include "encoding/i420_converter.h"
#include "encoding/venc_types.h"
#include "imaging/sv_rect.h"
#include "platform/unique_fd.h"

class CSvImage;

class CAviRecorder {
public:
    // Every recording declares this frame rate; the recording session paces its grabs to it.
    static constexpr int kFramesPerSecond = 30;
    // The MPEG-4 video header holds 13 bits per dimension (at most 8191), and frame
    // dimensions are multiples of 4: the largest frame is 8188 pixels a side, the frame of a
    // region of 8187.
    static constexpr int kMaxFrameDimension = 8188;
    static constexpr const char* kRegionTooLarge = "region too large for the video format";

    CAviRecorder();
    ~CAviRecorder();
    CAviRecorder(const CAviRecorder&) = delete;
    CAviRecorder& operator=(const CAviRecorder&) = delete;

    // Frame dimension for a region dimension: the next multiple of 4 strictly above it
    // (640 -> 644, 641 -> 644).
    static int FrameDimensionOf(int regionDimension);

    // Creates the file and starts the encoder. False when the recording did not start; the
    // reason is in LastError(). A recording still running is not touched (false as well).
    // A region whose frame would exceed kMaxFrameDimension is refused before any file is made.
    // With `file` open (the descriptor that reserved `path`), the recording is written through
    // it and `path` only names it; the descriptor is closed at the end, or when this fails.
    bool BeginRecording(CSvRect region, std::string path, CUniqueFd file = CUniqueFd());

    // Scales the image (nearest neighbour) to the frame size and encodes it; the image itself
    // is left as it is. False when no recording runs, the image is empty or not 3-channel
    // 8-bit, or the encoder failed (see LastError()).
    bool AddFrame(CSvImage* image);
    // The same for a 32-bit grab: scaled and converted into the codec's planar input in one
    // pass (CI420Converter). The frame in the file is the one a 3-channel image of the same
    // blue, green and red bytes gives.
    bool AddFrame(const CBgrxPicture& picture);
    // Encodes a frame that is already the codec's input: an I420 frame of the frame size (made
    // by CI420Converter::CreateFrame), handed over without a copy. Its pixels must stay as they
    // are until the next frame is added or the recording ends: a repeat after it may need the
    // picture encoded again.
    bool AddPlanarFrame(const cv::Mat& frame);

    // Appends a repeat of the previous frame (a zero-length frame) without encoding anything.
    // It counts as a frame of the file (FrameCount) and is printed as a frame of 0 bytes.
    // Players drop a zero-length frame unless a later one carries its time, so the newest
    // repeat is held back until the next frame comes or the file ends, where it becomes the
    // last picture encoded again. A repeat in the place where a key frame is due (one comes
    // at least every 240 frames, repeats included) is that picture again as a key frame.
    bool AddRepeatFrame();

    // Finishes the file, frees the handle and the frame buffer and returns the total bytes.
    // The last frame of the file is a picture: a held-back repeat is written as the last
    // picture encoded again. *failed (optional) tells whether finishing failed. A recording
    // that holds no picture (no frame, or repeats only) is unplayable: its file is removed
    // and *failed is set.
    // Without a running recording (never begun, or the begin failed) it does nothing and
    // returns 0 with *failed false.
    int64_t EndRecording(bool* failed = nullptr);

    bool IsRecording() const { return m_hEncoder >= 0; }
    int FrameWidth() const { return m_frameRect.Width(); }
    int FrameHeight() const { return m_frameRect.Height(); }
    // Frames in the file since BeginRecording, repeat frames included (a held-back repeat
    // counts once it is written).
    int FrameCount() const { return m_frameCount; }
    // Of those, the repeat frames.
    int RepeatFrameCount() const { return m_repeatCount; }
    const CSvRect& Region() const { return m_region; }
    const std::string& OutputPath() const { return m_outputPath; }
    // Text of the last failure for a status line, or "" when none happened since the last
    // BeginRecording. Like every member, read it on the thread that drives the recording (or
    // after that thread has ended): the recorder has no lock.
    const char* LastError() const { return m_lastError.c_str(); }

private:
    // Prints consoleLine (with the status) and keeps "what: reason" for LastError(), the reason
    // being the handle's own account of the failure when it has one.
    void ReportFailure(const char* consoleLine, const char* what, Venc_Status status,
                       int32_t handle);
    // Prints and counts a frame the encoder took, or reports why it did not.
    bool CountFrame(Venc_Status status, int32_t encodedSize);
    // Writes the held-back repeat, if any: as a repeat frame, or as the last picture again
    // where a key frame is due or `closing` the file.
    bool WriteHeldRepeat(bool closing);
    bool HoldsPicture() const { return m_frameCount > m_repeatCount; }
    void ReleaseRecording();
    // Removes the file of a recording that holds no picture and reports it as failed.
    void DiscardEmptyFile(bool* failed);

    Venc_Settings m_params{};
    Venc_Picture m_picture{};
    int32_t m_hEncoder = -1;  // -1 while no recording runs
    std::string m_outputPath;
    CSvRect m_region;
    int m_frameCount = 0;
    int m_repeatCount = 0;
    bool m_repeatHeld = false;
    cv::Mat m_lastPicture;  // the planar frame last encoded (not a copy)
    CSvRect m_frameRect;

    // For grabs that come as pictures: the converted frame (made at the first one) and, for
    // 3-channel images, their 32-bit form.
    CI420Converter m_converter;
    cv::Mat m_frame;
    cv::Mat m_bgrx;
    std::string m_lastError;
};
