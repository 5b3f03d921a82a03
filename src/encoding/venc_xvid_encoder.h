#pragma once
// MPEG-4 Visual (Xvid) encoder object on libxvidcore: creates and destroys the codec instance,
// picks the motion-search and frame-coding flags from the quality level, encodes each picture and
// hands the encoded bytes to the AVI writer.

#include <cstdint>
#include <string>

#include "encoding/venc_base_encoder.h"

class Venc_XvidEncoder : public Venc_BaseEncoder {
public:
    // Structure version the codec structures are filled at (1.3.2).
    static constexpr int kXvidStructVersion = 0x010302;
    static constexpr int kPresetCount = 7;
    static const int kSearchFlagsByLevel[kPresetCount];
    static const int kVopFlagsByLevel[kPresetCount];

    Venc_XvidEncoder();
    ~Venc_XvidEncoder() override;

    Venc_Status BeginEncoding(const std::string& fileName, const Venc_Settings& settings) override;
    Venc_Status PutFrame(const Venc_Picture& picture, int32_t* encodedSize) override;
    void ReleaseAll() override;

    // Preset index 0..6 for a quality level: below 0 gives 0, above 1 gives 6, otherwise the
    // level times 6 truncated. A level that is not a number gives the highest preset.
    static int QualityPresetIndex(float qualityLevel);
    // Codec colour space of a pixel layout; XVID_CSP_NULL for an unknown layout.
    static int XvidColorspaceOf(int32_t layout);
    // The codec's time base for a frame rate: one frame lasts increment / base seconds.
    // Rates that are not positive or need a finer base than the bitstream holds give 1/24.
    static void CodecTimeBaseOf(float framesPerSecond, int* increment, int* base);

private:
    int CreateXvidInstance();

    void* m_xvidHandle;
};
