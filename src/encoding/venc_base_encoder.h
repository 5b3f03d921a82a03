#pragma once
// Codec-independent part of an encoder object: checks and keeps the settings, owns the AVI
// output file and the encoded-frame buffer, counts the bytes written, passes audio through,
// closes the file and returns the object to its idle state.

#include <cstddef>
#include <cstdint>
#include <string>

#include "encoding/venc_types.h"

struct avi_file;

class Venc_BaseEncoder {
public:
    Venc_BaseEncoder();
    virtual ~Venc_BaseEncoder() = 0;
    Venc_BaseEncoder(const Venc_BaseEncoder&) = delete;
    Venc_BaseEncoder& operator=(const Venc_BaseEncoder&) = delete;

    virtual Venc_Status BeginEncoding(const std::string& fileName, const Venc_Settings& settings);
    // BeginEncoding into the open descriptor fd instead of creating fileName, which then only
    // names the file. The descriptor is taken over: closed with the file, or at once when the
    // begin fails.
    Venc_Status BeginEncodingInto(int fd, const std::string& fileName,
                                  const Venc_Settings& settings);
    // Checks the picture against the settings; writes nothing.
    virtual Venc_Status PutFrame(const Venc_Picture& picture, int32_t* encodedSize);
    // PutFrame, coded as a key frame (one that decoding can start from).
    Venc_Status PutKeyFrame(const Venc_Picture& picture, int32_t* encodedSize);
    // Appends a zero-length video frame: players show the previous frame again.
    virtual Venc_Status PutRepeatFrame();
    virtual Venc_Status PutAudio(const void* data, int32_t byteCount, int64_t* audioTotal);
    // Finishes the file; totalBytes and framesKept (both optional) receive the data bytes and
    // the frames it holds.
    virtual Venc_Status FinishEncoding(int64_t* totalBytes, int32_t* framesKept = nullptr);
    virtual void ReleaseAll();

    // A key frame comes at least every kMaxKeyFrameDistance frames of the file, repeat
    // frames included, so that a still stretch can be entered and sought into.
    static constexpr int32_t kMaxKeyFrameDistance = 240;
    // True when the next frame must be a key frame; PutFrame then codes one, while a repeat
    // frame in its place would leave the distance too long.
    bool KeyFrameDue() const { return m_framesSinceKeyFrame + 1 >= kMaxKeyFrameDistance; }

    bool IsEncoding() const { return m_encoding; }
    const Venc_Settings& Settings() const { return m_settings; }
    const std::string& FileName() const { return m_fileName; }
    // Why the last failed write or codec call failed ("File too large", "codec error -1"),
    // empty when nothing has failed since BeginEncoding. Kept after FinishEncoding.
    const std::string& FailureReason() const { return m_failureReason; }

    // Size of the encoded-frame buffer for a frame: 4 bytes per pixel, and never less than a
    // minimum that holds the headers and worst-case data of a tiny frame. 0 when the frame is
    // so large that the buffer could not be addressed with an int length.
    static size_t FrameBufferSizeFor(int32_t frameWidth, int32_t frameHeight);
    // Bytes of one pixel in a layout (0..7; of a luma sample for the planar layout).
    static int BytesPerPixelOf(int32_t layout);

protected:
    // Appends one encoded frame to the file; counts it only when the writer accepted it.
    Venc_Status WriteVideoFrame(const unsigned char* data, int32_t length, bool keyFrame);
    // Records the AVI writer's reason for the call that just failed (on this thread).
    void NoteWriterFailure();
    // Whether the frame being encoded must be a key frame: asked for, or due.
    bool KeyFrameRequired() const { return m_keyFrameRequested || KeyFrameDue(); }

    std::string m_failureReason;

    unsigned char* m_frameBuffer;
    size_t m_frameBufferSize;
    int64_t m_totalBytes;
    Venc_Settings m_settings;
    std::string m_fileName;
    avi_file* m_aviFile;
    bool m_encoding;

private:
    avi_file* OpenOutputFile(const std::string& fileName);

    int m_pendingFd = -1;               // the descriptor BeginEncodingInto hands to the begin
    int32_t m_framesSinceKeyFrame = 0;  // frames written after the last key frame
    bool m_keyFrameRequested = false;   // during PutKeyFrame
    static bool AudioFormatInRange(const Venc_Settings& settings);
};
