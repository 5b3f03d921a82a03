#include "encoding/avi_recorder.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "encoding/venc_interface.h"
#include "imaging/sv_image.h"
#include "platform/console_line.h"

namespace {

constexpr int kFrameAlignment = 4;
constexpr float kQualityLevel = 1.0f;
constexpr int kBgrPixelBytes = 3;
constexpr int kLumaSampleBytes = 1;

const char* StatusText(Venc_Status status) {
    switch (status) {
        case Venc_Status_Ok:
            return "no error";
        case Venc_Status_Failure:
            return "the codec or the file writer failed";
        case Venc_Status_BadHandle:
            return "unknown encoder handle";
        case Venc_Status_BadArgument:
            return "invalid frame size or picture";
        case Venc_Status_FileError:
            return "the file could not be created or closed";
        case Venc_Status_NoMemory:
            return "out of memory";
        case Venc_Status_WrongState:
            return "the encoder is not in the right state";
    }
    return "unknown error";
}

}  // namespace

CAviRecorder::CAviRecorder() = default;

CAviRecorder::~CAviRecorder() {
    // A recording still running when the recorder goes away is finished, never left without
    // its index and header.
    if (IsRecording()) {
        EndRecording();
    }
}

int CAviRecorder::FrameDimensionOf(int regionDimension) {
    if (regionDimension > INT_MAX - kFrameAlignment) {
        return 0;  // no frame of that size; the encoder refuses it
    }
    return regionDimension + (kFrameAlignment - regionDimension % kFrameAlignment);
}

void CAviRecorder::ReportFailure(const char* consoleLine, const char* what, Venc_Status status,
                                 int32_t handle) {
    ConsoleLine(consoleLine, static_cast<int>(status));
    const char* reason = Venc_FailureReason(handle);
    m_lastError = std::string(what) + ": " + (*reason != '\0' ? reason : StatusText(status));
}

bool CAviRecorder::BeginRecording(CSvRect region, std::string path, CUniqueFd file) {
    if (IsRecording()) {
        m_lastError = "A recording is already running";
        return false;
    }
    m_frameCount = 0;
    m_repeatCount = 0;
    m_repeatHeld = false;
    m_lastError.clear();
    // A frame dimension is the next multiple of 4 above the region's, so a region dimension
    // below kMaxFrameDimension fits.
    if (region.Width() >= kMaxFrameDimension || region.Height() >= kMaxFrameDimension) {
        ConsoleLine("Region %dx%d too large for the video format\n", region.Width(),
                    region.Height());
        m_lastError = kRegionTooLarge;
        return false;
    }

    if (Venc_ApiVersion() != kVencApiVersion) {
        ConsoleLine("ERROR: Venc version mismatch!\n");
        ConsoleLine("Headers: version %06x, API version %d\n", kVencLibraryVersion,
                    kVencApiVersion);
        ConsoleLine("Library: version %06x, API version %d\n", Venc_LibraryVersion(),
                    Venc_ApiVersion());
        m_lastError = "Encoder version mismatch";
        return false;
    }

    int32_t handle = -1;
    Venc_Status status = Venc_NewEncoder(&handle);
    if (status != Venc_Status_Ok) {
        ReportFailure("Venc Error while creating encoder: %d\n", "Creating the encoder failed",
                      status, handle);
        return false;
    }

    const int frameWidth = FrameDimensionOf(region.Width());
    const int frameHeight = FrameDimensionOf(region.Height());
    m_frameRect = CSvRect{0, 0, frameWidth, frameHeight};

    Venc_ResetParams(&m_params);
    m_params.frameWidth = frameWidth;
    m_params.frameHeight = frameHeight;
    m_params.framesPerSecond = static_cast<float>(kFramesPerSecond);
    m_params.qualityLevel = kQualityLevel;
    m_params.codecKind = Venc_Codec_Xvid;
    m_params.withAudio = 0;
    m_params.sampleRate = 0;
    m_params.sampleBits = 0;
    m_params.channelCount = 0;
    m_params.formatTag = 0;

    status = file.IsOpen() ? Venc_BeginEncodingInto(handle, file.Release(), path.c_str(), &m_params)
                           : Venc_BeginEncoding(handle, path.c_str(), &m_params);
    if (status != Venc_Status_Ok) {
        ReportFailure("Venc Error while starting encoding: %d\n", "Starting the encoder failed",
                      status, handle);
        Venc_FreeEncoder(handle);
        return false;
    }

    m_picture.picWidth = frameWidth;
    m_picture.picHeight = frameHeight;
    m_picture.pixelBytes = kLumaSampleBytes;
    m_picture.layout = Venc_Layout_I420;
    m_picture.pixelData = nullptr;

    m_hEncoder = handle;
    m_region = region;
    m_outputPath = std::move(path);
    return true;
}

bool CAviRecorder::AddFrame(CSvImage* image) {
    if (!IsRecording()) {
        return false;
    }
    if (image == nullptr || !image->HasImage() || image->GetChannels() != kBgrPixelBytes) {
        m_lastError = "Frame skipped: not a 3-channel image";
        return false;
    }
    try {
        cv::cvtColor(*image->m_pImage, m_bgrx, cv::COLOR_BGR2BGRA);
    } catch (const cv::Exception& e) {
        m_lastError = std::string("Frame skipped: ") + e.what();
        return false;
    }
    return AddFrame(CBgrxPicture{m_bgrx.data, m_bgrx.cols, m_bgrx.rows, m_bgrx.step[0]});
}

