#pragma once
// The one sound format of a recording: 48 kHz stereo, 16-bit samples in, MP3 at a constant
// 160 kbit/s out. 48000 is a whole multiple of the 30 frames per second, so a video frame
// lasts exactly kSamplesPerVideoFrame sample frames.

#include <cstdint>

namespace audio_format {
inline constexpr int kSampleRate = 48000;
inline constexpr int kChannels = 2;
inline constexpr int kBitrateKbps = 160;
inline constexpr int kSamplesPerMp3Frame = 1152;                                // MPEG-1 Layer III
inline constexpr int kMp3FrameBytes = 144 * kBitrateKbps * 1000 / kSampleRate;  // 480, no padding
inline constexpr int kMp3FormatTag = 0x0055;
}  // namespace audio_format
