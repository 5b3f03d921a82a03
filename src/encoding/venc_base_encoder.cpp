#include "encoding/venc_base_encoder.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <unistd.h>
#include <utility>

#include "encoding/avi/avi_file.h"
#include "encoding/avi/avi_writer.h"

namespace {

// Enough for the stream headers plus a worst-case intra frame of a few macroblocks.
constexpr size_t kMinFrameBufferSize = 64 * 1024;
constexpr int kMaxAudioBitsOrChannels = 256;

}  // namespace

Venc_BaseEncoder::Venc_BaseEncoder()
    : m_frameBuffer(nullptr),
      m_frameBufferSize(0),
      m_totalBytes(0),
      m_settings{},
      m_aviFile(nullptr),
      m_encoding(false) {
    Venc_BaseEncoder::ReleaseAll();
}

Venc_BaseEncoder::~Venc_BaseEncoder() {
    if (m_encoding) {
        Venc_BaseEncoder::FinishEncoding(nullptr);
    }
    Venc_BaseEncoder::ReleaseAll();
}

size_t Venc_BaseEncoder::FrameBufferSizeFor(int32_t frameWidth, int32_t frameHeight) {
    if (frameWidth <= 0 || frameHeight <= 0) {
        return 0;
    }
    const unsigned long long bytes = 4ULL * static_cast<unsigned long long>(frameWidth) *
                                     static_cast<unsigned long long>(frameHeight);
    if (bytes > static_cast<unsigned long long>(INT_MAX)) {
        return 0;
    }
    return bytes < kMinFrameBufferSize ? kMinFrameBufferSize : static_cast<size_t>(bytes);
}

int Venc_BaseEncoder::BytesPerPixelOf(int32_t layout) {
    switch (layout) {
        case Venc_Layout_I420:
            return 1;
        case Venc_Layout_Bgr24:
            return 3;
        case Venc_Layout_Rgb555:
        case Venc_Layout_Rgb565:
            return 2;
        default:
            return 4;
    }
}

bool Venc_BaseEncoder::AudioFormatInRange(const Venc_Settings& settings) {
    return settings.sampleBits >= 0 && settings.sampleBits <= kMaxAudioBitsOrChannels &&
           settings.channelCount >= 0 && settings.channelCount <= kMaxAudioBitsOrChannels &&
           settings.sampleRate >= 0;
}

Venc_Status Venc_BaseEncoder::BeginEncoding(const std::string& fileName,
                                            const Venc_Settings& settings) {
    if (m_encoding) {
        return Venc_Status_WrongState;
    }
    m_failureReason.clear();
    // Negative sizes are refused here too, before any file is created.
    if (settings.frameWidth <= 0 || settings.frameHeight <= 0) {
        ReleaseAll();
        return Venc_Status_BadArgument;
    }
    const size_t bufferSize = FrameBufferSizeFor(settings.frameWidth, settings.frameHeight);
    if (bufferSize == 0) {
        ReleaseAll();
        return Venc_Status_NoMemory;
    }
    m_settings = settings;

    m_aviFile = OpenOutputFile(fileName);
    if (m_aviFile == nullptr) {
        NoteWriterFailure();
        ReleaseAll();
        return Venc_Status_FileError;
    }
    AVI_set_video_format(m_aviFile, settings.frameWidth, settings.frameHeight,
                         static_cast<double>(settings.framesPerSecond), "xvid");
    if (settings.withAudio == 1) {
        if (!AudioFormatInRange(settings)) {
            ReleaseAll();  // the file stays on disk, closed, without frames
            return Venc_Status_BadArgument;
        }
        AVI_set_audio_format(m_aviFile, settings.channelCount, settings.sampleRate,
                             settings.sampleBits, settings.formatTag);
    } else {
        AVI_set_audio_format(m_aviFile, 0, 44100, 16, 0);
    }

    m_frameBuffer = new (std::nothrow) unsigned char[bufferSize];
    if (m_frameBuffer == nullptr) {
        ReleaseAll();
        return Venc_Status_NoMemory;
    }
    m_frameBufferSize = bufferSize;

    m_fileName = fileName;
    m_totalBytes = 0;
    m_encoding = true;
    return Venc_Status_Ok;
}

Venc_Status Venc_BaseEncoder::BeginEncodingInto(int fd, const std::string& fileName,
                                                const Venc_Settings& settings) {
    m_pendingFd = fd;
    const Venc_Status status = BeginEncoding(fileName, settings);
    if (m_pendingFd >= 0) {  // refused before the file was opened
        close(m_pendingFd);
        m_pendingFd = -1;
    }
    return status;
}

avi_file* Venc_BaseEncoder::OpenOutputFile(const std::string& fileName) {
    if (m_pendingFd < 0) {
        return AVI_create_output_file(fileName.c_str());
    }
    return AVI_open_output_fd(std::exchange(m_pendingFd, -1));
}

