#pragma once
// Records, pixel layouts, codec kinds and result codes of the encoder handle interface.
// All integers are 32-bit signed unless noted; floating-point fields are 32-bit.

#include <cstdint>

// The settings of one encoding run.
struct Venc_Settings {
    int32_t frameWidth;     // width of every picture in pixels; must be positive
    int32_t frameHeight;    // height of every picture in rows; must be positive
    float framesPerSecond;  // frame rate written to the AVI header
    float qualityLevel;     // 0.0 (fastest) .. 1.0 (best): selects the codec preset
    int32_t codecKind;      // Venc_Codec of the encoder object created for the handle
    int32_t withAudio;      // 1: the file gets an audio stream; anything else: no audio
    int32_t sampleRate;     // audio samples per second, 0 or more
    int32_t sampleBits;     // bits per audio sample, 0..256
    int32_t channelCount;   // audio channels, 0..256
    int32_t formatTag;      // audio format tag of the audio stream's format record
};

// One raw picture. Rows run top to bottom with no gap: the stride is pixelBytes * picWidth.
// A planar picture (Venc_Layout_I420) has 1-byte luma samples in picWidth-byte rows, followed
// by its two colour planes of half the width and height, each with no gap.
struct Venc_Picture {
    int32_t picWidth;          // must equal frameWidth of the running settings
    int32_t picHeight;         // must equal frameHeight
    uint8_t pixelBytes;        // bytes per pixel
    int32_t layout;            // Venc_PixelLayout, 0..7
    unsigned char* pixelData;  // first byte of the top row; null gives the codec no input
};

enum Venc_PixelLayout : int32_t {
    Venc_Layout_Bgra32 = 0,  // blue, green, red, alpha
    Venc_Layout_Abgr32 = 1,  // alpha, blue, green, red
    Venc_Layout_Rgba32 = 2,  // red, green, blue, alpha
    Venc_Layout_Argb32 = 3,  // alpha, red, green, blue
    Venc_Layout_Bgr24 = 4,   // blue, green, red
    Venc_Layout_Rgb555 = 5,  // 5 bits each of red, green, blue
    Venc_Layout_Rgb565 = 6,  // 5 bits red, 6 bits green, 5 bits blue
    // Planar YUV 4:2:0 (BT.601, limited range): the luma plane, then the blue and the red
    // difference planes; picture dimensions even. The codec's own input, taken without
    // conversion.
    Venc_Layout_I420 = 7,
};

enum Venc_Codec : int32_t {
    Venc_Codec_Xvid = 0,
};

enum Venc_Status : int32_t {
    Venc_Status_Ok = 0,
    Venc_Status_Failure = 1,      // codec failure, or the AVI writer refused the data
    Venc_Status_BadHandle = 2,    // the handle is not in the handle table
    Venc_Status_BadArgument = 3,  // null pointer, bad frame size, bad audio format, bad picture
    Venc_Status_FileError = 4,    // the output file could not be created or closed
    Venc_Status_NoMemory = 5,     // the encoder object or its buffer could not be allocated
    Venc_Status_WrongState = 6,   // not allowed in the encoder's present state
};