bool CAviRecorder::AddFrame(const CBgrxPicture& picture) {
    if (!IsRecording()) {
        return false;
    }
    if (picture.IsEmpty()) {
        m_lastError = "Frame skipped: the picture is empty";
        return false;
    }
    // Before the frame takes the new picture: a held-back repeat may need the last one.
    if (!WriteHeldRepeat(false)) {
        return false;
    }
    try {
        CI420Converter::CreateFrame(FrameWidth(), FrameHeight(), m_frame);
    } catch (const cv::Exception& e) {
        m_lastError = std::string("Frame skipped: ") + e.what();
        return false;
    }
    m_converter.Convert(picture, m_frame);
    return AddPlanarFrame(m_frame);
}

bool CAviRecorder::AddPlanarFrame(const cv::Mat& frame) {
    if (!IsRecording()) {
        return false;
    }
    if (frame.type() != CV_8UC1 || !frame.isContinuous() ||
        CI420Converter::FrameWidthOf(frame) != FrameWidth() ||
        CI420Converter::FrameHeightOf(frame) != FrameHeight()) {
        m_lastError = "Frame skipped: not a planar frame of the frame size";
        return false;
    }
    if (!WriteHeldRepeat(false)) {
        return false;
    }
    m_picture.pixelData = frame.data;
    int32_t encodedSize = 0;
    const Venc_Status status = Venc_PutFrame(m_hEncoder, &m_picture, &encodedSize);
    m_picture.pixelData = nullptr;
    m_lastPicture = frame;
    return CountFrame(status, encodedSize);
}

bool CAviRecorder::AddRepeatFrame() {
    if (!IsRecording() || !WriteHeldRepeat(false)) {
        return false;
    }
    m_repeatHeld = true;
    return true;
}

bool CAviRecorder::WriteHeldRepeat(bool closing) {
    if (!m_repeatHeld) {
        return true;
    }
    m_repeatHeld = false;
    if (HoldsPicture() && (closing || Venc_KeyFrameDue(m_hEncoder) != 0)) {
        // A key frame: the same picture coded against the previous one would be a frame
        // that decoders skip, which is what a repeat is already.
        m_picture.pixelData = m_lastPicture.data;
        int32_t encodedSize = 0;
        const Venc_Status status = Venc_PutKeyFrame(m_hEncoder, &m_picture, &encodedSize);
        m_picture.pixelData = nullptr;
        return CountFrame(status, encodedSize);
    }
    if (!CountFrame(Venc_PutRepeatFrame(m_hEncoder), 0)) {
        return false;
    }
    ++m_repeatCount;
    return true;
}

bool CAviRecorder::CountFrame(Venc_Status status, int32_t encodedSize) {
    if (status != Venc_Status_Ok) {
        ReportFailure("Venc Error while writing frame: %d\n", "Writing a frame failed", status,
                      m_hEncoder);
        return false;
    }
    ConsoleLine("Frame %d : %d bytes\n", m_frameCount, static_cast<int>(encodedSize));
    ++m_frameCount;
    return true;
}

int64_t CAviRecorder::EndRecording(bool* failed) {
    if (failed != nullptr) {
        *failed = false;
    }
    if (!IsRecording()) {
        return 0;
    }
    const bool closed = WriteHeldRepeat(true);
    int64_t total = 0;
    int32_t framesKept = m_frameCount;
    const Venc_Status status = Venc_FinishEncoding(m_hEncoder, &total, &framesKept);
    if (framesKept < m_frameCount) {  // given up to make room for the index
        ConsoleLine("%d frames given up to make room for the index\n", m_frameCount - framesKept);
        m_frameCount = framesKept;
        m_repeatCount = std::min(m_repeatCount, m_frameCount);
    }
    if (status != Venc_Status_Ok) {
        ReportFailure("Venc Error while ending encoding: %d\n", "Finishing the file failed", status,
                      m_hEncoder);
    }
    if ((status != Venc_Status_Ok || !closed) && failed != nullptr) {
        *failed = true;
    }
    const bool holdsPicture = HoldsPicture();
    if (status == Venc_Status_Ok && holdsPicture) {
        ConsoleLine("%s written: %dx%d, %d frames, %lld bytes\n", m_outputPath.c_str(),
                    m_region.Width(), m_region.Height(), m_frameCount,
                    static_cast<long long>(total));
    }
    ReleaseRecording();
    if (!holdsPicture) {
        DiscardEmptyFile(failed);
    }
    return total;
}

void CAviRecorder::DiscardEmptyFile(bool* failed) {
    std::remove(m_outputPath.c_str());
    ConsoleLine("%s removed: no frame was written\n", m_outputPath.c_str());
    if (m_lastError.empty()) {
        m_lastError = "Nothing recorded: no frame was written";
    }
    if (failed != nullptr) {
        *failed = true;
    }
}

void CAviRecorder::ReleaseRecording() {
    Venc_FreeEncoder(m_hEncoder);
    m_hEncoder = -1;
    m_frame.release();
    m_bgrx.release();
    m_lastPicture.release();
}
