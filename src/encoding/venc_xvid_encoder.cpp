#include "encoding/venc_xvid_encoder.h"

#include <cmath>
#include <cstring>
#include <numeric>

#include <xvid.h>

// Indexed by the preset index: the 'motion' field of each encode call.
const int Venc_XvidEncoder::kSearchFlagsByLevel[kPresetCount] = {
    0,
    XVID_ME_ADVANCEDDIAMOND16,
    XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16,
    XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16 | XVID_ME_ADVANCEDDIAMOND8 |
        XVID_ME_HALFPELREFINE8,
    XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16 | XVID_ME_ADVANCEDDIAMOND8 |
        XVID_ME_HALFPELREFINE8 | XVID_ME_CHROMA_PVOP | XVID_ME_CHROMA_BVOP,
    XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16 | XVID_ME_ADVANCEDDIAMOND8 |
        XVID_ME_HALFPELREFINE8 | XVID_ME_CHROMA_PVOP | XVID_ME_CHROMA_BVOP,
    XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16 | XVID_ME_ADVANCEDDIAMOND8 |
        XVID_ME_HALFPELREFINE8 | XVID_ME_CHROMA_PVOP | XVID_ME_CHROMA_BVOP | XVID_ME_EXTSEARCH16 |
        XVID_ME_EXTSEARCH8,
};

// Indexed by the preset index: the 'vop_flags' field of each encode call.
const int Venc_XvidEncoder::kVopFlagsByLevel[kPresetCount] = {
    0,
    0,
    XVID_VOP_HALFPEL,
    XVID_VOP_HALFPEL | XVID_VOP_INTER4V,
    XVID_VOP_HALFPEL | XVID_VOP_INTER4V,
    XVID_VOP_HALFPEL | XVID_VOP_INTER4V | XVID_VOP_TRELLISQUANT,
    XVID_VOP_HALFPEL | XVID_VOP_INTER4V | XVID_VOP_TRELLISQUANT | XVID_VOP_HQACPRED,
};

namespace {

constexpr int kFallbackTimeBase = 24;  // frames per second when the settings give no usable rate
constexpr int kMaxTimeResolution = 65535;  // the bitstream stores the resolution in 16 bits
constexpr int kBQuantRatio = 150;
constexpr int kBQuantOffset = 100;

}  // namespace

Venc_XvidEncoder::Venc_XvidEncoder() : m_xvidHandle(nullptr) {
    Venc_XvidEncoder::ReleaseAll();
}

Venc_XvidEncoder::~Venc_XvidEncoder() {
    if (m_encoding) {
        Venc_BaseEncoder::FinishEncoding(nullptr);
    }
    Venc_XvidEncoder::ReleaseAll();
}

int Venc_XvidEncoder::QualityPresetIndex(float qualityLevel) {
    if (std::isnan(qualityLevel)) {
        return kPresetCount - 1;
    }
    if (qualityLevel < 0.0) {
        return 0;
    }
    if (qualityLevel > 1.0) {
        return kPresetCount - 1;
    }
    return static_cast<int>(qualityLevel * 6.0);
}

void Venc_XvidEncoder::CodecTimeBaseOf(float framesPerSecond, int* increment, int* base) {
    *increment = 1;
    *base = kFallbackTimeBase;
    if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0.0f) {
        return;
    }
    // The rate to a thousandth of a frame, as a reduced fraction base / increment.
    const long long thousandths = std::llround(static_cast<double>(framesPerSecond) * 1000.0);
    if (thousandths <= 0) {
        return;
    }
    const long long divisor = std::gcd(thousandths, 1000LL);
    const long long reducedBase = thousandths / divisor;
    if (reducedBase > kMaxTimeResolution) {
        return;
    }
    *increment = static_cast<int>(1000LL / divisor);
    *base = static_cast<int>(reducedBase);
}

int Venc_XvidEncoder::XvidColorspaceOf(int32_t layout) {
    switch (layout) {
        case Venc_Layout_Bgra32:
            return XVID_CSP_BGRA;
        case Venc_Layout_Abgr32:
            return XVID_CSP_ABGR;
        case Venc_Layout_Rgba32:
            return XVID_CSP_RGBA;
        case Venc_Layout_Argb32:
            return XVID_CSP_ARGB;
        case Venc_Layout_Bgr24:
            return XVID_CSP_BGR;
        case Venc_Layout_Rgb555:
            return XVID_CSP_RGB555;
        case Venc_Layout_Rgb565:
            return XVID_CSP_RGB565;
        case Venc_Layout_I420:
            return XVID_CSP_PLANAR;  // with a pointer and a stride per plane
        default:
            return XVID_CSP_NULL;
    }
}

