#pragma once
// Helpers for the encoding tests: temporary folders, synthetic pictures, an independent look
// at written files through ffprobe/ffmpeg, and the idx1 flags read straight from the file.

#include <cstdint>
#include <string>
#include <vector>

namespace enctest {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Packed blue-green-red rows, top row first, no row padding.
struct BgrFrame {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// A desktop-like picture (flat panels, text-like strokes) with a small box that moves with n.
BgrFrame StaticDesktopFrame(int width, int height, int n);
// Every pixel changes from frame to frame: gradients and shapes that slide with n.
BgrFrame FullMotionFrame(int width, int height, int n);

// Luma as the codec computes it from blue-green-red (studio range).
std::vector<uint8_t> LumaOf(const BgrFrame& frame);
double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

bool FileExists(const std::string& path);
long FileSize(const std::string& path);  // -1 when the file does not exist

// Runs a shell command; its standard output, and whether it exited with status 0.
std::string RunCommand(const std::string& command, bool* ok = nullptr);

// One "key=value" field of ffprobe's first video or audio stream ("" when absent).
std::string ProbeStreamField(const std::string& path, const char* streamSelector,
                             const char* field);

// Decodes every coded video frame, in order, and returns each frame's luma plane;
// decodeClean tells whether ffmpeg decoded without any error.
std::vector<std::vector<uint8_t>> DecodeLuma(const std::string& path, int width, int height,
                                             bool* decodeClean);

// What the decoder says of each coded frame: its presentation frame number and whether it is a
// key frame.
struct DecodedFrameInfo {
    int pts;
    bool key;
};
std::vector<DecodedFrameInfo> ProbeDecodedFrames(const std::string& path);

// The picture a player shows in each of `slots` frame slots: the last decoded frame whose
// presentation number is not after the slot (empty before the first one).
std::vector<std::vector<uint8_t>> ShownPictures(const std::vector<std::vector<uint8_t>>& decoded,
                                                const std::vector<DecodedFrameInfo>& infos,
                                                int slots);

// The idx1 entries of the video stream, in order: their flags and data lengths.
struct IndexEntry {
    uint32_t flags;
    uint32_t length;
};
std::vector<IndexEntry> ReadVideoIndex(const std::string& path);

}  // namespace enctest