Venc_Status Venc_BaseEncoder::PutFrame(const Venc_Picture& picture, int32_t* /*encodedSize*/) {
    if (!m_encoding) {
        return Venc_Status_WrongState;
    }
    if (picture.picWidth != m_settings.frameWidth || picture.picHeight != m_settings.frameHeight ||
        picture.layout < Venc_Layout_Bgra32 || picture.layout > Venc_Layout_I420) {
        return Venc_Status_BadArgument;
    }
    if (picture.layout == Venc_Layout_I420 &&
        (picture.picWidth % 2 != 0 || picture.picHeight % 2 != 0)) {
        return Venc_Status_BadArgument;  // the colour planes cover 2 x 2 blocks
    }
    // A stride narrower than the layout's pixels would make the codec read past the rows.
    if (picture.pixelData != nullptr && picture.pixelBytes < BytesPerPixelOf(picture.layout)) {
        return Venc_Status_BadArgument;
    }
    return Venc_Status_Ok;
}

Venc_Status Venc_BaseEncoder::PutKeyFrame(const Venc_Picture& picture, int32_t* encodedSize) {
    m_keyFrameRequested = true;
    const Venc_Status status = PutFrame(picture, encodedSize);
    m_keyFrameRequested = false;
    return status;
}

Venc_Status Venc_BaseEncoder::PutRepeatFrame() {
    if (!m_encoding) {
        return Venc_Status_WrongState;
    }
    return WriteVideoFrame(nullptr, 0, false);
}

Venc_Status Venc_BaseEncoder::WriteVideoFrame(const unsigned char* data, int32_t length,
                                              bool keyFrame) {
    if (length < 0) {
        return Venc_Status_Failure;
    }
    if (AVI_put_video_frame(m_aviFile, reinterpret_cast<const char*>(data), length,
                            keyFrame ? 1 : 0) != 0) {
        NoteWriterFailure();
        return Venc_Status_Failure;
    }
    m_totalBytes += length;
    m_framesSinceKeyFrame = keyFrame ? 0 : m_framesSinceKeyFrame + 1;
    return Venc_Status_Ok;
}

Venc_Status Venc_BaseEncoder::PutAudio(const void* data, int32_t byteCount, int64_t* audioTotal) {
    if (!m_encoding) {
        return Venc_Status_WrongState;
    }
    if (m_settings.withAudio != 1 || byteCount == 0) {
        return Venc_Status_Ok;
    }
    if (data == nullptr || byteCount < 0) {
        return Venc_Status_BadArgument;
    }
    if (AVI_put_audio_block(m_aviFile, static_cast<const char*>(data), byteCount) != 0) {
        NoteWriterFailure();
        return Venc_Status_Failure;
    }
    m_totalBytes += byteCount;
    if (audioTotal != nullptr) {
        *audioTotal = AVI_get_audio_total(m_aviFile);
    }
    return Venc_Status_Ok;
}

Venc_Status Venc_BaseEncoder::FinishEncoding(int64_t* totalBytes, int32_t* framesKept) {
    if (!m_encoding) {
        return Venc_Status_WrongState;
    }
    int closeResult = 0;
    int32_t frames = 0;
    if (m_aviFile != nullptr) {
        closeResult = AVI_close_output_file(m_aviFile);
        if (closeResult != 0) {
            NoteWriterFailure();
        }
        frames = m_aviFile->frame_count;
        // Frames given up to make room for the index no longer count.
        m_totalBytes -= m_aviFile->data_bytes_dropped;
        AVI_close_file(m_aviFile);
        m_aviFile = nullptr;
    }
    if (totalBytes != nullptr) {
        *totalBytes = m_totalBytes;
    }
    if (framesKept != nullptr) {
        *framesKept = frames;
    }
    ReleaseAll();
    return closeResult != 0 ? Venc_Status_FileError : Venc_Status_Ok;
}

void Venc_BaseEncoder::NoteWriterFailure() {
    const int reason = errno;
    switch (AVI_last_error) {
        case AVI_ERR_SIZELIM:  // every part the file's super index can name is full
            m_failureReason = "AVI size limit reached: its index holds no more parts";
            break;
        case AVI_ERR_NO_MEM:
            m_failureReason = "out of memory";
            break;
        default:
            m_failureReason = std::strerror(reason);
            break;
    }
}

void Venc_BaseEncoder::ReleaseAll() {
    delete[] m_frameBuffer;
    m_frameBuffer = nullptr;
    m_frameBufferSize = 0;
    if (m_aviFile != nullptr) {
        AVI_close_file(m_aviFile);
        m_aviFile = nullptr;
    }
    m_fileName.clear();
    m_settings = Venc_Settings{};
    m_totalBytes = 0;
    m_framesSinceKeyFrame = 0;
    m_encoding = false;
}