Venc_Status Venc_XvidEncoder::BeginEncoding(const std::string& fileName,
                                            const Venc_Settings& settings) {
    const Venc_Status status = Venc_BaseEncoder::BeginEncoding(fileName, settings);
    if (status != Venc_Status_Ok) {
        return status;
    }
    const int created = CreateXvidInstance();
    if (created != 0 || m_xvidHandle == nullptr) {
        m_failureReason = "codec error " + std::to_string(created);
        ReleaseAll();  // the file is closed and stays on disk
        return Venc_Status_Failure;
    }
    return Venc_Status_Ok;
}

int Venc_XvidEncoder::CreateXvidInstance() {
    xvid_gbl_init_t init;
    std::memset(&init, 0, sizeof(init));
    init.version = kXvidStructVersion;
    init.cpu_flags = 0;  // let the library detect the processor
    init.debug = 0;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);

    xvid_enc_create_t create;
    std::memset(&create, 0, sizeof(create));
    create.version = kXvidStructVersion;
    create.profile = XVID_PROFILE_AS_L4;
    create.width = m_settings.frameWidth;
    create.height = m_settings.frameHeight;
    create.num_zones = 0;
    create.num_plugins = 0;  // no rate control: every frame at the fixed quantiser
    create.num_threads = 0;
    create.max_bframes = 0;
    create.global = 0;
    // The stream's own time base is the frame rate of the file, so that decoders that read
    // timing from the bitstream see the same rate as the AVI header gives.
    CodecTimeBaseOf(m_settings.framesPerSecond, &create.fincr, &create.fbase);
    // The codec counts only the frames it encodes; PutFrame also counts the repeat frames.
    create.max_key_interval = kMaxKeyFrameDistance;
    create.frame_drop_ratio = 0;
    create.bquant_ratio = kBQuantRatio;
    create.bquant_offset = kBQuantOffset;

    const int result = xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr);
    m_xvidHandle = create.handle;
    return result;
}

Venc_Status Venc_XvidEncoder::PutFrame(const Venc_Picture& picture, int32_t* encodedSize) {
    const Venc_Status status = Venc_BaseEncoder::PutFrame(picture, encodedSize);
    if (status != Venc_Status_Ok) {
        return status;
    }

    xvid_enc_frame_t frame;
    xvid_enc_stats_t stats;
    std::memset(&frame, 0, sizeof(frame));
    std::memset(&stats, 0, sizeof(stats));
    frame.version = kXvidStructVersion;
    stats.version = kXvidStructVersion;

    frame.bitstream = m_frameBuffer;
    frame.length = static_cast<int>(m_frameBufferSize);

    if (picture.pixelData != nullptr && picture.layout == Venc_Layout_I420) {
        const int lumaStride = picture.pixelBytes * picture.picWidth;
        const int chromaStride = lumaStride / 2;
        const size_t lumaBytes = static_cast<size_t>(lumaStride) * picture.picHeight;
        const size_t chromaBytes = static_cast<size_t>(chromaStride) * (picture.picHeight / 2);
        frame.input.csp = XvidColorspaceOf(picture.layout);
        frame.input.plane[0] = picture.pixelData;
        frame.input.plane[1] = picture.pixelData + lumaBytes;
        frame.input.plane[2] = picture.pixelData + lumaBytes + chromaBytes;
        frame.input.stride[0] = lumaStride;
        frame.input.stride[1] = chromaStride;
        frame.input.stride[2] = chromaStride;
    } else if (picture.pixelData != nullptr) {
        frame.input.plane[0] = picture.pixelData;
        frame.input.csp = XvidColorspaceOf(picture.layout);
        frame.input.stride[0] = picture.pixelBytes * picture.picWidth;
    } else {
        frame.input.csp = XVID_CSP_NULL;
    }

    frame.vol_flags = 0;
    frame.quant_intra_matrix = nullptr;
    frame.quant_inter_matrix = nullptr;
    frame.type = KeyFrameRequired() ? XVID_TYPE_IVOP : XVID_TYPE_AUTO;
    frame.quant = 0;

    const int preset = QualityPresetIndex(m_settings.qualityLevel);
    frame.vop_flags = kVopFlagsByLevel[preset];
    frame.motion = kSearchFlagsByLevel[preset];

    const int encoded = xvid_encore(m_xvidHandle, XVID_ENC_ENCODE, &frame, &stats);
    if (encoded < 0 || static_cast<size_t>(encoded) > m_frameBufferSize) {
        m_failureReason = "codec error " + std::to_string(encoded);
        return Venc_Status_Failure;
    }
    const bool keyFrame = (frame.out_flags & XVID_KEYFRAME) != 0;
    const Venc_Status written = WriteVideoFrame(m_frameBuffer, encoded, keyFrame);
    if (written != Venc_Status_Ok) {
        return written;
    }
    if (encodedSize != nullptr) {
        *encodedSize = encoded;
    }
    return Venc_Status_Ok;
}

void Venc_XvidEncoder::ReleaseAll() {
    Venc_BaseEncoder::ReleaseAll();
    if (m_xvidHandle != nullptr) {
        xvid_encore(m_xvidHandle, XVID_ENC_DESTROY, nullptr, nullptr);
        m_xvidHandle = nullptr;
    }
}
